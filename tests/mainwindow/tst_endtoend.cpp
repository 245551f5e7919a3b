// The tool's work done from the window with simulated mouse and keys, on
// the virtual Portline, checked at the simulated equipment: DMX levels a
// driver receives, DALI levels the gear takes, parameters read from a
// driver, currents written to a Keymark tag, gear commissioned from the
// device tree, and a search cancelled from the status bar.
#include "tests/mainwindow/windowrig.h"

#include "app/daliwidget.h"
#include "app/devicetreedock.h"
#include "app/dmxdockwidget.h"
#include "app/dmxwidget.h"
#include "app/keymarkwidget.h"
#include "app/myapplication.h"
#include "app/taskstatuswidget.h"
#include "app/tivaromainwindow.h"

#include "dmx/dmxsetpoint.h"
#include "dmx/ui/dmxsetpointchannelview.h"
#include "dmx/ui/dmxsetpointview.h"
#include "dmx/ui/mygraphicsview.h"
#include "general/taskscheduler.h"
#include "general/ui/outputslider.h"
#include "general/ui/parameterproxyview.h"
#include "general/ui/parameterproxyviewgroup.h"
#include "general/ui/treenodemodel.h"
#include "km/ui/keymarkconfigwidget.h"
#include "sim/simdongle.h"
#include "sim/simtag.h"
#include "sim/virtualportline.h"
#include "tests/support/uihelpers.h"
#include "vx/vxnetwork.h"

#include <QApplication>
#include <QContextMenuEvent>
#include <QJsonArray>
#include <QJsonObject>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTreeView>

using namespace halvorn;

