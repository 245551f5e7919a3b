// Frames of the DMX line's command/reply protocols, checked without a
// dongle: Chorus frames and their names, the decoded log line, RDM requests
// (against OLA's RDM library), E1.20 discovery responses (against OLA's
// DiscoveryAgent), and driver parameters made from their type words.

#include "general/bytedata.h"
#include "sim/simrdmpacket.h"
#include "tests/support/testhelpers.h"
#include "tests/vx/oladiscovery.h"
#include "vx/chorusframe.h"
#include "vx/rdmdiscoveryresponse.h"
#include "vx/rdmpacket.h"
#include "vx/vxnetwork.h"
#include "vx/vxnetworklogmessage.h"
#include "vx/vxparameter.h"

#include <ola/io/ByteString.h>
#include <ola/rdm/RDMCommand.h>
#include <ola/rdm/RDMCommandSerializer.h>
#include <ola/rdm/UID.h>

#include <QRandomGenerator>
#include <QTest>

#include <memory>
#include <optional>

using namespace halvorn;
using test::hex;
using general::MessageType;


namespace {

const quint8* data(const QByteArray& array)
{
    return reinterpret_cast<const quint8*>(array.constData());
}

QByteArray withRdmChecksum(QByteArray message)
{
    const quint16 sum = vx::RDMPacket::checksum(data(message), int(message.size()));
    message.append(char(sum >> 8));
    message.append(char(sum & 0xFF));
    return message;
}

std::optional<quint64> ourDecode(const QByteArray& answer)
{
    return vx::RDMDiscoveryResponse::decode(data(answer), int(answer.size())).uid;
}

// What OLA's discovery makes of a DISC_UNIQUE_BRANCH answer heard for the whole range.
std::optional<quint64> olaDecode(const QByteArray& answer)
{
    OlaDiscovery ola;
    bool first = true;
    ola.branch = [&](quint64, quint64) {
        QByteArray heard = first ? answer : QByteArray();
        first = false;
        return heard;
    };
    const std::set<quint64> found = ola.run();
    if (found.size() == 1)
        return *found.begin();
    return std::nullopt;
}

ola::rdm::UID olaUid(quint64 uid)
{
    return ola::rdm::UID(quint16(uid >> 32), quint32(uid & 0xFFFFFFFF));
}

QByteArray olaBytes(const ola::rdm::RDMRequest& request)
{
    ola::io::ByteString packed;
    if (!ola::rdm::RDMCommandSerializer::PackWithStartCode(request, &packed))
        return QByteArray();
    return QByteArray(reinterpret_cast<const char*>(packed.data()), qsizetype(packed.size()));
}

// A request built by our network and OLA's for the same source.
using Ours = std::function<void(vx::VxNetwork&)>;
using Theirs = std::function<ola::rdm::RDMRequest*(const ola::rdm::UID& source)>;

struct ChorusCommand
{
    quint8 code;
    quint16 skip, address, word0, word1;
    QByteArray frame;
};

struct TypedParameter
{
    uint number;
    quint16 typeWord;
    int type, min, max, mask;
    bool readOnly;
    const char* name;
};

} // namespace

Q_DECLARE_METATYPE(ChorusCommand)
Q_DECLARE_METATYPE(TypedParameter)

class TestVxFrames : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void chorusCommandFrames_data();
    void chorusCommandFrames();
    void logMessageDecodesFrame_data();
    void logMessageDecodesFrame();
    void logMessageKeepsAtMost64Bytes();
    void rdmRequestsAgreeWithOla_data();
    void rdmRequestsAgreeWithOla();
    void transactionNumbersCountUpAndWrap();
    void oversizedRdmRequestIsNotBuilt();
    void discoveryResponseDecoding_data();
    void discoveryResponseDecoding();
    void discoveryDecodingAgreesWithOlaOnEveryCorruption();
    void parameterFromTypeWord_data();
    void parameterFromTypeWord();
};

