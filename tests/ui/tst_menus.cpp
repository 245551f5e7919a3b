// Node menus: which entries each kind of node gets, in which order, and what
// the entries do: tasks queued on the scheduler, parameters toggled, display
// modes and scale factors set, custom parameters added.
#include "dali/dalinetwork.h"
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
#include "tests/support/recordingmenubuilder.h"
#include "usb/usbdongle.h"
#include "vx/vxnetwork.h"

#include <QActionGroup>
#include <QApplication>
#include <QDialogButtonBox>
#include <QInputDialog>
#include <QLabel>
#include <QPushButton>
#include <QSemaphore>
#include <QSignalSpy>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

using namespace halvorn;
using namespace halvorn::general;

namespace {

constexpr int kWaitMs = 10000;

// The entries of a menu: separators as "-", sub-menus as "<title>>".
QStringList texts(const QMenu* menu)
{
    QStringList result;
    for (const QAction* action : menu->actions()) {
        if (action->isSeparator())
            result << QStringLiteral("-");
        else if (action->menu())
            result << action->text() + QLatin1Char('>');
        else
            result << action->text();
    }
    return result;
}

QAction* actionNamed(const QMenu* menu, const QString& text)
{
    for (QAction* action : menu->actions()) {
        if (action->text() == text)
            return action;
        if (action->menu()) {
            if (QAction* found = actionNamed(action->menu(), text))
                return found;
        }
    }
    return nullptr;
}

class CountingTask : public Task
{
public:
    CountingTask(const QString& name, QSemaphore* gate = nullptr, QObject* parent = nullptr)
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

class DaisyDevice : public Device
{
public:
    explicit DaisyDevice(Network* network)
        : Device(network, 5, QStringLiteral("Driver"))
    {
        setDaisyChained(true);
    }
};

class RecordingDevice : public Device
{
public:
    RecordingDevice()
        : Device(nullptr, 0, QStringLiteral("Driver"))
    {
    }
    void uploadParameter(Parameter* param, bool& ok) override
    {
        written.append(param->storedValue());
        ok = true;
    }
    QList<int> written;
};

// Answers the next modal dialog once it is shown.
template<typename Dialog, typename F>
void answerDialog(F answer)
{
    QTimer::singleShot(0, [answer] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget()))
            answer(dialog);
    });
}

bool waitForIdleScheduler()
{
    return QTest::qWaitFor(
        [] {
            return !TaskScheduler::instance()->currentTask() && TaskScheduler::instance()->queuedCount() == 0;
        },
        kWaitMs);
}

} // namespace

class TestMenus : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase() { qRegisterMetaType<halvorn::general::Parameter*>(); }
    void plainNodeGetsItsOwnEntries();
    void deviceMenuWithoutDaisyChain();
    void deviceMenuWithDaisyChain();
    void parameterMenuShowsDisplayTypes();
    void displayTypeEntriesSetTheMode();
    void scaleDialogSetsFactorAndMode_data();
    void scaleDialogSetsFactorAndMode();
    void cancelledScaleDialogChangesNothing();
    void addParameterDialogForm();
    void customParametersAreAddedByNumber();
    void addParametersAsksTheDialog();
    void taskItemQueuesItsTask();
    void taskMadeForTheMenuOutlivesTheMenu();
    void taskAlreadyRunningIsNotQueuedAgain();
    void parameterToggleWritesAndFollows();
    void busMenusOnThePortline();
};

void TestMenus::plainNodeGetsItsOwnEntries()
{
    auto* node = new ParameterGroup;
    node->setName(QStringLiteral("Inputs/outputs"));
    std::unique_ptr<TreeNodeMenu> menu(TreeNodeMenu::create(node));
    QCOMPARE(menu->title(), QStringLiteral("Inputs/outputs"));
    QCOMPARE(texts(menu.get()), QStringList{QStringLiteral("Update \"Inputs/outputs\"")});
    QCOMPARE(menu->node(), node);
    QVERIFY(!TreeNodeMenu::create(nullptr));
    menu.reset();
    delete node;
}

