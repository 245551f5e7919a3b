// Node menus: which entries each kind of node gets, in which order, and what
// the entries do: tasks queued on the scheduler, parameters toggled, display
// modes and scale factors set, custom parameters added.
#include "general/device.h"
#include "general/network.h"
#include "general/parameter.h"
#include "general/parametergroup.h"
#include "general/task.h"
#include "general/taskscheduler.h"
#include "general/ui/addparameterdialog.h"
#include "general/ui/devicenodemenu.h"
#include "general/ui/hexspinbox.h"
#include "general/ui/parameternodemenu.h"
#include "general/ui/paramtogglemenuitem.h"
#include "general/ui/taskmenuitem.h"
#include "general/ui/treenodemenu.h"
#include "tests/support/portlinefixture.h"
#include "tests/support/queuedsignalcounter.h"
#include "tests/support/uihelpers.h"
#include "usb/usbdongle.h"

#include <QInputDialog>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>

using namespace halvorn;
using namespace halvorn::general;
using namespace halvorn::test;

namespace {

constexpr int kWaitMs = 10000;

class CountingTask : public Task
{
public:
    explicit CountingTask(const QString& name, QSemaphore* gate = nullptr, QObject* parent = nullptr)
        : Task(2, name, false)
        , m_gate(gate)
    {
        setParent(parent);
    }
    void execute() override
    {
        if (m_gate)
            m_gate->tryAcquire(1, kWaitMs);
        ++runs;
    }
    std::atomic<int> runs{0};

private:
    QSemaphore* m_gate;
};

// A node that, like the Vx network, makes a task for each menu built.
class SearchingNode : public TreeNode
{
public:
    void populateMenu(MenuBuilder& menu) override
    {
        TreeNode::populateMenu(menu);
        menu.addSeparator();
        lastTask = new CountingTask(QStringLiteral("Search everything"), nullptr, menu.owner());
        menu.addTask(lastTask);
    }
    QPointer<CountingTask> lastTask;
};

class RecordingDevice : public Device
{
public:
    explicit RecordingDevice(Network* network = nullptr, bool daisy = false)
        : Device(network, 5, QStringLiteral("Driver"))
    {
        setDaisyChained(daisy);
    }
    void uploadParameter(Parameter* param, bool& ok) override
    {
        written.append(param->storedValue());
        ok = true;
    }
    QList<int> written;
};

Parameter* addParameter(Device& device, int mode, double scale = 1.0)
{
    auto* parameter = new Parameter(&device, 20, QStringLiteral("Mode"), QString(), 0, 255, 3, true, false, mode, scale);
    device.addParameter(&device, parameter);
    return parameter;
}

} // namespace

class TestMenus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<halvorn::general::Parameter*>(); }
    void menusListTheNodesEntriesInOrder_data();
    void menusListTheNodesEntriesInOrder();
    void deviceEntriesActOnTheDevice();
    void scaleEntriesAskForTheFactor_data();
    void scaleEntriesAskForTheFactor();
    void taskItemQueuesItsTaskOnce();
    void taskMadeForTheMenuOutlivesTheMenu();
    void parameterToggleWritesAndFollows();

private:
    std::unique_ptr<PortlineFixture> m_portline;
};

void TestMenus::menusListTheNodesEntriesInOrder_data()
{
    QTest::addColumn<QString>("node");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("entries");
    const QStringList device{"-", "Search parameters", "Add parameter(s)", "Remove device"};
    QTest::newRow("group") << "group" << "Inputs/outputs" << QStringList{"Update \"Inputs/outputs\""};
    QTest::newRow("device") << "device" << "Device" << device;
    QTest::newRow("daisy-chained device") << "daisy" << "Device"
                                          << device + QStringList{"-", "Search daisy-chain children"};
    QTest::newRow("parameter") << "parameter" << "Parameter"
                               << QStringList{"-", "Clear min/max", "Show graph", "-", "Display type>"};
    const QStringList searches{"-", "Search all devices", "Search new devices", "Search short addresses"};
    QTest::newRow("dongle") << "dongle" << "Portline" << QStringList{"Update \"Portline\""} + device;
    QTest::newRow("DALI network") << "dali" << "DALI Network" << QStringList{"Update \"DALI Network\""} + searches;
    QTest::newRow("Keymark network") << "keymark" << "Keymark Network"
                                     << QStringList{"Update \"Keymark Network\""} + searches;
    QTest::newRow("Vx network") << "vx" << "DMX Network"
                                << QStringList{"Update \"DMX Network\"", "-", "RDM Search all", "Chorus Search all"};
}

