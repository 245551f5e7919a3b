// The Keymark network on the virtual Portline: its tag frames byte for
// byte, the DALI traffic through the pass-through, write-only dongles, the
// presence poll and its timer, polls racing parameter accesses, and tags
// that go away or answer garbage.

#include "general/log.h"
#include "general/networklog.h"
#include "sim/simfault.h"
#include "tests/km/keymarkrig.h"
#include "tests/support/queuedsignalcounter.h"
#include "tests/support/testthreads.h"
#include "vx/vxnetworklogmessage.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QSignalSpy>
#include <QtTest>

#include <atomic>

using namespace halvorn;
using km::KeymarkNetwork;
using sim::SimFault;
using sim::SimKeymarkPort;
using test::checksummed;
using test::hex;

Q_DECLARE_METATYPE(halvorn::sim::SimFault)
Q_DECLARE_METATYPE(halvorn::sim::SimKeymarkPort::ReplyFault)

namespace {

constexpr uint8_t Broadcast = 0xFE;
constexpr uint8_t BroadcastCommand = 0xFF;
constexpr int WaitMs = 5000;

// The value read from bank 1 of the tag, or -1 when the read failed.
int readBank1(KeymarkNetwork* network, uint8_t location, bool eightBit = true)
{
    bool ok = false;
    const uint value = network->readMemoryBank1(Broadcast, location, eightBit, ok);
    return ok ? int(value) : -1;
}

// The driver's answer to a DALI query through the pass-through, or -1 for none.
int query(KeymarkNetwork* network, uint8_t command)
{
    network->sendCommand(BroadcastCommand, command);
    return network->hasAnswer() ? network->answerValue() : -1;
}

// The parameter number a tag frame addresses (bytes 4 and 5).
int numberOf(const QByteArray& tagFrame)
{
    return quint8(tagFrame.at(4)) | quint8(tagFrame.at(5)) << 8;
}

bool isWrite(const QByteArray& tagFrame)
{
    return quint8(tagFrame.at(1)) == 0x0E;
}

int writesTo(const QList<QByteArray>& frames, int number)
{
    return int(std::count_if(frames.cbegin(), frames.cend(), [number](const QByteArray& f) {
        return isWrite(f) && numberOf(f) == number;
    }));
}

struct TagWrite
{
    quint16 capabilities;
    bool present;
    uint8_t location;
    bool done;
    int frames;
    bool refused;
    int stored; // the tag's byte there afterwards; -1: not checked
};

} // namespace

Q_DECLARE_METATYPE(TagWrite)

class TestKeymarkNetwork : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void framesByteForByte_data();
    void framesByteForByte();
    void readBeyondTheTagUsesTheDaliMemoryRead();
    void passThroughAnswers();
    void tagWrites_data();
    void tagWrites();
    void writeOnlyDonglePausesBetweenReadAttempts();

    void presenceFollowsTheTag_data();
    void presenceFollowsTheTag();
    void pollingRunsOnItsTimerStartedFromAnyThread();
    void pollsNeverSplitAParameterAccess();
    void detachedNetworkLosesTheTag();

    void tagPulledOutInTheMiddle_data();
    void tagPulledOutInTheMiddle();
    void damagedRepliesAreRetried_data();
    void damagedRepliesAreRetried();
    void misbehavingTagsFailTheRead_data();
    void misbehavingTagsFailTheRead();
};

void TestKeymarkNetwork::framesByteForByte_data()
{
    using Operation = std::function<int(KeymarkNetwork*)>;
    QTest::addColumn<Operation>("operation");
    QTest::addColumn<int>("result"); // -2: any value read
    QTest::addColumn<QByteArray>("request");
    //                                                                                                           result request packet
    QTest::newRow("16-bit write 0x1234 to 0x70")    << Operation([](auto* n) { return int(n->writeMemoryBank1(Broadcast, 0x70, 0x1234, false)); })
                                                    << 1  << hex("02 09 D0 0E 00 00 F0 0A 34 12 1E");
    QTest::newRow("8-bit write 0xDF to 28")         << Operation([](auto* n) { return int(n->writeMemoryBank1(Broadcast, 28, 0xDF, true)); })
                                                    << 1  << hex("02 09") + checksummed("D0 0E 00 00 1C 0A DF 00");
    QTest::newRow("8-bit read of 0x30")             << Operation([](auto* n) { return readBank1(n, 0x30); })
                                                    << 70 << hex("02 09") + checksummed("D0 0D 00 00 30 0A 00 00");
    QTest::newRow("16-bit read of 0x72")            << Operation([](auto* n) { return readBank1(n, 0x72, false); })
                                                    << -2 << hex("02 09") + checksummed("D0 0D 00 00 F2 0A 00 00");
    QTest::newRow("QUERY DEVICE TYPE to broadcast") << Operation([](auto* n) { return query(n, 0x99); })
                                                    << 6  << hex("02 09") + checksummed("D0 0D 00 00 40 0B 99 FF");
    QTest::newRow("RECALL MAX LEVEL to broadcast")  << Operation([](auto* n) { n->sendBroadcastCommand(0x05); return int(n->hasAnswer()); })
                                                    << 0  << hex("02 09") + checksummed("D0 0E 00 00 40 0B 05 FF");
}