void TestVxFrames::chorusCommandFrames_data()
{
    QTest::addColumn<ChorusCommand>("command");
    //                                                      code  skip address word0 word1   frame (with checksum)
    QTest::newRow("read 0x34 of LID 0x0102") << ChorusCommand{0x0D, 0, 0x0102, 0x34, 0,      hex("D0 0D 02 01 34 00 00 00 14")};
    QTest::newRow("read 0x34 skip 3")        << ChorusCommand{0x0D, 3, 0x0102, 0x34, 0,      hex("D0 85 03 02 34 00 00 00 8E")};
    QTest::newRow("write flag 57 set")       << ChorusCommand{0x0E, 0, 1,      57,   0xFFFF, hex("D0 0E 01 00 39 00 FF FF 16")};
    QTest::newRow("write skip 1")            << ChorusCommand{0x0E, 1, 0x0305, 2,    0x1234, hex("D0 86 01 05 02 00 34 12 A4")};
    QTest::newRow("find next broadcast")     << ChorusCommand{0x1D, 0, 0,      0,    0,      hex("D0 1D 00 00 00 00 00 00 ED")};
    QTest::newRow("find next skip 4")        << ChorusCommand{0x1D, 4, 9,      12,   0,      hex("D0 95 04 09 0C 00 00 00 7E")};
    QTest::newRow("guid skip 1")             << ChorusCommand{0x08, 1, 7,      0,    0,      hex("D0 80 01 07 00 00 00 00 58")};
}

void TestVxFrames::chorusCommandFrames()
{
    QFETCH(ChorusCommand, command);
    const auto built = vx::ChorusFrame::command(command.code, command.skip, command.address, command.word0, command.word1);
    QCOMPARE(built.toByteArray().toHex(' '), command.frame.toHex(' '));
    QVERIFY(vx::ChorusFrame::isValid(built.data(), vx::ChorusFrame::Length));
}

void TestVxFrames::logMessageDecodesFrame_data()
{
    QTest::addColumn<QByteArray>("frame");
    QTest::addColumn<MessageType>("typeGiven");
    QTest::addColumn<MessageType>("typeAfter");
    QTest::addColumn<QString>("text");
    const auto pad = [](int width) { return QString(width, QLatin1Char(' ')); };
    const auto rdmText = [](const char* kind, const QByteArray& frame) {
        return QLatin1String(kind) + QString::fromLatin1(frame.toHex(' ').toUpper()) + QString(11, QLatin1Char(' '));
    };
    const QByteArray dub = withRdmChecksum(hex("CC 01 24 FF FF FF FF FF FF 7F F0 54 56 00 01 01 00 00 00 00 10 00 01 0C "
                                                 "00 00 00 00 00 00 FF FF FF FF FF FF"));
    const QByteArray getResponse = withRdmChecksum(hex("CC 01 1A 7F F0 54 56 00 01 12 34 56 78 9A BC 05 00 00 00 00 21 80 D0 02 00 A1"));
    QByteArray badRdm = getResponse;
    badRdm[badRdm.size() - 1] = char(badRdm.back() ^ 0x10);
    const QByteArray oddClass = withRdmChecksum(hex("CC 01 18 FF FF FF FF FF FF 7F F0 54 56 00 01 01 00 00 00 00 40 00 01 00"));
    const QByteArray rdmShort = hex("CC 01 18 FF FF FF FF FF FF 7F F0 54 56 00 01 01 00 00 00 00 10");
    using general::SEND, general::REPLY, general::WARN, general::ERRCS, general::FAILURE, general::NOREPLY;

    QTest::newRow("chorus read sent")       << hex("D0 0D 02 01 34 00 00 00 14") << SEND << SEND
                                            << "CHORUS  D0 0D 02 01 34 00 00 00 14 258       CH_EC_RDP";
    QTest::newRow("chorus value answer")    << hex("D0 8D 02 01 34 00 78 56 62") << REPLY << REPLY
                                            << "CHORUS  D0 8D 02 01 34 00 78 56 62 258       CH_ER_RDPVAL";
    QTest::newRow("chorus error answer")    << hex("D0 CD 02 01 34 00 01 00 D5") << REPLY << WARN
                                            << "CHORUS  D0 CD 02 01 34 00 01 00 D5 258       Unknown parameter";
    QTest::newRow("chorus bad checksum")    << hex("D0 8D 02 01 34 00 78 56 63") << REPLY << ERRCS
                                            << "CHORUS  D0 8D 02 01 34 00 78 56 63 258       CH_ER_RDPVAL" + pad(28) + "Checksum error";
    QTest::newRow("chorus skip command")    << hex("D0 85 03 02 34 00 00 00 8E") << SEND << SEND
                                            << "CHORUS  D0 85 03 02 34 00 00 00 8E SKIP 3    CH_EC_RDP (skip)";
    QTest::newRow("chorus broadcast")       << hex("D0 1D 00 00 00 00 00 00 ED") << SEND << SEND
                                            << "CHORUS  D0 1D 00 00 00 00 00 00 ED BROADCAST CH_EC_FINDNEXT";
    QTest::newRow("chorus answer of 5")     << hex("D0 8D 02 01 34") << REPLY << FAILURE
                                            << "CHORUS  D0 8D 02 01 34 258       CH_ER_RDPVAL" + pad(28) + "Error";
    QTest::newRow("chorus answer of 2")     << hex("D0 8D") << REPLY << FAILURE
                                            << "CHORUS  D0 8D " + pad(12) + "CH_ER_RDPVAL" + pad(28) + "Error";
    QTest::newRow("failure decodes nothing") << hex("D0 8D 02 01 34 00 78 56 62") << FAILURE << FAILURE
                                            << pad(8) + "D0 8D 02 01 34 00 78 56 62 " + pad(50) + "Error";
    QTest::newRow("missing answer")         << QByteArray() << NOREPLY << NOREPLY << pad(66) + "No answer";
    QTest::newRow("rdm discovery request")  << dub << SEND << SEND << rdmText("RDM DISC", dub);
    QTest::newRow("rdm get response")       << getResponse << REPLY << REPLY << rdmText("RDM GET ", getResponse);
    QTest::newRow("rdm bad checksum")       << badRdm << REPLY << ERRCS << rdmText("RDM GET ", badRdm) + pad(40) + "Checksum error";
    QTest::newRow("rdm unknown class")      << oddClass << SEND << SEND << rdmText("RDM     ", oddClass);
    QTest::newRow("rdm too short")          << rdmShort << REPLY << FAILURE << rdmText("RDM     ", rdmShort) + pad(40) + "Error";
    QTest::newRow("dmx-class frame")        << hex("03 00 02") << SEND << SEND << pad(8) + "03 00 02 " + pad(10);
}

