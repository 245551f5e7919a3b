// Commissioning on the virtual Portline: the random-address search with a
// full bus, new gear beside addressed gear, misbehaving gear, aborts and a
// dongle that goes away; and the short-address scan.

#include "dali/dalibinsearch.h"
#include "dali/dalinetwork.h"
#include "dali/dalishortsearch.h"
#include "general/device.h"
#include "general/input.h"
#include "general/iomanager.h"
#include "general/log.h"
#include "general/networklog.h"
#include "general/taskscheduler.h"
#include "sim/simdongle.h"
#include "sim/simfault.h"
#include "sim/virtualportline.h"
#include "tests/dali/dalitestbus.h"

#include <QElapsedTimer>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <set>
#include <thread>

using namespace halvorn;
using namespace halvorn::dali;

namespace {

const QString Verified = QStringLiteral("Programmed short address verified");
const QString Unverified = QStringLiteral("Unable to verify programmed short address");
const QString TooManyErrors = QStringLiteral("Too many errors: Aborting search");

// Runs a task on the scheduler and waits (bounded) for it to end.
bool runTask(general::Task* task, int timeoutMs = 60000)
{
    if (auto* search = qobject_cast<general::BinSearch*>(task))
        search->setTraceEnabled(false);
    // taskDone() comes from the pool thread: recorded by a queued call here
    // (a QSignalSpy would append in the pool thread while wait() reads).
    bool done = false;
    QObject receiver;
    QObject::connect(task, &general::Task::taskDone, &receiver, [&done] { done = true; });
    general::TaskScheduler::instance()->addTask(task);
    return QTest::qWaitFor([&done] { return done; }, timeoutMs);
}

// The simple log once it has settled (its appends are queued).
QStringList simpleLines(DaliTestBus& bus)
{
    QTest::qWait(20);
    return DaliTestBus::texts(bus.network()->simpleLog());
}

QList<int> shortAddresses(DaliTestBus& bus)
{
    QList<int> addresses;
    bus.withBus([&](sim::SimDaliBus& dali) {
        for (int i = 0; i < dali.gearCount(); ++i)
            addresses << (dali.gear(i).hasShortAddress() ? dali.gear(i).shortAddress() : -1);
    });
    return addresses;
}

} // namespace

class TestDaliSearch : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void twoGearGetAddressesInOrder();
    void fullBusIsCommissioned_data();
    void fullBusIsCommissioned();
    void sixtyFourthGearIsLeftUnaddressed();
    void newDevicesGetTheNextFreeAddress();
    void equalRandomAddressesEndInBoundedTime();
    void wrongShortAddressAnswersAbortOnce();
    void silentGearIsNotCounted();
    void searchAddressBytesSentOnlyWhenChanged();
    void abortFromTheScheduler();
    void unpluggedDongleEndsTheSearch();
    void slidersDuringCommissioning();
    void shortScanFindsAndRecreatesDevices();
};

void TestDaliSearch::twoGearGetAddressesInOrder()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) {
        sim::SimDaliGearConfig high, low;
        high.fixedRandomAddress = 0x800000;
        low.fixedRandomAddress = 0x123456;
        dali.addGear(high);
        dali.addGear(low);
    });
    QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices)));
    QCOMPARE(shortAddresses(bus), QList<int>({1, 0})); // the lower random address first
    const QStringList lines = simpleLines(bus);
    QCOMPARE(lines.count(Verified), 2);
    QVERIFY(lines.contains("Search address [12 34 56] - Device found, programming short address: 0"));
    QVERIFY(lines.contains("Search address [80 0 0] - Device found, programming short address: 1"));
    QCOMPARE(lines.count(TooManyErrors), 0);
    QCOMPARE(bus.network()->findDevice(0)->name(), QStringLiteral("DALI Device 0"));
    QCOMPARE(bus.network()->findDevice(1)->name(), QStringLiteral("DALI Device 1"));
    // Every gear found lights up.
    bus.withBus([](sim::SimDaliBus& dali) {
        QCOMPARE(dali.gear(0).actualLevel(dali.nowUs()), 254);
    });
}

void TestDaliSearch::fullBusIsCommissioned_data()
{
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("seed");
    for (int count : {8, 20, 40, 63})
        for (int seed : {1, 2, 3})
            QTest::addRow("%d gear, seed %d", count, seed) << count << seed;
}