void TestKeymarkNetwork::framesByteForByte()
{
    QFETCH(std::function<int(KeymarkNetwork*)>, operation);
    QFETCH(int, result);
    QFETCH(QByteArray, request);
    KeymarkRig rig;
    QVERIFY(rig.start());
    general::Log* log = rig.network()->log();
    log->clear();
    const int got = operation(rig.network());
    if (result == -2)
        QVERIFY(got >= 0);
    else
        QCOMPARE(got, result);
    QCOMPARE(rig.simDongle().lastRequest().toHex(' '), request.toHex(' '));
    QCOMPARE(rig.tagFrames(), QList<QByteArray>{request.mid(2)});
    // Logged as a Keymark frame (a DALI command also gets its decoded line).
    const auto sentFrame = [log]() -> const vx::VxNetworkLogMessage* {
        for (int i = 0; i < log->count(); ++i) {
            if (log->message(i)->msgClass() == general::KEYMARK)
                return dynamic_cast<const vx::VxNetworkLogMessage*>(log->message(i));
        }
        return nullptr;
    };
    QTRY_VERIFY_WITH_TIMEOUT(sentFrame(), WaitMs);
    const vx::VxNetworkLogMessage* sent = sentFrame();
    QCOMPARE(sent->type(), general::SEND);
    QCOMPARE(sent->frame(), request.mid(2));
}

void TestKeymarkNetwork::readBeyondTheTagUsesTheDaliMemoryRead()
{
    KeymarkRig rig;
    sim::SimTagConfig config;
    config.bank1 = {{200, 0x5C}, {201, 0x3A}};
    rig.withPort([&](SimKeymarkPort& port) { port.insertTag(config); });
    QVERIFY(rig.start());
    bool ok = false;
    QCOMPARE(rig.network()->readMemoryBank1(BroadcastCommand, 200, true, ok), 0x5Cu);
    QVERIFY(ok);
    QList<quint16> driverFrames;
    rig.withPort([&](SimKeymarkPort& port) { driverFrames = port.tag().driverFrames(); });
    // DTR1 1, DTR 200, READ MEMORY LOCATION — and no tag memory frame.
    QCOMPARE(driverFrames, (QList<quint16>{0xC301, 0xA3C8, 0xFFC5}));

    // 16 bits: two reads, high byte first.
    QCOMPARE(rig.network()->readMemoryBank1(BroadcastCommand, 200, false, ok), 0x5C3Au);
    QVERIFY(ok);
    // A write beyond the tag goes the DALI way as well.
    QVERIFY(rig.network()->writeMemoryBank1(BroadcastCommand, 0xC0, 0x77, true));
    std::optional<quint8> stored;
    rig.withPort([&](SimKeymarkPort& port) { stored = port.tag().driver().memory(1, 0xC0); });
    QCOMPARE(*stored, quint8(0x77));
    // Not one frame went to the tag's own memory.
    for (const QByteArray& f : rig.tagFrames())
        QCOMPARE(numberOf(f), int(KeymarkNetwork::PassThroughParameter));
}

