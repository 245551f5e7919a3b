#include "dmx/ui/dmxsetpointview.h"

#include "dmx/dmxsetpoint.h"
#include "dmx/ui/dmxdevicestringdialog.h"
#include "dmx/ui/dmxsetpointchannelview.h"
#include "dmx/ui/dmxsetpointdeviceview.h"
#include "dmx/ui/mygraphicsview.h"
#include "dmx/ui/universegraphicsitem.h"

#include <QAction>
#include <QCheckBox>
#include <QGraphicsScene>
#include <QHBoxLayout>
#include <QPropertyAnimation>
#include <QSequentialAnimationGroup>
#include <QSpinBox>
#include <QTabBar>
#include <QVBoxLayout>

namespace halvorn::dmx {

namespace {

constexpr int SlotsPerUniverse = 512;
constexpr int SceneMargin = 4;
constexpr int DefaultUpdateRateMs = 50;
// Cells in 16-bit mode lie above the transparent cells they cover.
constexpr qreal WideCellZ = 1.0;
constexpr qreal DeviceBoxZ = 2.0;

// The devices the dialog asks for, copied out of it for the network's thread.
struct DeviceString
{
    int count;
    quint8 universe;
    quint16 start;
    uint channels;
    DMXDevice::DMXNetworkResolution resolution;
    DMXDaisyChainMode mode;
};

DeviceString deviceStringOf(const DMXDeviceStringDialog& dialog)
{
    return {dialog.deviceCount(), dialog.universe(),   dialog.startAddress(),
            dialog.channelCount(), dialog.resolution(), dialog.daisyChainMode()};
}

} // namespace

DMXSetpointView::DMXSetpointView(int columns, int rows, int cellWidth, int cellHeight, bool showAutoUpdate,
                                 QWidget* parent)
    : QWidget(parent)
    , m_columns(qBound(1, columns, SlotsPerUniverse))
    , m_rows(qBound(1, rows, SlotsPerUniverse / qBound(1, columns, SlotsPerUniverse)))
    , m_cellWidth(qMax(1, cellWidth))
    , m_cellHeight(qMax(1, cellHeight))
    , m_scene(new QGraphicsScene(this))
    , m_tabBar(new QTabBar)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);

    const qreal left = -SceneMargin - m_spacing;
    m_scene->setSceneRect(left, left,
                          m_cellWidth + 2 * SceneMargin + 2 * m_spacing + (m_cellWidth + m_spacing) * (m_columns - 1),
                          m_cellHeight + 2 * SceneMargin + 2 * m_spacing + (m_cellHeight + m_spacing) * (m_rows - 1));

    auto* universe = new UniverseGraphicsItem(0);
    m_scene->addItem(universe);
    m_universeItems.append(universe);
    m_currentUniverse = universe;
    m_cells.fill(nullptr, SlotsPerUniverse * m_universeItems.size());
    for (int r = 0; r < m_rows; ++r) {
        for (int c = 0; c < m_columns; ++c) {
            const int address = r * m_columns + c + 1;
            auto* cell = new DMXSetpointChannelView(this, 0, quint16(address), m_cellWidth, m_cellHeight, universe);
            cell->setPos(cellPosition(address));
            m_cells[address - 1] = cell;
        }
    }

    m_graphicsView = new MyGraphicsView(m_scene);
    m_graphicsView->setMinimumSize(m_scene->sceneRect().size().toSize() + QSize(4, 4));

    if (showAutoUpdate) {
        auto* row = new QHBoxLayout;
        m_autoUpdateBox = new QCheckBox(tr("Auto Update"));
        m_updateRateBox = new QSpinBox;
        m_updateRateBox->setRange(1, 10000);
        m_updateRateBox->setValue(DefaultUpdateRateMs);
        m_updateRateBox->setSuffix(tr(" ms"));
        connect(m_autoUpdateBox, &QCheckBox::stateChanged, this, &DMXSetpointView::autoUpdateStateChanged);
        connect(m_updateRateBox, &QSpinBox::valueChanged, this, &DMXSetpointView::updateRateValueChanged);
        row->addWidget(m_autoUpdateBox);
        row->addWidget(m_updateRateBox);
        row->addStretch();
        layout->addLayout(row);
    }

    m_tabBar->setDrawBase(false);
    m_tabBar->addTab(tr("8 bit"));
    m_tabBar->addTab(tr("16 bit"));
    connect(m_tabBar, &QTabBar::currentChanged, this, &DMXSetpointView::networkResTabChanged);
    layout->addWidget(m_tabBar);
    layout->addWidget(m_graphicsView);
}

DMXSetpointView::~DMXSetpointView()
{
    for (const QMetaObject::Connection& connection : std::as_const(m_networkConnections))
        disconnect(connection);
}

