// The Vx network on the virtual Portline: code 0x02 transactions with their
// statuses and log lines, replies that are short, long or garbled, the
// parameter list retrieval, the dongle's own parameters, and the DMX frames
// as the dongle receives them, sent from the output thread while other
// threads run Chorus transactions.

#include "dmx/dmxsetpoint.h"
#include "general/networklog.h"
#include "general/parameter.h"
#include "sim/simdongle.h"
#include "sim/simdriver.h"
#include "sim/simfault.h"
#include "tests/support/queuedsignalcounter.h"
#include "tests/support/testhelpers.h"
#include "tests/vx/vxportline.h"
#include "usb/usbdongle.h"
#include "vx/vxnetwork.h"
#include "vx/vxnetworklogmessage.h"

#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

using namespace halvorn;
using test::hex;
using general::MessageType;
using sim::SimDriver;
using vx::VxNetwork;
using Rewriter = std::function<QByteArray(QByteArray)>;

namespace {

constexpr int WaitMs = 5000;
constexpr int Lid = 0x0102;

const general::LogMessage* logMessageFromEnd(const VxNetwork* network, int fromEnd)
{
    const int count = network->log()->count();
    return count > fromEnd ? network->log()->message(count - 1 - fromEnd) : nullptr;
}

// A driver with LID `lid` whose parameter 0x34 holds 0x5678.
SimDriver driverAt(quint16 lid, quint32 guid = 0x01020304)
{
    SimDriver driver = SimDriver::halvorn(guid, 0x485600000000ull | guid, lid);
    driver.defineParameter(0x34, 0x0000, 0x5678);
    return driver;
}

// Fixes the Chorus checksum of the answer inside a code 0x02 reply.
QByteArray fixAnswerChecksum(QByteArray reply)
{
    quint32 sum = 0;
    for (int i = 3; i < 11 && reply.size() >= 12; ++i)
        sum += quint8(reply[i]);
    if (reply.size() >= 12)
        reply[11] = char(sum & 0xFF);
    return reply;
}

// Rewrites the dongle's code 0x82 replies only.
void rewriteChorusReplies(VxPortline& portline, const Rewriter& rewrite)
{
    portline.recorder().setReplyRewriter([rewrite](const QByteArray& reply) {
        return quint8(reply[0]) == 0x82 ? rewrite(reply) : reply;
    });
}

// One code 0x02 transaction: who is on the line, what is asked, how the
// dongle's reply is damaged, and what must come of it.
struct Transaction
{
    int drivers = 1;
    int chained = 0; // behind the first driver, with 0x5678 + their place in 0x34
    int skip = 0;
    int address = Lid;
    int number = 0x34;
    Rewriter rewrite = nullptr;
    bool detached = false; // no dongle: nothing sent, nothing logged
    int status = VxNetwork::StatusAnswer;
    int kept = 9; // answer bytes kept
    MessageType logged = general::REPLY;
};

} // namespace

Q_DECLARE_METATYPE(Transaction)

class TestVxNetwork : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void transaction_data();
    void transaction();
    void parameterRetrieval_data();
    void parameterRetrieval();
    void dongleParametersAreMadeOnceAndGoToTheDongle();
    void setpointBlocksOnTheLine_data();
    void setpointBlocksOnTheLine();
    void framesKeepComingDuringChorusTraffic();
    void updateParametersFromAnotherThreadTakeEffect();
    void destructionJoinsTheOutputThread();
};

