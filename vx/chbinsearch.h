#pragma once

#include "general/binsearch.h"

#include <QPointer>

namespace halvorn::vx {

class VxNetwork;

// The Chorus range search of the network's menu, over the 32-bit GUID
// space. The drivers offer no range question to it, so it asks nothing:
// every range is silent, the search asks the whole range eleven times
// without bus traffic (progress 1 … 10 of 10) and ends having found
// nothing. Drivers are found with the RDM discovery and the daisy search.
class CHBinSearch : public general::BinSearch
{
    Q_OBJECT

public:
    CHBinSearch(const QString& name, VxNetwork* network);

    VxNetwork* network() const { return m_network.data(); }

    void prepare() override;
    void mute(general::SearchNode* node) override;
    int checkCondition(general::SearchNode* node) override;
    bool verify(general::SearchNode* node) override;

private:
    QPointer<VxNetwork> m_network;
};

} // namespace halvorn::vx