void TestMenus::deviceMenuWithoutDaisyChain()
{
    Network network;
    Device* device = network.createDevice(3, QStringLiteral("Driver 3"));
    std::unique_ptr<TreeNodeMenu> menu(TreeNodeMenu::create(device));
    QVERIFY(qobject_cast<DeviceNodeMenu*>(menu.get()));
    QCOMPARE(menu->title(), QStringLiteral("Device"));
    QCOMPARE(texts(menu.get()), (QStringList{"-", "Search parameters", "Add parameter(s)", "Remove device"}));

    QSignalSpy removed(&network, &Network::deviceRemoved);
    actionNamed(menu.get(), QStringLiteral("Remove device"))->trigger();
    QVERIFY(removed.wait(kWaitMs));
    QCOMPARE(network.deviceCount(), 0);
}

void TestMenus::deviceMenuWithDaisyChain()
{
    Network network;
    auto* device = new DaisyDevice(&network);
    network.addChild(device, true);
    DeviceNodeMenu menu(device);
    QCOMPARE(texts(&menu), (QStringList{"-", "Search parameters", "Add parameter(s)", "Remove device", "-",
                                        "Search daisy-chain children"}));
    QSignalSpy searched(device, &Device::daisySearchFinished);
    actionNamed(&menu, QStringLiteral("Search daisy-chain children"))->trigger();
    QVERIFY(searched.wait(kWaitMs));
}

void TestMenus::parameterMenuShowsDisplayTypes()
{
    RecordingDevice device;
    auto* parameter = new Parameter(&device, 20, QStringLiteral("Mode"), QString(), 0, 255, 3, true, false,
                                    Parameter::Hexadecimal);
    device.addParameter(&device, parameter);
    std::unique_ptr<TreeNodeMenu> menu(TreeNodeMenu::create(parameter));
    auto* parameterMenu = qobject_cast<ParameterNodeMenu*>(menu.get());
    QVERIFY(parameterMenu);
    QCOMPARE(menu->title(), QStringLiteral("Parameter"));
    QCOMPARE(texts(menu.get()), (QStringList{"-", "Clear min/max", "Show graph", "-", "Display type>"}));
    QCOMPARE(texts(parameterMenu->displayMenu()),
             (QStringList{"Decimal", "Hex", "Binary", "Scaled (factor * val)", "Scaled (factor / val)"}));
    for (int mode = 0; mode < 5; ++mode) {
        QAction* action = parameterMenu->displayAction(mode);
        QVERIFY(action->isCheckable());
        QCOMPARE(action->isChecked(), mode == Parameter::Hexadecimal);
        QVERIFY(action->actionGroup() && action->actionGroup()->isExclusive());
    }

    parameter->setValue(200, false);
    actionNamed(menu.get(), QStringLiteral("Clear min/max"))->trigger();
    QTRY_COMPARE(parameter->minimum(), 0);
}

void TestMenus::displayTypeEntriesSetTheMode()
{
    RecordingDevice device;
    auto* parameter = new Parameter(&device, 20, QStringLiteral("Mode"), QString(), 0, 255, 3, true, false,
                                    Parameter::Decimal);
    device.addParameter(&device, parameter);
    ParameterNodeMenu menu(parameter);
    menu.displayAction(Parameter::BinaryMode)->trigger();
    QCOMPARE(parameter->displayMode(), int(Parameter::BinaryMode));
    QVERIFY(menu.displayAction(Parameter::BinaryMode)->isChecked());
    menu.displayAction(Parameter::Hexadecimal)->trigger();
    QCOMPARE(parameter->displayMode(), int(Parameter::Hexadecimal));
    menu.displayAction(Parameter::Decimal)->trigger();
    QCOMPARE(parameter->displayMode(), int(Parameter::Decimal));
    QVERIFY(!menu.displayAction(Parameter::Hexadecimal)->isChecked());
}

