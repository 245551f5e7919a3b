#include "dmx/ui/dmxsetpointdeviceview.h"

#include "dmx/dmxnetwork.h"
#include "dmx/ui/dmxdevicestringdialog.h"
#include "dmx/ui/dmxsetpointchannelview.h"
#include "dmx/ui/dmxsetpointview.h"
#include "dmx/ui/universegraphicsitem.h"

#include <QActionGroup>
#include <QApplication>
#include <QDataStream>
#include <QIODevice>
#include <QDrag>
#include <QGraphicsScene>
#include <QGraphicsSceneMouseEvent>
#include <QMenu>
#include <QMimeData>
#include <QPainter>
#include <QPropertyAnimation>
#include <QWidget>

namespace halvorn::dmx {

namespace {

constexpr qreal TitleBandHeight = 18.0;
constexpr qreal Inset = 2.0;

} // namespace

template<typename Change>
void DMXSetpointDeviceView::changeDevice(Change change)
{
    if (DMXDevice* device = m_device)
        QMetaObject::invokeMethod(device, [device, change] { change(device); }, Qt::QueuedConnection);
}

DMXSetpointDeviceView::DMXSetpointDeviceView(DMXDevice* device, DMXSetpointView* view, QGraphicsItem* parent)
    : QGraphicsObject(parent)
    , m_device(device)
    , m_view(view)
    , m_animation(new QPropertyAnimation(this, "pos", this))
{
    m_animation->setDuration(MoveAnimationMs);
    m_animation->setEasingCurve(QEasingCurve::OutBack);
    setAcceptedMouseButtons(Qt::LeftButton | Qt::RightButton);
    setCursor(Qt::OpenHandCursor);
    if (device) {
        connect(device, &DMXDevice::dmxAddressRangeChanged, this, &DMXSetpointDeviceView::dmxAddressRangeChanged);
        connect(device, &DMXDevice::dmxUniverseChanged, this, &DMXSetpointDeviceView::dmxUniverseChanged);
        connect(device, &general::TreeNode::nameChanged, this, [this] { layOut(false); });
        // A box without its device has nothing to show.
        connect(device, &QObject::destroyed, this, &QObject::deleteLater);
    }
    layOut(false);
}

DMXSetpointDeviceView::~DMXSetpointDeviceView() = default;

void DMXSetpointDeviceView::setGeometry(const QRectF& geometry)
{
    if (geometry == m_geometry)
        return;
    prepareGeometryChange();
    m_geometry = geometry;
}

QMimeData* DMXSetpointDeviceView::createMimeData() const
{
    DMXNetwork* network = m_view->network();
    const qint32 index = network && m_device ? qint32(network->deviceIndex(m_device)) : -1;
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << index;
    auto* data = new QMimeData;
    data->setData(QLatin1String(DMXSetpointChannelView::DeviceMimeType), bytes);
    return data;
}

QMenu* DMXSetpointDeviceView::createMenu()
{
    auto* menu = new QMenu(m_device ? m_device->name() : tr("Device"));
    const DMXDevice* device = m_device;
    if (!device)
        return menu;

    auto addChoices = [menu](const QString& title, std::initializer_list<std::pair<QString, bool>> choices) {
        QMenu* sub = menu->addMenu(title);
        auto* group = new QActionGroup(sub);
        group->setExclusive(true);
        QList<QAction*> actions;
        for (const auto& [text, checked] : choices) {
            QAction* action = sub->addAction(text);
            action->setCheckable(true);
            action->setChecked(checked);
            group->addAction(action);
            actions.append(action);
        }
        return actions;
    };

    const auto resolution = device->networkResolution();
    const auto resolutions = addChoices(tr("Network resolution"),
                                        {{tr("8 Bits"), resolution == DMXDevice::Resolution8Bits},
                                         {tr("16 Bits"), resolution == DMXDevice::Resolution16Bits}});
    connect(resolutions[0], &QAction::triggered, this, &DMXSetpointDeviceView::setDMXResolution8Bits);
    connect(resolutions[1], &QAction::triggered, this, &DMXSetpointDeviceView::setDMXResolution16Bits);

    const auto mode = device->daisyChainMode();
    const auto modes = addChoices(tr("Daisy-chain mode"), {{tr("Auto-addressing"), mode == DaisyChainAuto},
                                                           {tr("Forwarding"), mode == DaisyChainForwarding},
                                                           {tr("Cluster"), mode == DaisyChainCluster},
                                                           {tr("Manual"), mode == DaisyChainManual}});
    connect(modes[0], &QAction::triggered, this, &DMXSetpointDeviceView::setDMXDaisyChainAuto);
    connect(modes[1], &QAction::triggered, this, &DMXSetpointDeviceView::setDMXDaisyChainForwarding);
    connect(modes[2], &QAction::triggered, this, &DMXSetpointDeviceView::setDMXDaisyChainCluster);
    connect(modes[3], &QAction::triggered, this, &DMXSetpointDeviceView::setDMXDaisyChainManual);

    const auto gamma = device->outputGammaCurve();
    const auto curves = addChoices(tr("Output gamma curve"), {{tr("Linear"), gamma == DMXDevice::GammaLinear},
                                                              {tr("Logarithmic"), gamma == DMXDevice::GammaLog}});
    connect(curves[0], &QAction::triggered, this, &DMXSetpointDeviceView::setDMXOutputGammaLinear);
    connect(curves[1], &QAction::triggered, this, &DMXSetpointDeviceView::setDMXOutputGammaLog);

    connect(menu->addAction(tr("Add daisy-chained device(s)")), &QAction::triggered, this,
            &DMXSetpointDeviceView::addDaisyChainedDevices);
    return menu;
}

QRectF DMXSetpointDeviceView::boundingRect() const
{
    return m_geometry.adjusted(-2, -2, 2, 2);
}

QPainterPath DMXSetpointDeviceView::shape() const
{
    return m_titleBand;
}

void DMXSetpointDeviceView::paint(QPainter* painter, const QStyleOptionGraphicsItem*, QWidget*)
{
    const QColor colour = m_device ? m_device->colour() : QColor(Qt::gray);
    QColor body = colour;
    body.setAlpha(40);
    painter->setPen(QPen(colour.darker(140), 2));
    painter->setBrush(body);
    painter->drawPath(m_cells);

    QColor band = colour;
    band.setAlpha(210);
    painter->setPen(Qt::NoPen);
    painter->setBrush(band);
    painter->drawPath(m_titleBand);
    painter->setPen(Qt::white);
    QFont font = painter->font();
    font.setPointSizeF(7.5);
    font.setBold(true);
    painter->setFont(font);
    const QRectF text = m_titleBand.boundingRect().adjusted(4, 0, -4, 0);
    painter->drawText(text, Qt::AlignVCenter | Qt::AlignLeft,
                      painter->fontMetrics().elidedText(m_title, Qt::ElideRight, int(text.width())));
}

void DMXSetpointDeviceView::dmxAddressRangeChanged(unsigned short, unsigned short)
{
    layOut(true);
}

void DMXSetpointDeviceView::dmxUniverseChanged(unsigned char newUni)
{
    UniverseGraphicsItem* universe = m_view->universeItem(newUni);
    if (universe != parentItem()) {
        QGraphicsScene* owner = scene();
        setParentItem(universe);
        if (!universe && owner && !scene())
            owner->addItem(this);
    }
    layOut(false);
    update();
}

void DMXSetpointDeviceView::setDMXResolution8Bits()
{
    changeDevice([](DMXDevice* d) { d->setNetworkResolution(DMXDevice::Resolution8Bits); });
}

void DMXSetpointDeviceView::setDMXResolution16Bits()
{
    changeDevice([](DMXDevice* d) { d->setNetworkResolution(DMXDevice::Resolution16Bits); });
}

void DMXSetpointDeviceView::setDMXDaisyChainAuto()
{
    changeDevice([](DMXDevice* d) { d->setDaisyChainMode(DaisyChainAuto); });
}

void DMXSetpointDeviceView::setDMXDaisyChainForwarding()
{
    changeDevice([](DMXDevice* d) { d->setDaisyChainMode(DaisyChainForwarding); });
}

void DMXSetpointDeviceView::setDMXDaisyChainCluster()
{
    changeDevice([](DMXDevice* d) { d->setDaisyChainMode(DaisyChainCluster); });
}

void DMXSetpointDeviceView::setDMXDaisyChainManual()
{
    changeDevice([](DMXDevice* d) { d->setDaisyChainMode(DaisyChainManual); });
}

void DMXSetpointDeviceView::setDMXOutputGammaLinear()
{
    changeDevice([](DMXDevice* d) { d->setOutputGammaCurve(DMXDevice::GammaLinear); });
}

void DMXSetpointDeviceView::setDMXOutputGammaLog()
{
    changeDevice([](DMXDevice* d) { d->setOutputGammaCurve(DMXDevice::GammaLog); });
}

void DMXSetpointDeviceView::addDaisyChainedDevices()
{
    if (!m_device)
        return;
    DMXDeviceStringDialog dialog(m_view);
    dialog.preset(m_device);
    if (dialog.exec() == QDialog::Accepted && m_device)
        m_view->appendDevices(m_device, dialog);
}

void DMXSetpointDeviceView::mousePressEvent(QGraphicsSceneMouseEvent* event)
{
    if (event->button() == Qt::RightButton) {
        QMenu* menu = createMenu();
        menu->exec(event->screenPos());
        delete menu;
        return;
    }
    m_pressPosition = event->scenePos();
    m_pressed = true;
    setCursor(Qt::ClosedHandCursor);
}

void DMXSetpointDeviceView::mouseMoveEvent(QGraphicsSceneMouseEvent* event)
{
    if (!m_pressed)
        return;
    if ((event->scenePos() - m_pressPosition).manhattanLength() < QApplication::startDragDistance())
        return;
    m_pressed = false;
    startDrag(event->widget());
}

void DMXSetpointDeviceView::mouseReleaseEvent(QGraphicsSceneMouseEvent*)
{
    m_pressed = false;
    setCursor(Qt::OpenHandCursor);
}

void DMXSetpointDeviceView::layOut(bool animate)
{
    const DMXDevice* device = m_device;
    const int cells = m_view->cellCount();
    const int start = device ? device->startAddress() : 0;
    const int end = device ? qMin(int(device->endAddress()), cells) : 0;
    const bool shown = device && device->dmxChannelCount() > 0 && start >= 1 && start <= cells && end >= start
                       && parentItem();
    setVisible(shown);
    if (!shown)
        return;

    const int columns = m_view->columns();
    const QSizeF size = m_view->cellSize();
    const QPointF origin = m_view->cellPosition(start);
    QPainterPath cellsPath;
    QPainterPath band;
    const int firstRow = (start - 1) / columns;
    const int lastRow = (end - 1) / columns;
    for (int row = firstRow; row <= lastRow; ++row) {
        const int firstColumn = row == firstRow ? (start - 1) % columns : 0;
        const int lastColumn = row == lastRow ? (end - 1) % columns : columns - 1;
        const QPointF topLeft = m_view->cellPosition(row * columns + firstColumn + 1) - origin;
        const QRectF segment(topLeft.x() + Inset, topLeft.y() + Inset,
                             (lastColumn - firstColumn + 1) * size.width() - 2 * Inset, size.height() - 2 * Inset);
        cellsPath.addRoundedRect(segment, 4, 4);
        if (row == firstRow)
            band.addRoundedRect(QRectF(segment.topLeft(), QSizeF(segment.width(), qMin(TitleBandHeight, segment.height()))),
                                4, 4);
    }
    prepareGeometryChange();
    m_cells = cellsPath;
    m_titleBand = band;
    m_geometry = cellsPath.boundingRect();
    m_title = QStringLiteral("%1  %2–%3").arg(device->name()).arg(start).arg(device->endAddress());
    setToolTip(m_title);
    moveTo(origin, animate);
    update();
}

void DMXSetpointDeviceView::moveTo(const QPointF& position, bool animate)
{
    m_target = position;
    m_animation->stop();
    if (!animate || pos() == position) {
        setPos(position);
        return;
    }
    m_animation->setStartValue(pos());
    m_animation->setEndValue(position);
    m_animation->start();
}

void DMXSetpointDeviceView::startDrag(QWidget* source)
{
    auto* drag = new QDrag(source ? static_cast<QObject*>(source) : static_cast<QObject*>(this));
    drag->setMimeData(createMimeData());
    QPixmap picture(m_geometry.size().toSize() + QSize(4, 4));
    picture.fill(Qt::transparent);
    {
        QPainter painter(&picture);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.translate(-m_geometry.topLeft() + QPointF(2, 2));
        paint(&painter, nullptr, nullptr);
    }
    drag->setPixmap(picture);
    const Qt::DropAction result = drag->exec(Qt::CopyAction);
    setCursor(Qt::OpenHandCursor);
    if (result != Qt::CopyAction)
        moveTo(m_target, true);
}

} // namespace halvorn::dmx