void TestKeymarkNetwork::passThroughAnswers()
{
    KeymarkRig rig;
    QVERIFY(rig.start());
    KeymarkNetwork* network = rig.network();
    QSignalSpy noReply(network, &dali::DaliNetwork::answerNoReply);

    QElapsedTimer timer;
    timer.start();
    QCOMPARE(query(network, 0x99), 6); // QUERY DEVICE TYPE
    QVERIFY(timer.elapsed() >= KeymarkNetwork::PauseMs);

    // QUERY LAMP FAILURE: the driver stays silent and the tag says so; that
    // answer is final, not retried.
    rig.clearTagFrames();
    QCOMPARE(query(network, 0x92), -1);
    QCOMPARE(network->answerValue(), 0);
    QCOMPARE(noReply.count(), 1);
    QCOMPARE(rig.tagFrames().size(), 1);

    // With the tag gone every frame is tried three times.
    rig.withPort([](SimKeymarkPort& port) { port.setTagPresent(false); });
    rig.clearTagFrames();
    QCOMPARE(query(network, 0x99), -1);
    QCOMPARE(rig.tagFrames().size(), KeymarkNetwork::Attempts);
}

void TestKeymarkNetwork::tagWrites_data()
{
    QTest::addColumn<TagWrite>("write");
    //                                                    dongle                      tag    location done  frames refused kept there
    QTest::newRow("accepted")            << TagWrite{KeymarkRig::AllCapabilities, true,  0x30, true,  1, false, 0x5A};
    QTest::newRow("refused, retried")    << TagWrite{KeymarkRig::AllCapabilities, true,  0,    false, 3, true,  -1};
    QTest::newRow("no tag, retried")     << TagWrite{KeymarkRig::AllCapabilities, false, 0x30, false, 3, false, 70};
    // A dongle that cannot read the tag sends once, pauses and counts it done.
    QTest::newRow("write-only, tag in")  << TagWrite{KeymarkRig::WriteOnly,       true,  0x30, true,  1, false, 0x5A};
    QTest::newRow("write-only, no tag")  << TagWrite{KeymarkRig::WriteOnly,       false, 0x30, true,  1, false, 70};
}

void TestKeymarkNetwork::tagWrites()
{
    QFETCH(TagWrite, write);
    KeymarkRig rig(write.capabilities);
    rig.withPort([&](SimKeymarkPort& port) { port.setTagPresent(write.present); });
    QVERIFY(rig.start());
    const bool writeOnly = write.capabilities == KeymarkRig::WriteOnly;
    QCOMPARE(rig.network()->canReadTag(), !writeOnly);
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(rig.network()->writeMemoryBank1(Broadcast, write.location, 0x5A, true), write.done);
    QVERIFY(!writeOnly || timer.elapsed() >= KeymarkNetwork::PauseMs);
    QCOMPARE(rig.tagFrames().size(), write.frames);
    if (writeOnly)
        QCOMPARE(rig.tagFrames().first(), checksummed("D0 0E 00 00 30 0A 5A 00"));
    QCOMPARE(rig.network()->answerFailed(), write.refused);
    int stored = -1;
    rig.withPort([&](SimKeymarkPort& port) { stored = port.tag().memoryByte(write.location); });
    if (write.stored >= 0)
        QCOMPARE(stored, write.stored);
}

void TestKeymarkNetwork::writeOnlyDonglePausesBetweenReadAttempts()
{
    KeymarkRig rig(KeymarkRig::WriteOnly);
    QVERIFY(rig.start());
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(readBank1(rig.network(), 0x30), -1);
    QVERIFY(timer.elapsed() >= 2 * KeymarkNetwork::PauseMs);
    QCOMPARE(rig.tagFrames().size(), KeymarkNetwork::Attempts);
    QCOMPARE(rig.network()->lastReplyStatus(), int(KeymarkNetwork::NoAnswerStatus));
}

void TestKeymarkNetwork::presenceFollowsTheTag_data()
{
    const QByteArray probe = checksummed("D0 0E 00 00 12 0A 00 00");   // write-only: a write to 18 tells presence
    const QByteArray session = checksummed("D0 0E 00 00 1C 0A DF 00"); // 0xDF to 28 on every connect
    QTest::addColumn<quint16>("capabilities");
    QTest::addColumn<QList<QByteArray>>("connectFrames"); // of two polls with the tag in
    QTest::addColumn<QList<QByteArray>>("missFrames");    // of a poll with the tag out
    QTest::newRow("tag readable") << KeymarkRig::AllCapabilities << QList<QByteArray>{session} << QList<QByteArray>{};
    QTest::newRow("write-only")   << KeymarkRig::WriteOnly << QList<QByteArray>{probe, session, probe} << QList<QByteArray>{probe};
}