void TestVxFrames::logMessageDecodesFrame()
{
    QFETCH(QByteArray, frame);
    QFETCH(MessageType, typeGiven);
    QFETCH(MessageType, typeAfter);
    QFETCH(QString, text);
    const vx::VxNetworkLogMessage message(general::CHORUS, typeGiven, nullptr, data(frame), int(frame.size()));
    QVERIFY(message.isClassified());
    QCOMPARE(message.type(), typeAfter);
    QCOMPARE(message.text(), text);
    QCOMPARE(message.toolTip(), QString());
}

void TestVxFrames::logMessageKeepsAtMost64Bytes()
{
    QByteArray longFrame(100, char(0xD0));
    const vx::VxNetworkLogMessage message(general::CHORUS, general::REPLY, nullptr, data(longFrame), 100);
    QCOMPARE(message.frameLength(), 64);
    QCOMPARE(message.frame(), longFrame.left(64));
    QCOMPARE(message.type(), general::FAILURE);
}

void TestVxFrames::rdmRequestsAgreeWithOla_data()
{
    QTest::addColumn<Ours>("ours");
    QTest::addColumn<Theirs>("theirs");
    static constexpr quint64 uid = 0x123456789ABCull;
    static constexpr quint64 all = 0xFFFFFFFFFFFFull;
    static const uint8_t lid1[] = {0x00, 0xA1, 0x00, 0x01};
    static const uint8_t number9[] = {0x00, 0x09};
    // Transaction number 1 (a network's first request), port 0.
    QTest::newRow("unique branch whole range")
        << Ours([](vx::VxNetwork& n) { n.rdmDiscUniqueBranch(0, all); })
        << Theirs([](auto& src) { return ola::rdm::NewDiscoveryUniqueBranchRequest(src, olaUid(0), olaUid(all), 1, 0); });
    QTest::newRow("unique branch one uid")
        << Ours([](vx::VxNetwork& n) { n.rdmDiscUniqueBranch(uid, uid); })
        << Theirs([](auto& src) { return ola::rdm::NewDiscoveryUniqueBranchRequest(src, olaUid(uid), olaUid(uid), 1, 0); });
    QTest::newRow("mute")
        << Ours([](vx::VxNetwork& n) { n.rdmDiscMute(uid); })
        << Theirs([](auto& src) { return ola::rdm::NewMuteRequest(src, olaUid(uid), 1, 0); });
    QTest::newRow("un-mute broadcast")
        << Ours([](vx::VxNetwork& n) { n.rdmDiscUnMute(all); })
        << Theirs([](auto& src) { return ola::rdm::NewUnMuteRequest(src, olaUid(all), 1, 0); });
    QTest::newRow("set lid 1")
        << Ours([](vx::VxNetwork& n) { n.rdmRequest(0x485600000001ull, 0x30, 0x80D0, hex("00 A1 00 01")); })
        << Theirs([](auto& src) { return new ola::rdm::RDMSetRequest(src, olaUid(0x485600000001ull), 1, 0, 0, 0x80D0, lid1, 4); });
    QTest::newRow("get driver parameter")
        << Ours([](vx::VxNetwork& n) { n.rdmRequest(0x7FFF00000000ull, 0x20, 0x80D0, hex("00 09")); })
        << Theirs([](auto& src) { return new ola::rdm::RDMGetRequest(src, olaUid(0x7FFF00000000ull), 1, 0, 0, 0x80D0, number9, 2); });
}

