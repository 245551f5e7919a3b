// The simulated DALI gear and bus, driven frame by frame (no tool classes):
// configuration commands sent twice, the addressing state machine, memory
// banks, and what the receiver shows the tool.

#include "sim/simdalibus.h"
#include "sim/simdaligear.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QElapsedTimer>
#include <QTest>
#include <QThread>

using namespace halvorn::sim;

namespace {

constexpr qint64 Ms = 1000;

struct Clocked
{
    SimDaliGear gear;
    qint64 now = 0;
    std::optional<uint8_t> send(int address, int data, qint64 afterUs = 20 * Ms)
    {
        now += afterUs;
        return gear.receive(uint8_t(address), uint8_t(data), now, false);
    }
    // DTR1 = bank, DTR = location; with `enable`, ENABLE WRITE MEMORY twice.
    void select(int bank, int location, bool enable = false)
    {
        send(0xC3, bank);
        send(0xA3, location);
        if (enable) {
            send(0xFF, 0x81);
            send(0xFF, 0x81);
        }
    }
};

QByteArray packet(std::initializer_list<int> bytes)
{
    QByteArray out;
    for (int b : bytes)
        out.append(char(b));
    return out;
}

// Sends a forward frame and polls the receiver like a careful host would;
// returns the receiver status seen last and the answer (or -1).
struct Outcome
{
    int status = 0;
    int answer = -1;
    int polls = 0;
};

Outcome transact(SimDaliBus& bus, int address, int data)
{
    Outcome outcome;
    const QByteArray accepted = bus.handle(packet({0x0A, 0, address, data, 0}));
    if (accepted != packet({0x8A}))
        return outcome;
    for (int i = 0; i < 20; ++i) {
        const QByteArray status = bus.handle(packet({0x0C}));
        ++outcome.polls;
        outcome.status = quint8(status.at(1));
        if ((outcome.status & 0x0C) || quint8(status.at(2)) == 255)
            break;
    }
    if (outcome.status & 0x04)
        outcome.answer = quint8(bus.handle(packet({0x0B})).at(3));
    return outcome;
}

} // namespace