void TestKeymarkNetwork::presenceFollowsTheTag()
{
    QFETCH(quint16, capabilities);
    QFETCH(QList<QByteArray>, connectFrames);
    QFETCH(QList<QByteArray>, missFrames);
    KeymarkRig rig(capabilities);
    QVERIFY(rig.start());
    // Nothing is sent to the tag until someone polls or accesses it.
    QVERIFY(rig.tagFrames().isEmpty());
    QVERIFY(!rig.network()->isTagConnected());
    test::QueuedSignalCounter connected(rig.network(), &KeymarkNetwork::OnKeymarkConnect);
    test::QueuedSignalCounter disconnected(rig.network(), &KeymarkNetwork::OnKeymarkDisconnect);
    test::QueuedSignalCounter deviceConnected(rig.device(), &general::Device::connected);
    test::QueuedSignalCounter deviceDisconnected(rig.device(), &general::Device::disconnected);
    QVERIFY(rig.poll());
    QVERIFY(rig.poll());
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(deviceConnected.count(), 1, WaitMs);
    QVERIFY(rig.device()->isConnected());
    QCOMPARE(rig.tagFrames(), connectFrames);
    int sessions = 0;
    rig.withPort([&](SimKeymarkPort& port) { sessions = port.tag().controlWriteCount(28); });
    QCOMPARE(sessions, 1);

    // Pulled out: missed after ten checks.
    rig.withPort([](SimKeymarkPort& port) { port.setTagPresent(false); });
    rig.clearTagFrames();
    const int before = rig.requests(0x0D);
    QVERIFY(rig.poll());
    QCOMPARE(rig.tagFrames(), missFrames);
    QCOMPARE(rig.requests(0x0D) - before, KeymarkNetwork::PresenceChecks);
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, WaitMs);
    QTRY_COMPARE_WITH_TIMEOUT(deviceDisconnected.count(), 1, WaitMs);
    QVERIFY(!rig.device()->isConnected());
    // Still missing: ten more checks, no second disconnect.
    QVERIFY(rig.poll());
    QCOMPARE(rig.requests(0x0D) - before, 2 * KeymarkNetwork::PresenceChecks);
    QVERIFY(rig.settle());
    QCOMPARE(disconnected.count(), 1);

    // Back in: connected again, with a new 0xDF to 28.
    rig.clearTagFrames();
    rig.withPort([](SimKeymarkPort& port) { port.setTagPresent(true); });
    QVERIFY(rig.poll());
    QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 2, WaitMs);
    QCOMPARE(writesTo(rig.tagFrames(), 0x0A1C), 1);
}

void TestKeymarkNetwork::pollingRunsOnItsTimerStartedFromAnyThread()
{
    // The timer is only ever touched in its own thread.
    QTest::failOnWarning(QRegularExpression(QStringLiteral("[Tt]imer")));
    std::shared_ptr<sim::SimDongle> dongle;
    {
        KeymarkRig rig;
        QVERIFY(rig.start());
        dongle = rig.fixture().simDongle();
        KeymarkNetwork* network = rig.network();
        test::QueuedSignalCounter connected(network, &KeymarkNetwork::OnKeymarkConnect);
        // A long interval: the first poll runs at once, not after it.
        network->startPolling(60000);
        QTRY_COMPARE_WITH_TIMEOUT(connected.count(), 1, WaitMs);
        network->startPolling(5);
        const int before = rig.requests(0x0D);
        QTRY_VERIFY_WITH_TIMEOUT(rig.requests(0x0D) >= before + 5, WaitMs);

        QVERIFY(test::runInThreads(4, [network](int) {
            for (int i = 0; i < 100; ++i) {
                network->startPolling(1 + i % 3);
                network->stopPolling();
            }
        }, 20000));
        network->stopPolling();
        QVERIFY(rig.settle(10000));
        const int stopped = rig.requests(0x0D);
        QTest::qWait(60);
        QCOMPARE(rig.requests(0x0D), stopped);
        QVERIFY(network->isTagConnected());

        // Destroyed while polling every millisecond: the timer goes with the network.
        network->startPolling(1);
        QTRY_VERIFY_WITH_TIMEOUT(rig.requests(0x0D) > stopped + 3, WaitMs);
    }
    const int after = dongle->requestCount(0x0D);
    QTest::qWait(30);
    QCOMPARE(dongle->requestCount(0x0D), after);
}

