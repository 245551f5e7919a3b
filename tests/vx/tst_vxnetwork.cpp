// The Vx network on the virtual Portline: code 0x02 transactions with their
// statuses and log lines, replies that are short, long or garbled, the
// parameter list retrieval, the dongle's own parameters, and the DMX frames
// as the dongle receives them, sent from the output thread while other
// threads run Chorus transactions.

#include "dmx/dmxsetpoint.h"
#include "general/bytedata.h"
#include "general/input.h"
#include "general/iomanager.h"
#include "general/networklog.h"
#include "general/parameter.h"
#include "sim/simdongle.h"
#include "sim/simdriver.h"
#include "sim/simfault.h"
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
using general::MessageType;
using sim::SimDriver;
using vx::VxNetwork;

namespace {

constexpr int WaitMs = 5000;

QByteArray bytes(const char* hex)
{
    return QByteArray::fromHex(QByteArray(hex).replace(' ', ""));
}

// The last message of the network's log, once `count` messages are there.
const vx::VxNetworkLogMessage* lastFrameMessage(const VxNetwork* network)
{
    const general::NetworkLog* log = network->log();
    const int count = log->count();
    return count > 0 ? dynamic_cast<const vx::VxNetworkLogMessage*>(log->message(count - 1)) : nullptr;
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
    if (reply.size() < 12)
        return reply;
    quint32 sum = 0;
    for (int i = 3; i < 11; ++i)
        sum += quint8(reply[i]);
    reply[11] = char(sum & 0xFF);
    return reply;
}

} // namespace

class TestVxNetwork : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void readParameterSendsTheFrameAndReadsTheValue();
    void skipAddressedRead();
    void transactionStatusAndLog_data();
    void transactionStatusAndLog();
    void withoutDongleNothingIsSent();
    void damagedReplies_data();
    void damagedReplies();
    void parameterRetrievalListsTheDriversParameters();
    void parameterRetrievalRetriesTheProbeOnce();
    void parameterRetrievalStopsWhenNumbersDoNotGoUp_data();
    void parameterRetrievalStopsWhenNumbersDoNotGoUp();
    void initRunsOnce();
    void dongleParametersGoToTheDongle();
    void setpointBlocksOnTheLine_data();
    void setpointBlocksOnTheLine();
    void inputsDriveTheBuffer();
    void framesKeepComingDuringChorusTraffic();
    void intervalChangeFromAnotherThreadTakesEffect();
    void writingZeroToUpdateEnabledStopsFrames();
    void destructionJoinsTheOutputThread();
};

void TestVxNetwork::readParameterSendsTheFrameAndReadsTheValue()
{
    VxPortline portline;
    portline.line().addDriver(driverAt(0x0102));
    QVERIFY(portline.start());
    portline.recorder().setRecordPackets(true);
    VxNetwork* network = portline.network();

    quint16 value = 0;
    QCOMPARE(network->readParameter(0, 0x0102, 0x34, value), int(VxNetwork::StatusAnswer));
    QCOMPARE(value, quint16(0x5678));
    const QList<QByteArray> sent = portline.recorder().requests(0x02);
    QCOMPARE(sent.size(), 1);
    QCOMPARE(sent.first().toHex(' '), bytes("02 09 D0 0D 02 01 34 00 00 00 14").toHex(' '));

    QTRY_VERIFY_WITH_TIMEOUT(network->log()->count() >= 2, WaitMs);
    const int count = network->log()->count();
    const auto* send = dynamic_cast<const vx::VxNetworkLogMessage*>(network->log()->message(count - 2));
    const auto* reply = dynamic_cast<const vx::VxNetworkLogMessage*>(network->log()->message(count - 1));
    QVERIFY(send && reply);
    QCOMPARE(send->type(), general::SEND);
    QCOMPARE(send->msgClass(), general::CHORUS);
    QCOMPARE(send->text(), QStringLiteral("CHORUS  D0 0D 02 01 34 00 00 00 14 258       CH_EC_RDP"));
    QCOMPARE(reply->type(), general::REPLY);
    QCOMPARE(reply->frame().mid(6, 2), bytes("78 56"));
    QCOMPARE(reply->commandText(), QStringLiteral("CH_ER_RDPVAL"));
}