void TestMenus::scaleDialogSetsFactorAndMode_data()
{
    QTest::addColumn<int>("mode");
    QTest::addColumn<QString>("label");
    QTest::addColumn<int>("decimals");
    QTest::addColumn<double>("factor");
    QTest::newRow("factor * value") << int(Parameter::ScaledMultiply)
                                    << "Scale factor for parameter (factor * value)" << 6 << 0.125;
    QTest::newRow("factor / value") << int(Parameter::ScaledDivide)
                                    << "Scale factor for parameter (factor / value)" << 0 << 60000.0;
}

void TestMenus::scaleDialogSetsFactorAndMode()
{
    QFETCH(int, mode);
    QFETCH(QString, label);
    QFETCH(int, decimals);
    QFETCH(double, factor);
    RecordingDevice device;
    auto* parameter = new Parameter(&device, 20, QStringLiteral("Fade"), QString(), 0, 255, 3, true, false,
                                    Parameter::Decimal, 2.0);
    device.addParameter(&device, parameter);
    ParameterNodeMenu menu(parameter);
    QString seenTitle;
    QString seenLabel;
    double preset = 0;
    int seenDecimals = -1;
    answerDialog<QInputDialog>([&](QInputDialog* dialog) {
        seenTitle = dialog->windowTitle();
        seenLabel = dialog->labelText();
        preset = dialog->doubleValue();
        seenDecimals = dialog->doubleDecimals();
        QCOMPARE(dialog->doubleMinimum(), -1000000000.0);
        QCOMPARE(dialog->doubleMaximum(), 1000000000.0);
        dialog->setDoubleValue(factor);
        dialog->accept();
    });
    menu.displayAction(mode)->trigger();
    QCOMPARE(seenTitle, QStringLiteral("Scale factor"));
    QCOMPARE(seenLabel, label);
    QCOMPARE(preset, 2.0);
    QCOMPARE(seenDecimals, decimals);
    QCOMPARE(parameter->displayMode(), mode);
    QCOMPARE(parameter->scale(), factor);
    QVERIFY(menu.displayAction(mode)->isChecked());
}

void TestMenus::cancelledScaleDialogChangesNothing()
{
    RecordingDevice device;
    auto* parameter = new Parameter(&device, 20, QStringLiteral("Fade"), QString(), 0, 255, 3, true, false,
                                    Parameter::Hexadecimal, 2.0);
    device.addParameter(&device, parameter);
    ParameterNodeMenu menu(parameter);
    bool asked = false;
    answerDialog<QInputDialog>([&](QInputDialog* dialog) {
        asked = true;
        dialog->setDoubleValue(9.0);
        dialog->reject();
    });
    menu.displayAction(Parameter::ScaledMultiply)->trigger();
    QVERIFY(asked);
    QCOMPARE(parameter->displayMode(), int(Parameter::Hexadecimal));
    QCOMPARE(parameter->scale(), 2.0);
    QVERIFY(menu.displayAction(Parameter::Hexadecimal)->isChecked());
}

void TestMenus::addParameterDialogForm()
{
    AddParameterDialog dialog;
    QCOMPARE(dialog.windowTitle(), QStringLiteral("Add parameters"));
    QCOMPARE(dialog.size(), QSize(248, 163));
    auto* start = dialog.findChild<HexSpinBox*>(QStringLiteral("spinBox"));
    auto* spacing = dialog.findChild<QSpinBox*>(QStringLiteral("spinBox_2"));
    auto* count = dialog.findChild<QSpinBox*>(QStringLiteral("spinBox_3"));
    QVERIFY(start && spacing && count);
    QCOMPARE(start->maximum(), 65535);
    QCOMPARE(spacing->minimum(), 1);
    QCOMPARE(spacing->maximum(), 256);
    QCOMPARE(count->minimum(), 1);
    QCOMPARE(count->maximum(), 512);
    QCOMPARE(dialog.startParameter(), 0);
    QCOMPARE(dialog.interspacing(), 1);
    QCOMPARE(dialog.count(), 1);
    start->setValue(0x1000);
    spacing->setValue(2);
    count->setValue(3);
    QCOMPARE(dialog.startParameter(), 0x1000);
    QCOMPARE(dialog.interspacing(), 2);
    QCOMPARE(dialog.count(), 3);
    QStringList labels;
    for (const QLabel* label : dialog.findChildren<QLabel*>())
        labels << label->text();
    QVERIFY(labels.contains(QStringLiteral("Start parameter number")));
    QVERIFY(labels.contains(QStringLiteral("Interspacing")));
    QVERIFY(labels.contains(QStringLiteral("Count")));
}

