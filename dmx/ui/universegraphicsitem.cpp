#include "dmx/ui/universegraphicsitem.h"

namespace halvorn::dmx {

UniverseGraphicsItem::UniverseGraphicsItem(quint8 universe, QGraphicsItem* parent)
    : QGraphicsObject(parent)
    , m_universe(universe)
{
    setFlag(ItemHasNoContents);
}

QRectF UniverseGraphicsItem::boundingRect() const
{
    return QRectF();
}

void UniverseGraphicsItem::paint(QPainter*, const QStyleOptionGraphicsItem*, QWidget*)
{
}

} // namespace halvorn::dmx