void TestVxNetwork::skipAddressedRead()
{
    VxPortline portline;
    const int chain = portline.line().addDriver(driverAt(7, 0x10));
    SimDriver second = driverAt(0, 0x20);
    second.setParameterValue(0x34, 0x2222);
    portline.line().addChainedDriver(chain, driverAt(0, 0x11));
    portline.line().addChainedDriver(chain, second);
    QVERIFY(portline.start());
    portline.recorder().setRecordPackets(true);

    quint16 value = 0;
    QCOMPARE(portline.network()->readParameter(2, 7, 0x34, value), int(VxNetwork::StatusAnswer));
    QCOMPARE(value, quint16(0x2222));
    QCOMPARE(portline.recorder().requests(0x02).first().mid(2).toHex(' '),
             bytes("D0 85 02 07 34 00 00 00 92").toHex(' '));
    quint32 guid = 0;
    QCOMPARE(portline.network()->readGuid(1, 7, guid), int(VxNetwork::StatusAnswer));
    QCOMPARE(guid, quint32(0x11));
    QCOMPARE(portline.network()->readGuid(3, 7, guid), int(VxNetwork::StatusNoAnswer));
}

void TestVxNetwork::transactionStatusAndLog_data()
{
    QTest::addColumn<int>("drivers");
    QTest::addColumn<int>("address");
    QTest::addColumn<int>("number");
    QTest::addColumn<int>("status");
    QTest::addColumn<MessageType>("lastLogType");
    QTest::addColumn<QString>("lastLogEnd");
    //                                       drivers address number status                          log type          text ends with
    QTest::newRow("answer")              << 1 << 0x0102 << 0x34 << int(VxNetwork::StatusAnswer)         << general::REPLY   << "CH_ER_RDPVAL";
    QTest::newRow("nobody at address")   << 1 << 0x0999 << 0x34 << int(VxNetwork::StatusNoAnswer)       << general::NOREPLY << "No answer";
    QTest::newRow("unknown parameter")   << 1 << 0x0102 << 0x77 << int(VxNetwork::StatusErrorReply)     << general::WARN    << "Unknown parameter";
    QTest::newRow("two answer at once")  << 2 << 0      << 0x34 << int(VxNetwork::StatusReceptionError) << general::FAILURE << "Error";
}

void TestVxNetwork::transactionStatusAndLog()
{
    QFETCH(int, drivers);
    QFETCH(int, address);
    QFETCH(int, number);
    QFETCH(int, status);
    QFETCH(MessageType, lastLogType);
    QFETCH(QString, lastLogEnd);
    VxPortline portline;
    for (int i = 0; i < drivers; ++i)
        portline.line().addDriver(driverAt(quint16(0x0102 + i), quint32(0x100 + i)));
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();

    quint16 value = 0xBEEF;
    QCOMPARE(network->readParameter(0, quint16(address), quint16(number), value), status);
    QCOMPARE(network->status(), status);
    if (status != VxNetwork::StatusAnswer)
        QCOMPARE(value, quint16(0xBEEF));
    QTRY_VERIFY_WITH_TIMEOUT(lastFrameMessage(network) && lastFrameMessage(network)->type() != general::SEND, WaitMs);
    QCOMPARE(lastFrameMessage(network)->type(), lastLogType);
    QVERIFY2(lastFrameMessage(network)->text().endsWith(lastLogEnd), qPrintable(lastFrameMessage(network)->text()));
}