void TestMenus::customParametersAreAddedByNumber()
{
    Network network;
    Device* device = network.createDevice(1, QStringLiteral("Driver"));
    QSignalSpy added(device, &Device::parameterAdded);
    DeviceNodeMenu::addCustomParameters(device, 0x1000, 2, 3);
    auto* custom = qobject_cast<ParameterGroup*>(device->findChild(QStringLiteral("Custom")));
    QVERIFY(custom);
    QCOMPARE(custom->childCount(), 3);
    const uint numbers[] = {0x1000, 0x1002, 0x1004};
    const char* names[] = {"Custom param 1000h", "Custom param 1002h", "Custom param 1004h"};
    for (int i = 0; i < 3; ++i) {
        auto* parameter = qobject_cast<Parameter*>(custom->child(i));
        QVERIFY(parameter);
        QCOMPARE(parameter->number(), numbers[i]);
        QCOMPARE(parameter->name(), QString::fromLatin1(names[i]));
        QVERIFY(parameter->autoRange());
        QCOMPARE(parameter->value(), -1);
        QCOMPARE(parameter->thread(), device->thread());
    }
    QCOMPARE(added.size(), 3);
    // Numbers already there are not added twice; the group is reused.
    DeviceNodeMenu::addCustomParameters(device, 0x1004, 1, 2);
    QCOMPARE(custom->childCount(), 4);
    QCOMPARE(device->childCount(), 1);
}

void TestMenus::addParametersAsksTheDialog()
{
    Network network;
    Device* device = network.createDevice(1, QStringLiteral("Driver"));
    DeviceNodeMenu menu(device);
    answerDialog<AddParameterDialog>([](AddParameterDialog* dialog) {
        dialog->findChild<HexSpinBox*>(QStringLiteral("spinBox"))->setValue(0x20);
        dialog->findChild<QSpinBox*>(QStringLiteral("spinBox_3"))->setValue(2);
        dialog->accept();
    });
    actionNamed(&menu, QStringLiteral("Add parameter(s)"))->trigger();
    QVERIFY(device->findParameter(0x20));
    QVERIFY(device->findParameter(0x21));
    QVERIFY(!device->findParameter(0x22));

    answerDialog<AddParameterDialog>([](AddParameterDialog* dialog) { dialog->reject(); });
    actionNamed(&menu, QStringLiteral("Add parameter(s)"))->trigger();
    QCOMPARE(qobject_cast<ParameterGroup*>(device->findChild(QStringLiteral("Custom")))->childCount(), 2);
}

void TestMenus::taskItemQueuesItsTask()
{
    CountingTask task(QStringLiteral("Count once"));
    TaskMenuItem item(&task);
    QCOMPARE(item.text(), QStringLiteral("Count once"));
    QSignalSpy done(&task, &Task::taskDone);
    item.trigger();
    QVERIFY(done.wait(kWaitMs));
    QCOMPARE(task.runs.load(), 1);
    QVERIFY(waitForIdleScheduler());
}

