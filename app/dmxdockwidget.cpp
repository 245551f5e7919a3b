#include "app/dmxdockwidget.h"

#include "dmx/ui/dmxsetpointview.h"
#include "vx/vxnetwork.h"

namespace halvorn {

DMXDockWidget::DMXDockWidget(QWidget* parent)
    : QDockWidget(parent)
    , m_view(new dmx::DMXSetpointView(8, 1, 36, 240, false))
{
    setWidget(m_view);
}

void DMXDockWidget::setNetwork(vx::VxNetwork* network)
{
    // The view connects itself to every universe buffer of the network.
    m_view->setNetwork(network);
}

} // namespace halvorn