void DMXSetpointView::setNetwork(DMXNetwork* network)
{
    if (network == m_network)
        return;
    for (const QMetaObject::Connection& connection : std::as_const(m_networkConnections))
        disconnect(connection);
    m_networkConnections.clear();
    clearDeviceViews();

    m_network = network;
    m_graphicsView->setNetwork(network);
    if (network) {
        m_networkConnections.append(
            connect(network, &general::Network::deviceAdded, this, &DMXSetpointView::deviceAdded));
        m_networkConnections.append(
            connect(network, &general::Network::deviceRemoved, this, &DMXSetpointView::deviceRemoved));
        for (int u = 0; u < network->setpointCount(); ++u) {
            if (DMXSetpoint* setpoint = network->getSetpoint(quint16(u)))
                m_networkConnections.append(
                    connect(setpoint, &DMXSetpoint::byteChanged, this, &DMXSetpointView::setpointByteChanged));
        }
        // Devices that exist already; later ones arrive through deviceAdded().
        for (int i = 0; i < network->deviceCount(); ++i)
            deviceAdded(network->deviceAt(i));
    }
    reloadCells();
}

QPointF DMXSetpointView::cellPosition(int address) const
{
    const int index = address - 1;
    const int column = index % m_columns;
    const int row = index / m_columns;
    return QPointF(column * (m_cellWidth + m_spacing), row * (m_cellHeight + m_spacing));
}

DMXSetpointChannelView* DMXSetpointView::cell(quint8 universe, quint16 address) const
{
    if (address < 1 || address > cellCount())
        return nullptr;
    return m_cells.value(universe * SlotsPerUniverse + address - 1);
}

UniverseGraphicsItem* DMXSetpointView::universeItem(quint8 universe) const
{
    return m_universeItems.value(universe);
}

QList<DMXSetpointDeviceView*> DMXSetpointView::deviceViews() const
{
    QList<DMXSetpointDeviceView*> views;
    for (const QPointer<DMXSetpointDeviceView>& view : m_deviceViews)
        views.append(view.data());
    return views;
}

DMXSetpointDeviceView* DMXSetpointView::deviceView(const DMXDevice* device) const
{
    if (!device)
        return nullptr;
    for (const QPointer<DMXSetpointDeviceView>& view : m_deviceViews) {
        if (view && view->device() == device)
            return view;
    }
    return nullptr;
}

void DMXSetpointView::setSelectedValue(int value)
{
    if (!m_network)
        return;
    const QList<QGraphicsItem*> selected = m_scene->selectedItems();
    for (QGraphicsItem* item : selected) {
        auto* cell = qobject_cast<DMXSetpointChannelView*>(item->toGraphicsObject());
        if (!cell)
            continue;
        DMXSetpoint* setpoint = m_network->getSetpoint(cell->universe());
        if (!setpoint)
            continue;
        const int clamped = qBound(int(cell->minimum()), value, int(cell->maximum()));
        if (cell->maximum() < 256)
            setpoint->setByte(cell->address(), quint8(clamped & 0xFF));
        else
            setpoint->setWord(cell->address(), quint16(clamped));
    }
}

bool DMXSetpointView::moveDevice(int deviceIndex, quint8 universe, quint16 address)
{
    if (!m_network || deviceIndex < 0)
        return false;
    auto* device = qobject_cast<DMXDevice*>(m_network->deviceAt(deviceIndex));
    if (!device)
        return false;
    QMetaObject::invokeMethod(
        device,
        [device, universe, address] {
            device->setUniverse(universe);
            device->setStartAddress(address);
        },
        Qt::QueuedConnection);
    return true;
}

void DMXSetpointView::createDevices(const DMXDeviceStringDialog& dialog)
{
    DMXNetwork* network = m_network;
    if (!network)
        return;
    const DeviceString string = deviceStringOf(dialog);
    QMetaObject::invokeMethod(
        network,
        [network, string] {
            network->createDeviceString(string.count, string.universe, string.start, string.channels,
                                        string.resolution, string.mode);
        },
        Qt::QueuedConnection);
}

void DMXSetpointView::appendDevices(DMXDevice* device, const DMXDeviceStringDialog& dialog)
{
    if (!device)
        return;
    const DeviceString string = deviceStringOf(dialog);
    QMetaObject::invokeMethod(
        device,
        [device, string] {
            if (DMXNetwork* network = device->dmxNetwork())
                network->appendDeviceString(device, string.count, string.universe, string.start, string.channels,
                                            string.resolution, string.mode);
        },
        Qt::QueuedConnection);
}

void DMXSetpointView::setpointByteChanged(unsigned char uni, unsigned short addr)
{
    if (addr < 1 || addr > cellCount())
        return;
    if (DMXSetpointChannelView* changed = cell(uni, addr))
        reloadCell(changed);
    // In 16-bit mode the low byte belongs to the wide cell on its left.
    if (!m_is8Bit && (addr - 1) % 2 == 1) {
        if (DMXSetpointChannelView* wide = cell(uni, quint16(addr - 1)))
            reloadCell(wide);
    }
}

