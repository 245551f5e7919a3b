// The DALI network on the virtual Portline: frames and their log lines,
// repeats, inputs, and every way the dongle can fail to deliver an answer.

#include "dali/dalinetwork.h"
#include "general/input.h"
#include "general/iomanager.h"
#include "general/networklog.h"
#include "general/parameter.h"
#include "sim/simdongle.h"
#include "sim/simfault.h"
#include "sim/virtualportline.h"
#include "tests/dali/dalitestbus.h"
#include "usb/usbdongle.h"

#include <QElapsedTimer>
#include <QTest>

using namespace halvorn;
using namespace halvorn::dali;

namespace {

const QString ValueColumn(66, QLatin1Char(' '));

sim::SimDaliGearConfig gearAt(int shortAddress)
{
    sim::SimDaliGearConfig config;
    config.shortAddress = uint8_t(shortAddress);
    return config;
}

general::Input* input(DaliNetwork* network, const char* name)
{
    return qobject_cast<general::Input*>(network->ioManager()->findIO(QString::fromLatin1(name)));
}

// What the network holds after an exchange.
QString answerState(const DaliNetwork* network)
{
    if (network->answerFailed())
        return QStringLiteral("error");
    if (network->hasAnswer())
        return QStringLiteral("answer %1").arg(network->answerValue());
    return network->answerValue() == 0 ? QStringLiteral("no answer") : QStringLiteral("no answer, stale value");
}

sim::SimDaliBus::Statistics statistics(DaliTestBus& bus)
{
    sim::SimDaliBus::Statistics stats;
    bus.withBus([&](sim::SimDaliBus& dali) { stats = dali.statistics(); });
    return stats;
}

} // namespace

