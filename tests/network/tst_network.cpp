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

#include <QElapsedTimer>
#include <QMutex>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <functional>
#include <memory>
#include <vector>

using namespace halvorn::general;
using halvorn::test::RecordingMenuBuilder;

namespace {

// --- Qt warnings from any thread -------------------------------------------

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

QStringList takeWarnings()
{
    QMutexLocker locker(&s_warningsMutex);
    return std::exchange(s_warnings, {});
}

// --- helpers ----------------------------------------------------------------

// Runs `work` in a thread of its own, as a task would; false when it did not
// finish within five seconds.
bool runInForeignThread(std::function<void()> work)
{
    std::unique_ptr<QThread> thread(QThread::create(std::move(work)));
    thread->start();
    return thread->wait(5000);
}

// Returns once every call queued into `object`'s thread before it has run.
void syncWith(QObject* object)
{
    QMetaObject::invokeMethod(object, [] {}, Qt::BlockingQueuedConnection);
}

std::unique_ptr<Network> initialisedNetwork()
{
    auto network = std::make_unique<Network>();
    network->emitNetworkCreated();
    return network;
}

bool waitForInit(Network* network)
{
    return QTest::qWaitFor([network] {
        return network->findParameter(Network::InterferenceRobustnessParameter) != nullptr;
    }, 5000);
}

// Writes a network parameter and reads it back from a foreign thread, the
// way an update task and a parameter view do. -2 when the thread hung.
int writeAndReadBack(Parameter* param, int value)
{
    int readBack = -2;
    const bool finished = runInForeignThread([param, value, &readBack] {
        param->setValue(value, true);
        readBack = param->update(true) ? param->value() : -3;
    });
    return finished ? readBack : -2;
}

int readInForeignThread(Parameter* param)
{
    int value = -2;
    runInForeignThread([param, &value] { value = param->update(true) ? param->value() : -3; });
    return value;
}

// Collects a signal's argument in the test's thread (queued), so that
// signals emitted by network threads are recorded without a data race.
template<typename T>
class QueuedCollector
{
public:
    template<typename Sender, typename Signal>
    QueuedCollector(Sender* sender, Signal signal)
    {
        QObject::connect(sender, signal, &m_context, [this](T value) { values << value; },
                         Qt::QueuedConnection);
    }
    QList<T> values;

private:
    QObject m_context;
};

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

const QList<QColor> Palette = {
    QColor(255, 50, 100), QColor(100, 255, 50), QColor(50, 100, 255),
    QColor(255, 100, 50), QColor(50, 255, 100), QColor(100, 50, 255),
    QColor(255, 50, 255), QColor(255, 255, 50), QColor(50, 255, 255),
};

} // namespace

class TestNetwork : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();

    void initRunsInTheNetworkThreadAfterCreation();
    void networkParametersShowTheCurrentSettings_data();
    void networkParametersShowTheCurrentSettings();
    void networkParametersWrittenFromAForeignThread_data();
    void networkParametersWrittenFromAForeignThread();
    void statusTicksStartAndStopThroughAutoUpdateEnabled();
    void intervalWrittenFromAForeignThreadChangesTheTickRate();
    void statusTickRefreshesAutoUpdatedDevicesOnly();
    void loggingIsToggledThroughLoggingEnabled();
    void logRunsInAThreadOfItsOwn();
    void readAttemptsFollowTheNetworkRetryCount_data();
    void readAttemptsFollowTheNetworkRetryCount();

    void createDeviceTwiceFindDeviceReturnsTheFirst();
    void deviceListCountsDevicesOnly();
    void removeDeviceRetiresTheDevice();
    void addParameterKeepsTheFirstOfANumber();
    void addParameterRacingThreadsAddOnce();
    void tenthDeviceGetsTheFirstColour();
    void deviceLivesInTheNetworkThreadAndMarksItForUpdates();
    void deviceMenuEntries_data();
    void deviceMenuEntries();
    void deviceNameAndAutoUpdateAreEditable_data();
    void deviceNameAndAutoUpdateAreEditable();
    void connectionStateIsAnnounced();

    void destroyedWithRunningTimerAndLogThread();
    void destroyedInItsOwnThread();
};

void TestNetwork::initTestCase()
{
    s_previousHandler = qInstallMessageHandler(recordWarnings);
}