void TestDaliSearch::fullBusIsCommissioned()
{
    QFETCH(int, count);
    QFETCH(int, seed);
    DaliTestBus bus;
    bus.withBus([&](sim::SimDaliBus& dali) { dali.addRandomGear(count, quint32(seed)); });
    QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices)));

    QList<int> addresses = shortAddresses(bus);
    std::sort(addresses.begin(), addresses.end());
    QList<int> expected;
    for (int n = 0; n < count; ++n)
        expected << n;
    QCOMPARE(addresses, expected);
    QCOMPARE(simpleLines(bus).count(TooManyErrors), 0);
    for (int n = 0; n < count; ++n) {
        QVERIFY2(bus.network()->findDevice(uint(n)), qPrintable(QString::number(n)));
        bus.network()->sendShortCommand(n, DaliNetwork::QueryControlGear, 1);
        QVERIFY2(bus.network()->hasAnswer() && !bus.network()->answerFailed(), qPrintable(QString::number(n)));
    }
    QCOMPARE(bus.network()->deviceCount(), count + 1); // and the broadcast device
}

void TestDaliSearch::sixtyFourthGearIsLeftUnaddressed()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) { dali.addRandomGear(64, 5); });
    QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices)));
    const QList<int> addresses = shortAddresses(bus);
    QCOMPARE(addresses.count(-1), 1);
    QCOMPARE(std::set<int>(addresses.begin(), addresses.end()).size(), size_t(64));
    QVERIFY(!addresses.contains(63));
    const QStringList lines = simpleLines(bus);
    QCOMPARE(lines.filter("No free short address left").count(), 1);
    QCOMPARE(lines.count(Verified), 63);
}

void TestDaliSearch::newDevicesGetTheNextFreeAddress()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) {
        for (int n = 0; n < 3; ++n) {
            sim::SimDaliGearConfig config;
            config.shortAddress = uint8_t(n);
            config.seed = uint32_t(n + 10);
            dali.addGear(config);
        }
        dali.addRandomGear(2, 77);
    });
    QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchShortAddresses)));
    QCOMPARE(bus.network()->deviceCount(), 4);
    QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchNewDevices)));
    QList<int> addresses = shortAddresses(bus);
    QCOMPARE(addresses.mid(0, 3), QList<int>({0, 1, 2})); // addressed gear keep theirs
    std::sort(addresses.begin(), addresses.end());
    QCOMPARE(addresses, QList<int>({0, 1, 2, 3, 4}));
    QVERIFY(simpleLines(bus).filter("programming short address: 3").count() == 1);
    QCOMPARE(bus.network()->deviceCount(), 6);
}

void TestDaliSearch::equalRandomAddressesEndInBoundedTime()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) {
        sim::SimDaliGearConfig twin;
        twin.fixedRandomAddress = 0x400000;
        dali.addGear(twin);
        dali.addGear(twin);
        dali.addRandomGear(4, 3);
    });
    QElapsedTimer timer;
    timer.start();
    QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices), 30000));
    QVERIFY(timer.elapsed() < 30000);
    const QStringList lines = simpleLines(bus);
    const QList<int> addresses = shortAddresses(bus);
    // Two gear may share a short address only where the log says it failed.
    QCOMPARE(addresses.at(0), addresses.at(1));
    QVERIFY(lines.contains(Unverified));
    QCOMPARE(lines.count(TooManyErrors), 1);
    std::set<int> others;
    for (int i = 2; i < addresses.size(); ++i)
        if (addresses.at(i) >= 0)
            QVERIFY(others.insert(addresses.at(i)).second);
}

void TestDaliSearch::wrongShortAddressAnswersAbortOnce()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) {
        sim::SimDaliGearConfig liar;
        liar.fault = sim::SimGearFault::WrongShortAddress;
        dali.addGear(liar);
    });
    general::Task* task = bus.network()->searchTask(DaliNetwork::SearchAllDevices);
    QSignalSpy aborted(task, &general::Task::taskAborted);
    QVERIFY(runTask(task));
    const QStringList lines = simpleLines(bus);
    QCOMPARE(lines.count(TooManyErrors), 1);
    QVERIFY(lines.count(Unverified) >= 10);
    QCOMPARE(aborted.count(), 1);
    QCOMPARE(bus.network()->deviceCount(), 1);
}

void TestDaliSearch::silentGearIsNotCounted()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) {
        sim::SimDaliGearConfig silent;
        silent.fault = sim::SimGearFault::NeverAnswers;
        dali.addGear(silent);
    });
    QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices)));
    const QStringList lines = simpleLines(bus);
    QCOMPARE(lines.count(TooManyErrors), 0);
    QCOMPARE(lines.filter("NO REPLY").count(), 11); // eleven silent whole-range questions
    QCOMPARE(bus.network()->deviceCount(), 1);
}

void TestDaliSearch::searchAddressBytesSentOnlyWhenChanged()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) {
        sim::SimDaliGearConfig gear;
        gear.fixedRandomAddress = 0x12AB34;
        dali.addGear(gear);
    });
    QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices)));
    const QList<quint16> frames = bus.frames();
    const int program = int(frames.indexOf(frame(0xB7, 1)));
    QVERIFY(program >= 3);
    // The gear's address is set before programming; unchanged bytes are not repeated.
    QVERIFY(simpleLines(bus).contains("Search address [12 AB 34] - Device found, programming short address: 0"));
    for (int i = 1; i < frames.size(); ++i) {
        const bool searchByte = (frames[i] >> 8) == 0xB1 || (frames[i] >> 8) == 0xB3 || (frames[i] >> 8) == 0xB5;
        if (searchByte)
            QVERIFY2(frames[i] != frames[i - 1], "a search address byte sent twice in a row");
    }
    QCOMPARE(bus.network()->lastSearchAddress() >> 16, 0xFFu);
}