void TestVxNetwork::transaction_data()
{
    QTest::addColumn<Transaction>("t");
    const int NoAnswer = VxNetwork::StatusNoAnswer, Malformed = VxNetwork::StatusMalformedAnswer;
    using general::FAILURE, general::NOREPLY, general::WARN;
    QTest::newRow("answer")             << Transaction{};
    QTest::newRow("skip 2 in a chain")  << Transaction{.chained = 3, .skip = 2};
    QTest::newRow("no dongle")          << Transaction{.detached = true, .status = VxNetwork::StatusNoDongle};
    QTest::newRow("nobody at address")  << Transaction{.address = 0x999, .status = NoAnswer, .kept = 0, .logged = NOREPLY};
    QTest::newRow("unknown parameter")  << Transaction{.number = 0x77, .status = VxNetwork::StatusErrorReply, .logged = WARN};
    QTest::newRow("two answer at once") << Transaction{.drivers = 2, .address = 0, .status = VxNetwork::StatusReceptionError, .logged = FAILURE};
    QTest::newRow("answer cut to 5")    << Transaction{.rewrite = [](QByteArray r) { return r.left(8); }, .status = Malformed, .kept = 5, .logged = FAILURE};
    QTest::newRow("length byte only")   << Transaction{.rewrite = [](QByteArray r) { return r.left(3); }, .status = NoAnswer, .kept = 0, .logged = NOREPLY};
    QTest::newRow("claims 200 bytes")   << Transaction{.rewrite = [](QByteArray r) { r[2] = char(200); return r.leftJustified(64, '\xEE'); },
                                                       .status = Malformed, .kept = 61, .logged = FAILURE};
    QTest::newRow("answer of 12 bytes") << Transaction{.rewrite = [](QByteArray r) { r[2] = 12; return r + hex("01 02 03"); },
                                                       .status = Malformed, .kept = 12, .logged = FAILURE};
    QTest::newRow("padding after it")   << Transaction{.rewrite = [](QByteArray r) { return r + QByteArray(20, '\xEE'); }};
    QTest::newRow("checksum wrong")     << Transaction{.rewrite = [](QByteArray r) { r[11] = char(r[11] ^ 0x40); return r; },
                                                       .status = VxNetwork::StatusBadChecksum, .logged = general::ERRCS};
    QTest::newRow("not a Chorus frame") << Transaction{.rewrite = [](QByteArray r) { r[3] = char(0xCC); return r; }, .status = Malformed, .logged = FAILURE};
    QTest::newRow("every byte garbled") << Transaction{.rewrite = [](QByteArray r) { for (auto& c : r) c = char(c ^ 0xA5); return r; },
                                                       .status = NoAnswer, .kept = 0, .logged = FAILURE};
    QTest::newRow("dongle status 5")    << Transaction{.rewrite = [](QByteArray r) { r[1] = 5; return r; }, .status = NoAnswer, .kept = 0, .logged = NOREPLY};
    QTest::newRow("dongle status 7")    << Transaction{.rewrite = [](QByteArray r) { r[1] = 7; return r; }, .status = 7};
    QTest::newRow("error code")         << Transaction{.rewrite = [](QByteArray r) { r[4] = char(0xCD); return fixAnswerChecksum(r); },
                                                       .status = VxNetwork::StatusErrorReply, .logged = WARN};
}

void TestVxNetwork::transaction()
{
    QFETCH(Transaction, t);
    VxPortline portline;
    const int chain = portline.line().addDriver(driverAt(Lid, 0x100));
    for (int i = 1; i < t.drivers; ++i)
        portline.line().addDriver(driverAt(quint16(Lid + i), quint32(0x100 + i)));
    for (int place = 1; place <= t.chained; ++place) {
        SimDriver behind = driverAt(0, quint32(0x200 + place));
        behind.setParameterValue(0x34, quint16(0x5678 + place));
        portline.line().addChainedDriver(chain, behind);
    }
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    portline.recorder().setRecordPackets(true);
    if (t.rewrite)
        rewriteChorusReplies(portline, t.rewrite);
    if (t.detached)
        network->setDongle(nullptr);
    const int logCount = network->log()->count();

    quint16 value = 0xBEEF;
    QCOMPARE(network->readParameter(quint16(t.skip), quint16(t.address), quint16(t.number), value), t.status);
    QCOMPARE(network->status(), t.status);
    QCOMPARE(value, t.status == VxNetwork::StatusAnswer ? quint16(0x5678 + t.skip) : quint16(0xBEEF));
    if (t.detached) {
        network->DMX_sendSetpoint();
        QVERIFY(portline.recorder().requests(PacketRecorder::AnyCode).isEmpty());
        QTest::qWait(50);
        QCOMPARE(network->log()->count(), logCount);
        network->setDongle(portline.dongle());
        QCOMPARE(network->readParameter(0, Lid, 0x34, value), int(VxNetwork::StatusAnswer));
        return;
    }
    QCOMPARE(network->answerLength(), t.kept);
    const QList<QByteArray> sent = portline.recorder().requests(0x02);
    QCOMPARE(sent.size(), 1);
    if (t.address == Lid && t.number == 0x34)
        QCOMPARE(sent.first().toHex(' '), (t.skip ? hex("02 09") + test::checksummed("D0 85 02 02 34 00 00 00")
                                                  : hex("02 09 D0 0D 02 01 34 00 00 00 14")).toHex(' '));
    // The request and what came of it.
    QTRY_COMPARE_WITH_TIMEOUT(network->log()->count(), logCount + 2, WaitMs);
    QCOMPARE(logMessageFromEnd(network, 1)->type(), general::SEND);
    QCOMPARE(logMessageFromEnd(network, 0)->type(), t.logged);
    QCOMPARE(logMessageFromEnd(network, 0)->msgClass(), general::CHORUS);
}

