// Networks and devices: the network's thread, status timer and log thread,
// the five network parameters used from foreign threads as tasks use them,
// the device list, device identity, menus and editing, and clean
// destruction. Every Qt warning fails the test that caused it (a timer
// touched from a foreign thread, an object moved from the wrong thread).

#include "general/device.h"
#include "general/network.h"
#include "general/networklog.h"
#include "general/parameter.h"
#include "general/parametergroup.h"
#include "tests/support/recordingmenubuilder.h"
#include "tests/support/testthreads.h"

#include <QElapsedTimer>
#include <QMutex>
#include <QPointer>
#include <QSet>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>
#include <vector>

using namespace halvorn::general;
using halvorn::test::RecordingMenuBuilder;
using halvorn::test::runInThread;

namespace {

QMutex s_warningsMutex;
QStringList s_warnings; // guarded by s_warningsMutex
QtMessageHandler s_previousHandler = nullptr;

void recordWarnings(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (type == QtWarningMsg || type == QtCriticalMsg || type == QtFatalMsg) {
        QMutexLocker locker(&s_warningsMutex);
        s_warnings << message;
    }
    if (s_previousHandler)
        s_previousHandler(type, context, message);
}

// Returns once every call queued into `object`'s thread before it has run.
void syncWith(QObject* object)
{
    QMetaObject::invokeMethod(object, [] {}, Qt::BlockingQueuedConnection);
}

bool waitForInit(Network* network)
{
    return QTest::qWaitFor([network] { return network->findParameter(Network::InterferenceRobustnessParameter); },
                           5000);
}

// A network created and initialised in its thread, with a log when asked.
std::unique_ptr<Network> startedNetwork(NetworkLog* log = nullptr)
{
    auto network = std::make_unique<Network>();
    if (log)
        network->setLog(log);
    network->emitNetworkCreated();
    return waitForInit(network.get()) ? std::move(network) : nullptr;
}

// Writes a network parameter (when `value` is not negative) and reads it
// back from a foreign thread, the way an update task and a parameter view
// do. -2 when the thread hung, -3 when the read failed.
int inForeignThread(Parameter* param, int value = -1)
{
    int readBack = -2;
    const bool finished = runInThread([param, value, &readBack] {
        if (value >= 0)
            param->setValue(value, true);
        readBack = param->update(true) ? param->value() : -3;
    });
    return finished ? readBack : -2;
}

Parameter* plainParameter(ParameterDevice* device, uint number, const QString& name = QStringLiteral("p"))
{
    return new Parameter(device, number, name, QString(), -1, -1, -1, false, false, Parameter::Decimal);
}

// A device whose reads always fail, counting the attempts.
class SilentDevice : public Device
{
    Q_OBJECT
public:
    using Device::Device;
    uint downloadParameter(Parameter*, bool& ok) override
    {
        ++attempts;
        ok = false;
        return 0;
    }
    std::atomic<int> attempts{0};
};

// A device that counts the automatic refreshes reaching it.
class CountingDevice : public Device
{
    Q_OBJECT
public:
    using Device::Device;
    bool update(bool manual) override
    {
        if (!manual)
            ++automaticUpdates;
        return Device::update(manual);
    }
    std::atomic<int> automaticUpdates{0};
};

class DaisyDevice : public Device
{
    Q_OBJECT
public:
    DaisyDevice(Network* network, uint address)
        : Device(network, address, QStringLiteral("Daisy"))
    {
        setDaisyChained(true);
    }
};

// Records the thread that init() and OnNetworkCreation() run in, and their order.
class RecordingNetwork : public Network
{
    Q_OBJECT
public:
    void OnNetworkCreation() override
    {
        QMutexLocker locker(&mutex);
        calls << QStringLiteral("OnNetworkCreation");
        threads << QThread::currentThread();
    }
    void init() override
    {
        Network::init();
        QMutexLocker locker(&mutex);
        calls << QStringLiteral("init");
        threads << QThread::currentThread();
    }
    QMutex mutex;
    QStringList calls;
    QList<QThread*> threads;
};

} // namespace

