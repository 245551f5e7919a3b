// The DMX set-point view on a DMX line of the virtual Portline: cells that
// show and set the buffer, the 16-bit pairing, device boxes that follow
// their devices and move them when dropped, and the device-string dialog.
#include "dmx/dmxsetpoint.h"
#include "dmx/ui/dmxdevicestringdialog.h"
#include "dmx/ui/dmxsetpointchannelview.h"
#include "dmx/ui/dmxsetpointdeviceview.h"
#include "dmx/ui/dmxsetpointview.h"
#include "dmx/ui/mygraphicsview.h"
#include "general/appsettings.h"
#include "tests/support/portlinefixture.h"
#include "tests/support/uihelpers.h"
#include "usb/usbdongle.h"
#include "vx/vxnetwork.h"

#include <QComboBox>
#include <QDataStream>
#include <QGraphicsScene>
#include <QMimeData>
#include <QSpinBox>
#include <QTabBar>
#include <QTest>

#include <memory>

using namespace halvorn;
using dmx::DMXDevice;
using dmx::DMXSetpointView;
using halvorn::test::menuEntry;

namespace {

constexpr int WaitMs = 5000;
constexpr int CellWidth = 36;
constexpr int CellHeight = 240;

// Runs `work` in the network's thread and waits for it.
template<typename Work>
void inNetworkThread(general::Network* network, Work work)
{
    QMetaObject::invokeMethod(network, work, Qt::BlockingQueuedConnection);
}

QMimeData* rawDrop(const QByteArray& bytes)
{
    auto* data = new QMimeData;
    data->setData(QLatin1String(dmx::DMXSetpointChannelView::DeviceMimeType), bytes);
    return data;
}

QByteArray indexBytes(qint32 index)
{
    QByteArray bytes;
    QDataStream stream(&bytes, QIODevice::WriteOnly);
    stream << index;
    return bytes;
}

} // namespace

class TestDMXSetpointView : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void showsTheBufferAndIgnoresAddressesBeyondTheGrid();
    void sixteenBitTabPairsTheCells();
    void dragSetsTheSelectedCells_data();
    void dragSetsTheSelectedCells();
    void dropMovesTheDraggedDeviceOnly_data();
    void dropMovesTheDraggedDeviceOnly();
    void droppedHeadMovesItsChainAndBoxesFollowTheDevices();
    void deviceMenuShowsAndChangesTheDevice();
    void deviceStringDialogResults_data();
    void deviceStringDialogResults();
    void dialogPresetFromAManualDeviceKeepsTheMode();

private:
    // `count` devices of `channels` 8-bit channels from address `start`.
    QList<DMXDevice*> createDevices(int count, int start, uint channels, dmx::DMXDaisyChainMode mode);
    DMXSetpointView& view() { return *m_view; }
    dmx::DMXSetpoint& buffer() { return *m_network->getSetpoint(0); }
    QPoint viewportPoint(const dmx::DMXSetpointChannelView* cell, qreal itemY) const;

    std::unique_ptr<PortlineFixture> m_portline;
    vx::VxNetwork* m_network = nullptr;
    std::unique_ptr<DMXSetpointView> m_view;
};

void TestDMXSetpointView::initTestCase()
{
    general::AppSettings settings;
    settings.load();
}

void TestDMXSetpointView::init()
{
    m_portline = std::make_unique<PortlineFixture>();
    QVERIFY(m_portline->start());
    m_network = qobject_cast<vx::VxNetwork*>(m_portline->dongle()->vxNetwork());
    QVERIFY(m_network);
    m_view = std::make_unique<DMXSetpointView>(8, 1, CellWidth, CellHeight, false);
    m_view->setNetwork(m_network);
    m_view->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_view.get()));
}

void TestDMXSetpointView::cleanup()
{
    m_view.reset();
    m_portline.reset();
    m_network = nullptr;
}

QList<DMXDevice*> TestDMXSetpointView::createDevices(int count, int start, uint channels, dmx::DMXDaisyChainMode mode)
{
    inNetworkThread(m_network, [&] {
        m_network->createDeviceString(count, 0, quint16(start), channels, DMXDevice::Resolution8Bits, mode);
    });
    QList<DMXDevice*> devices; // the network's newest
    for (int i = m_network->deviceCount() - count; i < m_network->deviceCount(); ++i)
        devices.append(qobject_cast<DMXDevice*>(m_network->deviceAt(i)));
    return devices;
}