void TestMenus::menusListTheNodesEntriesInOrder()
{
    QFETCH(QString, node);
    QFETCH(QString, title);
    QFETCH(QStringList, entries);
    Network network;
    ParameterGroup group;
    group.setName(QStringLiteral("Inputs/outputs"));
    auto* daisy = new RecordingDevice(&network, true);
    network.addChild(daisy, true);
    TreeNode* target = node == "group"       ? static_cast<TreeNode*>(&group)
                       : node == "device"    ? network.createDevice(3, QStringLiteral("Driver 3"))
                       : node == "daisy"     ? static_cast<TreeNode*>(daisy)
                       : node == "parameter" ? addParameter(*daisy, Parameter::Decimal)
                                             : nullptr;
    if (!target) {
        if (!m_portline) {
            m_portline = std::make_unique<PortlineFixture>();
            QVERIFY(m_portline->start());
        }
        usb::USBDongle* dongle = m_portline->dongle();
        target = node == "dongle" ? static_cast<TreeNode*>(dongle)
                 : node == "dali" ? dongle->daliNetwork()
                 : node == "vx"   ? dongle->vxNetwork()
                                  : dongle->keymarkNetwork();
    }
    std::unique_ptr<TreeNodeMenu> menu(TreeNodeMenu::create(target));
    QVERIFY(menu);
    QCOMPARE(menu->node(), target);
    QCOMPARE(menu->title(), title);
    QCOMPARE(menuTexts(menu.get()), entries);
}

void TestMenus::deviceEntriesActOnTheDevice()
{
    Network network;
    auto* device = new RecordingDevice(&network, true);
    network.addChild(device, true);
    DeviceNodeMenu menu(device);
    // "Add parameter(s)" asks for the numbers; cancelled, it adds nothing.
    QSignalSpy added(device, &Device::parameterAdded);
    answerDialog<AddParameterDialog>([](AddParameterDialog* dialog) {
        dialog->findChild<HexSpinBox*>(QStringLiteral("spinBox"))->setValue(0x1000);
        dialog->findChild<QSpinBox*>(QStringLiteral("spinBox_2"))->setValue(2);
        dialog->findChild<QSpinBox*>(QStringLiteral("spinBox_3"))->setValue(3);
        dialog->accept();
    });
    menuEntry(&menu, QStringLiteral("Add parameter(s)"))->trigger();
    answerDialog<AddParameterDialog>([](AddParameterDialog* dialog) { dialog->reject(); });
    menuEntry(&menu, QStringLiteral("Add parameter(s)"))->trigger();
    TreeNode* custom = device->findChild(QStringLiteral("Custom"));
    QVERIFY(custom);
    QStringList made;
    for (TreeNode* node : custom->childNodes()) {
        auto* parameter = qobject_cast<Parameter*>(node);
        made << QStringLiteral("%1 %2").arg(parameter->number(), 0, 16).arg(parameter->name());
        QVERIFY(parameter->autoRange());
        QCOMPARE(parameter->value(), -1);
        QCOMPARE(parameter->thread(), device->thread());
    }
    QCOMPARE(made, (QStringList{"1000 Custom param 1000h", "1002 Custom param 1002h", "1004 Custom param 1004h"}));
    QCOMPARE(added.size(), 3);
    // Numbers already there are not added twice; the group is reused.
    DeviceNodeMenu::addCustomParameters(device, 0x1004, 1, 2);
    QCOMPARE(custom->childCount(), 4);
    QCOMPARE(device->childCount(), 1);

    test::QueuedSignalCounter removed(&network, &Network::deviceRemoved);
    menuEntry(&menu, QStringLiteral("Remove device"))->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(removed.count(), 1, kWaitMs);
    QCOMPARE(network.deviceCount(), 0);
}

void TestMenus::scaleEntriesAskForTheFactor_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("dialog"); // title|label|value|decimals|range
    QTest::addColumn<double>("factor");
    const QString times = QStringLiteral("Scale factor|Scale factor for parameter (factor * value)|2|6|-1e+09..1e+09");
    const QString divide = QStringLiteral("Scale factor|Scale factor for parameter (factor / value)|2|0|-1e+09..1e+09");
    //                                 mode                               accept   dialog     factor
    QTest::newRow("factor * value") << int(Parameter::ScaledMultiply) << true  << times     << 0.125;
    QTest::newRow("factor / value") << int(Parameter::ScaledDivide)   << true  << divide    << 60000.0;
    QTest::newRow("cancelled")      << int(Parameter::ScaledMultiply) << false << times     << 9.0;
}

