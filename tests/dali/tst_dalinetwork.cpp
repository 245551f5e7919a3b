// The DALI network on the virtual Portline: frames and their log lines,
// repeats, inputs, and every way the dongle can fail to deliver an answer.

#include "dali/dalinetwork.h"
#include "general/device.h"
#include "general/input.h"
#include "general/task.h"
#include "usb/usbdongle.h"
#include "general/iomanager.h"
#include "general/networklog.h"
#include "general/parameter.h"
#include "general/threadnames.h"
#include "sim/simdongle.h"
#include "sim/simfault.h"
#include "sim/virtualportline.h"
#include "tests/dali/dalitestbus.h"

#include <QElapsedTimer>
#include <QSignalSpy>
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

} // namespace

class TestDaliNetwork : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void namesItsLogsAndThread();
    void queryWithoutAnswerIsLogged();
    void answerIsLoggedWithItsDelay();
    void collisionIsLoggedAsError();
    void extendedCommandFollowsEnableDeviceType();
    void interferenceRobustnessMultipliesRepeats();
    void setpointInputsSendOnlyChanges();
    void commandInputsSendBroadcastCommands();
    void busyReplyIsResentUntilAccepted();
    void realTimeBusSettlesBetweenFrames_data();
    void realTimeBusSettlesBetweenFrames();
    void busyForeverEndsWithinBounds();
    void receiverFaultsEndAsNoAnswer_data();
    void receiverFaultsEndAsNoAnswer();
    void shortBackwardReplyIsNotAnAnswer();
    void unpluggedDongleSendsNothing();
    void memoryReadAndWrite();
};

void TestDaliNetwork::namesItsLogsAndThread()
{
    DaliTestBus bus;
    QCOMPARE(bus.network()->name(), QStringLiteral("DALI Network"));
    QCOMPARE(bus.network()->log()->name(), QStringLiteral("DALI Network log"));
    QCOMPARE(bus.network()->simpleLog()->name(), QStringLiteral("Simple DALI Network log"));
    QCOMPARE(general::threadName(bus.network()->networkThread()), QStringLiteral("DaliNetwork"));
    QVERIFY(bus.network()->findDevice(254));
    QCOMPARE(bus.network()->findDevice(254)->name(), QStringLiteral("Broadcast Device"));
    QVERIFY(qobject_cast<usb::USBNetwork*>(bus.network()));
    QCOMPARE(bus.network()->searchTask(0)->name(), QStringLiteral("Search all devices"));
    QCOMPARE(bus.network()->searchTask(1)->name(), QStringLiteral("Search new devices"));
    QCOMPARE(bus.network()->searchTask(2)->name(), QStringLiteral("Search short addresses"));
    QCOMPARE(bus.network()->searchTask(3), nullptr);
}

void TestDaliNetwork::queryWithoutAnswerIsLogged()
{
    DaliTestBus bus;
    QSignalSpy noReply(bus.network(), &DaliNetwork::answerNoReply);
    bus.network()->sendShortCommand(5, 0x90, 1);
    QVERIFY(!bus.network()->hasAnswer());
    QCOMPARE(bus.network()->answerValue(), 0);
    QCOMPARE(noReply.count(), 1);
    QCOMPARE(bus.frames(), QList<quint16>{frame(0x0B, 0x90)});
    QVERIFY(DaliTestBus::waitForCount(bus.network()->log(), 2));
    QCOMPARE(DaliTestBus::texts(bus.network()->log()),
             QStringList({"COMMAND 0B 90   SHORT5    QUERY STATUS", ValueColumn + "No answer"}));

    // A command that expects no answer logs no "No answer" line.
    bus.network()->log()->clear();
    bus.network()->sendBroadcastCommand(0x05, 1);
    QTest::qWait(50);
    QCOMPARE(DaliTestBus::texts(bus.network()->log()),
             QStringList({"COMMAND FF 05   BROADCAST RECALL MAX LEVEL"}));
    QCOMPARE(noReply.count(), 1);
}