void DMXSetpointView::deviceAdded(general::Device* dev)
{
    auto* device = qobject_cast<DMXDevice*>(dev);
    if (!device) {
        m_deviceViews.append(nullptr);
        return;
    }
    if (deviceView(device))
        return;
    auto* view = new DMXSetpointDeviceView(device, this, universeItem(device->universe()));
    if (!view->parentItem())
        m_scene->addItem(view);
    view->setZValue(DeviceBoxZ);
    m_deviceViews.append(view);
}

void DMXSetpointView::deviceRemoved(general::Device* dev)
{
    // Compared by address only: the device may be on its way out, or gone
    // already (then its box has lost it).
    for (QPointer<DMXSetpointDeviceView>& view : m_deviceViews) {
        if (view && (view->device() == dev || !view->device())) {
            delete view.data();
            view = nullptr;
        }
    }
}

void DMXSetpointView::autoUpdateStateChanged(int state)
{
    if (!m_network)
        return;
    if (state == Qt::Checked)
        m_network->startDMXOutput();
    else
        m_network->stopDMXOutput();
}

void DMXSetpointView::updateRateValueChanged(int value)
{
    if (m_network)
        m_network->setDMXTimerInterval(value);
}

void DMXSetpointView::dmxChannelCountChanged(int value)
{
    if (!m_network)
        return;
    if (DMXSetpoint* setpoint = m_network->getSetpoint(0))
        setpoint->setChannelCount(quint16(qBound(0, value, SlotsPerUniverse)));
}

void DMXSetpointView::setUniverse(QAction* act)
{
    if (!act)
        return;
    UniverseGraphicsItem* next = universeItem(quint8(act->data().toInt()));
    UniverseGraphicsItem* current = m_currentUniverse;
    if (!next || next == current)
        return;

    auto* fadeOut = new QPropertyAnimation(current, "opacity");
    fadeOut->setDuration(FadeMs);
    fadeOut->setStartValue(1.0);
    fadeOut->setEndValue(0.0);
    fadeOut->setEasingCurve(QEasingCurve::OutCurve);
    auto* fadeIn = new QPropertyAnimation(next, "opacity");
    fadeIn->setDuration(FadeMs);
    fadeIn->setStartValue(0.0);
    fadeIn->setEndValue(1.0);
    connect(fadeOut, &QPropertyAnimation::finished, next, [current, next] {
        current->setVisible(false);
        next->setOpacity(0.0);
        next->setVisible(true);
    });
    m_currentUniverse = next;
    auto* group = new QSequentialAnimationGroup(this);
    group->addAnimation(fadeOut);
    group->addAnimation(fadeIn);
    group->start(QAbstractAnimation::DeleteWhenStopped);
}

void DMXSetpointView::networkResTabChanged(int index)
{
    const bool eightBit = index == 0;
    if (eightBit == m_is8Bit)
        return;
    m_is8Bit = eightBit;
    for (int i = 0; i < cellCount(); ++i) {
        DMXSetpointChannelView* c = m_cells[i];
        if (!c)
            continue;
        const bool wide = !eightBit && i % 2 == 0;
        const bool covered = !eightBit && i % 2 == 1;
        c->setGeometry(QRectF(0, 0, wide ? 2 * m_cellWidth : m_cellWidth, m_cellHeight));
        c->setOpacity(covered ? 0.0 : 1.0);
        c->setZValue(wide ? WideCellZ : 0.0);
        if (covered)
            c->setSelected(false);
        c->setFlag(QGraphicsItem::ItemIsSelectable, !covered);
        c->setAcceptedMouseButtons(covered ? Qt::NoButton : Qt::AllButtons);
        c->setAcceptDrops(!covered);
        c->setRange(0, eightBit ? 255 : 65535);
    }
    reloadCells();
}

void DMXSetpointView::reloadCells()
{
    for (DMXSetpointChannelView* c : std::as_const(m_cells)) {
        if (c)
            reloadCell(c);
    }
}

void DMXSetpointView::reloadCell(DMXSetpointChannelView* c)
{
    DMXSetpoint* setpoint = m_network ? m_network->getSetpoint(c->universe()) : nullptr;
    if (!setpoint) {
        c->setValue(0);
        return;
    }
    c->setValue(c->maximum() < 256 ? setpoint->getByte(c->address()) : setpoint->getWord(c->address()));
}

void DMXSetpointView::clearDeviceViews()
{
    for (const QPointer<DMXSetpointDeviceView>& view : std::as_const(m_deviceViews))
        delete view.data();
    m_deviceViews.clear();
}

} // namespace halvorn::dmx
