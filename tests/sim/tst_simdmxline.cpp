// The simulated DMX line. Expected frames, checksums and discovery encodings
// are computed here from the frame layouts and ANSI E1.20, not with the sim's helpers.

#include "tests/support/testhelpers.h"

#include "sim/simdmxline.h"

#include <QAtomicInt>
#include <QElapsedTimer>
#include <QJsonDocument>
#include <QSemaphore>
#include <QThread>
#include <QtTest>

#include <functional>
#include <memory>
#include <optional>

using halvorn::sim::SimAnswer;
using halvorn::sim::SimDmxLine;
using halvorn::sim::SimDriver;
using halvorn::test::hex;

namespace {

constexpr quint64 BroadcastUid = 0xFFFFFFFFFFFFull;
constexpr quint64 ControllerUid = 0x7A7000000001ull;
constexpr quint8 DiscoveryCommand = 0x10;
constexpr quint8 GetCommand = 0x20;
constexpr quint8 SetCommand = 0x30;
constexpr int Answered = SimAnswer::Answered;
constexpr int ReceptionError = SimAnswer::ReceptionError;
constexpr int NoAnswer = SimAnswer::NoAnswer;

QByteArray chorus(const char* firstEight)
{
    return halvorn::test::checksummed(firstEight);
}

int statusOf(SimDmxLine& line, const QByteArray& frame)
{
    return line.handleFrame(frame).status;
}

void appendUid(QByteArray& bytes, quint64 uid)
{
    for (int shift = 40; shift >= 0; shift -= 8)
        bytes.append(char((uid >> shift) & 0xFF));
}

void append16(QByteArray& bytes, quint16 value)
{
    bytes.append(char(value >> 8)).append(char(value & 0xFF));
}

quint16 sum16(const QByteArray& bytes)
{
    quint16 sum = 0;
    for (char c : bytes)
        sum = quint16(sum + quint8(c));
    return sum;
}

// An RDM packet laid out as E1.20 section 6.2 gives it; byte 16 is the port
// ID of a request and the response type of a response.
QByteArray rdmPacket(quint64 destination, quint64 source, quint8 transaction, quint8 portOrResponse,
                     quint16 subDevice, quint8 commandClass, quint16 pid, const QByteArray& data)
{
    QByteArray p = hex("CC 01");
    p.append(char(24 + data.size()));
    appendUid(p, destination);
    appendUid(p, source);
    p.append(char(transaction)).append(char(portOrResponse)).append(char(0)); // message count 0
    append16(p, subDevice);
    p.append(char(commandClass));
    append16(p, pid);
    p.append(char(data.size())).append(data);
    append16(p, sum16(p));
    return p;
}

QByteArray rdm(quint64 destination, quint8 commandClass, quint16 pid, const QByteArray& data = {},
               quint8 transaction = 1, quint16 subDevice = 0)
{
    return rdmPacket(destination, ControllerUid, transaction, 1, subDevice, commandClass, pid, data);
}

// The response of `uid` to the controller (response type 0 is ACK, 2 NACK).
QByteArray response(quint64 uid, quint8 responseType, quint8 commandClass, quint16 pid, const QByteArray& data = {},
                    quint8 transaction = 1, quint16 subDevice = 0)
{
    return rdmPacket(ControllerUid, uid, transaction, responseType, subDevice, commandClass, pid, data);
}

QByteArray muteAck(quint64 uid, quint16 pid = 0x0002, quint8 transaction = 1)
{
    return response(uid, 0, DiscoveryCommand + 1, pid, hex("00 00"), transaction); // control field 0
}

QByteArray branch(quint64 lower, quint64 upper)
{
    QByteArray data;
    appendUid(data, lower);
    appendUid(data, upper);
    return rdm(BroadcastUid, DiscoveryCommand, 0x0001, data);
}

QByteArray mute(quint64 uid, quint8 transaction = 1)
{
    return rdm(uid, DiscoveryCommand, 0x0002, {}, transaction);
}

QByteArray unMute(quint64 uid)
{
    return rdm(uid, DiscoveryCommand, 0x0003);
}

// E1.20 discovery response: up to seven 0xFE, 0xAA, the UID as twelve bytes
// (b | 0xAA, b | 0x55), then their 16-bit sum encoded the same way.
std::optional<quint64> decodeDiscovery(const QByteArray& answer)
{
    int i = 0;
    while (i < answer.size() && i < 7 && quint8(answer[i]) == 0xFE)
        ++i;
    if (i >= answer.size() || quint8(answer[i]) != 0xAA)
        return std::nullopt;
    const QByteArray encoded = answer.mid(i + 1, 16);
    if (encoded.size() != 16)
        return std::nullopt;
    quint64 uid = 0;
    for (int k = 0; k < 6; ++k)
        uid = (uid << 8) | (quint8(encoded[2 * k]) & quint8(encoded[2 * k + 1]));
    const quint16 sum = sum16(encoded.left(12));
    const quint8 expected[4] = {quint8((sum >> 8) | 0xAA), quint8((sum >> 8) | 0x55),
                                quint8((sum & 0xFF) | 0xAA), quint8((sum & 0xFF) | 0x55)};
    for (int k = 0; k < 4; ++k) {
        if (quint8(encoded[12 + k]) != expected[k])
            return std::nullopt;
    }
    return uid;
}

std::optional<quint64> discovered(SimDmxLine& line, quint64 lower = 0, quint64 upper = BroadcastUid - 1)
{
    return decodeDiscovery(line.handleFrame(branch(lower, upper)).data);
}

// A small, fully known table, so that expectations do not lean on the default one.
SimDriver tableDriver(quint32 guid, quint64 uid, quint16 lid)
{
    SimDriver driver;
    driver.setGuid(guid);
    driver.setUid(uid);
    driver.defineParameter(2, 0x0600, 1);    // start address 1..512
    driver.defineParameter(9, 0x03FF, 1023); // master dimmer 0..1023
    driver.defineParameter(57, 0x4005, 0);   // flag, bit 5
    driver.defineParameter(74, 0x80FF, 0);   // read-only
    driver.defineParameter(161, 0x0000, lid);
    return driver;
}

SimDriver behaving(SimDriver driver, SimDriver::Behaviour behaviour)
{
    driver.setBehaviour(behaviour);
    return driver;
}

// Full E1.20 discovery from the controller's side: un-mute all, then split
// ranges until each answers with one decodable UID, muting every UID found.
QList<quint64> discoverAll(SimDmxLine& line)
{
    line.handleFrame(unMute(BroadcastUid));
    QList<quint64> found;
    int budget = 5000;
    std::function<void(quint64, quint64)> search = [&](quint64 lower, quint64 upper) {
        while (--budget > 0) {
            const SimAnswer answer = line.handleFrame(branch(lower, upper));
            if (answer.status == NoAnswer)
                return;
            const auto uid = answer.status == Answered ? decodeDiscovery(answer.data) : std::nullopt;
            if (uid) {
                // A UID seen again lost its mute: mute it once more.
                if (!found.contains(*uid))
                    found.append(*uid);
                line.handleFrame(mute(*uid));
                continue; // others may still be hiding in the range
            }
            if (lower == upper)
                return;
            const quint64 middle = lower + (upper - lower) / 2;
            search(lower, middle);
            search(middle + 1, upper);
            return;
        }
    };
    search(0, BroadcastUid - 1);
    return found;
}

void addChorusRow(const char* name, const char* command, int status, const char* answer, int parameter9 = 1023)
{
    QTest::newRow(name) << chorus(command) << status << (answer ? chorus(answer) : QByteArray()) << parameter9;
}

} // namespace