void TestDaliSearch::abortFromTheScheduler()
{
    DaliTestBus bus;
    // On bus time, so that the search is still running when it is aborted.
    bus.withBus([](sim::SimDaliBus& dali) {
        dali.addRandomGear(40, 9);
        dali.setRealisticTiming(true);
    });
    bus.portline().setLatencyUs(1000);
    general::Task* task = bus.network()->searchTask(DaliNetwork::SearchAllDevices);
    qobject_cast<general::BinSearch*>(task)->setTraceEnabled(false);
    // The task's signals come from the pool thread: counted by queued calls.
    int started = 0;
    int aborted = 0;
    int done = 0;
    QObject receiver;
    QObject::connect(task, &general::Task::taskStarted, &receiver, [&started] { ++started; });
    QObject::connect(task, &general::Task::taskAborted, &receiver, [&aborted] { ++aborted; });
    QObject::connect(task, &general::Task::taskDone, &receiver, [&done] { ++done; });
    general::TaskScheduler::instance()->addTask(task);
    QVERIFY(QTest::qWaitFor([&started] { return started > 0; }, 5000));
    QTRY_VERIFY_WITH_TIMEOUT(bus.frames().size() > 20, 5000);
    general::TaskScheduler::instance()->abortTask();
    QVERIFY(QTest::qWaitFor([&done] { return done > 0; }, 5000));
    QCOMPARE(aborted, 1);
    QVERIFY(shortAddresses(bus).count(-1) > 0);
}

void TestDaliSearch::unpluggedDongleEndsTheSearch()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) { dali.addRandomGear(20, 4); });
    bus.dongle().injectFault(sim::SimFault::unplug().forCode(0x0A).everyNth(150));
    QElapsedTimer timer;
    timer.start();
    QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices), 30000));
    QVERIFY(timer.elapsed() < 30000);
    QVERIFY(!bus.portline().isPlugged(bus.donglePointer()));
    // The network still answers at once.
    timer.restart();
    bus.network()->sendShortCommand(0, DaliNetwork::QueryControlGear, 1);
    QVERIFY(!bus.network()->hasAnswer());
    QVERIFY(timer.elapsed() < 1000);
}

void TestDaliSearch::slidersDuringCommissioning()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) { dali.addRandomGear(20, 6); });
    auto* setpoint = qobject_cast<general::Input*>(bus.network()->ioManager()->findIO("Broadcast Setpoint"));
    QVERIFY(setpoint);
    std::atomic<bool> running{true};
    std::thread slider([&] {
        for (int i = 0; running; ++i) {
            setpoint->setValue((i % 200) / 200.0);
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
    });
    const bool finished = runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices));
    running = false;
    slider.join();
    QVERIFY(finished);
    QList<int> addresses = shortAddresses(bus);
    std::sort(addresses.begin(), addresses.end());
    QCOMPARE(addresses.first(), 0);
    QCOMPARE(addresses.last(), 19);
    QCOMPARE(std::set<int>(addresses.begin(), addresses.end()).size(), size_t(20));
}

void TestDaliSearch::shortScanFindsAndRecreatesDevices()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) {
        for (int n : {3, 17}) {
            sim::SimDaliGearConfig config;
            config.shortAddress = uint8_t(n);
            dali.addGear(config);
        }
    });
    general::Log* main = general::mainLog();
    const int before = main->count();
    QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchShortAddresses)));
    QTRY_VERIFY(main->count() >= before + 3);
    QStringList lines;
    for (int i = before; i < main->count(); ++i)
        lines << main->message(i)->text();
    QCOMPARE(lines.filter("Found short address: ").count(), 2);
    QVERIFY(lines.contains("Searching short addresses"));
    QVERIFY(lines.contains("Found short address: 17"));
    QCOMPARE(bus.network()->findDevice(3)->name(), QStringLiteral("DALI Device 3"));
    QCOMPARE(bus.network()->findDevice(17)->name(), QStringLiteral("DALI Device 17"));
    general::Device* first = bus.network()->findDevice(3);
    QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchShortAddresses)));
    QCOMPARE(bus.network()->deviceCount(), 3);
    QVERIFY(bus.network()->findDevice(3) != first); // removed and created again
    QVERIFY(bus.frames().count(frame(0x7F, 0x91)) == 2); // short address 63 is asked too
}

QTEST_GUILESS_MAIN(TestDaliSearch)
#include "tst_dalisearch.moc"