QPoint TestDMXSetpointView::viewportPoint(const dmx::DMXSetpointChannelView* cell, qreal itemY) const
{
    const QPointF scene = cell->mapToScene(QPointF(cell->geometry().center().x(), itemY));
    return m_view->graphicsView()->mapFromScene(scene);
}

void TestDMXSetpointView::showsTheBufferAndIgnoresAddressesBeyondTheGrid()
{
    QCOMPARE(view().cellCount(), 8);
    QVERIFY(!view().cell(0, 9));
    QVERIFY(!view().cell(0, 0));
    buffer().setByte(8, 100);
    buffer().setByte(9, 200);
    view().setpointByteChanged(0, 9);
    view().setpointByteChanged(0, 513);
    QCOMPARE(int(view().cell(0, 8)->value()), 100);
    QCOMPARE(view().cell(0, 8)->percentText(), QStringLiteral("39.2%"));
    for (int address = 1; address < 8; ++address)
        QCOMPARE(int(view().cell(0, quint16(address))->value()), 0);
    // Cells are laid out left to right at their addresses.
    QCOMPARE(view().cell(0, 5)->pos(), QPointF(4 * CellWidth, 0));
}

void TestDMXSetpointView::sixteenBitTabPairsTheCells()
{
    buffer().setWord(1, 0x1234);
    buffer().setWord(3, 0xABCD);
    view().tabBar()->setCurrentIndex(1);
    QVERIFY(!view().is8Bit());
    for (int address = 1; address <= 8; ++address) {
        const auto* cell = view().cell(0, quint16(address));
        const bool wide = address % 2 == 1;
        QCOMPARE(cell->geometry().width(), qreal(wide ? 2 * CellWidth : CellWidth));
        QCOMPARE(cell->opacity(), wide ? 1.0 : 0.0);
        QCOMPARE(cell->maximum(), quint16(65535));
        QCOMPARE(bool(cell->flags() & QGraphicsItem::ItemIsSelectable), wide);
    }
    QCOMPARE(int(view().cell(0, 1)->value()), 0x1234);
    QCOMPARE(int(view().cell(0, 3)->value()), 0xABCD);
    // A low byte changed on its own reaches the wide cell it belongs to.
    buffer().setByte(2, 0x99);
    QCOMPARE(int(view().cell(0, 1)->value()), 0x1299);

    view().tabBar()->setCurrentIndex(0);
    for (int address = 1; address <= 8; ++address) {
        const auto* cell = view().cell(0, quint16(address));
        QCOMPARE(cell->geometry().width(), qreal(CellWidth));
        QCOMPARE(cell->opacity(), 1.0);
        QCOMPARE(cell->maximum(), quint16(255));
    }
    QCOMPARE(int(view().cell(0, 1)->value()), 0x12);
    QCOMPARE(int(view().cell(0, 2)->value()), 0x99);
}

void TestDMXSetpointView::dragSetsTheSelectedCells_data()
{
    QTest::addColumn<int>("pressed");
    QTest::addColumn<QList<int>>("changed");
    //                                           pressed  addresses that take the value
    QTest::newRow("in one of three selected") << 4 << QList<int>{2, 4, 5};
    QTest::newRow("in a cell not selected")   << 7 << QList<int>{7};
}

void TestDMXSetpointView::dragSetsTheSelectedCells()
{
    QFETCH(int, pressed);
    QFETCH(QList<int>, changed);
    for (int address : {2, 4, 5})
        view().cell(0, quint16(address))->setSelected(true);

    const auto* cell = view().cell(0, quint16(pressed));
    QWidget* viewport = view().graphicsView()->viewport();
    const qreal top = cell->geometry().top();
    QTest::mousePress(viewport, Qt::LeftButton, {}, viewportPoint(cell, top + 200));
    QTest::mouseMove(viewport, viewportPoint(cell, top + 120));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, viewportPoint(cell, top + 60));

    const int expected = cell->valueAt(top + 60);
    QCOMPARE(expected, int(std::lround((CellHeight - 60.0) / CellHeight * 255)));
    for (int address = 1; address <= 8; ++address) {
        const int value = buffer().getByte(quint16(address));
        QCOMPARE(value, changed.contains(address) ? expected : 0);
        QCOMPARE(int(view().cell(0, quint16(address))->value()), value);
    }
}