void TestDaliNetwork::answerIsLoggedWithItsDelay()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) { dali.addGear(gearAt(5)); });
    QSignalSpy received(bus.network(), &DaliNetwork::answerReceived);
    bus.network()->sendShortCommand(5, 0x99, 1); // QUERY DEVICE TYPE
    QVERIFY(bus.network()->hasAnswer());
    QVERIFY(!bus.network()->answerFailed());
    QCOMPARE(bus.network()->answerValue(), 6);
    QCOMPARE(received.count(), 1);
    QCOMPARE(received.at(0).at(0).value<unsigned char>(), 6);
    QVERIFY(DaliTestBus::waitForCount(bus.network()->log(), 2));
    QCOMPARE(DaliTestBus::texts(bus.network()->log()).at(1),
             QStringLiteral("ANSWER  06                (4.160 ms)                              6 (06)"));
}

void TestDaliNetwork::collisionIsLoggedAsError()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) {
        dali.addGear(gearAt(1));
        dali.addGear(gearAt(2));
    });
    QSignalSpy errors(bus.network(), &DaliNetwork::answerError);
    bus.network()->sendBroadcastCommand(0x91, 1);
    QVERIFY(bus.network()->answerFailed());
    QCOMPARE(errors.count(), 1);
    QVERIFY(DaliTestBus::waitForCount(bus.network()->log(), 2));
    QCOMPARE(DaliTestBus::texts(bus.network()->log()).at(1), ValueColumn + "Error");
}

void TestDaliNetwork::extendedCommandFollowsEnableDeviceType()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) { dali.addGear(gearAt(0)); });
    bus.network()->sendSpecial(0xC1, 6, 1);
    QCOMPARE(bus.network()->deviceType(), 6);
    bus.network()->sendShortCommand(0, 0xFE, 1); // QUERY MIN FAST FADE TIME
    QVERIFY(bus.network()->hasAnswer());
    bus.network()->sendSpecial(0xC1, 3, 1);
    bus.network()->sendShortCommand(0, 0xE0, 1);
    QVERIFY(!bus.network()->hasAnswer());
    QVERIFY(DaliTestBus::waitForCount(bus.network()->log(), 5));
    const QStringList lines = DaliTestBus::texts(bus.network()->log());
    QCOMPARE(lines.at(1), QStringLiteral("COMMAND 01 FE   SHORT0    QUERY MIN FAST FADE TIME"));
    QCOMPARE(lines.at(4), QStringLiteral("COMMAND 01 E0   SHORT0    unknown extension command"));
    QTest::qWait(50);
    QCOMPARE(bus.network()->log()->count(), 5); // no "No answer" after it
    // deviceType and DTR1 are remembered for good.
    bus.network()->sendSpecial(0xC3, 0x42, 1);
    bus.network()->sendShortCommand(0, 0x05, 1);
    QCOMPARE(bus.network()->deviceType(), 3);
    QCOMPARE(bus.network()->lastDTR1(), 0x42);
}

void TestDaliNetwork::interferenceRobustnessMultipliesRepeats()
{
    DaliTestBus bus;
    general::Parameter* robustness = bus.network()->findParameter(general::Network::InterferenceRobustnessParameter);
    general::Parameter* retries = bus.network()->findParameter(general::Network::RetryCountParameter);
    QVERIFY(robustness && retries);
    retries->setValue(3, true);
    robustness->setValue(1, true);
    QTRY_VERIFY(bus.network()->interferenceRobustness());
    bus.network()->sendBroadcastCommand(0x05, 2);
    QCOMPARE(bus.frames().count(), 6);
    bus.clearFrames();
    bus.network()->sendBroadcastCommand(0x05, 0);
    QCOMPARE(bus.frames().count(), 0);
}

void TestDaliNetwork::setpointInputsSendOnlyChanges()
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

