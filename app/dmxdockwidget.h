#pragma once

#include <QDockWidget>

namespace halvorn::dmx {
class DMXSetpointView;
}
namespace halvorn::vx {
class VxNetwork;
}

namespace halvorn {

// The "DMX sliders" dock: the set-point view of the DMX line (8 cells of
// 36 × 240), where levels are dragged and device boxes moved.
class DMXDockWidget : public QDockWidget
{
    Q_OBJECT

public:
    explicit DMXDockWidget(QWidget* parent = nullptr);

    // The view follows the network's set points and devices.
    void setNetwork(halvorn::vx::VxNetwork* network);
    dmx::DMXSetpointView* view() const { return m_view; }

private:
    dmx::DMXSetpointView* m_view;
};

} // namespace halvorn