void TestVxNetwork::parameterRetrieval_data()
{
    QTest::addColumn<int>("lostProbes");
    QTest::addColumn<int>("answeredNumber"); // every find-next answers this number; -1: the driver's own
    QTest::addColumn<int>("found");          // -1: all of the driver's
    QTest::newRow("every parameter")         << 0 << -1  << -1;
    QTest::newRow("probe retried once")      << 1 << -1  << -1;
    QTest::newRow("probe lost twice")        << 2 << -1  << 0;
    QTest::newRow("numbers stuck at 5")      << 0 << 5   << 1;
    QTest::newRow("numbers stuck at 0")      << 0 << 0   << 0;
    QTest::newRow("numbers stuck at 255")    << 0 << 255 << 1;
}

void TestVxNetwork::parameterRetrieval()
{
    QFETCH(int, lostProbes);
    QFETCH(int, answeredNumber);
    QFETCH(int, found);
    VxPortline portline;
    const SimDriver driver = driverAt(Lid);
    portline.line().addDriver(driver);
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    portline.recorder().setRecordPackets(true);
    if (lostProbes > 0)
        portline.simDongle().injectFault(sim::SimFault::timeout().forCode(0x02).next(lostProbes));
    if (answeredNumber >= 0) {
        rewriteChorusReplies(portline, [answeredNumber](QByteArray reply) {
            if (reply.size() < 12 || quint8(reply[4]) != 0x9D)
                return reply;
            reply[7] = char(answeredNumber);
            return fixAnswerChecksum(reply);
        });
    }
    QSignalSpy parameterFound(network, &VxNetwork::parameterFound);
    const int logCount = network->log()->count();

    network->retrieveParameterList(0, Lid);
    if (found < 0) {
        QList<int> numbers;
        for (const QList<QVariant>& result : std::as_const(parameterFound)) {
            QCOMPARE(result.at(0).toInt(), 0);
            QCOMPARE(result.at(1).toInt(), int(Lid));
            numbers.append(result.at(2).toInt());
            QCOMPARE(result.at(3).toInt(), int(driver.typeWord(numbers.last())));
        }
        QCOMPARE(numbers, driver.parameterNumbers());
        found = int(numbers.size());
    }
    QCOMPARE(parameterFound.size(), found);
    // The probe (tried twice at most), one find-next per parameter and the one that ends the list.
    QCOMPARE(portline.recorder().requests(0x02).size(), lostProbes < 2 ? lostProbes + 1 + found + 1 : 2);
    QTRY_VERIFY_WITH_TIMEOUT(network->log()->count() > logCount, WaitMs);
    QCOMPARE(network->log()->message(logCount)->text(), QStringLiteral("Starting parameter list retrieval (0,258)"));
    QTRY_COMPARE_WITH_TIMEOUT(logMessageFromEnd(network, 0)->text(), QStringLiteral("Done with parameter list retrieval (0,258)"), WaitMs);
}