void TestNetwork::cleanup()
{
    const QStringList warnings = takeWarnings();
    QVERIFY2(warnings.isEmpty(), qPrintable(warnings.join(QLatin1Char('\n'))));
}

void TestNetwork::initRunsInTheNetworkThreadAfterCreation()
{
    RecordingNetwork network;
    QVERIFY(network.networkThread());
    QVERIFY(network.networkThread()->isRunning());
    QCOMPARE(network.thread(), network.networkThread());
    QCOMPARE(network.name(), QStringLiteral("Network"));
    QVERIFY(!network.findParameter(Network::AutoUpdateRateParameter));

    network.emitNetworkCreated();

    QVERIFY(waitForInit(&network));
    QMutexLocker locker(&network.mutex);
    QCOMPARE(network.calls, QStringList({"OnNetworkCreation", "init"}));
    QCOMPARE(network.threads, QList<QThread*>({network.networkThread(), network.networkThread()}));
    auto* group = qobject_cast<ParameterGroup*>(network.findChild(QStringLiteral("Parameters")));
    QVERIFY(group);
    QVERIFY(!group->autoUpdateCheckable());
    QCOMPARE(group->childCount(), 5);
    QVERIFY(network.findChild(QStringLiteral("Inputs/outputs")));
}

void TestNetwork::networkParametersShowTheCurrentSettings_data()
{
    QTest::addColumn<uint>("number");
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("value");
    QTest::newRow("rate") << uint(Network::AutoUpdateRateParameter) << "Auto update rate (ms)" << 50;
    QTest::newRow("enabled") << uint(Network::AutoUpdateEnabledParameter) << "Auto update enabled" << 0;
    QTest::newRow("logging without a log") << uint(Network::LoggingEnabledParameter) << "Logging enabled" << 1;
    QTest::newRow("retries") << uint(Network::RetryCountParameter) << "Retry count" << 1;
    QTest::newRow("robustness") << uint(Network::InterferenceRobustnessParameter)
                                << "Interference robustness" << 0;
}

void TestNetwork::networkParametersShowTheCurrentSettings()
{
    QFETCH(uint, number);
    QFETCH(QString, name);
    QFETCH(int, value);

    auto network = initialisedNetwork();
    QVERIFY(waitForInit(network.get()));
    Parameter* param = network->findParameter(number);
    QVERIFY(param);
    QCOMPARE(param->name(), name);
    QCOMPARE(param->value(), value);
    QCOMPARE(param->readState(), int(Parameter::ReadOk));
    QVERIFY(!param->autoUpdateCheckable());
    QVERIFY(!param->isReadOnly());
    QCOMPARE(param->displayMode(), int(Parameter::Decimal));
    QCOMPARE(param->thread(), network->networkThread());
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

    auto network = initialisedNetwork();
    network->setLog(new NetworkLog(QStringLiteral("Test log")));
    QVERIFY(waitForInit(network.get()));
    Parameter* param = network->findParameter(number);
    QVERIFY(param);

    QCOMPARE(writeAndReadBack(param, before), before);
    QCOMPARE(writeAndReadBack(param, written), readBack);

    int actual = -1;
    if (setting == QLatin1String("interval"))
        actual = network->statusTimerInterval();
    else if (setting == QLatin1String("timer"))
        actual = network->isStatusTimerEnabled() ? 1 : 0;
    else if (setting == QLatin1String("retries"))
        actual = network->retryCount();
    else if (setting == QLatin1String("robust"))
        actual = network->interferenceRobustness() ? 1 : 0;
    else if (setting == QLatin1String("log"))
        actual = network->log()->isDisabled() ? 0 : 1;
    QCOMPARE(actual, settingValue);
    QCOMPARE(param->readState(), int(Parameter::ReadOk));
}

