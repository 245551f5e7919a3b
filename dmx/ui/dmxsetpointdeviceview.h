#pragma once

#include "dmx/dmxdevice.h"

#include <QGraphicsObject>
#include <QPainterPath>
#include <QPointer>

class QMenu;
class QMimeData;
class QPropertyAnimation;

namespace halvorn::dmx {

class DMXSetpointView;

// The box of one DMX device in the set-point view, laid over the cells of
// the addresses the device occupies. Only its title band (the top of the
// box) takes the mouse, so the level cells under it stay draggable:
//   - left button: drag the device to another cell (mime type
//     "application/deviceitemdata" holding the device's index among the
//     network's devices); the device then starts at the dropped address;
//   - right button: the menu of the device's resolution, daisy-chain mode
//     and output gamma curve, and "Add daisy-chained device(s)".
// The box follows the device's address range with a short animation.
//
// The device lives in its network's thread and may be removed at any time:
// the box holds it in a QPointer, and every change it makes is queued into
// the device's thread.
class DMXSetpointDeviceView : public QGraphicsObject
{
    Q_OBJECT
    Q_PROPERTY(QRectF geometry READ geometry WRITE setGeometry)

public:
    static constexpr int MoveAnimationMs = 400;

    DMXSetpointDeviceView(DMXDevice* device, DMXSetpointView* view, QGraphicsItem* parent = nullptr);
    ~DMXSetpointDeviceView() override;

    DMXDevice* device() const { return m_device.data(); }

    QRectF geometry() const { return m_geometry; }
    void setGeometry(const QRectF& geometry);

    // The drag's data: the device's index among the view network's devices
    // (−1 when it is not one of them).
    QMimeData* createMimeData() const;
    // The context menu for the device's state now (the caller owns it).
    QMenu* createMenu();
    // Where the box is heading (the end of a running animation).
    QPointF targetPosition() const { return m_target; }

    QRectF boundingRect() const override;
    QPainterPath shape() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

public Q_SLOTS:
    void dmxAddressRangeChanged(unsigned short startAddr, unsigned short endAddr);
    void dmxUniverseChanged(unsigned char newUni);
    void setDMXResolution8Bits();
    void setDMXResolution16Bits();
    void setDMXDaisyChainAuto();
    void setDMXDaisyChainForwarding();
    void setDMXDaisyChainCluster();
    void setDMXDaisyChainManual();
    void setDMXOutputGammaLinear();
    void setDMXOutputGammaLog();
    void addDaisyChainedDevices();

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;

private:
    // Lays the box over the device's addresses now; `animate` moves it there
    // with the animation, otherwise at once.
    void layOut(bool animate);
    void moveTo(const QPointF& position, bool animate);
    void startDrag(QWidget* source);
    // Runs a change on the device in its own thread.
    template<typename Change>
    void changeDevice(Change change);

    QPointer<DMXDevice> m_device;
    DMXSetpointView* const m_view;
    QRectF m_geometry;
    QPainterPath m_cells;     // the covered cells, in item coordinates
    QPainterPath m_titleBand; // the part that takes the mouse
    QString m_title;
    QPointF m_target;
    QPropertyAnimation* m_animation;
    QPointF m_pressPosition;
    bool m_pressed = false;
};

} // namespace halvorn::dmx