class TestNetwork : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void initRunsInTheNetworkThreadAfterCreation();
    void networkParametersWrittenFromAForeignThread_data();
    void networkParametersWrittenFromAForeignThread();
    void statusTicksStartAndStopThroughAutoUpdateEnabled();
    void intervalWrittenFromAForeignThreadChangesTheTickRate();
    void loggingIsToggledThroughLoggingEnabled();
    void readAttemptsFollowTheNetworkRetryCount_data();
    void readAttemptsFollowTheNetworkRetryCount();

    void devicesAreCreatedInTheNetworkThread();
    void deviceListCountsDevicesOnly();
    void removeDeviceRetiresTheDevice();
    void addParameterKeepsTheFirstOfANumber();
    void addParameterRacingThreadsAddOnce();
    void tenthDeviceGetsTheFirstColour();
    void deviceMenuEntries_data();
    void deviceMenuEntries();
    void deviceNameAndAutoUpdateAreEditable_data();
    void deviceNameAndAutoUpdateAreEditable();

    void destroyedWithRunningTimerAndLogThread_data();
    void destroyedWithRunningTimerAndLogThread();
};

void TestNetwork::initTestCase()
{
    s_previousHandler = qInstallMessageHandler(recordWarnings);
}

void TestNetwork::cleanup()
{
    QMutexLocker locker(&s_warningsMutex);
    const QStringList warnings = std::exchange(s_warnings, {});
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

void TestNetwork::initRunsInTheNetworkThreadAfterCreation()
{
    RecordingNetwork network;
    QVERIFY(network.networkThread()->isRunning());
    QCOMPARE(network.thread(), network.networkThread());
    QVERIFY(!network.findParameter(Network::AutoUpdateRateParameter));

    network.emitNetworkCreated();
    QVERIFY(waitForInit(&network));
    QMutexLocker locker(&network.mutex);
    QCOMPARE(network.calls, QStringList({"OnNetworkCreation", "init"}));
    QCOMPARE(network.threads, QList<QThread*>({network.networkThread(), network.networkThread()}));
    auto* group = qobject_cast<ParameterGroup*>(network.findChild(QStringLiteral("Parameters")));
    QVERIFY(group && !group->autoUpdateCheckable());
    QVERIFY(network.findChild(QStringLiteral("Inputs/outputs")));

    // The five parameters show the current settings (no log yet: logging on).
    QStringList shown;
    for (TreeNode* node : group->childNodes()) {
        auto* param = qobject_cast<Parameter*>(node);
        QVERIFY(param && !param->autoUpdateCheckable() && !param->isReadOnly());
        QCOMPARE(param->readState(), int(Parameter::ReadOk));
        QCOMPARE(param->thread(), network.networkThread());
        shown << QStringLiteral("%1 %2=%3").arg(param->number()).arg(param->name()).arg(param->value());
    }
    QCOMPARE(shown, (QStringList{"100000 Auto update rate (ms)=50", "100001 Auto update enabled=0",
                                 "100002 Logging enabled=1", "100003 Retry count=1",
                                 "100004 Interference robustness=0"}));
}

void TestNetwork::networkParametersWrittenFromAForeignThread_data()
{
    QTest::addColumn<uint>("number");
    QTest::addColumn<int>("before");
    QTest::addColumn<int>("written");
    QTest::addColumn<int>("readBack");
    QTest::addColumn<QString>("setting");
    QTest::addColumn<int>("settingValue");

    // `before` is written first, so that a write that changes nothing fails.
    const uint rate = Network::AutoUpdateRateParameter;
    const uint enabled = Network::AutoUpdateEnabledParameter;
    const uint logging = Network::LoggingEnabledParameter;
    const uint retries = Network::RetryCountParameter;
    const uint robust = Network::InterferenceRobustnessParameter;
    //                                     number    before written read  setting     value
    QTest::newRow("rate 200")       << rate     << 70  << 200 << 200 << "interval" << 200;
    QTest::newRow("rate 0 is 1 ms") << rate     << 70  << 0   << 1   << "interval" << 1;
    QTest::newRow("enable")         << enabled  << 0   << 1   << 1   << "timer"    << 1;
    QTest::newRow("enable with 7")  << enabled  << 0   << 7   << 1   << "timer"    << 1;
    QTest::newRow("disable")        << enabled  << 1   << 0   << 0   << "timer"    << 0;
    QTest::newRow("retries 4")      << retries  << 2   << 4   << 4   << "retries"  << 4;
    QTest::newRow("retries 0")      << retries  << 2   << 0   << 0   << "retries"  << 0;
    QTest::newRow("robust")         << robust   << 0   << 3   << 1   << "robust"   << 1;
    QTest::newRow("not robust")     << robust   << 1   << 0   << 0   << "robust"   << 0;
    QTest::newRow("logging off")    << logging  << 1   << 0   << 0   << "log"      << 0;
    QTest::newRow("logging on")     << logging  << 0   << 9   << 1   << "log"      << 1;
}

void TestNetwork::networkParametersWrittenFromAForeignThread()
{
    QFETCH(uint, number);
    QFETCH(int, before);
    QFETCH(int, written);
    QFETCH(int, readBack);
    QFETCH(QString, setting);
    QFETCH(int, settingValue);

    auto network = startedNetwork(new NetworkLog(QStringLiteral("Test log")));
    QVERIFY(network);
    Parameter* param = network->findParameter(number);
    QCOMPARE(inForeignThread(param, before), before);
    QCOMPARE(inForeignThread(param, written), readBack);

    const QMap<QString, int> settings{{"interval", network->statusTimerInterval()},
                                      {"timer", network->isStatusTimerEnabled()},
                                      {"retries", network->retryCount()},
                                      {"robust", network->interferenceRobustness()},
                                      {"log", !network->log()->isDisabled()}};
    QCOMPARE(settings.value(setting, -1), settingValue);
    QCOMPARE(param->readState(), int(Parameter::ReadOk));
}

void TestNetwork::statusTicksStartAndStopThroughAutoUpdateEnabled()
{
    auto network = startedNetwork();
    QVERIFY(network);
    auto* watched = new CountingDevice(network.get(), 1, QStringLiteral("Watched"));
    network->addChild(watched, true);
    auto* ignored = new CountingDevice(network.get(), 2, QStringLiteral("Ignored"));
    network->addChild(ignored, true);
    ignored->setAutoUpdate(false);
    Parameter* enabled = network->findParameter(Network::AutoUpdateEnabledParameter);
    QCOMPARE(network->statusUpdateCount(), 0);

    QCOMPARE(inForeignThread(network->findParameter(Network::AutoUpdateRateParameter), 10), 10);
    QCOMPARE(inForeignThread(enabled, 1), 1);
    QTRY_VERIFY_WITH_TIMEOUT(network->statusUpdateCount() >= 5 && watched->automaticUpdates >= 3, 5000);

    QCOMPARE(inForeignThread(enabled, 0), 0);
    syncWith(network.get());
    const int stoppedAt = network->statusUpdateCount();
    QTest::qWait(150); // fifteen periods: long enough for ticks to show
    QCOMPARE(network->statusUpdateCount(), stoppedAt);
    // Each tick refreshes the automatically updated devices only.
    QCOMPARE(ignored->automaticUpdates.load(), 0);
    QVERIFY(stoppedAt >= watched->automaticUpdates.load());

    QCOMPARE(inForeignThread(enabled, 1), 1);
    QTRY_VERIFY_WITH_TIMEOUT(network->statusUpdateCount() >= stoppedAt + 5, 5000);
    QCOMPARE(network->statusTimerInterval(), 10);
}

void TestNetwork::intervalWrittenFromAForeignThreadChangesTheTickRate()
{
    auto network = startedNetwork();
    QVERIFY(network);
    Parameter* rate = network->findParameter(Network::AutoUpdateRateParameter);
    network->setStatusTimerInterval(5);
    QVERIFY(runInThread([&network] { network->startStatusTimer(); }));
    QTRY_VERIFY_WITH_TIMEOUT(network->statusUpdateCount() >= 10, 5000);

    QCOMPARE(inForeignThread(rate, 300), 300);
    syncWith(network.get());
    const int before = network->statusUpdateCount();
    QElapsedTimer elapsed;
    elapsed.start();
    // Three more ticks take at least two full periods of the new interval;
    // at the old rate they would come within a few milliseconds, and a timer
    // that stopped would never bring them.
    QTRY_VERIFY_WITH_TIMEOUT(network->statusUpdateCount() >= before + 3, 5000);
    QVERIFY2(elapsed.elapsed() >= 550, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(inForeignThread(rate), 300);
}

void TestNetwork::loggingIsToggledThroughLoggingEnabled()
{
    QPointer<NetworkLog> log(new NetworkLog(QStringLiteral("Test log")));
    auto network = startedNetwork(log);
    QVERIFY(network);
    QCOMPARE(network->log(), log.data());
    QVERIFY(log->thread() != network->networkThread() && log->thread() != QThread::currentThread());
    Parameter* logging = network->findParameter(Network::LoggingEnabledParameter);
    network->log(GENERAL, QStringLiteral("kept 1"), INFO);
    QTRY_COMPARE_WITH_TIMEOUT(log->count(), 1, 5000);

    QCOMPARE(inForeignThread(logging, 0), 0);
    QVERIFY(runInThread([&network] {
        network->log(GENERAL, QStringLiteral("dropped"), INFO);
        network->log(new LogMessage(QStringLiteral("dropped too"), GENERAL, INFO, QThread::currentThread()));
    }));
    syncWith(log);
    QCOMPARE(log->count(), 1);

    QCOMPARE(inForeignThread(logging, 1), 1);
    network->log(GENERAL, QStringLiteral("kept 2"), WARN);
    QTRY_COMPARE_WITH_TIMEOUT(log->count(), 2, 5000);
    QCOMPARE(log->message(1)->text(), QStringLiteral("kept 2"));
    QCOMPARE(log->message(1)->type(), WARN);
    QCOMPARE(log->message(1)->thread(), QThread::currentThread());

    // A second log replaces the first, which is stopped and deleted.
    auto* second = new NetworkLog(QStringLiteral("Second log"));
    network->setLog(second);
    QVERIFY(log.isNull());
    network->log(GENERAL, QStringLiteral("to the second"), INFO);
    QTRY_COMPARE_WITH_TIMEOUT(second->count(), 1, 5000);
}

void TestNetwork::readAttemptsFollowTheNetworkRetryCount_data()
{
    QTest::addColumn<int>("retries");
    QTest::newRow("one") << 1;
    QTest::newRow("three") << 3;
    QTest::newRow("zero fails at once") << 0;
}

void TestNetwork::readAttemptsFollowTheNetworkRetryCount()
{
    QFETCH(int, retries);
    auto network = startedNetwork();
    QVERIFY(network);
    QCOMPARE(inForeignThread(network->findParameter(Network::RetryCountParameter), retries), retries);
    auto* device = new SilentDevice(network.get(), 1, QStringLiteral("Silent"));
    network->addChild(device, true);
    Parameter* param = plainParameter(device, 7);
    QCOMPARE(device->addParameter(device, param), param);

    QCOMPARE(inForeignThread(param), -3);
    QCOMPARE(device->attempts.load(), retries);
    QCOMPARE(param->readState(), int(Parameter::ReadFailed));
}

void TestNetwork::devicesAreCreatedInTheNetworkThread()
{
    auto network = startedNetwork();
    QVERIFY(network);
    QVERIFY(!network->autoUpdate());
    QSignalSpy found(network.get(), &Network::deviceFound);
    Device* first = nullptr;
    QVERIFY(runInThread([&] { first = network->createDevice(7, QStringLiteral("First")); }));
    Device* second = network->createDevice(7, QStringLiteral("Second"));

    QVERIFY(first && second && first != second);
    QCOMPARE(first->thread(), network->networkThread());
    QCOMPARE(first->parentNode(), network.get());
    QVERIFY(first->autoUpdate() && first->autoUpdateCheckable());
    QVERIFY(network->autoUpdate());
    QVERIFY(!first->isConnected());
    QCOMPARE(first->logPrefix(), QStringLiteral("[Dev:First]"));
    QCOMPARE(network->findDevice(7), first);
    QCOMPARE(network->findDevice(8), nullptr);
    QCOMPARE(found.count(), 2);
    QCOMPARE(found.at(0).at(0).value<Device*>(), first);
    QCOMPARE(found.at(1).at(0).value<Device*>(), second);
}

void TestNetwork::deviceListCountsDevicesOnly()
{
    auto network = startedNetwork();
    QVERIFY(network);
    // Children: 0 "Inputs/outputs", 1 "Parameters", then the devices with a
    // group in between.
    Device* a = network->createDevice(1, QStringLiteral("A"));
    Device* b = network->createDevice(2, QStringLiteral("B"));
    network->group(QStringLiteral("Extra"));
    Device* c = network->createDevice(3, QStringLiteral("C"));
    Network other;
    Device* stranger = other.createDevice(1, QStringLiteral("Stranger"));

    QCOMPARE(network->deviceCount(), 3);
    QCOMPARE((QList<Device*>{network->deviceAt(-1), network->deviceAt(0), network->deviceAt(2), network->deviceAt(3)}),
             (QList<Device*>{nullptr, a, c, nullptr}));
    QCOMPARE((QList<int>{network->indexOfDevice(b), network->indexOfDevice(c), network->indexOfDevice(stranger),
                         network->indexOfDevice(nullptr)}),
             (QList<int>{3, 5, -1, -1}));
    QCOMPARE(network->deviceIndex(c), 2);
    QCOMPARE(network->deviceIndex(stranger), -1);
    QCOMPARE(c->networkIndex(), 5);
    QCOMPARE(stranger->networkIndex(), 1); // after the other network's "Inputs/outputs"
}

void TestNetwork::removeDeviceRetiresTheDevice()
{
    auto network = startedNetwork();
    QVERIFY(network);
    Device* a = network->createDevice(1, QStringLiteral("A"));
    QPointer<Device> b(network->createDevice(2, QStringLiteral("B")));
    QPointer<Device> c(network->createDevice(3, QStringLiteral("C")));
    QList<Device*> removed; // collected in this thread through queued calls
    QObject context;
    connect(network.get(), &Network::deviceRemoved, &context, [&removed](Device* d) { removed << d; },
            Qt::QueuedConnection);
    Device* const removedB = b.data();

    network->removeDevice(b); // from a foreign thread: carried out in the network's
    QTRY_COMPARE_WITH_TIMEOUT(removed, QList<Device*>{removedB}, 5000);
    QCOMPARE(network->deviceAt(1), c.data());
    QTRY_VERIFY_WITH_TIMEOUT(b.isNull(), 5000);

    // "Remove device" from the device's menu does the same.
    RecordingMenuBuilder menu;
    c->populateMenu(menu);
    menu.action(QStringLiteral("Remove device"))->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(c.isNull(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(removed.size(), 2, 5000);
    QCOMPARE(network->deviceCount(), 1);
    QCOMPARE(network->deviceAt(0), a);

    // A device of another network is left alone.
    Network other;
    QPointer<Device> stranger(other.createDevice(1, QStringLiteral("Stranger")));
    network->removeDevice(stranger);
    syncWith(network.get());
    QCoreApplication::processEvents();
    QCOMPARE(removed.size(), 2);
    QVERIFY(!stranger.isNull());
    QCOMPARE(other.deviceCount(), 1);
}

void TestNetwork::addParameterKeepsTheFirstOfANumber()
{
    auto network = startedNetwork();
    QVERIFY(network);
    Device* device = network->createDevice(1, QStringLiteral("Device"));
    ParameterGroup* group = device->group(QStringLiteral("Group"));
    QSignalSpy added(device, &Device::parameterAdded);

    Parameter* first = plainParameter(device, 10);
    QCOMPARE(device->addParameter(group, first), first);
    QCOMPARE(first->parentNode(), group);
    QCOMPARE(first->thread(), network->networkThread());
    std::unique_ptr<Parameter> duplicate(plainParameter(device, 10)); // still the caller's
    QCOMPARE(device->addParameter(group, duplicate.get()), first);
    QCOMPARE(group->childCount(), 1);

    // The number is looked for in the group given, sub-groups included.
    Parameter* nested = plainParameter(device, 11);
    QCOMPARE(device->addParameter(group->group(QStringLiteral("Sub")), nested), nested);
    std::unique_ptr<Parameter> again(plainParameter(device, 11));
    QCOMPARE(device->addParameter(group, again.get()), nested);
    QCOMPARE(added.count(), 2);
}

void TestNetwork::addParameterRacingThreadsAddOnce()
{
    auto network = startedNetwork();
    QVERIFY(network);
    Device* device = network->createDevice(1, QStringLiteral("Device"));
    ParameterGroup* group = device->group(QStringLiteral("Group"));
    std::atomic<int> added{0};
    QObject::connect(device, &Device::parameterAdded, device, [&added] { ++added; }, Qt::DirectConnection);

    constexpr int ThreadCount = 8;
    std::vector<Parameter*> results(ThreadCount, nullptr);
    std::vector<Parameter*> made(ThreadCount, nullptr);
    std::atomic<bool> go{false};
    halvorn::test::ThreadGroup racers(ThreadCount, [&](int i) {
        made[i] = plainParameter(device, 42);
        while (!go.load())
            QThread::yieldCurrentThread();
        results[i] = device->addParameter(group, made[i]);
    });
    go = true;
    QVERIFY(racers.join(5000));

    QCOMPARE(group->childCount(), 1);
    auto* winner = qobject_cast<Parameter*>(group->child(0));
    QVERIFY(winner);
    for (int i = 0; i < ThreadCount; ++i) {
        QCOMPARE(results[i], winner);
        if (made[i] != winner)
            delete made[i];
    }
    QCOMPARE(std::count(made.begin(), made.end(), winner), 1);
    QCOMPARE(added.load(), 1);
}

void TestNetwork::tenthDeviceGetsTheFirstColour()
{
    auto network = startedNetwork();
    QVERIFY(network);
    QList<QColor> colours;
    for (uint i = 0; i < 10; ++i)
        colours << network->createDevice(i, QStringLiteral("D"))->colour();
    // Devices created by other threads take part in the same rotation of nine.
    QVERIFY(runInThread([&] { colours << network->createDevice(10, QStringLiteral("T"))->colour(); }));
    QSet<QRgb> distinct;
    for (const QColor& colour : std::as_const(colours))
        distinct << colour.rgb();
    QCOMPARE(distinct.size(), 9);
    QCOMPARE(colours.mid(9), colours.mid(0, 2));
}

void TestNetwork::deviceMenuEntries_data()
{
    QTest::addColumn<bool>("daisy");
    QTest::addColumn<QStringList>("entries");
    const QStringList plain{"Update \"Dev\"", "-", "Search parameters", "Add parameter(s)", "Remove device"};
    QTest::newRow("plain device") << false << plain;
    QTest::newRow("daisy-chained device") << true << plain + QStringList{"-", "Search daisy-chain children"};
}

void TestNetwork::deviceMenuEntries()
{
    QFETCH(bool, daisy);
    QFETCH(QStringList, entries);

    auto network = startedNetwork();
    QVERIFY(network);
    Device* device = daisy ? new DaisyDevice(network.get(), 1) : new Device(network.get(), 1, QStringLiteral("Plain"));
    device->setName(QStringLiteral("Dev"));
    network->addChild(device, true);
    RecordingMenuBuilder menu;
    device->populateMenu(menu);
    QCOMPARE(menu.texts(), entries);

    if (daisy) {
        int finished = 0;
        QObject context;
        QObject::connect(device, &Device::daisySearchFinished, &context, [&finished] { ++finished; },
                         Qt::QueuedConnection);
        menu.action(QStringLiteral("Search daisy-chain children"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(finished, 1, 5000);
    }
}

void TestNetwork::deviceNameAndAutoUpdateAreEditable_data()
{
    QTest::addColumn<int>("column");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("value");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("autoUpdate");
    const int edit = Qt::EditRole;
    const int check = Qt::CheckStateRole;
    //                                        column role     value                             accepted name      auto
    QTest::newRow("rename")             << 0 << edit  << QVariant("Lamp 1")                << true  << "Lamp 1" << true;
    QTest::newRow("same name")          << 0 << edit  << QVariant("Dev")                   << true  << "Dev"    << true;
    QTest::newRow("empty name refused") << 0 << edit  << QVariant("  ")                    << false << "Dev"    << true;
    QTest::newRow("uncheck")            << 0 << check << QVariant(int(Qt::Unchecked))      << true  << "Dev"    << false;
    QTest::newRow("check")              << 0 << check << QVariant::fromValue(Qt::Checked)  << true  << "Dev"    << true;
    QTest::newRow("other column")       << 2 << edit  << QVariant("X")                     << false << "Dev"    << true;
}

void TestNetwork::deviceNameAndAutoUpdateAreEditable()
{
    QFETCH(int, column);
    QFETCH(int, role);
    QFETCH(QVariant, value);
    QFETCH(bool, accepted);
    QFETCH(QString, name);
    QFETCH(bool, autoUpdate);

    Network network;
    Device* device = network.createDevice(1, QStringLiteral("Dev"));
    QSignalSpy renamed(device, &TreeNode::nameChanged);
    QCOMPARE(device->setData(column, value, role), accepted);
    QCOMPARE(device->data(0, Qt::DisplayRole).toString(), name);
    QCOMPARE(device->data(0, Qt::CheckStateRole).toInt(), int(autoUpdate ? Qt::Checked : Qt::Unchecked));
    QCOMPARE(device->autoUpdate(), autoUpdate);
    QCOMPARE(renamed.count(), name == QLatin1String("Dev") ? 0 : 1);
    QVERIFY(device->flags(0).testFlags(Qt::ItemIsEditable | Qt::ItemIsUserCheckable));
    QVERIFY(!device->flags(1).testFlag(Qt::ItemIsEditable));
}

void TestNetwork::destroyedWithRunningTimerAndLogThread_data()
{
    QTest::addColumn<bool>("deleteLater");
    QTest::newRow("deleted from the GUI thread") << false;
    QTest::newRow("retired: deleteLater() in its own thread") << true;
}

void TestNetwork::destroyedWithRunningTimerAndLogThread()
{
    QFETCH(bool, deleteLater);
    QPointer<NetworkLog> log(new NetworkLog(QStringLiteral("Busy log")));
    auto network = startedNetwork(log);
    QVERIFY(network);
    QPointer<QThread> networkThread(network->networkThread());
    QPointer<QThread> logThread(log->thread());
    QPointer<Device> device(network->createDevice(1, QStringLiteral("Dev")));
    network->setStatusTimerInterval(1);
    network->startStatusTimer();
    QTRY_VERIFY_WITH_TIMEOUT(network->statusUpdateCount() >= 5, 5000);
    // Messages still on their way to the log when the network goes.
    for (int i = 0; i < 200; ++i)
        network->log(GENERAL, QStringLiteral("message %1").arg(i), INFO);

    const auto allGone = [&] { return networkThread.isNull() && logThread.isNull() && log.isNull() && device.isNull(); };
    QElapsedTimer elapsed;
    elapsed.start();
    if (deleteLater) {
        network.release()->deleteLater();
        QTRY_VERIFY_WITH_TIMEOUT(allGone(), 5000);
    } else {
        network.reset();
        QVERIFY(allGone());
    }
    QVERIFY2(elapsed.elapsed() < 2000, qPrintable(QString::number(elapsed.elapsed())));
}

QTEST_MAIN(TestNetwork)
#include "tst_network.moc"