void TestDMXSetpointView::dropMovesTheDraggedDeviceOnly_data()
{
    QTest::addColumn<int>("dragged"); // the network's device whose box is dragged; 0: `bytes` are dropped
    QTest::addColumn<QByteArray>("bytes");
    // Device 0 is the broadcast device; the three made here follow it. The
    // network's first children are "Inputs/outputs" and "Parameters", so a
    // row index would point two devices further, past the end for the last.
    QTest::newRow("first made")             << 1 << QByteArray();
    QTest::newRow("second made")            << 2 << QByteArray();
    QTest::newRow("last made")              << 3 << QByteArray();
    QTest::newRow("no device (-1)")         << 0 << indexBytes(-1);
    QTest::newRow("index past the devices") << 0 << indexBytes(4);
    QTest::newRow("huge index")             << 0 << indexBytes(0x7FFFFFFF);
    QTest::newRow("cut short")              << 0 << QByteArray(1, '\x01');
    QTest::newRow("empty")                  << 0 << QByteArray();
}

void TestDMXSetpointView::dropMovesTheDraggedDeviceOnly()
{
    QFETCH(int, dragged);
    QFETCH(QByteArray, bytes);
    const QList<DMXDevice*> made = createDevices(3, 1, 1, dmx::DaisyChainCluster);
    QCOMPARE(made.size(), 3);
    DMXDevice* device = dragged ? qobject_cast<DMXDevice*>(m_network->deviceAt(dragged)) : nullptr;
    std::unique_ptr<QMimeData> data(rawDrop(bytes));
    if (device) {
        QVERIFY(made.contains(device));
        QVERIFY(device->networkIndex() != dragged); // the other index space
        QTRY_VERIFY_WITH_TIMEOUT(view().deviceView(device), WaitMs);
        data.reset(view().deviceView(device)->createMimeData());
    }
    QCOMPARE(view().cell(0, 6)->dropDeviceData(data.get()), device != nullptr);
    if (device) {
        QTRY_COMPARE_WITH_TIMEOUT(int(device->startAddress()), 6, WaitMs);
        // Its box goes to the cell it was dropped on.
        QTRY_COMPARE_WITH_TIMEOUT(view().deviceView(device)->pos(), view().cellPosition(6), WaitMs);
    } else {
        QMimeData text;
        text.setText(QStringLiteral("3"));
        QVERIFY(!view().cell(0, 6)->dropDeviceData(&text));
        QVERIFY(!view().cell(0, 6)->dropDeviceData(nullptr));
    }
    inNetworkThread(m_network, [] {}); // whatever a drop queued there has run
    for (DMXDevice* other : made)
        QCOMPARE(int(other->startAddress()), other == device ? 6 : 1);
}