void TestKeymarkNetwork::pollsNeverSplitAParameterAccess()
{
    // A write-only dongle makes every poll send a frame of its own.
    KeymarkRig rig(KeymarkRig::WriteOnly);
    QVERIFY(rig.start());
    KeymarkNetwork* network = rig.network();
    network->startPolling(1);
    QTRY_VERIFY_WITH_TIMEOUT(network->isTagConnected(), WaitMs);

    std::atomic<int> written{0};
    test::ThreadGroup writer(1, [&](int) {
        for (int i = 0; i < 25; ++i) {
            network->writeParameter(Broadcast, 0x2000 + 2 * (i % 2), false, uint(300 + i));
            ++written;
        }
    });
    // Meanwhile the GUI thread reads a tag location now and then.
    const QDeadlineTimer deadline(20000);
    while (written.load() < 25 && !deadline.hasExpired())
        readBank1(network, 0x30);
    QVERIFY(writer.join(20000));
    network->stopPolling();
    QVERIFY(rig.settle());

    const QList<QByteArray> frames = rig.tagFrames();
    int requests = 0;
    for (int i = 0; i < frames.size(); ++i) {
        if (!isWrite(frames.at(i)) || numberOf(frames.at(i)) != 0x0A74)
            continue;
        ++requests;
        QVERIFY2(i >= 2 && numberOf(frames.at(i - 1)) == 0x0AF2 && numberOf(frames.at(i - 2)) == 0x0AF0,
                 qPrintable(QStringLiteral("frame %1 split from its mailbox writes").arg(i)));
    }
    QCOMPARE(requests, 25);
    QVERIFY(writesTo(frames, 0x0A12) >= 2); // the polls did run in between
    std::optional<quint16> current1;
    std::optional<quint16> current2;
    rig.withPort([&](SimKeymarkPort& port) {
        current1 = port.tag().current(0);
        current2 = port.tag().current(1);
    });
    QCOMPARE(*current1, quint16(324));
    QCOMPARE(*current2, quint16(323));
}

void TestKeymarkNetwork::detachedNetworkLosesTheTag()
{
    KeymarkRig rig;
    QVERIFY(rig.start());
    QVERIFY(rig.poll());
    QVERIFY(rig.network()->isTagConnected());
    test::QueuedSignalCounter disconnected(rig.network(), &KeymarkNetwork::OnKeymarkDisconnect);
    rig.network()->setDongle(nullptr);
    QVERIFY(rig.poll());
    QTRY_COMPARE_WITH_TIMEOUT(disconnected.count(), 1, WaitMs);
    // Without a dongle nothing is sent and nothing waits.
    rig.clearTagFrames();
    QCOMPARE(readBank1(rig.network(), 0x30), -1);
    QVERIFY(!rig.network()->writeMemoryBank1(Broadcast, 0x30, 1, true));
    QCOMPARE(query(rig.network(), 0x99), -1);
    QCOMPARE(rig.tagFrames().size(), 0);
    rig.network()->setDongle(rig.fixture().dongle());
}

void TestKeymarkNetwork::tagPulledOutInTheMiddle_data()
{
    QTest::addColumn<uint>("number");
    QTest::addColumn<int>("framesBeforePull");
    QTest::addColumn<uint>("value");
    // Maker parameter: number to 0x70, request to 0x74, 16-bit read of 0x72.
    QTest::newRow("current, after the number")  << 0x2000u << 1 << 700u;
    QTest::newRow("current, before the value")  << 0x2000u << 2 << 700u;
    // Bank-1 word beyond the tag: DTR1, DTR, then two READ MEMORY LOCATION.
    QTest::newRow("status word, between bytes") << 0x1084u << 3 << 0x4041u;
    QTest::newRow("status word, before DTR")    << 0x1084u << 1 << 0x4041u;
}

void TestKeymarkNetwork::tagPulledOutInTheMiddle()
{
    QFETCH(uint, number);
    QFETCH(int, framesBeforePull);
    QFETCH(uint, value);
    KeymarkRig rig;
    sim::SimTagConfig config;
    config.currents = {700, 350, 350, 350};
    config.ampwiseStatus = {0x4041};
    rig.withPort([&](SimKeymarkPort& port) {
        port.insertTag(config);
        port.pullOutTagAfter(framesBeforePull);
    });
    QVERIFY(rig.start());
    bool ok = true;
    QElapsedTimer timer;
    timer.start();
    QCOMPARE(rig.network()->readParameter(Broadcast, number, false, ok), 0u);
    QVERIFY(!ok);
    QVERIFY2(timer.elapsed() < 5000, "a missing tag must not hold the read up");

    rig.withPort([](SimKeymarkPort& port) { port.setTagPresent(true); });
    QCOMPARE(rig.network()->readParameter(Broadcast, number, false, ok), value);
    QVERIFY(ok);
}