void TestNetwork::statusTicksStartAndStopThroughAutoUpdateEnabled()
{
    auto network = initialisedNetwork();
    QVERIFY(waitForInit(network.get()));
    Parameter* rate = network->findParameter(Network::AutoUpdateRateParameter);
    Parameter* enabled = network->findParameter(Network::AutoUpdateEnabledParameter);
    QCOMPARE(network->statusUpdateCount(), 0);

    QCOMPARE(writeAndReadBack(rate, 10), 10);
    QCOMPARE(writeAndReadBack(enabled, 1), 1);
    QTRY_VERIFY_WITH_TIMEOUT(network->statusUpdateCount() >= 5, 5000);

    QCOMPARE(writeAndReadBack(enabled, 0), 0);
    syncWith(network.get());
    const int stoppedAt = network->statusUpdateCount();
    QTest::qWait(150); // fifteen periods: long enough for ticks to show
    QCOMPARE(network->statusUpdateCount(), stoppedAt);

    QCOMPARE(writeAndReadBack(enabled, 1), 1);
    QTRY_VERIFY_WITH_TIMEOUT(network->statusUpdateCount() >= stoppedAt + 5, 5000);
    QCOMPARE(network->statusTimerInterval(), 10);
}

void TestNetwork::intervalWrittenFromAForeignThreadChangesTheTickRate()
{
    auto network = initialisedNetwork();
    QVERIFY(waitForInit(network.get()));
    Parameter* rate = network->findParameter(Network::AutoUpdateRateParameter);

    network->setStatusTimerInterval(5);
    QVERIFY(runInForeignThread([&network] { network->startStatusTimer(); }));
    QTRY_VERIFY_WITH_TIMEOUT(network->statusUpdateCount() >= 10, 5000);

    QCOMPARE(writeAndReadBack(rate, 300), 300);
    syncWith(network.get());
    const int before = network->statusUpdateCount();
    QElapsedTimer elapsed;
    elapsed.start();
    // Three more ticks take at least two full periods of the new interval;
    // at the old rate they would come within a few milliseconds, and a timer
    // that stopped would never bring them.
    QTRY_VERIFY_WITH_TIMEOUT(network->statusUpdateCount() >= before + 3, 5000);
    QVERIFY2(elapsed.elapsed() >= 550, qPrintable(QString::number(elapsed.elapsed())));
    QCOMPARE(readInForeignThread(rate), 300);
}

void TestNetwork::statusTickRefreshesAutoUpdatedDevicesOnly()
{
    auto network = initialisedNetwork();
    QVERIFY(waitForInit(network.get()));
    auto* watched = new CountingDevice(network.get(), 1, QStringLiteral("Watched"));
    network->addChild(watched, true);
    auto* ignored = new CountingDevice(network.get(), 2, QStringLiteral("Ignored"));
    network->addChild(ignored, true);
    ignored->setAutoUpdate(false);

    network->setStatusTimerInterval(5);
    network->startStatusTimer();
    QTRY_VERIFY_WITH_TIMEOUT(watched->automaticUpdates >= 3, 5000);
    network->stopStatusTimer();
    syncWith(network.get());

    QCOMPARE(ignored->automaticUpdates.load(), 0);
    QVERIFY(network->statusUpdateCount() >= watched->automaticUpdates.load());
}

void TestNetwork::loggingIsToggledThroughLoggingEnabled()
{
    auto network = initialisedNetwork();
    QPointer<NetworkLog> log(new NetworkLog(QStringLiteral("Test log")));
    network->setLog(log);
    QVERIFY(waitForInit(network.get()));
    Parameter* logging = network->findParameter(Network::LoggingEnabledParameter);

    network->log(GENERAL, QStringLiteral("kept 1"), INFO);
    QTRY_COMPARE_WITH_TIMEOUT(log->count(), 1, 5000);

    QCOMPARE(writeAndReadBack(logging, 0), 0);
    QVERIFY(runInForeignThread([&network] {
        network->log(GENERAL, QStringLiteral("dropped"), INFO);
        network->log(new LogMessage(QStringLiteral("dropped too"), GENERAL, INFO, QThread::currentThread()));
    }));
    syncWith(log);
    QCOMPARE(log->count(), 1);

    QCOMPARE(writeAndReadBack(logging, 1), 1);
    network->log(GENERAL, QStringLiteral("kept 2"), WARN);
    QTRY_COMPARE_WITH_TIMEOUT(log->count(), 2, 5000);
    QCOMPARE(log->message(1)->text(), QStringLiteral("kept 2"));
    QCOMPARE(log->message(1)->type(), WARN);
    QCOMPARE(log->message(1)->thread(), QThread::currentThread());
}