void TestDMXSetpointView::droppedHeadMovesItsChainAndBoxesFollowTheDevices()
{
    const QList<DMXDevice*> chain = createDevices(3, 1, 3, dmx::DaisyChainAuto);
    QCOMPARE(chain.size(), 3);
    for (DMXDevice* device : chain)
        QTRY_VERIFY_WITH_TIMEOUT(view().deviceView(device), WaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(view().deviceView(chain[1])->isVisible(), WaitMs);
    QCOMPARE(view().deviceView(chain[0])->geometry().width(), qreal(3 * CellWidth - 4));

    std::unique_ptr<QMimeData> data(view().deviceView(chain[0])->createMimeData());
    QVERIFY(view().cell(0, 5)->dropDeviceData(data.get()));
    QTRY_COMPARE_WITH_TIMEOUT(int(chain[2]->startAddress()), 11, WaitMs);
    QCOMPARE(int(chain[0]->startAddress()), 5);
    QCOMPARE(int(chain[1]->startAddress()), 8);

    // The head animates to its new cell; the second now starts at the last
    // cell (its other addresses lie beyond the grid); the third is off it.
    QTRY_COMPARE_WITH_TIMEOUT(view().deviceView(chain[0])->pos(), view().cellPosition(5), WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(view().deviceView(chain[1])->pos(), view().cellPosition(8), WaitMs);
    QCOMPARE(view().deviceView(chain[1])->geometry().width(), qreal(CellWidth - 4));
    QTRY_VERIFY_WITH_TIMEOUT(!view().deviceView(chain[2])->isVisible(), WaitMs);

    // A removed device takes its box along.
    QPointer<dmx::DMXSetpointDeviceView> box = view().deviceView(chain[2]);
    m_network->removeDevice(chain[2]);
    QTRY_VERIFY_WITH_TIMEOUT(!box, WaitMs);
}

void TestDMXSetpointView::deviceMenuShowsAndChangesTheDevice()
{
    DMXDevice* device = createDevices(1, 2, 2, dmx::DaisyChainAuto).value(0);
    QVERIFY(device);
    QTRY_VERIFY_WITH_TIMEOUT(view().deviceView(device), WaitMs);
    const QStringList choices{"8 Bits", "16 Bits", "Auto-addressing", "Cluster", "Linear", "Logarithmic"};
    const auto checked = [&] {
        std::unique_ptr<QMenu> menu(view().deviceView(device)->createMenu());
        QStringList on;
        for (const QString& choice : choices)
            on << (menuEntry(menu.get(), choice)->isChecked() ? choice : QString());
        on.removeAll(QString());
        return on;
    };
    QCOMPARE(checked(), (QStringList{"8 Bits", "Auto-addressing", "Linear"}));
    std::unique_ptr<QMenu> menu(view().deviceView(device)->createMenu());
    QVERIFY(menuEntry(menu.get(), QStringLiteral("Add daisy-chained device(s)")));
    for (const char* choice : {"16 Bits", "Cluster", "Logarithmic"})
        menuEntry(menu.get(), QLatin1String(choice))->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(device->networkResolution(), DMXDevice::Resolution16Bits, WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(device->daisyChainMode(), dmx::DaisyChainCluster, WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(device->outputGammaCurve(), DMXDevice::GammaLog, WaitMs);
    // At 16 bits its two channels cover four cells.
    QTRY_COMPARE_WITH_TIMEOUT(view().deviceView(device)->geometry().width(), qreal(4 * CellWidth - 4), WaitMs);
    QCOMPARE(checked(), (QStringList{"16 Bits", "Cluster", "Logarithmic"}));
}

void TestDMXSetpointView::deviceStringDialogResults_data()
{
    QTest::addColumn<int>("resolutionIndex");
    QTest::addColumn<int>("modeIndex");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<int>("mode");
    QTest::newRow("8 Bits, forwarding") << 1 << 1 << int(DMXDevice::Resolution8Bits)  << int(dmx::DaisyChainForwarding);
    QTest::newRow("16 Bits, cluster")   << 0 << 2 << int(DMXDevice::Resolution16Bits) << int(dmx::DaisyChainCluster);
}

void TestDMXSetpointView::deviceStringDialogResults()
{
    QFETCH(int, resolutionIndex);
    QFETCH(int, modeIndex);
    QFETCH(int, resolution);
    QFETCH(int, mode);
    dmx::DMXDeviceStringDialog dialog;
    dialog.findChild<QSpinBox*>(QStringLiteral("deviceCountSpinBox"))->setValue(3);
    dialog.findChild<QSpinBox*>(QStringLiteral("startAddressSpinBox"))->setValue(10);
    dialog.findChild<QSpinBox*>(QStringLiteral("channelCount"))->setValue(3);
    dialog.findChild<QComboBox*>(QStringLiteral("resolutionComboBox"))->setCurrentIndex(resolutionIndex);
    dialog.findChild<QComboBox*>(QStringLiteral("daisychainComboBox"))->setCurrentIndex(modeIndex);

    // What the cell's "Add device(s)" makes of it.
    view().createDevices(dialog);
    QTRY_COMPARE_WITH_TIMEOUT(m_network->deviceCount(), 4, WaitMs);
    auto* first = qobject_cast<DMXDevice*>(m_network->deviceAt(1));
    QTRY_COMPARE_WITH_TIMEOUT(int(first->networkResolution()), resolution, WaitMs);
    QCOMPARE(int(first->daisyChainMode()), mode);
    QCOMPARE(int(first->startAddress()), 10);
    QCOMPARE(first->dmxChannelCount(), 3u);
}

void TestDMXSetpointView::dialogPresetFromAManualDeviceKeepsTheMode()
{
    DMXDevice* device = createDevices(1, 1, 4, dmx::DaisyChainAuto).value(0);
    inNetworkThread(m_network, [device] {
        device->setDaisyChainMode(dmx::DaisyChainManual);
        device->setNetworkResolution(DMXDevice::Resolution16Bits);
    });
    dmx::DMXDeviceStringDialog dialog;
    dialog.findChild<QComboBox*>(QStringLiteral("daisychainComboBox"))->setCurrentIndex(1);
    dialog.preset(device);
    QCOMPARE(dialog.findChild<QComboBox*>(QStringLiteral("daisychainComboBox"))->currentIndex(), -1);
    QCOMPARE(dialog.daisyChainMode(), dmx::DaisyChainForwarding);
    QCOMPARE(dialog.resolution(), DMXDevice::Resolution16Bits);
    QCOMPARE(dialog.channelCount(), 4u);
    QCOMPARE(dialog.deviceCount(), 1);
}

QTEST_MAIN(TestDMXSetpointView)
#include "tst_dmxsetpointview.moc"