namespace {

constexpr int AllCapabilities = WindowRig::AllCapabilities;
constexpr int WaitMs = WindowRig::WaitMs;

QJsonObject driver(std::initializer_list<std::pair<int, int>> parameters)
{
    QJsonArray list;
    for (const auto& [number, value] : parameters)
        list.append(QJsonObject{{QStringLiteral("number"), number}, {QStringLiteral("value"), value}});
    return QJsonObject{{QStringLiteral("guid"), QStringLiteral("0x01020304")},
                       {QStringLiteral("uid"), QStringLiteral("4856:00000001")},
                       {QStringLiteral("parameters"), list}};
}

QJsonObject dmxLine(const QJsonObject& onlyDriver)
{
    return QJsonObject{{QStringLiteral("drivers"), QJsonArray{onlyDriver}}};
}

QJsonObject daliBus(int gear, bool realistic = false)
{
    return QJsonObject{{QStringLiteral("powered"), true},
                       {QStringLiteral("randomGear"), gear},
                       {QStringLiteral("seed"), 11},
                       {QStringLiteral("timing"), realistic ? QStringLiteral("realistic") : QStringLiteral("zero")}};
}

QJsonObject tag(std::array<int, 4> currents)
{
    return QJsonObject{{QStringLiteral("currents"), QJsonArray{currents[0], currents[1], currents[2], currents[3]}}};
}

// The spin box of parameter `number` on the DMX page, or null.
QSpinBox* parameterBox(const DMXWidget& page, uint number)
{
    const QString prefix = QString::number(number) + QStringLiteral(". ");
    for (general::ParameterProxyViewGroup* group : page.groups()) {
        for (int i = 0; i < group->count(); ++i) {
            general::ParameterProxyView* view = group->view(i);
            if (view->label()->text().startsWith(prefix))
                return view->spinBox();
        }
    }
    return nullptr;
}

// A point on the slider's bar where it stands for `value` (exactly, when
// the bar has such a pixel row).
QPoint sliderPoint(const general::OutputSlider& slider, float value)
{
    const QRect bar = slider.barRect();
    QPoint best = bar.center();
    float bestError = 2.0f;
    for (int y = bar.top(); y <= bar.bottom(); ++y) {
        const QPoint point(bar.center().x(), y);
        const float error = std::abs(slider.valueAt(point) - value);
        if (error < bestError) {
            bestError = error;
            best = point;
        }
    }
    return best;
}

// What `read` makes of the simulated dongle, read under its lock.
template<typename Read>
auto locked(const std::shared_ptr<sim::SimDongle>& dongle, Read read)
{
    auto guard = dongle->lock();
    return read(*dongle);
}

int addressedGear(const std::shared_ptr<sim::SimDongle>& dongle)
{
    return locked(dongle, [](sim::SimDongle& d) {
        int count = 0;
        for (int i = 0; i < d.daliBus().gearCount(); ++i)
            count += d.daliBus().gear(i).hasShortAddress() ? 1 : 0;
        return count;
    });
}

std::array<int, 4> tagCurrents(const std::shared_ptr<sim::SimDongle>& dongle)
{
    return locked(dongle, [](sim::SimDongle& d) {
        const sim::SimTag& tag = d.keymarkPort().tag();
        return std::array<int, 4>{tag.current(0), tag.current(1), tag.current(2), tag.current(3)};
    });
}

// Mailbox requests "write maker parameter" (0xC1 to tag location 0x74):
// how a current reaches the driver behind the tag.
int currentWrites(const std::shared_ptr<sim::SimDongle>& dongle)
{
    int count = 0;
    for (const QByteArray& f : locked(dongle, [](sim::SimDongle& d) { return d.keymarkPort().frames(); }))
        count += f.size() >= 9 && quint8(f[1]) == 0x0E && quint8(f[4]) == 0x74 && quint8(f[5]) == 0x0A
                 && quint8(f[6]) == 0xC1;
    return count;
}

// The Keymark page of a window on a dongle whose tag holds `currents`.
struct KeymarkPage {
    explicit KeymarkPage(std::array<int, 4> currents)
        : rig(WindowRig::installation(WindowRig::dongle(AllCapabilities, {}, {}, tag(currents))))
    {
    }
    // Starts the window in Keymark mode; true once the form is ready.
    bool open()
    {
        if (!rig.start())
            return false;
        rig.action("actionKeymark")->trigger();
        form = rig.window().keymarkWidget()->configWidget();
        read = form->findChild<QPushButton*>(QStringLiteral("readConfigPushButton"));
        write = form->findChild<QPushButton*>(QStringLiteral("writeConfigPushButton"));
        return QTest::qWaitFor([this] { return read->isEnabled() && write->isEnabled() && !form->isBusy(); }, WaitMs);
    }
    QSpinBox* current(int k) const
    {
        return form->findChild<QSpinBox*>(QStringLiteral("currentSource%1SpinBox").arg(k + 1));
    }
    void typeCurrent(int k, int mA) const
    {
        current(k)->setFocus();
        current(k)->selectAll();
        QTest::keyClicks(current(k), QString::number(mA));
    }
    std::shared_ptr<sim::SimDongle> simDongle() const { return rig.simDongle(); }
    // Clicks Read; true once the read is over.
    bool clickRead()
    {
        QSignalSpy done(form, &KeymarkConfigWidget::readFinished);
        QTest::mouseClick(read, Qt::LeftButton);
        return done.wait(WaitMs);
    }