void TestNetwork::logRunsInAThreadOfItsOwn()
{
    auto network = initialisedNetwork();
    auto* log = new NetworkLog(QStringLiteral("Test log"));
    network->setLog(log);

    QCOMPARE(network->log(), log);
    QVERIFY(log->thread() != network->networkThread());
    QVERIFY(log->thread() != QThread::currentThread());
    QVERIFY(log->thread()->isRunning());

    // A second log replaces the first, which is stopped and deleted.
    QPointer<NetworkLog> first(log);
    auto* second = new NetworkLog(QStringLiteral("Second log"));
    network->setLog(second);
    QVERIFY(first.isNull());
    network->log(GENERAL, QStringLiteral("to the second"), INFO);
    QTRY_COMPARE_WITH_TIMEOUT(second->count(), 1, 5000);
}

void TestNetwork::readAttemptsFollowTheNetworkRetryCount_data()
{
    QTest::addColumn<int>("retries");
    QTest::addColumn<int>("attempts");
    QTest::newRow("one") << 1 << 1;
    QTest::newRow("three") << 3 << 3;
    QTest::newRow("zero fails at once") << 0 << 0;
}

void TestNetwork::readAttemptsFollowTheNetworkRetryCount()
{
    QFETCH(int, retries);
    QFETCH(int, attempts);

    auto network = initialisedNetwork();
    QVERIFY(waitForInit(network.get()));
    QCOMPARE(writeAndReadBack(network->findParameter(Network::RetryCountParameter), retries), retries);
    auto* device = new SilentDevice(network.get(), 1, QStringLiteral("Silent"));
    network->addChild(device, true);
    auto* param = new Parameter(device, 7, QStringLiteral("p"), QString(), -1, -1, -1, false,
                                false, Parameter::Decimal);
    QCOMPARE(device->addParameter(device, param), param);

    bool result = true;
    QVERIFY(runInForeignThread([param, &result] { result = param->update(true); }));

    QVERIFY(!result);
    QCOMPARE(device->attempts.load(), attempts);
    QCOMPARE(param->readState(), int(Parameter::ReadFailed));
}

void TestNetwork::createDeviceTwiceFindDeviceReturnsTheFirst()
{
    auto network = initialisedNetwork();
    QSignalSpy found(network.get(), &Network::deviceFound);

    Device* first = network->createDevice(7, QStringLiteral("First"));
    Device* second = network->createDevice(7, QStringLiteral("Second"));

    QVERIFY(first && second && first != second);
    QCOMPARE(network->deviceCount(), 2);
    QCOMPARE(network->findDevice(7), first);
    QCOMPARE(network->findDevice(8), nullptr);
    QCOMPARE(first->name(), QStringLiteral("First"));
    QCOMPARE(second->name(), QStringLiteral("Second"));
    QCOMPARE(first->network(), network.get());
    QCOMPARE(first->parentNode(), network.get());
    QCOMPARE(found.count(), 2);
    QCOMPARE(found.at(0).at(0).value<Device*>(), first);
    QCOMPARE(found.at(1).at(0).value<Device*>(), second);
}

void TestNetwork::deviceListCountsDevicesOnly()
{
    auto network = initialisedNetwork();
    QVERIFY(waitForInit(network.get()));
    // Children: 0 "Inputs/outputs", 1 "Parameters", then the devices with a
    // group in between.
    Device* a = network->createDevice(1, QStringLiteral("A"));
    Device* b = network->createDevice(2, QStringLiteral("B"));
    network->group(QStringLiteral("Extra"));
    Device* c = network->createDevice(3, QStringLiteral("C"));
    Network other;
    Device* stranger = other.createDevice(1, QStringLiteral("Stranger"));

    QCOMPARE(network->deviceCount(), 3);
    QCOMPARE(network->deviceAt(0), a);
    QCOMPARE(network->deviceAt(1), b);
    QCOMPARE(network->deviceAt(2), c);
    QCOMPARE(network->deviceAt(3), nullptr);
    QCOMPARE(network->deviceAt(-1), nullptr);
    QCOMPARE(network->indexOfDevice(a), 2);
    QCOMPARE(network->indexOfDevice(b), 3);
    QCOMPARE(network->indexOfDevice(c), 5);
    QCOMPARE(network->indexOfDevice(stranger), -1);
    QCOMPARE(network->indexOfDevice(nullptr), -1);
    QCOMPARE(network->deviceIndex(c), 2);
    QCOMPARE(network->deviceIndex(stranger), -1);
    QCOMPARE(c->networkIndex(), 5);
    QCOMPARE(stranger->networkIndex(), 1); // after the other network's "Inputs/outputs"
}