void TestMenus::scaleEntriesAskForTheFactor()
{
    QFETCH(int, mode);
    QFETCH(bool, accept);
    QFETCH(QString, dialog);
    QFETCH(double, factor);
    RecordingDevice device;
    Parameter* parameter = addParameter(device, Parameter::Hexadecimal, 2.0);
    ParameterNodeMenu menu(parameter);
    QString seen;
    answerDialog<QInputDialog>([&](QInputDialog* asked) {
        seen = QStringLiteral("%1|%2|%3|%4|%5..%6")
                   .arg(asked->windowTitle(), asked->labelText())
                   .arg(asked->doubleValue())
                   .arg(asked->doubleDecimals())
                   .arg(asked->doubleMinimum())
                   .arg(asked->doubleMaximum());
        asked->setDoubleValue(factor);
        accept ? asked->accept() : asked->reject();
    });
    menu.displayAction(mode)->trigger();
    QCOMPARE(seen, dialog);
    const int shown = accept ? mode : int(Parameter::Hexadecimal);
    QCOMPARE(parameter->displayMode(), shown);
    QCOMPARE(parameter->scale(), accept ? factor : 2.0);
    QVERIFY(menu.displayAction(shown)->isChecked());

    parameter->setValue(200, false);
    menuEntry(&menu, QStringLiteral("Clear min/max"))->trigger();
    QTRY_COMPARE(parameter->minimum(), 0);
}

void TestMenus::taskItemQueuesItsTaskOnce()
{
    QSemaphore gate;
    CountingTask task(QStringLiteral("Held"), &gate);
    TaskMenuItem item(&task);
    QCOMPARE(item.text(), QStringLiteral("Held"));
    QSignalSpy started(&task, &Task::taskStarted);
    item.trigger();
    QTRY_COMPARE_WITH_TIMEOUT(started.size(), 1, kWaitMs);
    // Already running: not queued again.
    item.trigger();
    item.trigger();
    QCOMPARE(TaskScheduler::instance()->queuedCount(), 0);
    gate.release();
    QVERIFY(waitForIdleTasks(kWaitMs));
    QCOMPARE(task.runs.load(), 1);
}

void TestMenus::taskMadeForTheMenuOutlivesTheMenu()
{
    SearchingNode node;
    node.setName(QStringLiteral("network"));
    auto* menu = TreeNodeMenu::create(&node);
    QCOMPARE(menuTexts(menu), (QStringList{"Update \"network\"", "-", "Search everything"}));
    QPointer<CountingTask> task = node.lastTask;
    QVERIFY(qobject_cast<TaskMenuItem*>(menuEntry(menu, QStringLiteral("Search everything"))));
    menuEntry(menu, QStringLiteral("Search everything"))->trigger();
    // The menu closes and goes at once; its task still runs, then goes too.
    delete menu;
    QVERIFY(task);
    QTRY_VERIFY_WITH_TIMEOUT(task.isNull(), kWaitMs);
    QVERIFY(waitForIdleTasks(kWaitMs));

    // A task nobody triggered goes with its menu.
    menu = TreeNodeMenu::create(&node);
    task = node.lastTask;
    delete menu;
    QVERIFY(task.isNull());
}

void TestMenus::parameterToggleWritesAndFollows()
{
    RecordingDevice device;
    auto* flag = new Parameter(&device, 30, QStringLiteral("Output enabled"), QString(), 0, 1, 1, true, false,
                               Parameter::Decimal);
    flag->setType(Parameter::BooleanType);
    device.addParameter(&device, flag);
    ParamToggleMenuItem item(flag);
    QCOMPARE(item.text(), QStringLiteral("Output enabled"));
    QVERIFY(item.isCheckable() && item.isChecked());
    item.trigger(); // unchecks
    QCOMPARE(device.written, QList<int>{0});
    QCOMPARE(flag->value(), 0);
    QVERIFY(!item.isChecked());

    // A change made in another thread reaches the entry.
    QThread other;
    device.moveToThread(&other);
    flag->moveToThread(&other);
    other.start();
    QMetaObject::invokeMethod(flag, [flag] { flag->setValue(1, false); });
    QTRY_VERIFY_WITH_TIMEOUT(item.isChecked(), kWaitMs);
    QMetaObject::invokeMethod(flag, [&] {
        flag->moveToThread(QCoreApplication::instance()->thread());
        device.moveToThread(QCoreApplication::instance()->thread());
    });
    QTRY_COMPARE(device.thread(), QCoreApplication::instance()->thread());
    other.quit();
    QVERIFY(other.wait(kWaitMs));
}

QTEST_MAIN(TestMenus)
#include "tst_menus.moc"