void TestKeymarkNetwork::damagedRepliesAreRetried_data()
{
    QTest::addColumn<SimFault>("fault");
    QTest::addColumn<bool>("ok");
    QTest::addColumn<QByteArray>("lastFrame"); // of a failed read; empty: not checked
    QTest::newRow("garbled once")           << SimFault::garbled().forCode(0x02).next(1) << true  << QByteArray();
    QTest::newRow("garbled three times")    << SimFault::garbled().forCode(0x02).next(3) << false << QByteArray();
    QTest::newRow("cut to five bytes once") << SimFault::reply(5).forCode(0x02).next(1)  << true  << QByteArray();
    // The reply claims nine frame bytes; two arrive, and only they are kept.
    QTest::newRow("cut to five bytes")      << SimFault::reply(5).forCode(0x02)          << false << hex("D0 8D");
    QTest::newRow("header only")            << SimFault::reply(3).forCode(0x02)          << false << QByteArray();
    QTest::newRow("lost twice")             << SimFault::timeout().forCode(0x02).next(2) << true  << QByteArray();
    QTest::newRow("stalled twice")          << SimFault::stall().forCode(0x02).next(2)   << true  << QByteArray();
}

void TestKeymarkNetwork::damagedRepliesAreRetried()
{
    QFETCH(SimFault, fault);
    QFETCH(bool, ok);
    QFETCH(QByteArray, lastFrame);
    KeymarkRig rig;
    QVERIFY(rig.start());
    rig.simDongle().injectFault(fault);
    QCOMPARE(readBank1(rig.network(), 0x30), ok ? 70 : -1);
    if (!lastFrame.isEmpty()) {
        QCOMPARE(rig.network()->lastReplyFrame(), lastFrame);
        QCOMPARE(rig.network()->lastReplyStatus(), int(KeymarkNetwork::ErrorAnswerStatus));
        QCOMPARE(query(rig.network(), 0x99), -1); // a DALI query through it gets no answer either
    }
    rig.simDongle().clearFaults();
    // The write side, the same way.
    rig.simDongle().injectFault(fault);
    QCOMPARE(rig.network()->writeMemoryBank1(Broadcast, 0x31, 0x12, true), ok);
}

void TestKeymarkNetwork::misbehavingTagsFailTheRead_data()
{
    QTest::addColumn<SimKeymarkPort::ReplyFault>("fault");
    QTest::addColumn<int>("logged");
    QTest::newRow("bad checksum") << SimKeymarkPort::ReplyFault::BadChecksum << int(general::ERRCS);
    QTest::newRow("short frame")  << SimKeymarkPort::ReplyFault::ShortFrame  << int(general::FAILURE);
    QTest::newRow("long frame")   << SimKeymarkPort::ReplyFault::LongFrame   << int(general::FAILURE);
    QTest::newRow("silent")       << SimKeymarkPort::ReplyFault::Silent      << int(general::NOREPLY);
}

void TestKeymarkNetwork::misbehavingTagsFailTheRead()
{
    QFETCH(SimKeymarkPort::ReplyFault, fault);
    QFETCH(int, logged);
    KeymarkRig rig;
    rig.withPort([&](SimKeymarkPort& port) { port.setReplyFault(fault); });
    QVERIFY(rig.start());
    general::Log* log = rig.network()->log();
    log->clear();
    QCOMPARE(readBank1(rig.network(), 0x30), -1);
    QCOMPARE(rig.tagFrames().size(), KeymarkNetwork::Attempts);
    QVERIFY(!rig.network()->writeMemoryBank1(Broadcast, 0x31, 1, true));
    QCOMPARE(query(rig.network(), 0x99), -1);
    // Each attempt: the request, then the damaged answer as its log line marks it.
    QTRY_VERIFY_WITH_TIMEOUT(log->count() >= 2 * KeymarkNetwork::Attempts, WaitMs);
    for (int i = 0; i < 2 * KeymarkNetwork::Attempts; i += 2) {
        QCOMPARE(int(log->message(i)->type()), int(general::SEND));
        QCOMPARE(int(log->message(i + 1)->type()), logged);
    }
}

QTEST_GUILESS_MAIN(TestKeymarkNetwork)
#include "tst_keymarknetwork.moc"