void TestVxFrames::rdmRequestsAgreeWithOla()
{
    QFETCH(Ours, ours);
    QFETCH(Theirs, theirs);
    vx::VxNetwork network(nullptr);
    ours(network);
    const std::unique_ptr<ola::rdm::RDMRequest> expected(theirs(olaUid(vx::VxNetwork::SourceUid)));
    QCOMPARE(network.internalPacket()->bytes().toHex(' '), olaBytes(*expected).toHex(' '));
}

void TestVxFrames::transactionNumbersCountUpAndWrap()
{
    vx::VxNetwork network(nullptr);
    for (int i = 1; i <= 256; ++i) {
        network.rdmDiscMute(0x123456789ABCull);
        QCOMPARE(int(quint8(network.internalPacket()->bytes().at(15))), i & 0xFF);
    }
    QCOMPARE(int(network.transactionNumber()), 0);
}

void TestVxFrames::oversizedRdmRequestIsNotBuilt()
{
    vx::VxNetwork network(nullptr);
    network.rdmRequest(1, 0x30, 0x80D0, QByteArray(37, 'x'));
    QCOMPARE(network.internalPacket()->count(), 0);
    network.rdmRequest(1, 0x30, 0x80D0, QByteArray(36, 'x'));
    QCOMPARE(network.internalPacket()->count(), 62);
}

void TestVxFrames::discoveryResponseDecoding_data()
{
    QTest::addColumn<QByteArray>("answer");
    QTest::addColumn<bool>("decodes");
    QTest::addColumn<quint64>("uid");
    QTest::addColumn<bool>("compareWithOla");

    const QByteArray example = hex("FE FE FE FE FE FE FE AA BA 57 BE 75 FE 57 FA 7D BA DF BE FD AA 5D EE 75");
    QByteArray badChecksum = example;
    badChecksum[21] = char(0x56);
    const QByteArray encoded = example.mid(8);
    // Responders answering together leave the AND of their bytes on the line.
    const auto overlaid = [](quint64 a, quint64 b) {
        QByteArray line = sim::SimRdmPacket::discoveryAnswer(a);
        const QByteArray other = sim::SimRdmPacket::discoveryAnswer(b);
        for (int i = 0; i < line.size(); ++i)
            line[i] = char(line[i] & other[i]);
        return line;
    };

    //                                        answer                                        decodes  uid                 vs OLA
    QTest::newRow("example 12:34:56:78:9a:bc")  << example                                     << true  << 0x123456789ABCull << true;
    QTest::newRow("example, checksum changed")  << badChecksum                                 << false << quint64(0)        << true;
    QTest::newRow("no preamble")                << QByteArray(1, char(0xAA)) + encoded         << true  << 0x123456789ABCull << true;
    QTest::newRow("eight preamble bytes")       << QByteArray(8, char(0xFE)) + QByteArray(1, char(0xAA)) + encoded
                                                << true  << 0x123456789ABCull << false;
    QTest::newRow("nine preamble bytes")        << QByteArray(9, char(0xFE)) + QByteArray(1, char(0xAA)) + encoded
                                                << false << quint64(0)        << false;
    QTest::newRow("one byte short")             << example.left(23)                            << false << quint64(0)        << true;
    QTest::newRow("only the preamble")          << example.left(8)                             << false << quint64(0)        << true;
    QTest::newRow("nothing")                    << QByteArray()                                << false << quint64(0)        << false;
    QTest::newRow("noise before the separator") << hex("FE FE 00") + example.mid(7)          << false << quint64(0)        << true;
    QTest::newRow("two responders overlaid")    << overlaid(0x123456789ABCull, 0x485612345678ull)
                                                << false << quint64(0)        << true;
    // E1.20's encoding cannot tell this one from a clean answer: the bits
    // in which the two UIDs differ are cleared, checksum included.
    QTest::newRow("overlaid one bit apart")     << overlaid(0x123456789ABCull, 0x123456789ABDull)
                                                << true  << 0x123456789ABCull << true;
    QTest::newRow("simulated driver, uid 0")    << sim::SimRdmPacket::discoveryAnswer(0)       << true  << quint64(0)        << true;
    QTest::newRow("simulated driver, highest")  << sim::SimRdmPacket::discoveryAnswer(0xFFFFFFFFFFFEull)
                                                << true  << 0xFFFFFFFFFFFEull << true;
    QTest::newRow("trailing bytes ignored")     << example + hex("00 11")                    << true  << 0x123456789ABCull << true;
}