void TestVxNetwork::dongleParametersAreMadeOnceAndGoToTheDongle()
{
    VxPortline portline;
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    // A second init makes nothing twice.
    test::QueuedSignalCounter initialized(network, &general::Network::networkInitialized);
    QVERIFY(QMetaObject::invokeMethod(network, &VxNetwork::init, Qt::QueuedConnection));
    QTRY_COMPARE_WITH_TIMEOUT(initialized.count(), 1, WaitMs);
    QCOMPARE(network->deviceCount(), 1);
    QCOMPARE(network->deviceAt(0)->name(), QStringLiteral("Broadcast Device"));
    int breakParameters = 0;
    const std::function<void(general::TreeNode*)> count = [&](general::TreeNode* node) {
        for (general::TreeNode* child : node->childNodes()) {
            auto* param = qobject_cast<general::Parameter*>(child);
            breakParameters += param && (param->number() == 32 || param->number() == 33 || param->number() == 35);
            count(child);
        }
    };
    count(network);
    QCOMPARE(breakParameters, 3);

    portline.simDongle().setParameter(sim::SimDongle::ChorusBreakLengthAddress, 7);
    general::Parameter* chorusBreak = network->chorusBreakLength();
    QVERIFY(chorusBreak->update(true));
    QCOMPARE(chorusBreak->value(), 7);
    chorusBreak->setValue(12, true);
    QCOMPARE(portline.simDongle().parameter(sim::SimDongle::ChorusBreakLengthAddress), quint16(12));
    QCOMPARE(chorusBreak->formatValue(chorusBreak->displayMode(), chorusBreak->value()), QStringLiteral("8.000"));
    network->setDongle(nullptr);
    bool ok = true;
    network->downloadParameter(chorusBreak, ok);
    QVERIFY(!ok);
    network->setDongle(portline.dongle());
}

void TestVxNetwork::setpointBlocksOnTheLine_data()
{
    QTest::addColumn<int>("channelCount");
    QTest::addColumn<bool>("chorus");
    QTest::addColumn<QList<int>>("blocks");
    //                             count chorus  blocks in the order sent
    QTest::newRow("1")          << 1   << false << QList<int>{0};
    QTest::newRow("60")         << 60  << false << QList<int>{0};
    QTest::newRow("61")         << 61  << false << QList<int>{1, 0};
    QTest::newRow("120")        << 120 << false << QList<int>{1, 2, 0};
    QTest::newRow("512")        << 512 << false << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 0};
    QTest::newRow("512 chorus") << 512 << true  << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 0};
    QTest::newRow("61 chorus")  << 61  << true  << QList<int>{1, 0};
}

void TestVxNetwork::setpointBlocksOnTheLine()
{
    QFETCH(int, channelCount);
    QFETCH(bool, chorus);
    QFETCH(QList<int>, blocks);
    VxPortline portline;
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    dmx::DMXSetpoint* buffer = network->getSetpoint();
    buffer->setChannelCount(quint16(channelCount));
    for (int address = 1; address <= dmx::DMXSetpoint::SlotCount; ++address)
        buffer->setByte(quint16(address), quint8(address * 7 + 3));
    buffer->setChorusOutput(chorus);
    buffer->setSetpointType(3);
    buffer->setClusterModeIndex(5);
    portline.recorder().setRecordPackets(true);

    network->DMX_sendSetpoint();

    const QList<QByteArray> packets = portline.recorder().requests(0x03);
    QCOMPARE(packets.size(), blocks.size());
    for (int i = 0; i < packets.size(); ++i) {
        const QByteArray& packet = packets[i];
        const int block = blocks[i];
        QCOMPARE(packet.size(), 64);
        QCOMPARE(int(quint8(packet[1])), channelCount & 0xFF);
        QCOMPARE(int(quint8(packet[2]) & 0x0F), (channelCount >> 8) & 0x0F);
        QCOMPARE(int(quint8(packet[2]) & 0xF0), (block << 4) | (block == 0 && chorus ? 0x10 : 0));
        QCOMPARE(int(quint8(packet[3])), block == 0 && chorus ? 0x35 : 0);
        for (int slot = 0; slot < 60; ++slot) {
            const int address = block * 60 + slot + 1;
            QCOMPARE(int(quint8(packet[4 + slot])), address <= 512 ? quint8(address * 7 + 3) : 0);
        }
    }
    // The dongle put together the same frame.
    QCOMPARE(portline.simDongle().lastDmxFrame(), buffer->data().left(channelCount));
}