void TestVxNetwork::withoutDongleNothingIsSent()
{
    VxPortline portline;
    portline.line().addDriver(driverAt(0x0102));
    QVERIFY(portline.start());
    portline.recorder().setRecordPackets(true);
    VxNetwork* network = portline.network();
    usb::USBDongle* dongle = network->dongle();
    network->setDongle(nullptr);
    const int logged = network->log()->count();

    quint16 value = 0;
    QCOMPARE(network->readParameter(0, 0x0102, 0x34, value), int(VxNetwork::StatusNoDongle));
    network->DMX_sendSetpoint();
    QVERIFY(portline.recorder().requests(0x02).isEmpty());
    QVERIFY(portline.recorder().requests(0x03).isEmpty());
    QTest::qWait(50);
    QCOMPARE(network->log()->count(), logged);
    network->setDongle(dongle);
    QCOMPARE(network->readParameter(0, 0x0102, 0x34, value), int(VxNetwork::StatusAnswer));
}

void TestVxNetwork::damagedReplies_data()
{
    using Rewriter = std::function<QByteArray(const QByteArray&)>;
    QTest::addColumn<Rewriter>("rewrite");
    QTest::addColumn<int>("status");
    QTest::addColumn<int>("answerLength");
    QTest::addColumn<MessageType>("lastLogType");

    //                                                   rewrite of the dongle's reply                       status / kept answer bytes / log
    QTest::newRow("answer cut to 5 bytes")           << Rewriter([](const QByteArray& r) { return r.left(8); })
                                                     << int(VxNetwork::StatusMalformedAnswer) << 5 << general::FAILURE;
    QTest::newRow("length byte only")                << Rewriter([](const QByteArray& r) { return r.left(3); })
                                                     << int(VxNetwork::StatusNoAnswer) << 0 << general::NOREPLY;
    QTest::newRow("two bytes")                       << Rewriter([](const QByteArray& r) { return r.left(2); })
                                                     << int(VxNetwork::StatusNoAnswer) << 0 << general::NOREPLY;
    QTest::newRow("claims 200 bytes, brings 61")     << Rewriter([](QByteArray r) { r[2] = char(200); return r + QByteArray(64 - r.size(), char(0xEE)); })
                                                     << int(VxNetwork::StatusMalformedAnswer) << 61 << general::FAILURE;
    QTest::newRow("answer of 12 bytes")              << Rewriter([](QByteArray r) { r[2] = char(12); return r + bytes("01 02 03"); })
                                                     << int(VxNetwork::StatusMalformedAnswer) << 12 << general::FAILURE;
    QTest::newRow("padding after the answer")        << Rewriter([](const QByteArray& r) { return r + QByteArray(20, char(0xEE)); })
                                                     << int(VxNetwork::StatusAnswer) << 9 << general::REPLY;
    QTest::newRow("answer checksum wrong")           << Rewriter([](QByteArray r) { r[11] = char(r[11] ^ 0x40); return r; })
                                                     << int(VxNetwork::StatusBadChecksum) << 9 << general::ERRCS;
    QTest::newRow("answer not a Chorus frame")       << Rewriter([](QByteArray r) { r[3] = char(0xCC); return r; })
                                                     << int(VxNetwork::StatusMalformedAnswer) << 9 << general::FAILURE;
    QTest::newRow("every byte garbled")              << Rewriter([](QByteArray r) { for (auto& c : r) c = char(c ^ 0xA5); return r; })
                                                     << int(VxNetwork::StatusNoAnswer) << 0 << general::FAILURE;
    QTest::newRow("dongle status 5 with bytes")      << Rewriter([](QByteArray r) { r[1] = 5; return r; })
                                                     << int(VxNetwork::StatusNoAnswer) << 0 << general::NOREPLY;
    QTest::newRow("unknown dongle status 7")         << Rewriter([](QByteArray r) { r[1] = 7; return r; })
                                                     << 7 << 9 << general::REPLY;
    QTest::newRow("error code, checksum fixed")      << Rewriter([](QByteArray r) { r[4] = char(0xCD); return fixAnswerChecksum(r); })
                                                     << int(VxNetwork::StatusErrorReply) << 9 << general::WARN;
}

