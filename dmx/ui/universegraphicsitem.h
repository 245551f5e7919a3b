#pragma once

#include <QGraphicsObject>

namespace halvorn::dmx {

// The parent of the cells (and device boxes) of one DMX universe in the
// set-point view: showing, hiding or fading a universe is done on this
// item. It draws nothing itself.
class UniverseGraphicsItem : public QGraphicsObject
{
    Q_OBJECT

public:
    explicit UniverseGraphicsItem(quint8 universe, QGraphicsItem* parent = nullptr);

    quint8 universe() const { return m_universe; }

    QRectF boundingRect() const override;
    void paint(QPainter* painter, const QStyleOptionGraphicsItem* option, QWidget* widget) override;

private:
    const quint8 m_universe;
};

} // namespace halvorn::dmx