void TestDaliNetwork::commandInputsSendBroadcastCommands()
{
    DaliTestBus bus;
    const QList<QPair<const char*, int>> inputs = {
        {"Broadcast UP", 1}, {"Broadcast DOWN", 2}, {"Broadcast STEP UP", 3}, {"Broadcast STEP DOWN", 4},
        {"Broadcast RECALL MAX LEVEL", 5}, {"Broadcast RECALL MIN LEVEL", 6}, {"Broadcast OFF", 0}};
    QList<quint16> expected;
    for (const auto& [name, command] : inputs) {
        general::Input* in = input(bus.network(), name);
        QVERIFY2(in, name);
        in->setValue(1.0);
        expected << frame(0xFF, command);
    }
    input(bus.network(), "Broadcast OFF")->setValue(1.0); // the same value again is a new press
    expected << frame(0xFF, 0);
    QTRY_COMPARE(bus.frames(), expected);
}

void TestDaliNetwork::busyReplyIsResentUntilAccepted()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) {
        dali.addGear(gearAt(3));
        dali.setBusyReplies(5);
    });
    bus.network()->sendShortCommand(3, 0xA0, 1);
    QVERIFY(bus.network()->hasAnswer());
    QCOMPARE(bus.network()->answerValue(), 254);
    sim::SimDaliBus::Statistics stats;
    bus.withBus([&](sim::SimDaliBus& dali) { stats = dali.statistics(); });
    QCOMPARE(stats.forwardFrames, 1);
    QCOMPARE(stats.busyReplies, 5);
    QCOMPARE(bus.dongle().requestCount(0x0A), 6);
}

void TestDaliNetwork::realTimeBusSettlesBetweenFrames_data()
{
    QTest::addColumn<int>("usbLatencyUs");
    QTest::newRow("full-speed USB round trip") << 1000;
    // The busy resends must outlast a frame on the bus even when the link
    // answers at once.
    QTest::newRow("link without delay") << 0;
}

void TestDaliNetwork::realTimeBusSettlesBetweenFrames()
{
    QFETCH(int, usbLatencyUs);
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) {
        dali.addGear(gearAt(3));
        dali.setRealisticTiming(true);
    });
    bus.portline().setLatencyUs(usbLatencyUs);
    // Back to back: whether the bus is still settling when the next frame
    // comes depends on the machine; every answer must arrive either way.
    for (int i = 0; i < 3; ++i) {
        bus.network()->sendShortCommand(3, 0xA0, 1);
        QVERIFY(bus.network()->hasAnswer());
        QCOMPARE(bus.network()->answerValue(), 254);
    }
    sim::SimDaliBus::Statistics stats;
    bus.withBus([&](sim::SimDaliBus& dali) { stats = dali.statistics(); });
    QCOMPARE(stats.forwardFrames, 3);
    QCOMPARE(stats.backwardFrames, 3);
}

void TestDaliNetwork::busyForeverEndsWithinBounds()
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
    QVERIFY(bus.dongle().requestCount(0x0A) <= DaliNetwork::MaxBusyResends + 1);
    QCOMPARE(bus.dongle().requestCount(0x0C), 0); // nothing went out: no answer to wait for
    QVERIFY(DaliTestBus::waitForCount(bus.network()->log(), 3));
    QVERIFY(DaliTestBus::texts(bus.network()->log()).contains("DALI bus busy: frame 07 A0 not sent"));
}

void TestDaliNetwork::receiverFaultsEndAsNoAnswer_data()
{
    QTest::addColumn<int>("fault");
    QTest::addColumn<bool>("garble");
    QTest::newRow("counter sticks with status bit 3") << int(sim::SimDaliBus::ReceiverFault::StuckCounter) << false;
    QTest::newRow("counter wraps in steps") << int(sim::SimDaliBus::ReceiverFault::WrappingCounter) << false;
    QTest::newRow("garbled receiver status") << int(sim::SimDaliBus::ReceiverFault::None) << true;
}