    WindowRig rig;
    KeymarkConfigWidget* form = nullptr;
    QPushButton* read = nullptr;
    QPushButton* write = nullptr;
};

// The rows of the device tree below `parent` whose name matches `name`.
QModelIndexList treeRows(const DeviceTreeDock& dock, const QString& name, Qt::MatchFlags how = Qt::MatchExactly,
                         const QModelIndex& parent = {})
{
    return dock.model()->match(dock.model()->index(0, 0, parent), Qt::DisplayRole, name, -1, how | Qt::MatchRecursive);
}

// Picks `entry` from the context menu of the row `row` (once the row shows),
// opened as a right click opens it. False when the row or entry is missing.
bool chooseFromMenu(DeviceTreeDock& dock, const QString& row, const QString& entry)
{
    if (!QTest::qWaitFor([&] { return !treeRows(dock, row).isEmpty(); }, WaitMs))
        return false;
    const QModelIndex index = treeRows(dock, row).first();
    QTreeView* view = dock.view();
    view->scrollTo(index);
    const QPoint position = view->visualRect(index).center();
    QContextMenuEvent event(QContextMenuEvent::Mouse, position, view->viewport()->mapToGlobal(position));
    QApplication::sendEvent(view->viewport(), &event);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    QAction* action = test::menuEntry(menu, entry);
    if (action)
        action->trigger();
    if (menu)
        menu->close();
    return action;
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void draggedDmxCellReachesTheDriver();
    void refreshParametersFillsTheGroups();
    void keymarkReadNeverWritesWriteReachesTheTag();
    void daliGearCommissionedFromTheTreeAndSetFromTheSlider();
    void cancelStopsARunningSearch();
};

void TestEndToEnd::draggedDmxCellReachesTheDriver()
{
    // One 8-bit driver with one channel at address 3.
    WindowRig rig(WindowRig::installation(
        WindowRig::dongle(AllCapabilities, {}, dmxLine(driver({{2, 3}, {4, 1}, {52, 1}})))));
    QVERIFY(rig.start());
    TivaroMainWindow& window = rig.window();
    QCOMPARE(window.mode(), TivaroMainWindow::Mode::DMX);
    dmx::DMXSetpointView* view = window.dmxDock()->view();
    dmx::DMXSetpointChannelView* cell = view->cell(0, 3);
    QVERIFY(cell);
    QWidget* viewport = view->graphicsView()->viewport();
    const auto toViewport = [&](qreal itemY) {
        return view->graphicsView()->mapFromScene(cell->mapToScene(QPointF(cell->geometry().center().x(), itemY)));
    };

    // Press low in the cell, drag up to a quarter of its height from the top.
    const qreal endY = cell->geometry().top() + cell->geometry().height() / 4;
    QTest::mousePress(viewport, Qt::LeftButton, {}, toViewport(cell->geometry().bottom() - 10));
    QTest::mouseMove(viewport, toViewport(cell->geometry().center().y()));
    QTest::mouseMove(viewport, toViewport(endY));
    QTest::mouseRelease(viewport, Qt::LeftButton, {}, toViewport(endY));

    const int expected = cell->valueAt(cell->mapFromScene(view->graphicsView()->mapToScene(toViewport(endY))).y());
    QVERIFY(expected > 150 && expected < 255);
    vx::VxNetwork* network = window.dmxWidget()->network();
    QCOMPARE(int(network->getSetpoint(0)->getByte(3)), expected);
    QCOMPARE(int(cell->value()), expected);
    QTRY_COMPARE_WITH_TIMEOUT(rig.simDongle()->dmxLine().driver(0)->level(0), expected, WaitMs);
    // The neighbours are untouched.
    QCOMPARE(int(network->getSetpoint(0)->getByte(2)), 0);
    QCOMPARE(int(network->getSetpoint(0)->getByte(4)), 0);
}

void TestEndToEnd::refreshParametersFillsTheGroups()
{
    WindowRig rig(WindowRig::installation(WindowRig::dongle(
        AllCapabilities, {}, dmxLine(driver({{2, 7}, {9, 512}, {53, 1}, {157, 95}, {170, 33}})))));
    QVERIFY(rig.start());
    DMXWidget& page = *rig.window().dmxWidget();
    for (general::ParameterProxyViewGroup* group : page.groups())
        QVERIFY2(group->isHidden(), qPrintable(group->title()));

    QTest::mouseClick(page.refreshButton(), Qt::LeftButton);
    QVERIFY(page.isRefreshing());
    QTRY_VERIFY_WITH_TIMEOUT(!page.isRefreshing(), WaitMs);

    const std::pair<uint, int> expected[] = {{2, 7}, {9, 512}, {53, 1}, {157, 95}, {170, 33}};
    for (const auto& [number, value] : expected) {
        QSpinBox* box = parameterBox(page, number);
        QVERIFY2(box, qPrintable(QString::number(number)));
        QTRY_COMPARE_WITH_TIMEOUT(box->text(), QString::number(value), WaitMs);
        QVERIFY(box->isVisibleTo(&page));
    }
    for (general::ParameterProxyViewGroup* group : page.groups())
        QVERIFY2(!group->isHidden(), qPrintable(group->title()));
    // The set points flow again once the refresh is over.
    QVERIFY(page.network()->isDMXOutputEnabled());
}

void TestEndToEnd::keymarkReadNeverWritesWriteReachesTheTag()
{
    // A blank tag reads 0xFFFF everywhere: far outside 200..1050 mA.
    KeymarkPage page({0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF});
    QVERIFY(page.open());
    QVERIFY(page.clickRead());
    for (int k = 0; k < 4; ++k) {
        QVERIFY(page.form->isSourceOutOfRange(k));
        QCOMPARE(page.current(k)->text(), QStringLiteral("out of range"));
        QVERIFY(!page.current(k)->toolTip().isEmpty());
    }
    // Write leaves the unknown currents alone …
    QTest::mouseClick(page.write, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(page.write->isEnabled() && !page.form->isBusy(), WaitMs);
    QVERIFY(test::waitForIdleTasks());
    QCOMPARE(currentWrites(page.simDongle()), 0);
    QCOMPARE(tagCurrents(page.simDongle()), (std::array<int, 4>{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF}));
    // … until the user sets one …
    page.typeCurrent(0, 500);
    QVERIFY(!page.form->isSourceOutOfRange(0));
    QCOMPARE(page.current(0)->text(), QStringLiteral("500 mA"));
    QTRY_COMPARE_WITH_TIMEOUT(tagCurrents(page.simDongle())[0], 500, WaitMs);
    QCOMPARE(tagCurrents(page.simDongle())[1], 0xFFFF);
    // … or all of them and clicks Write.
    const std::array<int, 4> wanted{640, 720, 480, 1000};
    for (int k = 0; k < 4; ++k)
        page.typeCurrent(k, wanted[size_t(k)]);
    QTest::mouseClick(page.write, Qt::LeftButton);
    QVERIFY(!page.write->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(page.write->isEnabled() && !page.form->isBusy(), WaitMs);
    QCOMPARE(tagCurrents(page.simDongle()), wanted);

    // A tag with other currents is put in; Read shows them and writes nothing.
    locked(page.simDongle(), [](sim::SimDongle& d) {
        sim::SimTagConfig config;
        config.currents = {410, 420, 430, 440};
        d.keymarkPort().insertTag(config);
        return 0;
    });
    const int writesBefore = currentWrites(page.simDongle());
    QVERIFY(page.clickRead());
    for (int k = 0; k < 4; ++k)
        QCOMPARE(page.current(k)->value(), 410 + 10 * k);
    QVERIFY(test::waitForIdleTasks());
    QCOMPARE(currentWrites(page.simDongle()), writesBefore);
    QCOMPARE(tagCurrents(page.simDongle()), (std::array<int, 4>{410, 420, 430, 440}));
}

void TestEndToEnd::daliGearCommissionedFromTheTreeAndSetFromTheSlider()
{
    WindowRig rig(WindowRig::installation(WindowRig::dongle(AllCapabilities, daliBus(3))));
    QVERIFY(rig.start());
    DeviceTreeDock& dock = *rig.window().deviceTreeDock();
    QVERIFY(chooseFromMenu(dock, QStringLiteral("DALI Network"), QStringLiteral("Search all devices")));
    const QString device = QStringLiteral("DALI Device");
    QTRY_COMPARE_WITH_TIMEOUT(treeRows(dock, device, Qt::MatchStartsWith).size(), 3, 20000);
    QTRY_COMPARE_WITH_TIMEOUT(addressedGear(rig.simDongle()), 3, WaitMs);
    for (const QModelIndex& gear : treeRows(dock, device, Qt::MatchStartsWith))
        QCOMPARE(gear.parent().data().toString(), QStringLiteral("DALI Network"));

    // A gear's own menu updates it: its levels are read from the bus.
    QVERIFY(chooseFromMenu(dock, QStringLiteral("DALI Device 1"), QStringLiteral("Update \"DALI Device 1\"")));
    const QModelIndex gear = treeRows(dock, QStringLiteral("DALI Device 1")).value(0);
    const auto maxLevel = [&] {
        return treeRows(dock, QStringLiteral("Max level"), Qt::MatchExactly, gear).value(0).siblingAtColumn(4).data();
    };
    QTRY_COMPARE_WITH_TIMEOUT(maxLevel().toString(), QStringLiteral("254"), WaitMs);

    // The broadcast slider at half travel sets every gear to half.
    rig.action("actionDALI")->trigger();
    general::OutputSlider* slider = rig.window().daliWidget()->broadcastSlider();
    QVERIFY(slider->isVisible());
    const QPoint half = sliderPoint(*slider, 0.5f);
    QCOMPARE(slider->valueAt(half), 0.5f);
    QTest::mouseClick(slider, Qt::LeftButton, {}, half);
    QCOMPARE(slider->value(), 0.5f);
    for (int gear = 0; gear < 3; ++gear)
        QTRY_COMPARE_WITH_TIMEOUT(locked(rig.simDongle(), [gear](sim::SimDongle& d) {
                                      return d.daliBus().gear(gear).actualLevel(d.daliBus().nowUs());
                                  }),
                                  127, WaitMs);
}

void TestEndToEnd::cancelStopsARunningSearch()
{
    // Twenty gear on a bus with real DALI timing, behind a USB link with
    // the real round trip: commissioning them all takes far longer than
    // the test waits.
    constexpr int GearCount = 20;
    WindowRig rig(WindowRig::installation(WindowRig::dongle(AllCapabilities, daliBus(GearCount, true))));
    QVERIFY(rig.start());
    rig.portline()->setLatencyUs(1000);
    TivaroMainWindow& window = rig.window();
    TaskStatusWidget* status = window.taskStatus();
    QVERIFY(!status->isVisible());

    DeviceTreeDock& dock = *window.deviceTreeDock();
    QVERIFY(chooseFromMenu(dock, QStringLiteral("DALI Network"), QStringLiteral("Search all devices")));

    QTRY_VERIFY_WITH_TIMEOUT(status->isVisible(), WaitMs);
    QCOMPARE(status->taskName(), QStringLiteral("Search all devices"));
    // Another search waits behind it.
    QVERIFY(chooseFromMenu(dock, QStringLiteral("DALI Network"), QStringLiteral("Search short addresses")));
    QTRY_COMPARE_WITH_TIMEOUT(status->queueLabel()->text(), QStringLiteral("1 more queued"), WaitMs);
    // Well under way: the search has put its first frames on the bus.
    const auto frames = [&rig] {
        return locked(rig.simDongle(), [](sim::SimDongle& d) { return d.daliBus().forwardFrames().size(); });
    };
    QTRY_VERIFY_WITH_TIMEOUT(frames() >= 20, WaitMs);

    // Cancel stops the running search only; the waiting one starts.
    QTest::mouseClick(status->cancelButton(), Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(status->taskName(), QStringLiteral("Search short addresses"), 5000);
    const int addressed = addressedGear(rig.simDongle());
    QVERIFY2(addressed < GearCount, qPrintable(QString::number(addressed)));
    QVERIFY(status->queueLabel()->text().isEmpty());

    QTest::mouseClick(status->cancelButton(), Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(!status->isVisible(), 5000);
    QVERIFY(!general::TaskScheduler::instance()->currentTask());
}

int main(int argc, char* argv[])
{
    MyApplication app(argc, argv);
    TestEndToEnd test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_endtoend.moc"