void TestMenus::taskMadeForTheMenuOutlivesTheMenu()
{
    SearchingNode node;
    node.setName(QStringLiteral("network"));
    auto* menu = TreeNodeMenu::create(&node);
    QCOMPARE(texts(menu), (QStringList{"Update \"network\"", "-", "Search everything"}));
    QPointer<CountingTask> task = node.lastTask;
    QVERIFY(qobject_cast<TaskMenuItem*>(actionNamed(menu, QStringLiteral("Search everything"))));
    actionNamed(menu, QStringLiteral("Search everything"))->trigger();
    // The menu closes and goes at once; its task still runs, then goes too.
    delete menu;
    QVERIFY(task);
    QTRY_VERIFY_WITH_TIMEOUT(task.isNull(), kWaitMs);
    QVERIFY(waitForIdleScheduler());

    // A task nobody triggered goes with its menu.
    menu = TreeNodeMenu::create(&node);
    task = node.lastTask;
    delete menu;
    QVERIFY(task.isNull());
}

void TestMenus::taskAlreadyRunningIsNotQueuedAgain()
{
    QSemaphore gate;
    CountingTask task(QStringLiteral("Held"), &gate);
    TaskMenuItem item(&task);
    QSignalSpy started(&task, &Task::taskStarted);
    item.trigger();
    QTRY_COMPARE_WITH_TIMEOUT(started.size(), 1, kWaitMs);
    item.trigger();
    item.trigger();
    QCOMPARE(TaskScheduler::instance()->queuedCount(), 0);
    gate.release();
    QVERIFY(waitForIdleScheduler());
    QCOMPARE(task.runs.load(), 1);
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
    QVERIFY(item.isCheckable());
    QVERIFY(item.isChecked());
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

void TestMenus::busMenusOnThePortline()
{
    PortlineFixture portline;
    QVERIFY(portline.start());
    usb::USBDongle* dongle = portline.dongle();

    // Each bus node's menu holds what the node describes, in its order.
    for (TreeNode* node : {static_cast<TreeNode*>(dongle), static_cast<TreeNode*>(dongle->daliNetwork()),
                           static_cast<TreeNode*>(dongle->vxNetwork()),
                           static_cast<TreeNode*>(dongle->keymarkNetwork())}) {
        QVERIFY(node);
        test::RecordingMenuBuilder described;
        node->populateMenu(described);
        std::unique_ptr<TreeNodeMenu> menu(TreeNodeMenu::create(node));
        QCOMPARE(texts(menu.get()), described.texts());
    }

    std::unique_ptr<TreeNodeMenu> daliMenu(TreeNodeMenu::create(dongle->daliNetwork()));
    const QStringList dali = texts(daliMenu.get());
    const qsizetype separator = dali.lastIndexOf(QStringLiteral("-"));
    QVERIFY(separator >= 0);
    QCOMPARE(dali.mid(separator + 1),
             (QStringList{"Search all devices", "Search new devices", "Search short addresses"}));
    for (const QString& search : dali.mid(separator + 1))
        QVERIFY(qobject_cast<TaskMenuItem*>(actionNamed(daliMenu.get(), search)));

    // The Chorus search is made for the menu: it runs after the menu is gone.
    auto* vxMenu = TreeNodeMenu::create(dongle->vxNetwork());
    QVERIFY(actionNamed(vxMenu, QStringLiteral("RDM Search all")));
    auto* chorus = qobject_cast<TaskMenuItem*>(actionNamed(vxMenu, QStringLiteral("Chorus Search all")));
    QVERIFY(chorus);
    QPointer<Task> chorusTask = chorus->task();
    QSignalSpy done(chorusTask.data(), &Task::taskDone);
    chorus->trigger();
    delete vxMenu;
    QVERIFY(done.wait(kWaitMs) || done.size() == 1);
    QTRY_VERIFY_WITH_TIMEOUT(chorusTask.isNull(), kWaitMs);
    QVERIFY(waitForIdleScheduler());
}

QTEST_MAIN(TestMenus)
#include "tst_menus.moc"