void TestVxFrames::discoveryResponseDecoding()
{
    QFETCH(QByteArray, answer);
    QFETCH(bool, decodes);
    QFETCH(quint64, uid);
    QFETCH(bool, compareWithOla);
    const std::optional<quint64> decoded = ourDecode(answer);
    QCOMPARE(decoded.has_value(), decodes);
    if (decodes)
        QCOMPARE(*decoded, uid);
    if (compareWithOla)
        QCOMPARE(olaDecode(answer), decoded);
}

void TestVxFrames::discoveryDecodingAgreesWithOlaOnEveryCorruption()
{
    QRandomGenerator random(20240611);
    for (int round = 0; round < 4; ++round) {
        const quint64 uid = random.generate64() & 0xFFFFFFFFFFFEull;
        const QByteArray answer = sim::SimRdmPacket::discoveryAnswer(uid);
        QCOMPARE(ourDecode(answer), std::optional<quint64>(uid));
        for (int position = 0; position < answer.size(); ++position) {
            for (int bit = 0; bit < 8; ++bit) {
                QByteArray corrupted = answer;
                corrupted[position] = char(corrupted[position] ^ (1 << bit));
                const std::optional<quint64> ours = ourDecode(corrupted);
                const std::optional<quint64> theirs = olaDecode(corrupted);
                // OLA reads the checksum pairs by AND, so it ignores the bits
                // the encoding always sets; we require all four bytes exactly.
                const bool forcedChecksumBit = position >= 20 && ((position % 2 == 0 ? 0xAA : 0x55) & (1 << bit));
                const bool agree = ours == theirs || (forcedChecksumBit && !ours && theirs == uid);
                if (!agree)
                    QFAIL(qPrintable(QStringLiteral("disagree on %1").arg(QString::fromLatin1(corrupted.toHex(' ')))));
                // Whatever decodes from a corrupted answer names the right responder.
                if (ours)
                    QCOMPARE(*ours, uid);
            }
        }
    }
}

void TestVxFrames::parameterFromTypeWord_data()
{
    QTest::addColumn<TypedParameter>("expected");
    //                                                  number word   type min max    mask    read-only name
    QTest::newRow("read-only 0..1023")  << TypedParameter{9,   0x83FF, 0, 0, 1023,  0x3FF,  true,  "Master dimmer value"};
    QTest::newRow("flag bit 5")         << TypedParameter{57,  0x4005, 2, 0, 1,     0x20,   false, "DMX termination"};
    QTest::newRow("flag kind 11 bit 3") << TypedParameter{57,  0xE003, 2, 0, 1,     0x08,   true,  "DMX termination"};
    QTest::newRow("minimum one, 65535") << TypedParameter{2,   0x0400, 0, 1, 65535, 0xFFFF, false, "Network start address"};
    QTest::newRow("kind 01 is a value") << TypedParameter{59,  0x2003, 0, 0, 3,     0x3,    false, "Daisy-chain mode"};
    QTest::newRow("100 gives mask 127") << TypedParameter{3,   0x0064, 0, 0, 100,   0x7F,   false, "Network input time-out to show"};
    QTest::newRow("empty record")       << TypedParameter{14,  0x0000, 0, 0, 65535, 0xFFFF, false, "Unknown parameter"};
    QTest::newRow("past the table")     << TypedParameter{240, 0x0001, 0, 0, 1,     0x1,    false, "Unknown parameter"};
    QTest::newRow("256 and up")         << TypedParameter{300, 0xC007, 0, 0, 255,   0xFFFF, false, "unknown"};
}

void TestVxFrames::parameterFromTypeWord()
{
    QFETCH(TypedParameter, expected);
    const vx::VxParameter param(nullptr, expected.number, expected.typeWord);
    QCOMPARE(param.type(), expected.type);
    QCOMPARE(param.minimum(), expected.min);
    QCOMPARE(param.maximum(), expected.max);
    QCOMPARE(int(param.mask()), expected.mask);
    QCOMPARE(param.isReadOnly(), expected.readOnly);
    QCOMPARE(param.name(), QString::fromLatin1(expected.name));
    QCOMPARE(param.typeWord(), expected.typeWord);
    if (param.name() == QLatin1String("Unknown parameter"))
        QCOMPARE(param.tooltip(), param.name());
}

QTEST_GUILESS_MAIN(TestVxFrames)
#include "tst_vxframes.moc"
