#pragma once

#include <QGraphicsObject>

class QMimeData;

namespace halvorn::dmx {

class DMXSetpointView;

// One cell of the DMX set-point view: the level at one address of a
// universe, drawn as a bar. Pressing or dragging the left button in it sets
// the level from the pointer's height on every selected cell (a press on a
// cell that is not selected selects only that one; Ctrl toggles the cell's
// selection; Shift starts a rubber band instead). The right button opens
// the "DMX channel menu" with "Add device(s)". A device box dropped on the
// cell moves its device to the cell's universe and address.
//
// The value shown is the buffer's, set by the view when the buffer changes;
// the cell never writes its own value, it asks the view to write the buffer.
class DMXSetpointChannelView : public QGraphicsObject
{
    Q_OBJECT
    Q_PROPERTY(QRectF geometry READ geometry WRITE setGeometry)

public:
    static constexpr auto DeviceMimeType = "application/deviceitemdata";

    DMXSetpointChannelView(DMXSetpointView* view, quint8 universe, quint16 address, qreal width,
                           qreal height, QGraphicsItem* parent = nullptr);

    quint8 universe() const { return m_universe; }
    quint16 address() const { return m_address; }
    quint16 minimum() const { return m_minimum; }
    quint16 maximum() const { return m_maximum; }
    void setRange(quint16 minimum, quint16 maximum);
    quint16 value() const { return m_value; }
    // Stores and repaints; false when the value did not change.
    bool setValue(quint16 value);

    QRectF geometry() const { return m_geometry; }
    void setGeometry(const QRectF& geometry);

    // The value a pointer height (item coordinates) stands for.
    quint16 valueAt(qreal y) const;
    // "12.5%": the level in percent of the range's 8- or 16-bit scale.
    QString percentText() const;

    // The drop of a device box: true (and the device moved) when the data
    // name a DMX device of the view's network.
    bool dropDeviceData(const QMimeData* data);

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

public Q_SLOTS:
    // Asks for a string of devices and creates it on the network, starting
    // at this cell's address.
    void addDevices();

protected:
    void mousePressEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseMoveEvent(QGraphicsSceneMouseEvent* event) override;
    void mouseReleaseEvent(QGraphicsSceneMouseEvent* event) override;
    void dragEnterEvent(QGraphicsSceneDragDropEvent* event) override;
    void dragLeaveEvent(QGraphicsSceneDragDropEvent* event) override;
    void dropEvent(QGraphicsSceneDragDropEvent* event) override;

private:
    void setDropHover(bool hover);
    void applyValueAt(qreal y);

    DMXSetpointView* const m_view;
    const quint8 m_universe;
    const quint16 m_address;
    quint16 m_minimum = 0;
    quint16 m_maximum = 255;
    quint16 m_value = 0;
    QRectF m_geometry;
    bool m_dragging = false;
    bool m_dropHover = false;
};

} // namespace halvorn::dmx
