#include "dmx/ui/dmxsetpointchannelview.h"

#include "dmx/ui/dmxdevicestringdialog.h"
#include "dmx/ui/dmxsetpointview.h"

#include <QDataStream>
#include <QIODevice>
#include <QGraphicsScene>
#include <QGraphicsSceneDragDropEvent>
#include <QGraphicsSceneMouseEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QStyleOptionGraphicsItem>

#include <cmath>

namespace halvorn::dmx {

namespace {

// Cells narrower than this show only their bar.
constexpr qreal MinimumTextWidth = 32.0;
constexpr qreal TextBand = 14.0;

const QColor BarColour(120, 190, 90);
const QColor BarColourSelected(80, 150, 220);
const QColor CellBackground(236, 236, 236);
const QColor DropHoverColour(255, 200, 80);

} // namespace

DMXSetpointChannelView::DMXSetpointChannelView(DMXSetpointView* view, quint8 universe, quint16 address,
                                               qreal width, qreal height, QGraphicsItem* parent)
    : QGraphicsObject(parent)
    , m_view(view)
    , m_universe(universe)
    , m_address(address)
    , m_geometry(0, 0, width, height)
{
    setFlag(ItemIsSelectable);
    setAcceptDrops(true);
    setToolTip(QStringLiteral("DMX %1").arg(address));
}

void DMXSetpointChannelView::setRange(quint16 minimum, quint16 maximum)
{
    m_minimum = minimum;
    m_maximum = qMax(minimum, maximum);
    update();
}

bool DMXSetpointChannelView::setValue(quint16 value)
{
    if (value == m_value)
        return false;
    m_value = value;
    update();
    return true;
}

void DMXSetpointChannelView::setGeometry(const QRectF& geometry)
{
    if (geometry == m_geometry)
        return;
    prepareGeometryChange();
    m_geometry = geometry;
}

quint16 DMXSetpointChannelView::valueAt(qreal y) const
{
    const qreal top = m_geometry.top();
    const qreal height = m_geometry.height();
    if (y > m_geometry.bottom() || height <= 0)
        return m_minimum;
    if (y < top)
        return m_maximum;
    const double share = (height - (y - top)) / height;
    return quint16(m_minimum + std::lround(share * (m_maximum - m_minimum)));
}

QString DMXSetpointChannelView::percentText() const
{
    const double percent = m_maximum < 256 ? m_value / 2.55 : m_value / 655.35;
    return QString::number(percent, 'f', 1) + QLatin1Char('%');
}

bool DMXSetpointChannelView::dropDeviceData(const QMimeData* data)
{
    if (!data || !data->hasFormat(QLatin1String(DeviceMimeType)))
        return false;
    QByteArray bytes = data->data(QLatin1String(DeviceMimeType));
    QDataStream stream(&bytes, QIODevice::ReadOnly);
    qint32 index = -1;
    stream >> index;
    if (stream.status() != QDataStream::Ok || index < 0)
        return false;
    return m_view->moveDevice(index, m_universe, m_address);
}

QRectF DMXSetpointChannelView::boundingRect() const
{
    return m_geometry.adjusted(-1, -1, 1, 1);
}

void DMXSetpointChannelView::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    const QRectF cell = m_geometry.adjusted(1, 1, -1, -1);
    painter->setPen(Qt::NoPen);
    painter->setBrush(m_dropHover ? DropHoverColour : CellBackground);
    painter->drawRect(cell);

    const qreal span = qMax(1, m_maximum - m_minimum);
    const qreal share = qBound(0.0, (m_value - m_minimum) / span, 1.0);
    QRectF bar = cell;
    bar.setTop(cell.bottom() - cell.height() * share);
    QLinearGradient gradient(bar.topLeft(), bar.topRight());
    const QColor colour = isSelected() ? BarColourSelected : BarColour;
    gradient.setColorAt(0, colour.lighter(130));
    gradient.setColorAt(1, colour);
    painter->setBrush(gradient);
    painter->drawRect(bar);

    painter->setBrush(Qt::NoBrush);
    painter->setPen(QPen(isSelected() ? BarColourSelected.darker(130) : QColor(160, 160, 160), isSelected() ? 2 : 1));
    painter->drawRect(cell);

    if (m_geometry.width() < MinimumTextWidth)
        return;
    QFont font = painter->font();
    font.setPointSizeF(7.5);
    painter->setFont(font);
    painter->setPen(Qt::black);
    const QRectF top(cell.left(), cell.top() + 1, cell.width(), TextBand);
    const QRectF bottom(cell.left(), cell.bottom() - TextBand - 1, cell.width(), TextBand);
    painter->drawText(top, Qt::AlignCenter, QString::number(m_address));
    painter->drawText(bottom, Qt::AlignCenter, percentText());
}

void DMXSetpointChannelView::addDevices()
{
    DMXNetwork* network = m_view->network();
    if (!network)
        return;
    DMXDeviceStringDialog dialog(m_view);
    dialog.setStartAddress(m_address);
    if (dialog.exec() != QDialog::Accepted)
        return;
    m_view->createDevices(dialog);
}

void DMXSetpointChannelView::mousePressEvent(QGraphicsSceneMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        QMenu menu(tr("DMX channel menu"));
        connect(menu.addAction(tr("Add device(s)")), &QAction::triggered, this,
                &DMXSetpointChannelView::addDevices);
        menu.exec(event->screenPos());
        return;
    }
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    if (event->modifiers() & Qt::ShiftModifier) {
        event->ignore(); // the view starts a rubber band
        return;
    }
    if (event->modifiers() & Qt::ControlModifier) {
        setSelected(!isSelected());
        return;
    }
    if (!isSelected() && scene()) {
        scene()->clearSelection();
        setSelected(true);
    }
    m_dragging = true;
    applyValueAt(event->pos().y());
}

void DMXSetpointChannelView::mouseMoveEvent(QGraphicsSceneMouseEvent* event)
{
    if (m_dragging)
        applyValueAt(event->pos().y());
}

void DMXSetpointChannelView::mouseReleaseEvent(QGraphicsSceneMouseEvent* event)
{
    if (m_dragging)
        applyValueAt(event->pos().y());
    m_dragging = false;
}

void DMXSetpointChannelView::dragEnterEvent(QGraphicsSceneDragDropEvent* event)
{
    const bool accepted = event->mimeData()->hasFormat(QLatin1String(DeviceMimeType));
    event->setAccepted(accepted);
    setDropHover(accepted);
}

void DMXSetpointChannelView::dragLeaveEvent(QGraphicsSceneDragDropEvent*)
{
    setDropHover(false);
}

void DMXSetpointChannelView::dropEvent(QGraphicsSceneDragDropEvent* event)
{
    setDropHover(false);
    if (dropDeviceData(event->mimeData())) {
        event->setDropAction(Qt::CopyAction);
        event->accept();
    } else {
        event->ignore();
    }
}

void DMXSetpointChannelView::setDropHover(bool hover)
{
    if (hover == m_dropHover)
        return;
    m_dropHover = hover;
    // The cell lifts a little while a device hovers over it.
    setScale(hover ? 0.94 : 1.0);
    setTransformOriginPoint(m_geometry.center());
    update();
}

void DMXSetpointChannelView::applyValueAt(qreal y)
{
    m_view->setSelectedValue(valueAt(y));
}

} // namespace halvorn::dmx
