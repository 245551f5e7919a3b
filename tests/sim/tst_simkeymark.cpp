// The simulated Keymark port and tag. Expected frames are written out here
// from the frame layout, not built with the sim's code.

#include "tests/support/testhelpers.h"

#include "sim/simdongle.h"
#include "sim/simkeymarkport.h"
#include "sim/simtag.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QtTest>

using halvorn::sim::SimDongle;
using halvorn::sim::SimKeymarkPort;
using halvorn::sim::SimTag;
using halvorn::sim::SimTagConfig;
using halvorn::test::hex;

Q_DECLARE_METATYPE(halvorn::sim::SimKeymarkPort::ReplyFault)

namespace {

constexpr quint16 AllCapabilities = 0x007F;
constexpr quint16 WriteOnly = 0x003F;

QByteArray frame(const char* firstEight)
{
    return halvorn::test::checksummed(firstEight);
}

// Sends one tag frame as the tool does (02, length, frame); the reply packet.
QByteArray send(SimDongle& dongle, const QByteArray& tagFrame)
{
    return dongle.process(QByteArray(1, 0x02) + char(tagFrame.size()) + tagFrame);
}

QByteArray send(SimDongle& dongle, const char* firstEight)
{
    return send(dongle, frame(firstEight));
}

// The answer frame in a reply packet (status 0), or a marker for status / length problems.
QByteArray answerOf(const QByteArray& reply)
{
    if (reply.size() < 3 || quint8(reply.at(0)) != 0x82)
        return QByteArrayLiteral("no reply packet");
    if (quint8(reply.at(2)) != reply.size() - 3)
        return QByteArrayLiteral("length byte wrong");
    if (reply.at(1) != 0)
        return QByteArrayLiteral("status ") + QByteArray::number(quint8(reply.at(1)));
    return reply.mid(3);
}

QByteArray answer(SimDongle& dongle, const char* firstEight)
{
    return answerOf(send(dongle, firstEight));
}

bool keymarkErrorBit(const SimDongle& dongle)
{
    return dongle.parameter(SimDongle::StatusFlagsAddress) & SimDongle::KeymarkError;
}

SimTagConfig tagWithChips(QList<uint16_t> status)
{
    SimTagConfig config;
    config.ampwiseStatus = status;
    return config;
}

} // namespace