void TestVxNetwork::damagedReplies()
{
    QFETCH(std::function<QByteArray(const QByteArray&)>, rewrite);
    QFETCH(int, status);
    QFETCH(int, answerLength);
    QFETCH(MessageType, lastLogType);
    VxPortline portline;
    portline.line().addDriver(driverAt(0x0102));
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    const int logged = network->log()->count();
    portline.recorder().setReplyRewriter([rewrite](const QByteArray& reply) {
        return !reply.isEmpty() && quint8(reply[0]) == 0x82 ? rewrite(reply) : reply;
    });

    quint16 value = 0xBEEF;
    QCOMPARE(network->readParameter(0, 0x0102, 0x34, value), status);
    QCOMPARE(network->answerLength(), answerLength);
    QVERIFY(network->answerLength() <= VxNetwork::MaxAnswerLength);
    QCOMPARE(value, status == VxNetwork::StatusAnswer ? quint16(0x5678) : quint16(0xBEEF));
    QTRY_COMPARE_WITH_TIMEOUT(network->log()->count(), logged + 2, WaitMs);
    QCOMPARE(lastFrameMessage(network)->type(), lastLogType);
}

void TestVxNetwork::parameterRetrievalListsTheDriversParameters()
{
    VxPortline portline;
    const SimDriver driver = driverAt(0x0102);
    portline.line().addDriver(driver);
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    QSignalSpy found(network, &VxNetwork::parameterFound);

    network->retrieveParameterList(0, 0x0102);
    QList<int> numbers;
    for (const QList<QVariant>& result : std::as_const(found)) {
        QCOMPARE(result.at(0).toInt(), 0);
        QCOMPARE(result.at(1).toInt(), 0x0102);
        numbers.append(result.at(2).toInt());
        QCOMPARE(result.at(3).toInt(), int(driver.typeWord(result.at(2).toInt())));
    }
    QCOMPARE(numbers, driver.parameterNumbers());

    const auto infoLines = [network] {
        QStringList lines;
        for (int i = 0; i < network->log()->count(); ++i) {
            const general::LogMessage* message = network->log()->message(i);
            if (message->type() == general::INFO)
                lines.append(message->text());
        }
        return lines;
    };
    QTRY_COMPARE_WITH_TIMEOUT(infoLines().size(), 2, WaitMs);
    QCOMPARE(infoLines().first(), QStringLiteral("Starting parameter list retrieval (0,258)"));
    QCOMPARE(infoLines().last(), QStringLiteral("Done with parameter list retrieval (0,258)"));
}

void TestVxNetwork::parameterRetrievalRetriesTheProbeOnce()
{
    VxPortline portline;
    portline.line().addDriver(driverAt(0x0102));
    QVERIFY(portline.start());
    QSignalSpy found(portline.network(), &VxNetwork::parameterFound);

    portline.simDongle().injectFault(sim::SimFault::timeout().forCode(0x02).next(1));
    portline.network()->retrieveParameterList(0, 0x0102);
    QVERIFY(found.size() > 10);

    found.clear();
    portline.simDongle().injectFault(sim::SimFault::timeout().forCode(0x02).next(2));
    portline.network()->retrieveParameterList(0, 0x0102);
    QCOMPARE(found.size(), 0);
}

void TestVxNetwork::parameterRetrievalStopsWhenNumbersDoNotGoUp_data()
{
    QTest::addColumn<int>("answeredNumber");
    QTest::addColumn<int>("expectedFound");
    QTest::newRow("always 5")  << 5 << 1;
    QTest::newRow("always 0")  << 0 << 0;
    QTest::newRow("always 255") << 255 << 1;
}