void TestNetwork::removeDeviceRetiresTheDevice()
{
    auto network = initialisedNetwork();
    Device* a = network->createDevice(1, QStringLiteral("A"));
    QPointer<Device> b(network->createDevice(2, QStringLiteral("B")));
    QPointer<Device> c(network->createDevice(3, QStringLiteral("C")));
    QueuedCollector<Device*> removed(network.get(), &Network::deviceRemoved);
    Device* const removedB = b.data();

    network->removeDevice(b); // from a foreign thread: carried out in the network's
    QTRY_COMPARE_WITH_TIMEOUT(removed.values.size(), 1, 5000);
    QCOMPARE(removed.values.at(0), removedB);
    QCOMPARE(network->deviceCount(), 2);
    QCOMPARE(network->deviceAt(1), c.data());
    QTRY_VERIFY_WITH_TIMEOUT(b.isNull(), 5000);

    // "Remove device" from the device's menu does the same.
    RecordingMenuBuilder menu;
    c->populateMenu(menu);
    QAction* remove = menu.action(QStringLiteral("Remove device"));
    QVERIFY(remove);
    remove->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(c.isNull(), 5000);
    QTRY_COMPARE_WITH_TIMEOUT(removed.values.size(), 2, 5000);
    QCOMPARE(network->deviceCount(), 1);
    QCOMPARE(network->deviceAt(0), a);

    // A device of another network is left alone.
    Network other;
    QPointer<Device> stranger(other.createDevice(1, QStringLiteral("Stranger")));
    network->removeDevice(stranger);
    syncWith(network.get());
    QCoreApplication::processEvents();
    QCOMPARE(removed.values.size(), 2);
    QVERIFY(!stranger.isNull());
    QCOMPARE(other.deviceCount(), 1);
}

void TestNetwork::addParameterKeepsTheFirstOfANumber()
{
    auto network = initialisedNetwork();
    Device* device = network->createDevice(1, QStringLiteral("Device"));
    ParameterGroup* group = device->group(QStringLiteral("Group"));
    QSignalSpy added(device, &Device::parameterAdded);

    auto* first = new Parameter(device, 10, QStringLiteral("first"), QString(), -1, -1, -1, false,
                                false, Parameter::Decimal);
    QCOMPARE(device->addParameter(group, first), first);
    QCOMPARE(added.count(), 1);
    QCOMPARE(first->parentNode(), group);
    QCOMPARE(first->thread(), network->networkThread());

    auto* duplicate = new Parameter(device, 10, QStringLiteral("duplicate"), QString(), -1, -1,
                                    -1, false, false, Parameter::Decimal);
    QCOMPARE(device->addParameter(group, duplicate), first);
    QCOMPARE(added.count(), 1);
    QCOMPARE(group->childCount(), 1);
    QCOMPARE(group->indexOfChild(duplicate), -1);
    delete duplicate; // still the caller's

    // The number is looked for in the group given, sub-groups included.
    ParameterGroup* sub = group->group(QStringLiteral("Sub"));
    auto* nested = new Parameter(device, 11, QStringLiteral("nested"), QString(), -1, -1, -1,
                                 false, false, Parameter::Decimal);
    QCOMPARE(device->addParameter(sub, nested), nested);
    auto* again = new Parameter(device, 11, QStringLiteral("again"), QString(), -1, -1, -1, false,
                                false, Parameter::Decimal);
    QCOMPARE(device->addParameter(group, again), nested);
    delete again;
    QCOMPARE(added.count(), 2);
}