void TestVxNetwork::framesKeepComingDuringChorusTraffic()
{
    VxPortline portline;
    portline.line().addDriver(driverAt(Lid));
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    portline.recorder().setRecordPackets(true);
    QVERIFY(network->setDMXTimerInterval(10));
    network->startDMXOutput();

    std::atomic<bool> stop{false};
    std::atomic<int> reads{0};
    std::atomic<int> failures{0};
    std::thread chorusThread([&] {
        while (!stop) {
            quint16 value = 0;
            if (network->readParameter(0, Lid, 0x34, value) != VxNetwork::StatusAnswer || value != 0x5678)
                ++failures;
            ++reads;
        }
    });
    const int before = portline.recorder().frameCount();
    QTRY_VERIFY_WITH_TIMEOUT(portline.recorder().frameCount() >= before + 20 && reads >= 200, 10000);
    stop = true;
    chorusThread.join();
    network->stopDMXOutput();
    QCOMPARE(failures.load(), 0);

    // Nothing came between the blocks of a frame: in the order the dongle
    // received them, every run of set-point blocks is 1..8 and then 0.
    int expectedBlock = 1;
    int interleaved = 0;
    for (const QByteArray& packet : portline.recorder().requests(PacketRecorder::AnyCode)) {
        if (packet[0] == 0x03) {
            const int block = quint8(packet[2]) >> 4;
            interleaved += block != expectedBlock;
            expectedBlock = block == 8 ? 0 : (block == 0 ? 1 : block + 1);
        } else if (packet[0] == 0x02 && expectedBlock != 1) {
            ++interleaved;
        }
    }
    QCOMPARE(interleaved, 0);
}

void TestVxNetwork::updateParametersFromAnotherThreadTakeEffect()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("[Tt]imer")));
    VxPortline portline;
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    general::Parameter* enabled = network->findParameter(dmx::DMXNetwork::UpdateEnabledParameter);
    general::Parameter* rate = network->findParameter(dmx::DMXNetwork::UpdateRateParameter);
    QVERIFY(enabled && rate);
    QVERIFY(network->setDMXTimerInterval(400));
    enabled->setValue(1, true);
    QTRY_VERIFY_WITH_TIMEOUT(portline.recorder().frameCount() >= 1, WaitMs);

    // Only the interval changes: the running timer is re-timed in its own thread.
    int readRate = 0;
    std::thread([&] {
        rate->setValue(5, true);
        if (rate->update(true))
            readRate = rate->value();
    }).join();
    QCOMPARE(readRate, 5);
    // At 400 ms a second brings 2 or 3 frames; at 5 ms dozens.
    const int start = portline.recorder().frameCount();
    QTRY_VERIFY_WITH_TIMEOUT(portline.recorder().frameCount() >= start + 40, 3000);

    QSignalSpy announced(network, &dmx::DMXNetwork::dmxTimerIntervalChanged);
    std::thread([&] { network->setDMXTimerInterval(7); }).join();
    QCOMPARE(announced.size(), 1);
    QCOMPARE(announced.first().first().toUInt(), 7u);
    QVERIFY(!network->setDMXTimerInterval(0));
    QCOMPARE(network->dmxTimerInterval(), 7);

    enabled->setValue(0, true);
    QVERIFY(enabled->update(true));
    QCOMPARE(enabled->value(), 0);
    QTest::qWait(100); // a frame under way when the stop arrived may still finish
    const int stoppedAt = portline.recorder().frameCount();
    QTest::qWait(200);
    QCOMPARE(portline.recorder().frameCount(), stoppedAt);
}

void TestVxNetwork::destructionJoinsTheOutputThread()
{
    VxPortline portline;
    QVERIFY(portline.start());
    portline.network()->stopDMXOutput();

    auto* network = new VxNetwork(portline.dongle());
    QPointer<QThread> outputThread = network->outputThread();
    QVERIFY(network->setDMXTimerInterval(1));
    network->startDMXOutput();
    QTRY_VERIFY_WITH_TIMEOUT(portline.recorder().frameCount() >= 10, WaitMs);

    delete network;
    QVERIFY(outputThread.isNull());
    const int afterDelete = portline.recorder().frameCount();
    QTest::qWait(100);
    QCOMPARE(portline.recorder().frameCount(), afterDelete);
}

QTEST_GUILESS_MAIN(TestVxNetwork)
#include "tst_vxnetwork.moc"