class TestSimKeymark : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void tagFramesAreAnswered_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        // Default tag: NTC 70 °C at 0x30, two Ampwise chips, version 0x01 at 18.
        //                                       request                                    answer
        QTest::newRow("8-bit read NTC")       << frame("D0 0D 00 00 30 0A 00 00") << frame("D0 8D 00 00 30 0A 46 00");
        QTest::newRow("16-bit read 0x11")     << frame("D0 0D 00 00 91 0A 00 00") << frame("D0 8D 00 00 91 0A 01 42");
        QTest::newRow("16-bit write echoed")  << frame("D0 0E 00 00 F0 0A 34 12") << frame("D0 8E 00 00 F0 0A 34 12");
        QTest::newRow("8-bit write echoed")   << frame("D0 0E 00 00 30 0A 55 00") << frame("D0 8E 00 00 30 0A 55 00");
        QTest::newRow("location 0 refused")   << frame("D0 0E 00 00 00 0A 07 00") << frame("D0 CE 00 00 00 0A 02 00");
        QTest::newRow("location 1 refused")   << frame("D0 0E 00 00 81 0A 07 00") << frame("D0 CE 00 00 81 0A 02 00");
        QTest::newRow("16-bit past the end")  << frame("D0 0D 00 00 FF 0A 00 00") << frame("D0 CD 00 00 FF 0A 03 00");
        QTest::newRow("16-bit write at 127")  << frame("D0 0E 00 00 FF 0A 01 02") << frame("D0 CE 00 00 FF 0A 03 00");
        QTest::newRow("unknown number 0B41")  << frame("D0 0D 00 00 41 0B 00 00") << frame("D0 CD 00 00 41 0B 01 00");
        QTest::newRow("DALI device type")     << frame("D0 0D 00 00 40 0B 99 FF") << frame("D0 8D 00 00 40 0B 06 00");
        QTest::newRow("DALI query, no answer")<< frame("D0 0D 00 00 40 0B 92 FF") << frame("D0 CD 00 00 40 0B 04 00");
        QTest::newRow("DALI command echoed")  << frame("D0 0E 00 00 40 0B 05 FF") << frame("D0 8E 00 00 40 0B 05 FF");
    }

    void tagFramesAreAnswered()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        SimDongle dongle(5, AllCapabilities);
        QCOMPARE(answerOf(send(dongle, request)).toHex(' '), answer.toHex(' '));
        QCOMPARE(dongle.keymarkPort().frames(), QList<QByteArray>{request});
    }

    void wordsAreStoredHighByteFirst()
    {
        SimDongle dongle(5, AllCapabilities);
        send(dongle, "D0 0E 00 00 F0 0A 34 12"); // 16-bit 0x1234 to 0x70
        QCOMPARE(dongle.keymarkPort().tag().memoryByte(0x70), quint8(0x12));
        QCOMPARE(dongle.keymarkPort().tag().memoryByte(0x71), quint8(0x34));
        // A refused write leaves both bytes alone.
        send(dongle, "D0 0E 00 00 80 0A 99 88");
        QCOMPARE(dongle.keymarkPort().tag().memoryByte(0), quint8(0xFF));
        QCOMPARE(dongle.keymarkPort().tag().memoryByte(1), quint8(0x00));
    }

    void writeOnlyDongleAnswersNothing_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<int>("ntc");         // bank-1 0x30 afterwards
        QTest::addColumn<bool>("errorFlag");  // set when the frame went unanswered by the tag
        QByteArray badSum = frame("D0 0E 00 00 30 0A 55 00");
        badSum[8] = char(badSum.at(8) + 1);
        QTest::newRow("write delivered") << frame("D0 0E 00 00 30 0A 5A 00")                         << 0x5A << false;
        QTest::newRow("read delivered")  << frame("D0 0D 00 00 30 0A 00 00")                         << 70   << false;
        QTest::newRow("wrong checksum")  << badSum                                                   << 70   << true;
        QTest::newRow("ten bytes")       << frame("D0 0E 00 00 30 0A 55 00") + QByteArray(1, '\0') << 70   << true;
    }

    void writeOnlyDongleAnswersNothing()
    {
        QFETCH(QByteArray, request);
        QFETCH(int, ntc);
        QFETCH(bool, errorFlag);
        SimDongle dongle(5, WriteOnly);
        QCOMPARE(send(dongle, request), hex("82 05 00"));
        QCOMPARE(int(dongle.keymarkPort().tag().memoryByte(0x30)), ntc);
        QCOMPARE(keymarkErrorBit(dongle), errorFlag);
    }

    void controlLocationsAcknowledgeWithoutChangingMemory()
    {
        SimDongle dongle(5, AllCapabilities);
        const SimTag& tag = dongle.keymarkPort().tag();
        QCOMPARE(tag.lastControlValue(18), -1);
        QCOMPARE(answer(dongle, "D0 0E 00 00 12 0A 00 00"), frame("D0 8E 00 00 12 0A 00 00"));
        QCOMPARE(answer(dongle, "D0 0E 00 00 1C 0A DF 00"), frame("D0 8E 00 00 1C 0A DF 00"));
        QCOMPARE(answer(dongle, "D0 0E 00 00 1C 0A DF 00"), frame("D0 8E 00 00 1C 0A DF 00"));
        QCOMPARE(tag.controlWriteCount(18), 1);
        QCOMPARE(tag.controlWriteCount(28), 2);
        QCOMPARE(tag.lastControlValue(28), 0xDF);
        // The driver's version register at 18 reads as before.
        QCOMPARE(answer(dongle, "D0 0D 00 00 12 0A 00 00"), frame("D0 8D 00 00 12 0A 01 00"));
        // A 16-bit write over 27..28 stores 27 and records 28.
        send(dongle, "D0 0E 00 00 9B 0A 44 33");
        QCOMPARE(tag.memoryByte(27), quint8(0x33));
        QCOMPARE(tag.memoryByte(28), quint8(0x00));
        QCOMPARE(tag.lastControlValue(28), 0x44);
    }

    void mailboxReachesTheDriversParameters()
    {
        SimTagConfig config;
        config.currents = {700, 350, 500, 1050};
        config.makerParameters = {{0x0005, 0x1234}};
        SimDongle dongle(5, AllCapabilities);
        dongle.keymarkPort().insertTag(config);

        // Read maker parameter 0x0200 (current 3): number, request 0x41, value
        // at 0x72 low byte first.
        send(dongle, "D0 0E 00 00 F0 0A 00 02");
        send(dongle, "D0 0E 00 00 74 0A 41 00");
        QCOMPARE(answer(dongle, "D0 0D 00 00 F2 0A 00 00"), frame("D0 8D 00 00 F2 0A 01 F4"));
        QCOMPARE(answer(dongle, "D0 0D 00 00 74 0A 00 00"), frame("D0 8D 00 00 74 0A 00 00"));

        // Write current 2 (0x0002) = 0x0320: its value goes low byte first.
        send(dongle, "D0 0E 00 00 F0 0A 02 00");
        send(dongle, "D0 0E 00 00 F2 0A 03 20");
        send(dongle, "D0 0E 00 00 74 0A C1 00");
        QCOMPARE(dongle.keymarkPort().tag().current(1), quint16(0x0320));

        // An unknown parameter fails with status bit 2.
        send(dongle, "D0 0E 00 00 F0 0A 99 00");
        send(dongle, "D0 0E 00 00 74 0A 41 00");
        QCOMPARE(answer(dongle, "D0 0D 00 00 74 0A 00 00"), frame("D0 8D 00 00 74 0A 04 00"));
    }

    void passThroughConfiguresTheDriver()
    {
        SimDongle dongle(5, AllCapabilities);
        const SimTag& tag = dongle.keymarkPort().tag();
        QCOMPARE(tag.driver().dimmingCurve(), quint8(0));
        // DTR 1, ENABLE DEVICE TYPE 6, SELECT DIMMING CURVE twice (broadcast).
        for (const char* bytes : {"D0 0E 00 00 40 0B 01 A3", "D0 0E 00 00 40 0B 06 C1", "D0 0E 00 00 40 0B E3 FF",
                                  "D0 0E 00 00 40 0B E3 FF"})
            QCOMPARE(quint8(answer(dongle, bytes).at(1)), quint8(0x8E));
        QCOMPARE(tag.driver().dimmingCurve(), quint8(1));
        // DTR 40, STORE THE DTR AS MIN LEVEL twice, QUERY MIN LEVEL.
        send(dongle, "D0 0E 00 00 40 0B 28 A3");
        send(dongle, "D0 0E 00 00 40 0B 2B FF");
        send(dongle, "D0 0E 00 00 40 0B 2B FF");
        QCOMPARE(answer(dongle, "D0 0D 00 00 40 0B A2 FF"), frame("D0 8D 00 00 40 0B 28 00"));
        QCOMPARE(tag.driverFrames(), (QList<quint16>{0xA301, 0xC106, 0xFFE3, 0xFFE3, 0xA328, 0xFF2B, 0xFF2B, 0xFFA2}));
    }

    void ampwiseStatusWordsLieBeyondTheTag()
    {
        SimDongle dongle(5, AllCapabilities);
        dongle.keymarkPort().insertTag(tagWithChips({0x4001, 0x0040, 0x1234}));
        QCOMPARE(answer(dongle, "D0 0D 00 00 7F 0A 00 00"), frame("D0 8D 00 00 7F 0A 03 00"));
        // DTR1 1, DTR 0xA4 (chip 1), READ MEMORY LOCATION twice: 0x00, 0x40.
        send(dongle, "D0 0E 00 00 40 0B 01 C3");
        send(dongle, "D0 0E 00 00 40 0B A4 A3");
        QCOMPARE(answer(dongle, "D0 0D 00 00 40 0B C5 FF"), frame("D0 8D 00 00 40 0B 00 00"));
        QCOMPARE(answer(dongle, "D0 0D 00 00 40 0B C5 FF"), frame("D0 8D 00 00 40 0B 40 00"));
        QCOMPARE(dongle.keymarkPort().tag().driver().memory(1, 0xC4), quint8(0x12));
    }

    void keymarkErrorFlag_data()
    {
        QTest::addColumn<quint16>("capabilities");
        QTest::addColumn<bool>("present");
        QTest::addColumn<bool>("beforeAnyFrame");
        QTest::addColumn<bool>("afterAWrite");
        //                                                 capabilities     tag     before   after
        QTest::newRow("reading dongle, tag in")        << AllCapabilities << true  << false << false;
        QTest::newRow("reading dongle, no tag")        << AllCapabilities << false << true  << true;
        QTest::newRow("write-only dongle, tag in")     << WriteOnly       << true  << false << false;
        QTest::newRow("write-only dongle, no tag")     << WriteOnly       << false << false << true;
    }

    void keymarkErrorFlag()
    {
        QFETCH(quint16, capabilities);
        QFETCH(bool, present);
        QFETCH(bool, beforeAnyFrame);
        QFETCH(bool, afterAWrite);
        SimDongle dongle(5, capabilities);
        dongle.keymarkPort().setTagPresent(present);
        QCOMPARE(keymarkErrorBit(dongle), beforeAnyFrame);
        send(dongle, "D0 0E 00 00 12 0A 00 00");
        QCOMPARE(keymarkErrorBit(dongle), afterAWrite);
        // The flag as the tool reads it: parameter 4 through packet 0x0D.
        const QByteArray reply = dongle.process(hex("0D 00 04 00 00"));
        QCOMPARE(bool(quint8(reply.at(4)) & 0x02), afterAWrite);

        // Putting the tag in (or taking it out) shows at once on a dongle that
        // can read, and after the next frame on one that cannot.
        dongle.keymarkPort().setTagPresent(!present);
        if (capabilities & SimDongle::KeymarkReadCapability)
            QCOMPARE(keymarkErrorBit(dongle), present);
        send(dongle, "D0 0E 00 00 12 0A 00 00");
        QCOMPARE(keymarkErrorBit(dongle), present);
    }

    void tagPulledOutAfterFrames()
    {
        SimDongle dongle(5, AllCapabilities);
        dongle.keymarkPort().pullOutTagAfter(2);
        QCOMPARE(answer(dongle, "D0 0E 00 00 30 0A 10 00"), frame("D0 8E 00 00 30 0A 10 00"));
        QVERIFY(!keymarkErrorBit(dongle));
        QCOMPARE(answer(dongle, "D0 0E 00 00 31 0A 11 00"), frame("D0 8E 00 00 31 0A 11 00"));
        QVERIFY(keymarkErrorBit(dongle));
        QCOMPARE(send(dongle, "D0 0E 00 00 32 0A 12 00"), hex("82 05 00"));
        QCOMPARE(dongle.keymarkPort().tag().memoryByte(0x32), quint8(0));
        QCOMPARE(dongle.keymarkPort().frameCount(), 3);
        // Back in, with what it held.
        dongle.keymarkPort().setTagPresent(true);
        QCOMPARE(answer(dongle, "D0 0D 00 00 31 0A 00 00"), frame("D0 8D 00 00 31 0A 11 00"));
    }

    void misbehavingTags_data()
    {
        QTest::addColumn<SimKeymarkPort::ReplyFault>("fault");
        QTest::addColumn<QByteArray>("reply");
        const QByteArray good = frame("D0 8D 00 00 30 0A 46 00");
        QByteArray badSum = good;
        badSum[8] = char(quint8(badSum.at(8)) ^ 0x5A);
        QTest::newRow("silent")       << SimKeymarkPort::ReplyFault::Silent      << hex("82 05 00");
        QTest::newRow("bad checksum") << SimKeymarkPort::ReplyFault::BadChecksum << hex("82 00 09") + badSum;
        QTest::newRow("short frame")  << SimKeymarkPort::ReplyFault::ShortFrame  << hex("82 00 05") + good.left(5);
        QTest::newRow("long frame")   << SimKeymarkPort::ReplyFault::LongFrame
                                      << hex("82 00 15") + good + QByteArray(12, char(0x55));
    }

    void misbehavingTags()
    {
        QFETCH(SimKeymarkPort::ReplyFault, fault);
        QFETCH(QByteArray, reply);
        SimDongle dongle(5, AllCapabilities);
        dongle.keymarkPort().setReplyFault(fault);
        QCOMPARE(send(dongle, "D0 0D 00 00 30 0A 00 00").toHex(' '), reply.toHex(' '));
        // The tag still carries out what it is sent.
        send(dongle, "D0 0E 00 00 30 0A 21 00");
        QCOMPARE(dongle.keymarkPort().tag().memoryByte(0x30), quint8(0x21));
    }

    void whatTheTrafficChangedIsSaved()
    {
        // Current 1 = 0x0320 through the mailbox, NTC 90.
        SimDongle dongle(5, AllCapabilities);
        for (const char* write : {"D0 0E 00 00 F0 0A 00 00", "D0 0E 00 00 F2 0A 03 20", "D0 0E 00 00 74 0A C1 00",
                                  "D0 0E 00 00 30 0A 5A 00"})
            send(dongle, write);
        const QJsonObject saved = dongle.keymarkPort().save();
        QCOMPARE(saved.value("currents").toArray().first().toInt(), 800);
        QCOMPARE(saved.value("ntcTemperature").toInt(), 90);
        SimDongle reloaded(5, AllCapabilities);
        QString error;
        QVERIFY2(reloaded.load(dongle.save(), &error), qPrintable(error));
        QCOMPARE(reloaded.keymarkPort().save(), saved);
        QCOMPARE(reloaded.keymarkPort().tag().state(), dongle.keymarkPort().tag().state());
        QCOMPARE(reloaded.keymarkPort().tag().memoryByte(0x72), quint8(0x20));
    }

    void malformedSections_data()
    {
        QTest::addColumn<QByteArray>("json");
        QTest::addColumn<QString>("message");
        QTest::newRow("present not a flag")  << QByteArray(R"({"present": 1})")                  << "\"present\"";
        QTest::newRow("current too big")     << QByteArray(R"({"currents": [1, 2, 3, 70000]})")   << "\"currents\"";
        QTest::newRow("unknown curve")       << QByteArray(R"({"dimmingCurve": "cubic"})")        << "\"dimmingCurve\"";
        QTest::newRow("min level 0")         << QByteArray(R"({"minLevel": 0})")                  << "\"minLevel\"";
        QTest::newRow("NTC 256")             << QByteArray(R"({"ntcTemperature": 256})")          << "\"ntcTemperature\"";
        QTest::newRow("five Ampwise chips")  << QByteArray(R"({"ampwise": [0, 0, 0, 0, 0]})")     << "\"ampwise\"";
        QTest::newRow("bank-1 location 1")   << QByteArray(R"({"bank1": {"1": 5}})")              << "\"bank1\"";
    }

    void malformedSections()
    {
        QFETCH(QByteArray, json);
        QFETCH(QString, message);
        SimDongle dongle(5, AllCapabilities);
        const QJsonObject before = dongle.keymarkPort().save();
        QString error;
        QVERIFY(!dongle.keymarkPort().load(QJsonDocument::fromJson(json).object(), &error));
        QVERIFY2(error.startsWith("\"keymark\": ") && error.contains(message), qPrintable(error));
        QCOMPARE(dongle.keymarkPort().save(), before);
    }
};

QTEST_GUILESS_MAIN(TestSimKeymark)
#include "tst_simkeymark.moc"