void TestNetwork::addParameterRacingThreadsAddOnce()
{
    auto network = initialisedNetwork();
    Device* device = network->createDevice(1, QStringLiteral("Device"));
    ParameterGroup* group = device->group(QStringLiteral("Group"));
    std::atomic<int> added{0};
    QObject::connect(device, &Device::parameterAdded, device, [&added] { ++added; },
                     Qt::DirectConnection);

    constexpr int ThreadCount = 8;
    std::vector<std::unique_ptr<QThread>> threads;
    std::vector<Parameter*> results(ThreadCount, nullptr);
    std::vector<Parameter*> made(ThreadCount, nullptr);
    std::atomic<bool> go{false};
    for (int i = 0; i < ThreadCount; ++i) {
        threads.emplace_back(QThread::create([&, i] {
            made[i] = new Parameter(device, 42, QStringLiteral("racer"), QString(), -1, -1, -1,
                                    false, false, Parameter::Decimal);
            while (!go.load())
                QThread::yieldCurrentThread();
            results[i] = device->addParameter(group, made[i]);
        }));
        threads.back()->start();
    }
    go = true;
    for (auto& thread : threads)
        QVERIFY(thread->wait(5000));

    QCOMPARE(group->childCount(), 1);
    auto* winner = qobject_cast<Parameter*>(group->child(0));
    QVERIFY(winner);
    int winners = 0;
    for (int i = 0; i < ThreadCount; ++i) {
        QCOMPARE(results[i], winner);
        if (made[i] == winner)
            ++winners;
        else
            delete made[i];
    }
    QCOMPARE(winners, 1);
    QCOMPARE(added.load(), 1);
}

void TestNetwork::tenthDeviceGetsTheFirstColour()
{
    auto network = initialisedNetwork();
    QList<QColor> colours;
    for (uint i = 0; i < 10; ++i)
        colours << network->createDevice(i, QStringLiteral("D"))->colour();

    // The rotation is shared by the whole process: find where it stands.
    const qsizetype start = Palette.indexOf(colours.first());
    QVERIFY(start >= 0);
    for (int i = 0; i < 10; ++i)
        QCOMPARE(colours.at(i), Palette.at((start + i) % Palette.size()));
    QCOMPARE(colours.at(9), colours.at(0));

    // Devices created by other threads take part in the same rotation.
    QColor fromThread;
    QVERIFY(runInForeignThread([&] { fromThread = network->createDevice(10, QStringLiteral("T"))->colour(); }));
    QCOMPARE(fromThread, Palette.at((start + 10) % Palette.size()));
}

void TestNetwork::deviceLivesInTheNetworkThreadAndMarksItForUpdates()
{
    auto network = initialisedNetwork();
    QVERIFY(!network->autoUpdate());
    Device* device = nullptr;
    QVERIFY(runInForeignThread([&] { device = network->createDevice(5, QStringLiteral("D")); }));

    QCOMPARE(device->thread(), network->networkThread());
    QVERIFY(device->autoUpdate());
    QVERIFY(device->autoUpdateCheckable());
    QVERIFY(network->autoUpdate());
    QVERIFY(!device->isConnected());
    QVERIFY(!device->isDaisyChained());
    QCOMPARE(device->address(), 5u);
    QCOMPARE(device->logPrefix(), QStringLiteral("[Dev:D]"));
}

void TestNetwork::deviceMenuEntries_data()
{
    QTest::addColumn<bool>("daisy");
    QTest::addColumn<QStringList>("entries");
    QTest::newRow("plain device")
        << false
        << QStringList{"Update \"Dev\"", "-", "Search parameters", "Add parameter(s)", "Remove device"};
    QTest::newRow("daisy-chained device")
        << true
        << QStringList{"Update \"Dev\"", "-", "Search parameters", "Add parameter(s)",
                       "Remove device", "-", "Search daisy-chain children"};
}

void TestNetwork::deviceMenuEntries()
{
    QFETCH(bool, daisy);
    QFETCH(QStringList, entries);

    auto network = initialisedNetwork();
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
    QTest::addColumn<int>("nameSignals");

    QTest::newRow("rename") << 0 << int(Qt::EditRole) << QVariant("Lamp 1") << true << "Lamp 1" << true << 1;
    QTest::newRow("same name") << 0 << int(Qt::EditRole) << QVariant("Dev") << true << "Dev" << true << 0;
    QTest::newRow("empty name refused") << 0 << int(Qt::EditRole) << QVariant("  ") << false << "Dev" << true << 0;
    QTest::newRow("uncheck") << 0 << int(Qt::CheckStateRole) << QVariant(int(Qt::Unchecked)) << true << "Dev" << false << 0;
    QTest::newRow("check") << 0 << int(Qt::CheckStateRole) << QVariant::fromValue(Qt::Checked) << true << "Dev" << true << 0;
    QTest::newRow("other column") << 2 << int(Qt::EditRole) << QVariant("X") << false << "Dev" << true << 0;
}