class TestSimDaliGear : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void configurationCommandNeedsTwoFramesInARow_data()
    {
        QTest::addColumn<qint64>("gapUs");
        QTest::addColumn<bool>("frameBetween");
        QTest::addColumn<bool>("stored");
        QTest::newRow("twice within 100 ms") << 40 * Ms << false << true;
        QTest::newRow("twice 150 ms apart") << 150 * Ms << false << false;
        QTest::newRow("another frame between") << 20 * Ms << true << false;
    }

    void configurationCommandNeedsTwoFramesInARow()
    {
        QFETCH(qint64, gapUs);
        QFETCH(bool, frameBetween);
        QFETCH(bool, stored);
        Clocked bus;
        bus.send(0xA3, 100);         // DTR = 100
        bus.send(0xFF, 0x2A);        // STORE THE DTR AS MAX LEVEL
        if (frameBetween)
            bus.send(0xFF, 0x90, 5 * Ms);
        bus.send(0xFF, 0x2A, gapUs);
        QCOMPARE(bus.gear.maxLevel(), stored ? 100 : 254);
        // Sent once more alone, it changes nothing either.
        bus.send(0xA3, 90);
        bus.send(0xFF, 0x2A);
        QCOMPARE(bus.gear.maxLevel(), stored ? 100 : 254);
    }

    void initialiseSelectsByAddressForm_data()
    {
        QTest::addColumn<int>("shortAddress");
        QTest::addColumn<int>("data");
        QTest::addColumn<bool>("initialised");
        QTest::newRow("all, addressed gear") << 4 << 0x00 << true;
        QTest::newRow("unaddressed only, addressed gear") << 4 << 0xFF << false;
        QTest::newRow("unaddressed only, new gear") << 0xFF << 0xFF << true;
        QTest::newRow("own short address") << 4 << 0x09 << true;
        QTest::newRow("other short address") << 4 << 0x0B << false;
    }

    void initialiseSelectsByAddressForm()
    {
        QFETCH(int, shortAddress);
        QFETCH(int, data);
        QFETCH(bool, initialised);
        SimDaliGearConfig config;
        config.shortAddress = uint8_t(shortAddress);
        Clocked bus{SimDaliGear(config)};
        bus.send(0xA5, data);
        bus.send(0xA5, data);
        QCOMPARE(bus.gear.isInitialised(bus.now), initialised);
    }

    void compareWithdrawAndProgram()
    {
        SimDaliGearConfig config;
        config.fixedRandomAddress = 0x12AB34;
        Clocked bus{SimDaliGear(config)};
        bus.send(0xA5, 0);
        bus.send(0xA5, 0);
        bus.send(0xA7, 0);
        bus.send(0xA7, 0);
        QCOMPARE(bus.gear.randomAddress(), 0x12AB34u);
        bus.send(0xB1, 0x12);
        bus.send(0xB3, 0xAB);
        bus.send(0xB5, 0x33);
        QCOMPARE(bus.send(0xA9, 0), std::nullopt); // random > search
        bus.send(0xB5, 0x34);
        QCOMPARE(bus.send(0xA9, 0), std::optional<uint8_t>(0xFF));
        QCOMPARE(bus.send(0xBB, 0), std::optional<uint8_t>(0xFF)); // no short address yet
        bus.send(0xB7, 2 * 7 + 1);
        QCOMPARE(bus.gear.shortAddress(), 7);
        QCOMPARE(bus.send(0xBB, 0), std::optional<uint8_t>(15));
        QCOMPARE(bus.send(0xB9, 15), std::optional<uint8_t>(0xFF));
        bus.send(0xAB, 0);
        QCOMPARE(bus.send(0xA9, 0), std::nullopt); // withdrawn
        QCOMPARE(bus.send(0x0F, 0x91), std::optional<uint8_t>(0xFF)); // QUERY CONTROL GEAR at 7
        bus.send(0xA1, 0);
        QVERIFY(!bus.gear.isInitialised(bus.now));
        QCOMPARE(bus.send(0xBB, 0), std::nullopt);
    }

    void memoryBanks()
    {
        Clocked bus;
        bus.select(0, 0);
        QCOMPARE(bus.send(0xFF, 0xC5), std::optional<uint8_t>(0x1A)); // last location of bank 0
        QCOMPARE(bus.gear.dtr(), 1);
        bus.select(0, 5, true);
        QCOMPARE(bus.send(0xC7, 0x55), std::nullopt); // bank 0 is read-only
        bus.send(0xFF, 0x05); // a command other than DTR, query or memory access ends the enable
        bus.select(1, 0x20);
        QCOMPARE(bus.send(0xC7, 0x55), std::nullopt); // not enabled
        bus.select(1, 0x20, true);
        QCOMPARE(bus.send(0xC7, 0x12), std::optional<uint8_t>(0x12));
        QCOMPARE(bus.send(0xC7, 0x34), std::optional<uint8_t>(0x34)); // DTR moved on
        QCOMPARE(bus.gear.memory(1, 0x20), 0x12);
        QCOMPARE(bus.gear.memory(1, 0x21), 0x34);
        bus.send(0xFF, 0x00); // any other command ends the write enable
        bus.select(1, 0x22);
        QCOMPARE(bus.send(0xC7, 0x56), std::nullopt);
        bus.select(2, 0x00); // no bank 2
        QCOMPARE(bus.send(0xFF, 0xC5), std::nullopt);
    }

    void ledQueriesNeedEnableDeviceType()
    {
        Clocked bus;
        QCOMPARE(bus.send(0xFF, 0xFE), std::nullopt);
        bus.send(0xC1, 6);
        QCOMPARE(bus.send(0xFF, 0xFE), std::optional<uint8_t>(4)); // QUERY MIN FAST FADE TIME
        QCOMPARE(bus.send(0xFF, 0xFE), std::nullopt);                // enable covers one command
        bus.send(0xA3, 10);
        bus.send(0xC1, 6);
        bus.send(0xFF, 0xE4);
        bus.send(0xFF, 0xE4); // STORE DTR AS FAST FADE TIME, sent twice after one enable
        QCOMPARE(bus.gear.fastFadeTime(), 10);
        bus.send(0xC1, 8);
        QCOMPARE(bus.send(0xFF, 0xFD), std::nullopt); // not a colour gear
    }

    void receiverShowsWhatTheBusCarried_data()
    {
        QTest::addColumn<int>("gear");
        QTest::addColumn<bool>("powered");
        QTest::addColumn<int>("status"); // receiver status bits 2 (answer) and 3 (faulty frame)
        QTest::addColumn<int>("answer");
        QTest::newRow("one answer") << 1 << true << 0x04 << 0xFF;
        QTest::newRow("collision is a faulty frame") << 2 << true << 0x08 << -1;
        QTest::newRow("nobody answers") << 0 << true << 0x00 << -1;
        QTest::newRow("unpowered bus") << 1 << false << 0x00 << -1;
    }

    void receiverShowsWhatTheBusCarried()
    {
        QFETCH(int, gear);
        QFETCH(bool, powered);
        QFETCH(int, status);
        QFETCH(int, answer);
        SimDaliBus bus;
        bus.setExternalSupply(powered);
        for (int i = 0; i < gear; ++i)
            bus.addGear();
        const Outcome outcome = transact(bus, 0xFF, 0x91);
        QCOMPARE(outcome.status & 0x0C, status);
        QCOMPARE(outcome.answer, answer);
        QVERIFY(outcome.polls <= 4); // the receiver's wait ends within a few polls
        QCOMPARE(bus.statistics().collisions, gear == 2 ? 1 : 0);
    }

    void realisticTimingReportsBusyUntilSettled()
    {
        SimDaliBus bus;
        bus.setExternalSupply(true);
        bus.setRealisticTiming(true);
        const qint64 sent = bus.nowUs();
        QCOMPARE(bus.handle(packet({0x0A, 0, 0xFF, 0x05, 0})), packet({0x8A}));
        QElapsedTimer waited;
        waited.start();
        bool accepted = false;
        while (!accepted && waited.elapsed() < 2000) {
            accepted = bus.handle(packet({0x0A, 0, 0xFF, 0x05, 0})) == packet({0x8A});
            QThread::usleep(500);
        }
        QVERIFY(accepted);
        // Accepted only once the first frame and its settling time (38 + 22 Te) are over.
        QVERIFY(bus.nowUs() - sent >= SimDaliBus::ForwardFrameUs + SimDaliBus::SettlingUs);
        QCOMPARE(bus.statistics().forwardFrames, 2);
        QCOMPARE(bus.statistics().minimumBusTimeUs, 2 * (SimDaliBus::ForwardFrameUs + SimDaliBus::SettlingUs));
    }

    void malformedSectionChangesNothing()
    {
        SimDaliBus bus;
        bus.addGear();
        QString error;
        QVERIFY(!bus.load(QJsonObject{{"gear", QJsonArray{QJsonObject{{"short", 64}}}}}, &error));
        QVERIFY(error.contains("short"));
        QVERIFY(!bus.load(QJsonObject{{"randomGear", 65}}, &error));
        QVERIFY(!bus.load(QJsonObject{{"timing", "fast"}}, &error));
        QCOMPARE(bus.gearCount(), 1);
    }
};

QTEST_GUILESS_MAIN(TestSimDaliGear)
#include "tst_simdaligear.moc"