class TestSimDmxLine : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void chorusCommandsAnswerByteForByte_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("parameter9"); // its value afterwards
        // Driver: GUID 12345678, LID 0x0102, parameters 2, 9, 57, 74, 161.
        //           name                        command                    status  answer
        addChorusRow("read guid",                "D0 08 02 01 00 00 00 00", 0, "D0 88 02 01 12 34 56 78");
        addChorusRow("read parameter 9",         "D0 0D 02 01 09 00 00 00", 0, "D0 8D 02 01 09 00 FF 03");
        addChorusRow("probe parameter 0",        "D0 0D 02 01 00 00 00 00", 0, "D0 8D 02 01 00 00 05 00");
        addChorusRow("read unknown 14",          "D0 0D 02 01 0E 00 00 00", 0, "D0 CD 02 01 0E 00 01 00");
        addChorusRow("write parameter 9",        "D0 0E 02 01 09 00 34 02", 0, "D0 8E 02 01 09 00 34 02", 0x234);
        addChorusRow("write flag keeps its bit", "D0 0E 02 01 39 00 FF FF", 0, "D0 8E 02 01 39 00 20 00");
        addChorusRow("write read-only 74",       "D0 0E 02 01 4A 00 01 00", 0, "D0 CE 02 01 4A 00 02 00");
        addChorusRow("write 9 above maximum",    "D0 0E 02 01 09 00 00 04", 0, "D0 CE 02 01 09 00 03 00");
        addChorusRow("write start address 0",    "D0 0E 02 01 02 00 00 00", 0, "D0 CE 02 01 02 00 03 00");
        addChorusRow("write unknown 14",         "D0 0E 02 01 0E 00 01 00", 0, "D0 CE 02 01 0E 00 01 00");
        addChorusRow("find next after 9",        "D0 1D 02 01 09 00 00 00", 0, "D0 9D 02 01 39 00 05 40");
        addChorusRow("find next after last",     "D0 1D 02 01 A1 00 00 00", 0, "D0 9D 02 01 00 00 00 00");
        addChorusRow("no operation echoes",      "D0 0F 02 01 AB CD EF 01", 0, "D0 8F 02 01 AB CD EF 01");
        addChorusRow("unsupported command",      "D0 09 02 01 00 00 00 00", 0, "D0 8F 02 01 09 00 00 00");
        addChorusRow("other address",            "D0 0D 03 01 09 00 00 00", 5, nullptr);
        addChorusRow("a reply is no command",    "D0 8D 02 01 09 00 00 00", 5, nullptr);
        addChorusRow("code without command bit", "D0 05 02 01 09 00 00 00", 5, nullptr);
        const QByteArray read = chorus("D0 0D 02 01 09 00 00 00");
        QByteArray badSum = read;
        badSum[8] = char(badSum[8] + 1);
        QTest::newRow("bad checksum") << badSum << 5 << QByteArray() << 1023;
        QTest::newRow("eight bytes") << read.left(8) << 5 << QByteArray() << 1023;
        QTest::newRow("empty frame") << QByteArray() << 5 << QByteArray() << 1023;
    }

    void chorusCommandsAnswerByteForByte()
    {
        QFETCH(QByteArray, command);
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        QFETCH(int, parameter9);
        SimDmxLine line;
        line.addDriver(tableDriver(0x12345678, 0x485600000001ull, 0x0102));
        const SimAnswer result = line.handleFrame(command);
        QCOMPARE(int(result.status), status);
        QCOMPARE(result.data.toHex(' '), answer.toHex(' '));
        // What a write changed reads back; refused writes change nothing.
        QCOMPARE(int(line.driver(0)->parameterValue(9)), parameter9);
        QCOMPARE(line.driver(0)->parameterValue(74), quint16(0));
    }

    void skipAddressingReachesTheChain_data()
    {
        QTest::addColumn<QByteArray>("command");
        QTest::addColumn<int>("status");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("parameter9");
        // Head LID 0x0107 with cells 1 (GUID A1) and 2 (GUID A2) behind it;
        // another head LID 0x0207 whose chain is empty.
        addChorusRow("head direct",             "D0 08 07 01 00 00 00 00", 0, "D0 88 07 01 00 00 00 A0");
        addChorusRow("skip 1 guid",             "D0 80 01 07 00 00 00 00", 0, "D0 88 01 07 00 00 00 A1");
        addChorusRow("skip 2 guid",             "D0 80 02 07 00 00 00 00", 0, "D0 88 02 07 00 00 00 A2");
        addChorusRow("skip 3 beyond the chain", "D0 80 03 07 00 00 00 00", 5, nullptr);
        addChorusRow("skip 2 read",             "D0 85 02 07 A1 00 00 00", 0, "D0 8D 02 07 A1 00 22 00");
        addChorusRow("skip 1 write",            "D0 86 01 07 09 00 10 00", 0, "D0 8E 01 07 09 00 10 00", 0x10);
        addChorusRow("skip 2 find next",        "D0 95 02 07 39 00 00 00", 0, "D0 9D 02 07 4A 00 FF 80");
        // Both heads have the address byte 07: at skip 0 they answer at once.
        addChorusRow("skip 0 is the heads",     "D0 80 00 07 00 00 00 00", 3, nullptr);
        addChorusRow("cell LID not direct",     "D0 08 22 00 00 00 00 00", 5, nullptr);
    }

    void skipAddressingReachesTheChain()
    {
        QFETCH(QByteArray, command);
        QFETCH(int, status);
        QFETCH(QByteArray, answer);
        QFETCH(int, parameter9); // of cell 1
        SimDmxLine line;
        const int chain = line.addDriver(tableDriver(0xA0, 0x10, 0x0107));
        QCOMPARE(line.addChainedDriver(chain, tableDriver(0xA1, 0x11, 0x0021)), 1);
        QCOMPARE(line.addChainedDriver(chain, tableDriver(0xA2, 0x12, 0x0022)), 2);
        line.addDriver(tableDriver(0xB0, 0x20, 0x0207));

        const SimAnswer result = line.handleFrame(command);
        QCOMPARE(int(result.status), status);
        if (status == ReceptionError)
            QVERIFY(!result.data.isEmpty());
        else
            QCOMPARE(result.data.toHex(' '), answer.toHex(' '));
        QCOMPARE(int(line.driver(chain, 1)->parameterValue(9)), parameter9);
        // Cell counts follow the chain.
        QCOMPARE(line.driver(chain, 0)->parameterValue(74), quint16(2));
        QCOMPARE(line.driver(chain, 1)->parameterValue(74), quint16(1));
        QCOMPARE(line.driver(chain, 2)->parameterValue(74), quint16(0));
    }

    void broadcastsReachTheChainHeads()
    {
        SimDmxLine line;
        const int chain = line.addDriver(tableDriver(0x11, 1, 0x0005));
        line.addChainedDriver(chain, tableDriver(2, 2, 0));
        // A broadcast read is answered by a lone driver only.
        QCOMPARE(line.handleFrame(chorus("D0 0D 00 00 09 00 00 00")).data, chorus("D0 8D 05 00 09 00 FF 03"));
        QCOMPARE(line.handleFrame(chorus("D0 1D 00 00 00 00 00 00")).data, chorus("D0 9D 05 00 02 00 00 06"));
        const int second = line.addDriver(tableDriver(0x22, 3, 0x0006));
        const SimAnswer both = line.handleFrame(chorus("D0 0D 00 00 09 00 00 00"));
        QCOMPARE(int(both.status), ReceptionError);
        QVERIFY(!both.data.isEmpty()); // the tool tells a collision from silence by the bytes

        const SimAnswer write = line.handleFrame(chorus("D0 0E 00 00 09 00 64 00"));
        QCOMPARE(int(write.status), NoAnswer);
        QVERIFY(write.data.isEmpty());
        QCOMPARE(line.driver(chain, 0)->parameterValue(9), quint16(100));
        QCOMPARE(line.driver(second, 0)->parameterValue(9), quint16(100));
        // The driver behind a head is reached by skip addressing only.
        QVERIFY(line.driver(chain, 1)->parameterValue(9) != quint16(100));
        // A refused broadcast write stays unanswered too.
        QCOMPARE(statusOf(line, chorus("D0 0E 00 00 4A 00 01 00")), NoAnswer);
    }

    void collisionsLeaveTheWiredAndOfTheAnswers_data()
    {
        QTest::addColumn<bool>("garbledMode");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("status");
        QTest::newRow("Chorus read")          << false << chorus("D0 08 09 00 00 00 00 00") << ReceptionError;
        QTest::newRow("discovery, garbled mode") << true << branch(0, BroadcastUid - 1)     << Answered;
    }

    void collisionsLeaveTheWiredAndOfTheAnswers()
    {
        QFETCH(bool, garbledMode);
        QFETCH(QByteArray, request);
        QFETCH(int, status);
        SimDmxLine line;
        if (garbledMode)
            line.setCollisionMode(SimDmxLine::CollisionMode::Garbled);
        line.addDriver(tableDriver(0x0F0F0F0F, 0x123456789ABCull, 9));
        line.addDriver(tableDriver(0x3C3C3C3C, 0x123456789ABDull, 9));
        const SimAnswer answer = line.handleFrame(request);
        QCOMPARE(int(answer.status), status);
        // What the wire leaves of the answers sent at once.
        QByteArray expected;
        for (const SimDriver& driver : line.drivers()) {
            SimDmxLine alone;
            alone.addDriver(driver);
            const QByteArray single = alone.handleFrame(request).data;
            QVERIFY(!single.isEmpty());
            if (expected.isEmpty())
                expected = single;
            for (int i = 0; i < expected.size(); ++i)
                expected[i] = char(expected[i] & single[i]);
        }
        QCOMPARE(answer.data.toHex(' '), expected.toHex(' '));
    }

    void discoveryAnswerFollowsE120_data()
    {
        QTest::addColumn<quint64>("uid");
        QTest::addColumn<quint64>("lower");
        QTest::addColumn<quint64>("upper");
        QTest::addColumn<bool>("answers");
        const quint64 all = BroadcastUid - 1;
        const quint64 uid = 0x485600001000ull;
        QTest::newRow("all zero")               << quint64(0)                 << quint64(0) << all          << true;
        QTest::newRow("highest device")         << quint64(0xFFFFFFFFFFFEull) << quint64(0) << all          << true;
        QTest::newRow("alternating bits")       << quint64(0xAA55AA55AA55ull) << quint64(0) << all          << true;
        QTest::newRow("exactly the uid")        << uid                        << uid        << uid          << true;
        QTest::newRow("uid is the lower bound") << uid                        << uid        << uid + 5      << true;
        QTest::newRow("uid is the upper bound") << uid                        << uid - 5    << uid          << true;
        QTest::newRow("range below")            << uid                        << quint64(0) << uid - 1      << false;
        QTest::newRow("range above")            << uid                        << uid + 1    << BroadcastUid << false;
        QTest::newRow("inverted range")         << uid                        << uid + 1    << uid - 1      << false;
    }

    void discoveryAnswerFollowsE120()
    {
        QFETCH(quint64, uid);
        QFETCH(quint64, lower);
        QFETCH(quint64, upper);
        QFETCH(bool, answers);
        SimDmxLine line;
        line.addDriver(SimDriver::halvorn(7, uid));
        const SimAnswer answer = line.handleFrame(branch(lower, upper));
        QCOMPARE(answer.status == Answered, answers);
        if (!answers)
            return;
        // Seven preamble bytes, separator, twelve UID bytes, four checksum bytes.
        QCOMPARE(answer.data.size(), 24);
        QCOMPARE(answer.data.left(8), hex("FE FE FE FE FE FE FE AA"));
        for (int k = 0; k < 6; ++k) {
            const quint8 b = quint8(uid >> (40 - 8 * k));
            QCOMPARE(quint8(answer.data[8 + 2 * k]), quint8(b | 0xAA));
            QCOMPARE(quint8(answer.data[9 + 2 * k]), quint8(b | 0x55));
        }
        QCOMPARE(decodeDiscovery(answer.data), std::optional<quint64>(uid));
    }

    void muteAndUnMuteFollowE120()
    {
        const quint64 uid = 0x485600000042ull;
        SimDmxLine line;
        line.addDriver(SimDriver::halvorn(1, uid));
        QCOMPARE(line.handleFrame(mute(uid, 0x37)).data.toHex(' '), muteAck(uid, 0x0002, 0x37).toHex(' '));
        QVERIFY(line.driver(0)->isMuted());
        QCOMPARE(statusOf(line, branch(0, BroadcastUid - 1)), NoAnswer);

        // Mute to another UID does not concern it; broadcast un-mute gets no answer.
        QCOMPARE(statusOf(line, unMute(uid + 1)), NoAnswer);
        QVERIFY(line.driver(0)->isMuted());
        QCOMPARE(statusOf(line, unMute(BroadcastUid)), NoAnswer);
        QVERIFY(!line.driver(0)->isMuted());
        QCOMPARE(statusOf(line, branch(0, BroadcastUid - 1)), Answered);

        // Vendorcast mute: muted, unanswered.
        QCOMPARE(statusOf(line, mute(0x4856FFFFFFFFull)), NoAnswer);
        QVERIFY(line.driver(0)->isMuted());
        QCOMPARE(line.handleFrame(unMute(uid)).data, muteAck(uid, 0x0003));
        QVERIFY(!line.driver(0)->isMuted());
    }

    void discoveryFindsEveryDriver()
    {
        SimDmxLine line;
        line.addRandomDrivers(12, 4711);
        line.addRandomDrivers(12, 99, 0); // random manufacturers too
        QList<quint64> expected;
        for (const SimDriver& driver : line.drivers())
            expected.append(driver.uid());
        QList<quint64> found = discoverAll(line);
        std::sort(expected.begin(), expected.end());
        std::sort(found.begin(), found.end());
        QCOMPARE(found, expected);
        for (const SimDriver& driver : line.drivers())
            QVERIFY(driver.isMuted());
    }

    void malformedRdmRequestsAreIgnored_data()
    {
        QTest::addColumn<QByteArray>("request");
        const quint64 uid = 0x485600000042ull;
        const QByteArray good = mute(uid);
        const auto changed = [&good](int index, int value) {
            QByteArray bad = good;
            bad[index < 0 ? bad.size() + index : index] = char(value);
            return bad;
        };
        QTest::newRow("checksum")              << changed(-1, good.back() + 1);
        QTest::newRow("message length")        << changed(2, good[2] + 1);
        QTest::newRow("sub-start code")        << changed(1, 0x02);
        QTest::newRow("data length")           << changed(23, 2);
        QTest::newRow("truncated")             << good.left(good.size() - 1);
        QTest::newRow("trailing byte")         << good + hex("00");
        QTest::newRow("mute with data")        << rdm(uid, DiscoveryCommand, 0x0002, hex("00 00"));
        QTest::newRow("branch with six bytes") << rdm(BroadcastUid, DiscoveryCommand, 0x0001, hex("00 00 00 00 00 00"));
        QTest::newRow("branch as GET")         << rdm(BroadcastUid, GetCommand, 0x0001, branch(0, 1).mid(24, 12));
    }

    void malformedRdmRequestsAreIgnored()
    {
        QFETCH(QByteArray, request);
        SimDmxLine line;
        line.addDriver(SimDriver::halvorn(1, 0x485600000042ull));
        QCOMPARE(statusOf(line, request), NoAnswer);
        QVERIFY(!line.driver(0)->isMuted());
    }

    void driverParameterPid_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("parameter9");
        const quint64 uid = 0x485600000042ull;
        const auto set = [uid](const char* data) { return rdm(uid, SetCommand, 0x80D0, hex(data)); };
        const auto get = [uid](const char* data) { return rdm(uid, GetCommand, 0x80D0, hex(data)); };
        const auto ack = [uid](quint8 cc, const char* data) { return response(uid, 0, cc + 1, 0x80D0, hex(data)); };
        const auto nack = [uid](quint8 cc, const char* reason, quint16 pid = 0x80D0, quint16 subDevice = 0) {
            return response(uid, 2, cc + 1, pid, hex(reason), 1, subDevice);
        };
        //                                   request                          answer                         param 9
        QTest::newRow("set 9")            << set("00 09 01 23")            << ack(SetCommand, "")            << 0x123;
        QTest::newRow("get 9")            << get("00 09")                  << ack(GetCommand, "00 09 03 FF") << 1023;
        QTest::newRow("set out of range") << set("00 09 04 00")            << nack(SetCommand, "00 06")      << 1023;
        QTest::newRow("set read-only")    << set("00 4A 00 01")            << nack(SetCommand, "00 04")      << 1023;
        QTest::newRow("set unknown 14")   << set("00 0E 00 01")            << nack(SetCommand, "00 06")      << 1023;
        QTest::newRow("get unknown 14")   << get("00 0E")                  << nack(GetCommand, "00 06")      << 1023;
        QTest::newRow("set short data")   << set("00 09 01")               << nack(SetCommand, "00 01")      << 1023;
        QTest::newRow("unknown pid")      << rdm(uid, GetCommand, 0x0060) << nack(GetCommand, "00 00", 0x0060) << 1023;
        QTest::newRow("sub-device 1")     << rdm(uid, SetCommand, 0x80D0, hex("00 09 00 01"), 1, 1)
                                          << nack(SetCommand, "00 09", 0x80D0, 1) << 1023;
    }

    void driverParameterPid()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(int, parameter9);
        SimDmxLine line;
        line.addDriver(tableDriver(1, 0x485600000042ull, 0));
        const SimAnswer result = line.handleFrame(request);
        QCOMPARE(int(result.status), Answered);
        QCOMPARE(result.data.toHex(' '), answer.toHex(' '));
        QCOMPARE(int(line.driver(0)->parameterValue(9)), parameter9);
    }

    void writingTheLidMovesTheDriver()
    {
        const quint64 first = 0x485600000001ull;
        SimDmxLine line;
        line.addDriver(SimDriver::halvorn(0xAAAA0001, first));
        line.addDriver(SimDriver::halvorn(0xAAAA0002, first + 1));
        // What discovery does after muting a UID: SET 0x80D0 00 A1 00 01.
        QCOMPARE(line.handleFrame(rdm(first, SetCommand, 0x80D0, hex("00 A1 00 01"))).data,
                 response(first, 0, SetCommand + 1, 0x80D0));
        QCOMPARE(line.driverByUid(first + 1)->lid(), quint16(0));
        QCOMPARE(line.handleFrame(chorus("D0 08 01 00 00 00 00 00")).data, chorus("D0 88 01 00 AA AA 00 01"));
        // Over Chorus, the driver moves to its new address at once.
        QCOMPARE(line.handleFrame(chorus("D0 0E 01 00 A1 00 04 03")).data, chorus("D0 8E 01 00 A1 00 04 03"));
        QCOMPARE(statusOf(line, chorus("D0 08 01 00 00 00 00 00")), NoAnswer);
        QCOMPARE(line.handleFrame(chorus("D0 08 04 03 00 00 00 00")).data, chorus("D0 88 04 03 AA AA 00 01"));
        // A broadcast SET reaches everybody and is not answered.
        QCOMPARE(statusOf(line, rdm(BroadcastUid, SetCommand, 0x80D0, hex("00 09 00 07"))), NoAnswer);
        for (const SimDriver& driver : line.drivers())
            QCOMPARE(driver.parameterValue(9), quint16(7));
    }

    void misbehavingResponders()
    {
        const quint64 uid = 0x485600000005ull;
        {
            SimDmxLine line; // never mutes: unanswered mutes, answers every branch
            line.addDriver(behaving(SimDriver::halvorn(1, uid), SimDriver::Behaviour::NonMuting));
            for (int attempt = 0; attempt < 3; ++attempt) {
                QCOMPARE(statusOf(line, mute(uid)), NoAnswer);
                QCOMPARE(discovered(line), std::optional<quint64>(uid));
            }
        }
        {
            SimDmxLine line; // answers discovery with bytes that never decode, otherwise ordinary
            line.addDriver(behaving(SimDriver::halvorn(1, uid), SimDriver::Behaviour::Garbage));
            for (int attempt = 0; attempt < 6; ++attempt) {
                const SimAnswer answer = line.handleFrame(branch(uid, uid));
                QCOMPARE(int(answer.status), Answered);
                QVERIFY2(!answer.data.isEmpty() && !decodeDiscovery(answer.data), answer.data.toHex(' ').constData());
            }
            QCOMPARE(line.handleFrame(mute(uid)).data, muteAck(uid));
        }
        {
            SimDmxLine line; // loses the first mute of every discovery
            line.addDriver(behaving(SimDriver::halvorn(1, uid), SimDriver::Behaviour::FlakeyMuting));
            for (int round = 0; round < 2; ++round) {
                QCOMPARE(statusOf(line, mute(uid)), NoAnswer);
                QCOMPARE(discovered(line, uid, uid), std::optional<quint64>(uid));
                QCOMPARE(line.handleFrame(mute(uid)).data, muteAck(uid));
                QCOMPARE(statusOf(line, branch(uid, uid)), NoAnswer);
                line.handleFrame(unMute(BroadcastUid));
            }
            QCOMPARE(discoverAll(line), QList<quint64>{uid}); // a discovery that retries its mute finds it once
        }
        {
            SimDmxLine line; // answers nothing, but carries out what it is sent
            line.addDriver(behaving(tableDriver(1, uid, 3), SimDriver::Behaviour::Silent));
            QCOMPARE(statusOf(line, branch(0, BroadcastUid - 1)), NoAnswer);
            QCOMPARE(statusOf(line, mute(uid)), NoAnswer);
            QVERIFY(line.driver(0)->isMuted());
            QCOMPARE(statusOf(line, chorus("D0 0E 03 00 09 00 05 00")), NoAnswer);
            QCOMPARE(line.driver(0)->parameterValue(9), quint16(5));
            line.setpointFrame(hex("11 22 33"), false, 0);
            QCOMPARE(line.driver(0)->level(0), 0x11);
        }
    }

    void driversRecordTheirLevels_data()
    {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("resolution"); // parameter 4: 0 = 16 bits, 1 = 8 bits
        QTest::addColumn<int>("slotCount");
        QTest::addColumn<QList<int>>("levels");
        const auto slot = [](int a) { return (a * 7) & 0xFF; }; // what slot a holds
        const auto pair = [&slot](int a) { return slot(a) << 8 | slot(a + 1); };
        const int none = SimDriver::NoLevel;
        QTest::newRow("8 bits at 1")              << 1   << 1 << 512 << QList<int>{slot(1), slot(2), slot(3), slot(4)};
        QTest::newRow("16 bits at 10")            << 10  << 0 << 512 << QList<int>{pair(10), pair(12), pair(14), pair(16)};
        QTest::newRow("8 bits past the end")      << 510 << 1 << 512 << QList<int>{slot(510), slot(511), slot(512), none};
        QTest::newRow("16 bits split by the end") << 509 << 0 << 512 << QList<int>{pair(509), pair(511), none, none};
        QTest::newRow("short frame")              << 60  << 1 << 61  << QList<int>{slot(60), slot(61), none, none};
    }

    void driversRecordTheirLevels()
    {
        QFETCH(int, start);
        QFETCH(int, resolution);
        QFETCH(int, slotCount);
        QFETCH(QList<int>, levels);
        SimDriver driver = SimDriver::halvorn(1, 1, 1);
        QVERIFY(driver.setParameterValue(2, quint16(start)));
        QVERIFY(driver.setParameterValue(4, quint16(resolution)));
        SimDmxLine line;
        const int chain = line.addDriver(driver);
        line.addChainedDriver(chain, driver); // a cell with the same settings sees the same

        QByteArray frame(slotCount, '\0');
        for (int a = 1; a <= slotCount; ++a)
            frame[a - 1] = char((a * 7) & 0xFF);
        line.setpointFrame(frame, true, 0x35);
        QCOMPARE(line.driver(chain, 0)->levels(), levels);
        QCOMPARE(line.driver(chain, 1)->levels(), levels);
        QCOMPARE(line.driver(chain, 0)->receivedFrameCount(), 1);
        QCOMPARE(line.lastFrame(), frame);
        QVERIFY(line.lastFrameChorusOutput());
        QCOMPARE(line.lastFrameChorusMode(), quint8(0x35));
    }

    void installationSections_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("error");  // a part of the error; empty: loaded
        QTest::addColumn<qint64>("guid");    // of the first driver, when loaded
        const auto guid = [](const char* value) { return QByteArray(R"({"drivers":[{"guid":)") + value + "}]}"; };
        QTest::newRow("largest guid")            << guid("\"0xFFFFFFFF\"") << QString() << qint64(0xFFFFFFFF);
        QTest::newRow("guid too large")          << guid("4294967296")     << "guid" << qint64();
        QTest::newRow("fractional guid")         << guid("1.5")            << "guid" << qint64();
        QTest::newRow("bad uid")             << QByteArray(R"({"drivers":[{"uid":"12:34"}]})") << "drivers[0]" << qint64();
        QTest::newRow("unknown behaviour")   << QByteArray(R"({"drivers":[{"uid":"4856:00000001","behaviour":"shy"}]})") << "shy" << qint64();
        QTest::newRow("new parameter without type")
            << QByteArray(R"({"drivers":[{"parameters":[{"number":14,"value":1}]}]})") << "parameters[0]" << qint64();
        QTest::newRow("value too large")
            << QByteArray(R"({"drivers":[{"parameters":[{"number":9,"value":70000}]}]})") << "0..65535" << qint64();
        QTest::newRow("lid too large")       << QByteArray(R"({"drivers":[{"lid":65536}]})") << "lid" << qint64();
        QTest::newRow("bad cell")            << QByteArray(R"({"drivers":[{"chain":[{},{"guid":"zz"}]}]})") << "drivers[0].chain[1]" << qint64();
        QTest::newRow("collision mode")      << QByteArray(R"({"collisions":"loud"})") << "loud" << qint64();
    }

    void installationSections()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, error);
        QFETCH(qint64, guid);
        SimDmxLine line;
        line.addDriver(SimDriver::halvorn(1, 0x485600000001ull, 1));
        const QJsonObject before = line.save();
        QString message;
        QCOMPARE(line.load(QJsonDocument::fromJson(json).object(), &message), error.isEmpty());
        if (error.isEmpty()) {
            QCOMPARE(qint64(line.driver(0)->guid()), guid);
        } else {
            QVERIFY2(message.contains(error), qPrintable(message));
            QCOMPARE(line.save(), before); // a refused section changes nothing
        }
    }

    void randomPopulationIsReproducible()
    {
        const QList<SimDriver> drivers = SimDriver::randomDrivers(200, 1234);
        QSet<quint64> uids;
        QSet<quint32> guids;
        for (const SimDriver& driver : drivers) {
            QCOMPARE(driver.uid() >> 32, quint64(SimDriver::HalvornManufacturerId));
            QVERIFY((driver.uid() & 0xFFFFFFFFu) != 0xFFFFFFFFu); // never a vendorcast UID
            uids.insert(driver.uid());
            guids.insert(driver.guid());
        }
        QCOMPARE(uids.size(), 200);
        QCOMPARE(guids.size(), 200);
        QVERIFY(drivers.first().uid() != SimDriver::randomDrivers(1, 1235).first().uid());
        // The installation's "random" entry draws the same population.
        SimDmxLine line;
        QVERIFY(line.load(QJsonDocument::fromJson(R"({"random":{"count":200,"seed":1234}})").object(), nullptr));
        QCOMPARE(line.drivers().size(), 200);
        for (int i : {0, 99, 199})
            QCOMPARE(line.drivers().at(i).guid(), drivers.at(i).guid());
    }

    void concurrentTrafficAndChanges()
    {
        // The firmware (another thread) keeps the line busy while this thread
        // changes the equipment; every answer must stay well formed and no
        // change may get lost.
        constexpr int Rounds = 20000;
        SimDmxLine line;
        line.addDriver(tableDriver(1, 1, 0x0102));
        const QJsonObject section = line.save();
        QAtomicInt badAnswers = 0;
        QAtomicInt firmwareRounds = 0;
        QAtomicInt stop = 0;
        QSemaphore started;
        std::unique_ptr<QThread> firmware(QThread::create([&] {
            const QByteArray read = chorus("D0 0D 02 01 09 00 00 00");
            const QByteArray levels(512, char(0x40));
            started.release();
            while (!stop.loadAcquire() && firmwareRounds.loadRelaxed() < 10000000) {
                const SimAnswer answer = line.handleFrame(read);
                if (answer.status != Answered || answer.data.size() != 9 || quint8(answer.data[1]) != 0x8D)
                    badAnswers.ref();
                line.setpointFrame(levels, false, 0);
                firmwareRounds.ref();
            }
        }));
        firmware->start();
        QVERIFY(started.tryAcquire(1, 10000));

        // Keep changing until both sides have done plenty of rounds while the
        // other was running (bounded in time for a starved thread).
        int lostChanges = 0;
        QElapsedTimer clock;
        clock.start();
        for (int round = 0; (round < Rounds || firmwareRounds.loadRelaxed() < Rounds) && clock.elapsed() < 20000; ++round) {
            // Reloading and growing the line moves every driver in memory.
            lostChanges += !line.load(section, nullptr);
            for (int k = 0; k < 8; ++k)
                line.addChainedDriver(line.addDriver(tableDriver(2, 2, quint16(0x0203 + k))), tableDriver(3, 3, 0));
            const quint16 value = quint16(round % 1024);
            line.updateDriver(0, 0, [value](SimDriver& d) { d.setParameterValue(9, value); });
            const auto head = line.driver(0);
            const auto cell = line.driver(8, 1);
            lostChanges += !head || head->parameterValue(9) != value || !cell || cell->guid() != 3;
            line.removeChain(8);
        }
        stop.storeRelease(1);
        QVERIFY(firmware->wait(30000));
        QCOMPARE(lostChanges, 0);
        QCOMPARE(badAnswers.loadRelaxed(), 0);
        QCOMPARE(line.chainCount(), 8);
        QVERIFY(firmwareRounds.loadRelaxed() >= Rounds);
    }
};

QTEST_GUILESS_MAIN(TestSimDmxLine)
#include "tst_simdmxline.moc"
