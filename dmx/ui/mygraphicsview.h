#pragma once

#include "dmx/dmxnetwork.h"

#include <QGraphicsView>
#include <QPointer>

namespace halvorn::dmx {

// The graphics view of the DMX set-point view: a rubber band selects the
// cells it touches (start it on the margin, or anywhere with Shift held),
// there is no horizontal scroll bar, and it knows the network it shows.
class MyGraphicsView : public QGraphicsView
{
    Q_OBJECT

public:
    explicit MyGraphicsView(QGraphicsScene* scene, QWidget* parent = nullptr);

    DMXNetwork* network() const { return m_network; }
    void setNetwork(DMXNetwork* network) { m_network = network; }

private:
    QPointer<DMXNetwork> m_network;
};

} // namespace halvorn::dmx