void TestNetwork::deviceNameAndAutoUpdateAreEditable()
{
    QFETCH(int, column);
    QFETCH(int, role);
    QFETCH(QVariant, value);
    QFETCH(bool, accepted);
    QFETCH(QString, name);
    QFETCH(bool, autoUpdate);
    QFETCH(int, nameSignals);

    auto network = initialisedNetwork();
    Device* device = network->createDevice(1, QStringLiteral("Dev"));
    QSignalSpy renamed(device, &TreeNode::nameChanged);

    QCOMPARE(device->setData(column, value, role), accepted);
    QCOMPARE(device->name(), name);
    QCOMPARE(device->autoUpdate(), autoUpdate);
    QCOMPARE(renamed.count(), nameSignals);
    QCOMPARE(device->data(0, Qt::CheckStateRole).toInt(), int(autoUpdate ? Qt::Checked : Qt::Unchecked));
    QCOMPARE(device->data(0, Qt::DisplayRole).toString(), name);

    const Qt::ItemFlags nameFlags = device->flags(0);
    QVERIFY(nameFlags.testFlag(Qt::ItemIsEditable));
    QVERIFY(nameFlags.testFlag(Qt::ItemIsSelectable));
    QVERIFY(nameFlags.testFlag(Qt::ItemIsUserCheckable));
    QVERIFY(!device->flags(1).testFlag(Qt::ItemIsEditable));
}

void TestNetwork::connectionStateIsAnnounced()
{
    auto network = initialisedNetwork();
    Device* device = network->createDevice(1, QStringLiteral("Dev"));
    QSignalSpy connected(device, &Device::connected);
    QSignalSpy disconnected(device, &Device::disconnected);

    device->setConnected();
    QVERIFY(device->isConnected());
    QCOMPARE(connected.count(), 1);
    device->setDisconnected();
    QVERIFY(!device->isConnected());
    QCOMPARE(disconnected.count(), 1);
}

void TestNetwork::destroyedWithRunningTimerAndLogThread()
{
    auto network = initialisedNetwork();
    QPointer<NetworkLog> log(new NetworkLog(QStringLiteral("Busy log")));
    network->setLog(log);
    QVERIFY(waitForInit(network.get()));
    QPointer<QThread> networkThread(network->networkThread());
    QPointer<QThread> logThread(log->thread());
    QPointer<Device> device(network->createDevice(1, QStringLiteral("Dev")));
    network->setStatusTimerInterval(1);
    network->startStatusTimer();
    QTRY_VERIFY_WITH_TIMEOUT(network->statusUpdateCount() >= 5, 5000);
    // Messages still on their way to the log when the network goes.
    for (int i = 0; i < 200; ++i)
        network->log(GENERAL, QStringLiteral("message %1").arg(i), INFO);

    QElapsedTimer elapsed;
    elapsed.start();
    network.reset();

    QVERIFY2(elapsed.elapsed() < 2000, qPrintable(QString::number(elapsed.elapsed())));
    QVERIFY(networkThread.isNull());
    QVERIFY(logThread.isNull());
    QVERIFY(log.isNull());
    QVERIFY(device.isNull());
}

void TestNetwork::destroyedInItsOwnThread()
{
    auto* network = new Network;
    network->emitNetworkCreated();
    QVERIFY(waitForInit(network));
    QPointer<Network> guard(network);
    QPointer<NetworkLog> log(new NetworkLog(QStringLiteral("Log")));
    network->setLog(log);
    QPointer<QThread> networkThread(network->networkThread());
    network->setStatusTimerInterval(1);
    network->startStatusTimer();
    QTRY_VERIFY_WITH_TIMEOUT(network->statusUpdateCount() >= 5, 5000);

    // A retired network is deleted through deleteLater() in its own thread.
    network->deleteLater();

    QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), 5000);
    QVERIFY(log.isNull());
    QTRY_VERIFY_WITH_TIMEOUT(networkThread.isNull(), 5000);
}

QTEST_MAIN(TestNetwork)
#include "tst_network.moc"