void TestDaliNetwork::receiverFaultsEndAsNoAnswer()
{
    QFETCH(int, fault);
    QFETCH(bool, garble);
    DaliTestBus bus;
    bus.withBus([&](sim::SimDaliBus& dali) {
        dali.addGear(gearAt(3));
        dali.setReceiverFault(sim::SimDaliBus::ReceiverFault(fault));
    });
    if (garble)
        bus.dongle().injectFault(sim::SimFault::garbled().forCode(0x0C));
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < 3; ++i) {
        bus.network()->sendShortCommand(3, 0xA0, 1);
        QVERIFY(!bus.network()->hasAnswer() || bus.network()->answerFailed());
        QCOMPARE(bus.network()->answerValue(), bus.network()->hasAnswer() ? bus.network()->answerValue() : 0);
    }
    QVERIFY(timer.elapsed() < 1500);
    QVERIFY(bus.dongle().requestCount(0x0C) <= 3 * DaliNetwork::MaxReceiverPolls);
    QCOMPARE(bus.dongle().requestCount(0x0B), 0);
}

void TestDaliNetwork::shortBackwardReplyIsNotAnAnswer()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) { dali.addGear(gearAt(3)); });
    bus.dongle().injectFault(sim::SimFault::reply(2).forCode(0x0B).next(1));
    bus.network()->sendShortCommand(3, 0xA0, 1);
    QVERIFY(bus.network()->answerFailed());
    QVERIFY(DaliTestBus::waitForCount(bus.network()->log(), 2));
    QCOMPARE(DaliTestBus::texts(bus.network()->log()).at(1), ValueColumn + "Error");
    // The next exchange is whole again.
    bus.network()->sendShortCommand(3, 0xA0, 1);
    QVERIFY(bus.network()->hasAnswer() && !bus.network()->answerFailed());
    QCOMPARE(bus.network()->answerValue(), 254);
}

void TestDaliNetwork::unpluggedDongleSendsNothing()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) { dali.addGear(gearAt(3)); });
    QVERIFY(bus.portline().unplug(bus.donglePointer()));
    QElapsedTimer timer;
    timer.start();
    bus.network()->sendShortCommand(3, 0xA0, 1);
    QVERIFY(!bus.network()->hasAnswer());
    bus.usbDongle()->setEnabled(false);
    bus.network()->sendShortCommand(3, 0xA0, 1);
    QVERIFY(!bus.network()->hasAnswer());
    QVERIFY(timer.elapsed() < 2000);
    QVERIFY(bus.frames().isEmpty());
}

void TestDaliNetwork::memoryReadAndWrite()
{
    DaliTestBus bus;
    bus.withBus([](sim::SimDaliBus& dali) { dali.addGear(gearAt(2)); });
    DaliNetwork* network = bus.network();
    QVERIFY(network->writeMemory(0x05, 1, 0x20, 0xBEEF, false));
    bool ok = false;
    QCOMPARE(network->readMemory(0x05, 1, 0x20, false, ok), 0xBEEFu);
    QVERIFY(ok);
    QCOMPARE(network->readMemory(0x05, 1, 0x21, true, ok), 0xEFu);
    QVERIFY(ok);
    QCOMPARE(network->readMemory(0x05, 0, 0x00, true, ok), 0x1Au);
    QVERIFY(!network->writeMemory(0x05, 0, 0x03, 0x11, true)); // bank 0 is read-only
    QCOMPARE(network->readMemory(0x05, 2, 0x00, true, ok), 0u); // no bank 2
    QVERIFY(!ok);
    QCOMPARE(network->readMemory(0x07, 1, 0x20, true, ok), 0u); // nobody at short address 3
    QVERIFY(!ok);
    bus.clearFrames();
    network->setDTR16(0x1234);
    QCOMPARE(bus.frames(), QList<quint16>({frame(0xA3, 0x34), frame(0xC3, 0x12)}));
}

QTEST_GUILESS_MAIN(TestDaliNetwork)
#include "tst_dalinetwork.moc"
