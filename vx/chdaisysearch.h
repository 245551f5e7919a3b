#pragma once

#include "general/search.h"

#include <QPointer>

namespace halvorn::vx {

class VxDevice;
class VxNetwork;

// Walks the daisy chain behind one device with skip addressing: the driver
// k places behind device D answers a Chorus GUID read with skip k and D's
// address. For k = 1, 2, … up to 29 it reads the GUID; the first skip
// position that does not answer ends the chain. Each driver that answers
// becomes a device "Cell k" below D, addressed with D's address and skip
// count k, chained D → Cell 1 → Cell 2 → …, with a parameter search and an
// update queued for it.
//
// The cells of an earlier daisy search of D are unlinked and removed first,
// in the network's thread and before the walk, so that searching again does
// not list a chain twice and never relinks a cell being deleted.
//
// The network mutex is held for the whole walk, so neither DMX frames nor
// other transactions come in between.
class CHDaisySearch : public general::Search
{
    Q_OBJECT

public:
    static constexpr int MaxCells = 29;

    CHDaisySearch(const QString& name, VxDevice* device, bool deleteWhenDone);

    VxDevice* device() const { return m_device.data(); }
    // Cells created by the last run.
    int cellCount() const { return m_cellCount; }

    void execute() override;

private:
    // Unlinks and removes the cells of an earlier search, in the network's
    // thread; false when that thread did not get to it in time.
    bool removeEarlierCells(VxDevice* head, VxNetwork* net);

    QPointer<VxDevice> m_device;
    int m_cellCount = 0;
};

} // namespace halvorn::vx
