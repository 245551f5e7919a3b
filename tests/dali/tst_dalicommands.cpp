// The DALI command tables and the decoded log line of each kind of frame.

#include "dali/dalicommands.h"
#include "dali/dalinetworklogmessage.h"

#include <QTest>

#include <memory>

using namespace halvorn::dali;
using halvorn::general::LogMessage;

namespace {

enum Kind { Forward, Answer, NoAnswer, Failure };

} // namespace

class TestDaliCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void namesAndAnswers_data()
    {
        QTest::addColumn<int>("address");
        QTest::addColumn<int>("data");
        QTest::addColumn<int>("deviceType");
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("answer");
        //                                       address data  type  name                                answer
        QTest::newRow("extended version number") << 0x0B << 0xFF << 0 << "QUERY EXTENDED VERSION NUMBER" << true;
        QTest::newRow("no command 0x22")         << 0x0B << 0x22 << 0 << ""                              << false;
        QTest::newRow("even special 0xA0")       << 0xA0 << 0x00 << 0 << ""                              << false;
        QTest::newRow("compare")                 << 0xA9 << 0x00 << 0 << "COMPARE"                       << true;
        QTest::newRow("dtr1")                    << 0xC3 << 0x01 << 0 << "DATA TRANSFER REGISTER 1 (DTR1)" << false;
        QTest::newRow("0xE4 under type 6")       << 0xFF << 0xE4 << 6 << "STORE DTR AS FAST FADE TIME"   << false;
        QTest::newRow("0xE4 under type 8")       << 0xFF << 0xE4 << 8 << "X_COORDINATE_STEP_DOWN"        << false;
        QTest::newRow("0xFE under type 6")       << 0x01 << 0xFE << 6 << "QUERY MIN FAST FADE TIME"      << true;
        QTest::newRow("0xFE under type 3")       << 0x01 << 0xFE << 3 << "unknown extension command"     << false;
        QTest::newRow("arc power")               << 0xFE << 0x90 << 0 << ""                              << false;
        QTest::newRow("go to scene 15 group 3")  << 0x87 << 0x1F << 0 << "GO TO SCENE 15"                << false;
        QTest::newRow("query scene level 9")     << 0x01 << 0xB9 << 0 << "QUERY SCENE LEVEL 9"           << true;
        QTest::newRow("0xC6 after the queries")  << 0x01 << 0xC6 << 0 << ""                              << false;
    }

    void namesAndAnswers()
    {
        QFETCH(int, address);
        QFETCH(int, data);
        QFETCH(int, deviceType);
        QFETCH(QString, name);
        QFETCH(bool, answer);
        QCOMPARE(DaliCommands::commandName(uint8_t(address), uint8_t(data), deviceType), name);
        QCOMPARE(DaliCommands::answerExpected(uint8_t(address), uint8_t(data), deviceType), answer);
    }

    void logLine_data()
    {
        QTest::addColumn<int>("kind");
        QTest::addColumn<int>("first");  // address byte, or the answer
        QTest::addColumn<int>("second"); // data byte, or the delay
        QTest::addColumn<int>("deviceType");
        QTest::addColumn<QString>("text");
        const QString valueColumn(66, QLatin1Char(' '));
        const auto row = [](const char* name, Kind kind, int first, int second, int type, const QString& text) {
            QTest::newRow(name) << int(kind) << first << second << type << text;
        };
        row("no answer",              NoAnswer, 0,    0,    0, valueColumn + "No answer");
        row("error",                  Failure,  0,    0,    0, valueColumn + "Error");
        row("arc power broadcast",    Forward,  0xFE, 0x7F, 0, "COMMAND FE 7F   BROADCAST ARC POWER                               127 (7F)");
        row("arc power group 3",      Forward,  0x86, 0x00, 0, "COMMAND 86 00   GROUP3    ARC POWER                               0 (00)");
        row("command group 15",       Forward,  0x9F, 0x05, 0, "COMMAND 9F 05   GROUP15   RECALL MAX LEVEL");
        row("special dtr",            Forward,  0xA3, 0x2A, 0, "SPECIAL A3 2A             DATA TRANSFER REGISTER                  42 (2A)");
        row("special without name",   Forward,  0xA0, 0xFF, 0, "SPECIAL A0 FF                                                     255 (FF)");
        row("extended under type 6",  Forward,  0x01, 0xE0, 6, "COMMAND 01 E0   SHORT0    REFERENCE SYSTEM POWER");
        row("extended under type 3",  Forward,  0x7F, 0xE0, 3, "COMMAND 7F E0   SHORT63   unknown extension command");
        row("answer with delay",      Answer,   0xFF, 50,   0, "ANSWER  FF                (5.200 ms)                              255 (FF)");
        row("answer with small delay", Answer,  0x07, 1,    0, "ANSWER  07                (0.104 ms)                              7 (07)");
        row("answer without delay",   Answer,   0x00, 0,    0, "ANSWER  00                                                        0 (00)");
    }

    void logLine()
    {
        QFETCH(int, kind);
        QFETCH(int, first);
        QFETCH(int, second);
        QFETCH(int, deviceType);
        QFETCH(QString, text);
        const std::unique_ptr<LogMessage> message(
            kind == Forward    ? DaliNetworkLogMessage::forward(uint8_t(first), uint8_t(second), deviceType, nullptr)
            : kind == Answer   ? DaliNetworkLogMessage::answer(uint8_t(first), uint8_t(second), nullptr)
            : kind == NoAnswer ? DaliNetworkLogMessage::noAnswer(nullptr)
                               : DaliNetworkLogMessage::failure(nullptr));
        const halvorn::general::MessageType types[] = {halvorn::general::SEND, halvorn::general::REPLY,
                                                       halvorn::general::NOREPLY, halvorn::general::FAILURE};
        QCOMPARE(message->text(), text);
        QCOMPARE(message->type(), types[kind]);
        QCOMPARE(message->msgClass(), halvorn::general::DALI);
    }
};

QTEST_GUILESS_MAIN(TestDaliCommands)
#include "tst_dalicommands.moc"