void TestVxNetwork::parameterRetrievalStopsWhenNumbersDoNotGoUp()
{
    QFETCH(int, answeredNumber);
    QFETCH(int, expectedFound);
    VxPortline portline;
    portline.line().addDriver(driverAt(0x0102));
    QVERIFY(portline.start());
    // A driver that answers every find-next with the same number.
    portline.recorder().setReplyRewriter([answeredNumber](QByteArray reply) {
        if (reply.size() >= 12 && quint8(reply[0]) == 0x82 && quint8(reply[4]) == 0x9D) {
            reply[7] = char(answeredNumber);
            reply = fixAnswerChecksum(reply);
        }
        return reply;
    });
    QSignalSpy found(portline.network(), &VxNetwork::parameterFound);
    portline.recorder().setRecordPackets(true);

    portline.network()->retrieveParameterList(0, 0x0102);
    QCOMPARE(found.size(), expectedFound);
    // One probe, then one find-next more than there are results.
    QCOMPARE(portline.recorder().requests(0x02).size(), 1 + expectedFound + 1);
}

void TestVxNetwork::initRunsOnce()
{
    VxPortline portline;
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    QCOMPARE(network->deviceCount(), 1);
    QCOMPARE(network->deviceAt(0)->name(), QStringLiteral("Broadcast Device"));
    general::Parameter* dmxBreak = network->findParameter(32);
    QVERIFY(dmxBreak);
    QCOMPARE(dmxBreak->name(), QStringLiteral("DMX break length"));
    QCOMPARE(dmxBreak->displayMode(), int(general::Parameter::ScaledMultiply));

    QSignalSpy initialized(network, &general::Network::networkInitialized);
    QVERIFY(QMetaObject::invokeMethod(network, &VxNetwork::init, Qt::QueuedConnection));
    QTRY_COMPARE_WITH_TIMEOUT(initialized.size(), 1, WaitMs);
    QCOMPARE(network->deviceCount(), 1);
    int breakParameters = 0;
    const std::function<void(general::TreeNode*)> count = [&](general::TreeNode* node) {
        for (general::TreeNode* child : node->childNodes()) {
            auto* param = qobject_cast<general::Parameter*>(child);
            if (param && (param->number() == 32 || param->number() == 33 || param->number() == 35))
                ++breakParameters;
            count(child);
        }
    };
    count(network);
    QCOMPARE(breakParameters, 3);
}

void TestVxNetwork::dongleParametersGoToTheDongle()
{
    VxPortline portline;
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
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
    //                                 count chorus  blocks in the order sent
    QTest::newRow("1")             << 1   << false << QList<int>{0};
    QTest::newRow("60")            << 60  << false << QList<int>{0};
    QTest::newRow("61")            << 61  << false << QList<int>{1, 0};
    QTest::newRow("120")           << 120 << false << QList<int>{1, 2, 0};
    QTest::newRow("512")           << 512 << false << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 0};
    QTest::newRow("512 chorus")    << 512 << true  << QList<int>{1, 2, 3, 4, 5, 6, 7, 8, 0};
    QTest::newRow("61 chorus")     << 61  << true  << QList<int>{1, 0};
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
        const int flags = (block == 0 && chorus) ? 0x10 : 0;
        QCOMPARE(int(quint8(packet[2]) & 0xF0), (block << 4) | flags);
        QCOMPARE(int(quint8(packet[3])), block == 0 && chorus ? 0x35 : 0);
        for (int slot = 0; slot < 60; ++slot) {
            const int address = block * 60 + slot + 1;
            const int expected = address <= 512 ? quint8(address * 7 + 3) : 0;
            QCOMPARE(int(quint8(packet[4 + slot])), expected);
        }
    }
    // The dongle put together the same frame.
    QCOMPARE(portline.simDongle().lastDmxFrame(), buffer->data().left(channelCount));
}

