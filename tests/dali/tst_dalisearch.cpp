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
#include <QTest>

#include <atomic>
#include <optional>
#include <set>
#include <thread>

using namespace halvorn;
using namespace halvorn::dali;

namespace {

const QString Verified = QStringLiteral("Programmed short address verified");
const QString Unverified = QStringLiteral("Unable to verify programmed short address");
const QString TooManyErrors = QStringLiteral("Too many errors: Aborting search");

// Counts a task's signals, which come from the pool thread, through queued
// calls into this thread (a QSignalSpy would append in the pool thread
// while wait() reads its list here).
struct TaskWatch
{
    explicit TaskWatch(general::Task* task)
    {
        if (auto* search = qobject_cast<general::BinSearch*>(task))
            search->setTraceEnabled(false);
        QObject::connect(task, &general::Task::taskStarted, &context, [this] { ++started; });
        QObject::connect(task, &general::Task::taskAborted, &context, [this] { ++aborted; });
        QObject::connect(task, &general::Task::taskDone, &context, [this] { ++done; });
        general::TaskScheduler::instance()->addTask(task);
    }
    bool finished(int timeoutMs = 60000) { return QTest::qWaitFor([this] { return done > 0; }, timeoutMs); }

    QObject context;
    int started = 0;
    int aborted = 0;
    int done = 0;
};

// Runs a task on the scheduler and waits (bounded) for it to end.
bool runTask(general::Task* task, int timeoutMs = 60000)
{
    return TaskWatch(task).finished(timeoutMs);
}

sim::SimDaliGearConfig gear(std::optional<uint32_t> randomAddress, int shortAddress = 0xFF)
{
    sim::SimDaliGearConfig config;
    config.fixedRandomAddress = randomAddress;
    config.shortAddress = uint8_t(shortAddress);
    return config;
}

// The simple log once it has settled (its appends are queued).
QStringList simpleLines(DaliTestBus& bus)
{
    QTest::qWait(20);
    return DaliTestBus::texts(bus.network()->simpleLog());
}

QList<int> sorted(QList<int> list)
{
    std::sort(list.begin(), list.end());
    return list;
}

QList<int> firstAddresses(int count)
{
    QList<int> addresses;
    for (int n = 0; n < count; ++n)
        addresses << n;
    return addresses;
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
    void twoGearGetAddressesInOrder()
    {
        DaliTestBus bus;
        bus.withBus([](sim::SimDaliBus& dali) {
            dali.addGear(gear(0x800000));
            dali.addGear(gear(0x12AB34));
        });
        QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices)));
        QCOMPARE(shortAddresses(bus), QList<int>({1, 0})); // the lower random address first
        const QStringList lines = simpleLines(bus);
        QCOMPARE(lines.count(Verified), 2);
        QVERIFY(lines.contains("Search address [12 AB 34] - Device found, programming short address: 0"));
        QVERIFY(lines.contains("Search address [80 0 0] - Device found, programming short address: 1"));
        QCOMPARE(lines.count(TooManyErrors), 0);
        QCOMPARE(bus.network()->findDevice(1)->name(), QStringLiteral("DALI Device 1"));
        // Every gear found lights up.
        bus.withBus([](sim::SimDaliBus& dali) { QCOMPARE(dali.gear(0).actualLevel(dali.nowUs()), 254); });
        // The search address is set before programming; an unchanged byte is not sent again.
        const QList<quint16> frames = bus.frames();
        QVERIFY(frames.indexOf(frame(0xB7, 1)) >= 3);
        for (int i = 1; i < frames.size(); ++i) {
            const int address = frames[i] >> 8;
            if (address == 0xB1 || address == 0xB3 || address == 0xB5)
                QVERIFY2(frames[i] != frames[i - 1], "a search address byte sent twice in a row");
        }
        QCOMPARE(bus.network()->lastSearchAddress() >> 16, 0xFFu);
    }

    void fullBusIsCommissioned_data()
    {
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("seed");
        for (int count : {8, 20, 40, 63})
            for (int seed : {1, 2, 3})
                QTest::addRow("%d gear, seed %d", count, seed) << count << seed;
    }

    void fullBusIsCommissioned()
    {
        QFETCH(int, count);
        QFETCH(int, seed);
        DaliTestBus bus;
        bus.withBus([&](sim::SimDaliBus& dali) { dali.addRandomGear(count, quint32(seed)); });
        QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices)));

        QCOMPARE(sorted(shortAddresses(bus)), firstAddresses(count));
        QCOMPARE(simpleLines(bus).count(TooManyErrors), 0);
        for (int n = 0; n < count; ++n) {
            QVERIFY2(bus.network()->findDevice(uint(n)), qPrintable(QString::number(n)));
            bus.network()->sendShortCommand(n, DaliNetwork::QueryControlGear, 1);
            QVERIFY2(bus.network()->hasAnswer() && !bus.network()->answerFailed(), qPrintable(QString::number(n)));
        }
        QCOMPARE(bus.network()->deviceCount(), count + 1); // and the broadcast device
    }

    void sixtyFourthGearIsLeftUnaddressed()
    {
        DaliTestBus bus;
        bus.withBus([](sim::SimDaliBus& dali) { dali.addRandomGear(64, 5); });
        QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices)));
        QCOMPARE(sorted(shortAddresses(bus)), QList<int>{-1} + firstAddresses(63));
        const QStringList lines = simpleLines(bus);
        QCOMPARE(lines.filter("No free short address left").count(), 1);
        QCOMPARE(lines.count(Verified), 63);
    }

    void newDevicesGetTheNextFreeAddress()
    {
        DaliTestBus bus;
        bus.withBus([](sim::SimDaliBus& dali) {
            for (int n = 0; n < 3; ++n)
                dali.addGear(gear(0x100000 * (n + 1), n));
            dali.addRandomGear(2, 77);
        });
        QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchShortAddresses)));
        QCOMPARE(bus.network()->deviceCount(), 4);
        QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchNewDevices)));
        const QList<int> addresses = shortAddresses(bus);
        QCOMPARE(addresses.mid(0, 3), QList<int>({0, 1, 2})); // addressed gear keep theirs
        QCOMPARE(sorted(addresses), firstAddresses(5));
        QCOMPARE(simpleLines(bus).filter("programming short address: 3").count(), 1);
        QCOMPARE(bus.network()->deviceCount(), 6);
    }

    void equalRandomAddressesEndInBoundedTime()
    {
        DaliTestBus bus;
        bus.withBus([](sim::SimDaliBus& dali) {
            dali.addGear(gear(0x400000));
            dali.addGear(gear(0x400000));
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
        QList<int> others = addresses.mid(2);
        others.removeAll(-1);
        QCOMPARE(std::set<int>(others.begin(), others.end()).size(), size_t(others.size()));
    }

    void misbehavingGearIsNotCounted_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("tooManyErrors");
        QTest::addColumn<int>("aborted");
        QTest::newRow("wrong QUERY SHORT ADDRESS answers abort once") << int(sim::SimGearFault::WrongShortAddress) << 1 << 1;
        QTest::newRow("silent gear: eleven silent whole-range questions") << int(sim::SimGearFault::NeverAnswers) << 0 << 0;
    }

    void misbehavingGearIsNotCounted()
    {
        QFETCH(int, fault);
        QFETCH(int, tooManyErrors);
        QFETCH(int, aborted);
        DaliTestBus bus;
        bus.withBus([&](sim::SimDaliBus& dali) {
            sim::SimDaliGearConfig config;
            config.fault = sim::SimGearFault(fault);
            dali.addGear(config);
        });
        TaskWatch watch(bus.network()->searchTask(DaliNetwork::SearchAllDevices));
        QVERIFY(watch.finished());
        const QStringList lines = simpleLines(bus);
        QCOMPARE(lines.count(TooManyErrors), tooManyErrors);
        QCOMPARE(watch.aborted, aborted);
        QCOMPARE(bus.network()->deviceCount(), 1);
        if (tooManyErrors)
            QVERIFY(lines.count(Unverified) >= 10);
        else
            QCOMPARE(lines.filter("NO REPLY").count(), 11);
    }

    void abortFromTheScheduler()
    {
        DaliTestBus bus;
        // On bus time, so that the search is still running when it is aborted.
        bus.withBus([](sim::SimDaliBus& dali) {
            dali.addRandomGear(40, 9);
            dali.setRealisticTiming(true);
        });
        bus.portline().setLatencyUs(1000);
        TaskWatch watch(bus.network()->searchTask(DaliNetwork::SearchAllDevices));
        QVERIFY(QTest::qWaitFor([&watch] { return watch.started > 0; }, 5000));
        QTRY_VERIFY_WITH_TIMEOUT(bus.frames().size() > 20, 5000);
        general::TaskScheduler::instance()->abortTask();
        QVERIFY(watch.finished(5000));
        QCOMPARE(watch.aborted, 1);
        QVERIFY(shortAddresses(bus).count(-1) > 0);
    }

    void unpluggedDongleEndsTheSearch()
    {
        DaliTestBus bus;
        bus.withBus([](sim::SimDaliBus& dali) { dali.addRandomGear(20, 4); });
        bus.simDongle()->injectFault(sim::SimFault::unplug().forCode(0x0A).everyNth(150));
        QElapsedTimer timer;
        timer.start();
        QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchAllDevices), 30000));
        QVERIFY(timer.elapsed() < 30000);
        QVERIFY(!bus.portline().isPlugged(bus.simDongle()));
        // The network still answers at once.
        timer.restart();
        bus.network()->sendShortCommand(0, DaliNetwork::QueryControlGear, 1);
        QVERIFY(!bus.network()->hasAnswer());
        QVERIFY(timer.elapsed() < 1000);
    }

    void slidersDuringCommissioning()
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
        QCOMPARE(sorted(shortAddresses(bus)), firstAddresses(20));
    }

    void shortScanFindsAndRecreatesDevices()
    {
        DaliTestBus bus;
        bus.withBus([](sim::SimDaliBus& dali) {
            dali.addGear(gear(std::nullopt, 3));
            dali.addGear(gear(std::nullopt, 17));
            dali.addGear(gear(std::nullopt, 63));
        });
        general::Log* main = general::mainLog();
        const int before = main->count();
        QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchShortAddresses)));
        QTRY_VERIFY(main->count() >= before + 3);
        QStringList lines;
        for (int i = before; i < main->count(); ++i)
            lines << main->message(i)->text();
        QVERIFY(lines.contains("Searching short addresses"));
        QCOMPARE(lines.filter("Found short address: "), QStringList({"Found short address: 3", "Found short address: 17", "Found short address: 63"}));
        QCOMPARE(bus.network()->findDevice(17)->name(), QStringLiteral("DALI Device 17"));
        general::Device* first = bus.network()->findDevice(3);
        QVERIFY(runTask(bus.network()->searchTask(DaliNetwork::SearchShortAddresses)));
        QCOMPARE(bus.network()->deviceCount(), 4); // the three and the broadcast device
        QVERIFY(bus.network()->findDevice(3) != first); // removed and created again
        QCOMPARE(bus.frames().count(frame(0x7F, 0x91)), 2); // short address 63 is asked too
    }
};

QTEST_GUILESS_MAIN(TestDaliSearch)
#include "tst_dalisearch.moc"