class TestDaliNetwork : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void exchangesAreLogged_data()
    {
        QTest::addColumn<QList<int>>("gear"); // short addresses on the bus
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("data");
        QTest::addColumn<QString>("state");
        QTest::addColumn<QString>("emitted"); // answerReceived (the value), answerNoReply or answerError
        QTest::addColumn<QStringList>("lines");

        QTest::newRow("query without answer")
            << QList<int>{} << 0x0B << 0x90 << "no answer" << "no reply"
            << QStringList{"COMMAND 0B 90   SHORT5    QUERY STATUS", ValueColumn + "No answer"};
        QTest::newRow("answer with its delay")
            << QList<int>{5} << 0x0B << 0x99 << "answer 6" << "6"
            << QStringList{"COMMAND 0B 99   SHORT5    QUERY DEVICE TYPE",
                           "ANSWER  06                (4.160 ms)                              6 (06)"};
        QTest::newRow("collision")
            << QList<int>{1, 2} << 0xFF << 0x91 << "error" << "error"
            << QStringList{"COMMAND FF 91   BROADCAST QUERY CONTROL GEAR", ValueColumn + "Error"};
        QTest::newRow("command that expects no answer")
            << QList<int>{5} << 0xFF << 0x05 << "no answer" << ""
            << QStringList{"COMMAND FF 05   BROADCAST RECALL MAX LEVEL"};
    }

    void exchangesAreLogged()
    {
        QFETCH(QList<int>, gear);
        QFETCH(int, address);
        QFETCH(int, data);
        QFETCH(QString, state);
        QFETCH(QString, emitted);
        QFETCH(QStringList, lines);

        DaliTestBus bus;
        bus.withBus([&](sim::SimDaliBus& dali) {
            for (int n : gear)
                dali.addGear(gearAt(n));
        });
        // Emitted in this thread, which makes the exchange.
        QStringList signalled;
        QObject context;
        connect(bus.network(), &DaliNetwork::answerReceived, &context, [&](unsigned char a) { signalled << QString::number(a); });
        connect(bus.network(), &DaliNetwork::answerNoReply, &context, [&] { signalled << "no reply"; });
        connect(bus.network(), &DaliNetwork::answerError, &context, [&] { signalled << "error"; });

        bus.network()->sendFrame(uint8_t(address), uint8_t(data));
        QCOMPARE(answerState(bus.network()), state);
        QCOMPARE(signalled.join(", "), emitted);
        QCOMPARE(bus.frames(), QList<quint16>{frame(address, data)});
        QVERIFY(DaliTestBus::waitForCount(bus.network()->log(), int(lines.size())));
        if (emitted.isEmpty())
            QTest::qWait(50); // no "No answer" line follows
        QCOMPARE(DaliTestBus::texts(bus.network()->log()), lines);
    }

    void extendedCommandFollowsEnableDeviceType()
    {
        DaliTestBus bus;
        bus.withBus([](sim::SimDaliBus& dali) { dali.addGear(gearAt(0)); });
        bus.network()->sendSpecial(0xC1, 6, 1);
        bus.network()->sendShortCommand(0, 0xFE, 1); // QUERY MIN FAST FADE TIME
        QVERIFY(bus.network()->hasAnswer());
        bus.network()->sendSpecial(0xC3, 0x42, 1);
        bus.network()->sendSpecial(0xC1, 3, 1);
        bus.network()->sendShortCommand(0, 0x05, 1);
        // The device type and DTR1 are remembered for good.
        QCOMPARE(bus.network()->deviceType(), 3);
        QCOMPARE(bus.network()->lastDTR1(), 0x42);
        QVERIFY(DaliTestBus::waitForCount(bus.network()->log(), 3));
        QCOMPARE(DaliTestBus::texts(bus.network()->log()).at(1), QStringLiteral("COMMAND 01 FE   SHORT0    QUERY MIN FAST FADE TIME"));
    }

    void interferenceRobustnessMultipliesRepeats()
    {
        DaliTestBus bus;
        bus.network()->findParameter(general::Network::RetryCountParameter)->setValue(3, true);
        bus.network()->findParameter(general::Network::InterferenceRobustnessParameter)->setValue(1, true);
        QTRY_VERIFY(bus.network()->interferenceRobustness());
        bus.network()->sendBroadcastCommand(0x05, 2);
        QCOMPARE(bus.frames().count(), 6);
        bus.clearFrames();
        bus.network()->sendBroadcastCommand(0x05, 0);
        QCOMPARE(bus.frames().count(), 0);
    }

    void setpointInputsSendOnlyChanges()
    {
        DaliTestBus bus;
        general::Input* broadcast = input(bus.network(), "Broadcast Setpoint");
        general::Input* group2 = input(bus.network(), "Group 2 Setpoint");
        QVERIFY(broadcast && group2);
        QCOMPARE(broadcast->maximumValue(), 1.0);
        broadcast->setValue(0.5);
        QTRY_COMPARE(bus.frames(), QList<quint16>{frame(0xFE, 127)});
        broadcast->setValue(0.501); // 127.254 − 127 truncates to 0
        group2->setValue(0.0);      // the first value of an input is always sent
        QTRY_COMPARE(bus.frames().count(), 2);
        group2->setValue(2.0);      // clamped: 255 would mean "no change"
        QTRY_COMPARE(bus.frames().count(), 3);
        QCOMPARE(bus.frames(), QList<quint16>({frame(0xFE, 127), frame(0x84, 0), frame(0x84, 254)}));
    }

    void commandInputsSendBroadcastCommands()
    {
        DaliTestBus bus;
        QList<quint16> expected;
        // The same value again is a new press.
        for (const auto& [name, command] : QList<QPair<const char*, int>>{
                 {"Broadcast UP", 1}, {"Broadcast RECALL MIN LEVEL", 6}, {"Broadcast OFF", 0}, {"Broadcast OFF", 0}}) {
            general::Input* in = input(bus.network(), name);
            QVERIFY2(in, name);
            in->setValue(1.0);
            expected << frame(0xFF, command);
        }
        QTRY_COMPARE(bus.frames(), expected);
    }

    void answersArriveThroughBusyAndBusTiming_data()
    {
        QTest::addColumn<int>("busyReplies");
        QTest::addColumn<bool>("realistic");
        QTest::addColumn<int>("usbLatencyUs");
        QTest::newRow("five busy replies are resent") << 5 << false << 0;
        QTest::newRow("real bus, full-speed USB round trip") << 0 << true << 1000;
        // The busy resends must outlast a frame on the bus even when the link
        // answers at once.
        QTest::newRow("real bus, link without delay") << 0 << true << 0;
    }

    void answersArriveThroughBusyAndBusTiming()
    {
        QFETCH(int, busyReplies);
        QFETCH(bool, realistic);
        QFETCH(int, usbLatencyUs);
        DaliTestBus bus;
        bus.withBus([&](sim::SimDaliBus& dali) {
            dali.addGear(gearAt(3));
            dali.setBusyReplies(busyReplies);
            dali.setRealisticTiming(realistic);
        });
        bus.portline().setLatencyUs(usbLatencyUs);
        // Back to back: whether the bus is still settling when the next frame
        // comes depends on the machine; every answer must arrive either way.
        for (int i = 0; i < 3; ++i) {
            bus.network()->sendShortCommand(3, 0xA0, 1);
            QCOMPARE(answerState(bus.network()), QStringLiteral("answer 254"));
        }
        const sim::SimDaliBus::Statistics stats = statistics(bus);
        QCOMPARE(stats.forwardFrames, 3);
        QCOMPARE(stats.backwardFrames, 3);
        if (!realistic) {
            QCOMPARE(stats.busyReplies, qint64(busyReplies));
            QCOMPARE(bus.simDongle()->requestCount(0x0A), 3 + busyReplies);
        }
    }

    void busyForeverEndsWithinBounds()
    {
        DaliTestBus bus;
        bus.withBus([](sim::SimDaliBus& dali) {
            dali.addGear(gearAt(3));
            dali.setStaysBusy(true);
        });
        QElapsedTimer timer;
        timer.start();
        bus.network()->sendShortCommand(3, 0xA0, 1);
        QVERIFY(timer.elapsed() < 2000);
        QVERIFY(!bus.network()->hasAnswer());
        QVERIFY(bus.frames().isEmpty());
        QVERIFY(bus.simDongle()->requestCount(0x0A) <= DaliNetwork::MaxBusyResends + 1);
        QCOMPARE(bus.simDongle()->requestCount(0x0C), 0); // nothing went out: no answer to wait for
        QVERIFY(DaliTestBus::waitForCount(bus.network()->log(), 3));
        QVERIFY(DaliTestBus::texts(bus.network()->log()).contains("DALI bus busy: frame 07 A0 not sent"));
    }

    void receiverFaultsEndAsNoAnswer_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<bool>("garble");
        QTest::newRow("counter sticks with status bit 3") << int(sim::SimDaliBus::ReceiverFault::StuckCounter) << false;
        QTest::newRow("counter wraps in steps") << int(sim::SimDaliBus::ReceiverFault::WrappingCounter) << false;
        QTest::newRow("garbled receiver status") << int(sim::SimDaliBus::ReceiverFault::None) << true;
    }

    void receiverFaultsEndAsNoAnswer()
    {
        QFETCH(int, fault);
        QFETCH(bool, garble);
        DaliTestBus bus;
        bus.withBus([&](sim::SimDaliBus& dali) {
            dali.addGear(gearAt(3));
            dali.setReceiverFault(sim::SimDaliBus::ReceiverFault(fault));
        });
        if (garble)
            bus.simDongle()->injectFault(sim::SimFault::garbled().forCode(0x0C));
        QElapsedTimer timer;
        timer.start();
        for (int i = 0; i < 3; ++i) {
            bus.network()->sendShortCommand(3, 0xA0, 1);
            QVERIFY2(QStringList({"no answer", "error"}).contains(answerState(bus.network())),
                     qPrintable(answerState(bus.network())));
        }
        QVERIFY(timer.elapsed() < 1500);
        QVERIFY(bus.simDongle()->requestCount(0x0C) <= 3 * DaliNetwork::MaxReceiverPolls);
        QCOMPARE(bus.simDongle()->requestCount(0x0B), 0);
    }

    void shortBackwardReplyIsNotAnAnswer()
    {
        DaliTestBus bus;
        bus.withBus([](sim::SimDaliBus& dali) { dali.addGear(gearAt(3)); });
        bus.simDongle()->injectFault(sim::SimFault::reply(2).forCode(0x0B).next(1));
        bus.network()->sendShortCommand(3, 0xA0, 1);
        QCOMPARE(answerState(bus.network()), QStringLiteral("error"));
        QVERIFY(DaliTestBus::waitForCount(bus.network()->log(), 2));
        QCOMPARE(DaliTestBus::texts(bus.network()->log()).at(1), ValueColumn + "Error");
        // The next exchange is whole again.
        bus.network()->sendShortCommand(3, 0xA0, 1);
        QCOMPARE(answerState(bus.network()), QStringLiteral("answer 254"));
    }

    void unpluggedDongleSendsNothing()
    {
        DaliTestBus bus;
        bus.withBus([](sim::SimDaliBus& dali) { dali.addGear(gearAt(3)); });
        QVERIFY(bus.portline().unplug(bus.simDongle()));
        QElapsedTimer timer;
        timer.start();
        bus.network()->sendShortCommand(3, 0xA0, 1);
        QVERIFY(!bus.network()->hasAnswer());
        bus.dongle()->setEnabled(false);
        bus.network()->sendShortCommand(3, 0xA0, 1);
        QVERIFY(!bus.network()->hasAnswer());
        QVERIFY(timer.elapsed() < 2000);
        QVERIFY(bus.frames().isEmpty());
    }

    void memoryReadAndWrite()
    {
        DaliTestBus bus;
        bus.withBus([](sim::SimDaliBus& dali) { dali.addGear(gearAt(2)); });
        DaliNetwork* network = bus.network();
        QVERIFY(network->writeMemory(0x05, 1, 0x20, 0xBEEF, false));
        bool ok = false;
        const auto read = [&](uint8_t address, uint8_t bank, uint8_t location, bool eightBit) {
            const uint value = network->readMemory(address, bank, location, eightBit, ok);
            return ok ? QString::number(value, 16) : QStringLiteral("failed %1").arg(value);
        };
        QCOMPARE(read(0x05, 1, 0x20, false), QStringLiteral("beef"));
        QCOMPARE(read(0x05, 1, 0x21, true), QStringLiteral("ef"));
        QCOMPARE(read(0x05, 0, 0x00, true), QStringLiteral("1a"));
        QCOMPARE(read(0x05, 2, 0x00, true), QStringLiteral("failed 0")); // no bank 2
        QCOMPARE(read(0x07, 1, 0x20, true), QStringLiteral("failed 0")); // nobody at short address 3
        QVERIFY(!network->writeMemory(0x05, 0, 0x03, 0x11, true));       // bank 0 is read-only
        bus.clearFrames();
        network->setDTR16(0x1234);
        QCOMPARE(bus.frames(), QList<quint16>({frame(0xA3, 0x34), frame(0xC3, 0x12)}));
    }
};

QTEST_GUILESS_MAIN(TestDaliNetwork)
#include "tst_dalinetwork.moc"