void TestVxNetwork::inputsDriveTheBuffer()
{
    VxPortline portline;
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    general::IOManager* io = network->ioManager();
    QCOMPARE(io->childCount(), dmx::DMXNetwork::InputCount);
    struct Row {
        int address;
        double value;
        int expected;
    };
    const Row rows[] = {{1, 1.0, 255}, {2, 0.5, 127}, {3, 0.0, 0}, {512, 0.999, 254}, {300, 1.5, 126}};
    for (const Row& row : rows) {
        auto* input = qobject_cast<general::Input*>(io->findIO(QStringLiteral("DMX Address %1").arg(row.address)));
        QVERIFY(input);
        QCOMPARE(input->index(), row.address);
        input->setValue(row.value);
    }
    for (const Row& row : rows)
        QTRY_COMPARE_WITH_TIMEOUT(int(network->getSetpoint()->getByte(quint16(row.address))), row.expected, WaitMs);
}

void TestVxNetwork::framesKeepComingDuringChorusTraffic()
{
    VxPortline portline;
    portline.line().addDriver(driverAt(0x0102));
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
            if (network->readParameter(0, 0x0102, 0x34, value) != VxNetwork::StatusAnswer || value != 0x5678)
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
    for (const QByteArray& packet : portline.recorder().requests(RecordingBackend::AnyCode)) {
        const int code = quint8(packet[0]);
        if (code == 0x03) {
            const int block = quint8(packet[2]) >> 4;
            if (block != expectedBlock)
                ++interleaved;
            expectedBlock = block == 8 ? 0 : (block == 0 ? 1 : block + 1);
        } else if (code == 0x02 && expectedBlock != 1) {
            ++interleaved;
        }
    }
    QCOMPARE(interleaved, 0);
}

void TestVxNetwork::intervalChangeFromAnotherThreadTakesEffect()
{
    QTest::failOnWarning(QRegularExpression(QStringLiteral("[Tt]imer")));
    VxPortline portline;
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    general::Parameter* enabled = network->findParameter(dmx::DMXNetwork::UpdateEnabledParameter);
    general::Parameter* rate = network->findParameter(dmx::DMXNetwork::UpdateRateParameter);
    QVERIFY(enabled && rate);
    QCOMPARE(rate->value(), 50);
    QVERIFY(network->setDMXTimerInterval(400));
    network->startDMXOutput();
    QTRY_VERIFY_WITH_TIMEOUT(portline.recorder().frameCount() >= 1, WaitMs);

    int readRate = 0;
    int readEnabled = 0;
    // Only the interval changes: the running timer is re-timed in its own thread.
    std::thread foreign([&] {
        rate->setValue(5, true);
        QVERIFY(rate->update(true));
        QVERIFY(enabled->update(true));
        readRate = rate->value();
        readEnabled = enabled->value();
    });
    foreign.join();
    QCOMPARE(readRate, 5);
    QCOMPARE(readEnabled, 1);

    // At 400 ms a second brings 2 or 3 frames; at 5 ms dozens.
    const int start = portline.recorder().frameCount();
    QTRY_VERIFY_WITH_TIMEOUT(portline.recorder().frameCount() >= start + 40, 3000);

    QSignalSpy announced(network, &dmx::DMXNetwork::dmxTimerIntervalChanged);
    std::thread([&] { network->setDMXTimerInterval(7); }).join();
    QCOMPARE(announced.size(), 1);
    QCOMPARE(announced.first().first().toUInt(), 7u);
    QCOMPARE(network->dmxTimerInterval(), 7);
    QVERIFY(!network->setDMXTimerInterval(0));
    QCOMPARE(network->dmxTimerInterval(), 7);
}

void TestVxNetwork::writingZeroToUpdateEnabledStopsFrames()
{
    VxPortline portline;
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    general::Parameter* enabled = network->findParameter(dmx::DMXNetwork::UpdateEnabledParameter);
    QVERIFY(network->setDMXTimerInterval(5));
    enabled->setValue(1, true);
    QTRY_VERIFY_WITH_TIMEOUT(portline.recorder().frameCount() >= 5, WaitMs);

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
