// tivaro-cli as a script sees it: every command against the virtual
// Portline's built-in installation (four uncommissioned DALI gear, a driver
// with LID 1 and two more behind it in its chain, a Keymark tag), usage
// errors, help and human output, and other installations (no dongle, two
// dongles, equipment variants).

#include "clitest.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <QTest>

using clitest::check;
using clitest::CliRun;
using clitest::run;

namespace {

const QVariant Null;

} // namespace

class TestCliCommands : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void usageErrorsNameTheArgument_data();
    void usageErrorsNameTheArgument();
    void printedText_data();
    void printedText();
    void commandsOnTheBuiltInInstallation_data();
    void commandsOnTheBuiltInInstallation();
    void equipmentVariants_data();
    void equipmentVariants();
    void dmxSendKeepsTheFramePeriod();
    void unusableInstallationIsAUsageError();
};

void TestCliCommands::usageErrorsNameTheArgument_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("message");

    //                                  arguments                                          the message names
    QTest::newRow("unknown command")      << QStringList{"frobnicate"}                         << "unknown command \"frobnicate\"";
    QTest::newRow("unknown dali command") << QStringList{"dali", "dim"}                        << "dali: unknown command \"dim\"";
    QTest::newRow("no command")           << QStringList{"--json"}                             << "missing COMMAND";
    QTest::newRow("missing NUMBER")       << QStringList{"dali", "get", "3"}                   << "missing argument NUMBER";
    QTest::newRow("missing VALUE")        << QStringList{"dmx", "set", "1", "9"}               << "missing argument VALUE";
    QTest::newRow("short address 64")     << QStringList{"--json", "dali", "get", "64", "0"}   << "TARGET \"64\"";
    QTest::newRow("bad hexadecimal")      << QStringList{"dmx", "get", "1", "0xZZ"}            << "NUMBER \"0xZZ\"";
    QTest::newRow("exponent")             << QStringList{"dongle", "set", "8", "1e3"}          << "VALUE \"1e3\"";
    QTest::newRow("value above 16 bits")  << QStringList{"dali", "set", "3", "0", "65536"}     << "VALUE \"65536\"";
    QTest::newRow("driver number 0")      << QStringList{"dmx", "get", "1", "0"}               << "NUMBER \"0\"";
    QTest::newRow("level 255")            << QStringList{"dali", "level", "broadcast", "255"}  << "LEVEL \"255\"";
    QTest::newRow("commission mode")      << QStringList{"dali", "commission"}                 << "either --all or --new";
    QTest::newRow("foreign option")       << QStringList{"dali", "scan", "--skip", "1"}        << "unknown option --skip";
    QTest::newRow("extra argument")       << QStringList{"info", "now"}                        << "unexpected argument \"now\"";
    QTest::newRow("skip above 255")       << QStringList{"dmx", "params", "1", "--skip", "256"} << "--skip \"256\"";
    QTest::newRow("set point pair")       << QStringList{"dmx", "send", "1:255"}               << "\"1:255\" must be ADDRESS=VALUE";
    QTest::newRow("set point address")    << QStringList{"dmx", "send", "513=1"}               << "ADDRESS \"513\"";
    QTest::newRow("frames and seconds")   << QStringList{"dmx", "send", "--frames", "2", "--seconds", "1", "1=1"} << "either --frames or --seconds";
    QTest::newRow("nothing to send")      << QStringList{"dmx", "send", "--frames", "2"}       << "missing argument ADDRESS=VALUE";
    QTest::newRow("nothing to write")     << QStringList{"keymark", "write"}                   << "nothing to write";
    QTest::newRow("current too low")      << QStringList{"keymark", "write", "--current1", "150"} << "--current1 \"150\"";
    QTest::newRow("timeout")              << QStringList{"--timeout", "soon", "info"}          << "--timeout \"soon\"";
    QTest::newRow("log file name")        << QStringList{"--log-file", "", "info"}             << "--log-file needs a file name";
    QTest::newRow("save without simulate") << QStringList{"--save-simulation", "x.json", "info"} << "--save-simulation needs --simulate";
    QTest::newRow("snapshot device")      << QStringList{"snapshot", "save", "lamp"}           << "DEVICE \"lamp\"";
    QTest::newRow("snapshot file")        << QStringList{"--simulate", "snapshot", "restore", "/nonexistent/x.json"} << "FILE cannot open";
    QTest::newRow("log file unwritable")  << QStringList{"--simulate", "--log-file", "/nonexistent/x.log", "info"} << "--log-file: cannot open";
}

void TestCliCommands::usageErrorsNameTheArgument()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, message);
    const CliRun result = run(arguments);
    QVERIFY2(result.finished && result.exitCode == 2, qPrintable(result.describe()));
    QVERIFY2(QString::fromLocal8Bit(result.err).contains(message), qPrintable(result.describe()));
    // Nothing but the JSON document (with --json) goes to standard output.
    if (!arguments.contains("--json")) {
        QVERIFY2(result.out.isEmpty(), qPrintable(result.describe()));
        return;
    }
    QVariantMap expected{{"status", "usage-error"}, {"exitCode", 2}};
    if (arguments.size() > 2)
        expected.insert("command", arguments.mid(1, 2).join(' '));
    CLI_VERIFY(check(result, 2, expected, message));
}

void TestCliCommands::commandsOnTheBuiltInInstallation_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QVariantMap>("expected");
    QTest::addColumn<QString>("error");

    auto row = [](const char* name, const QStringList& arguments, int exitCode, const QVariantMap& expected,
                  const QString& error = QString()) {
        QTest::newRow(name) << arguments << exitCode << expected << error;
    };

    row("info", {"info"}, 0,
        {{"dongle.index", 1}, {"dongle.version", "5.0"}, {"dongle.capabilities.dali", true},
         {"dongle.capabilities.keymarkRead", true}, {"dongle.parameters[0].number", 0},
         {"dongle.parameters[0].value", 5}, {"dongle.parameters[0].readOnly", true}, {"status", "ok"}});
    row("dongle get", {"dongle", "get", "37"}, 0, {{"parameter.name", "DMX channel count"}, {"parameter.value", 512}});
    row("dongle get unknown number", {"dongle", "get", "0x0300"}, 0,
        {{"parameter.name", "Portline parameter 768"}, {"parameter.value", 0}});
    row("dongle set", {"dongle", "set", "12", "3"}, 0, {{"written", 3}, {"readBack", 3}, {"verified", true}});
    row("dongle set read-only", {"dongle", "set", "0", "4"}, 2, {{"status", "usage-error"}}, "is read-only");

    row("dali scan of new gear", {"dali", "scan"}, 0, {{"#gear", 0}});
    row("dali commission new", {"dali", "commission", "--new"}, 0,
        {{"mode", "new"}, {"#addressed", 4}, {"addressed[0].shortAddress", 0}, {"addressed[3].shortAddress", 3},
         {"addressed[3].name", "DALI Device 3"}, {"#gear", 4}, {"verificationErrors", 0}});
    row("dali power", {"dali", "power"}, 0, {{"busVoltage", true}, {"portlineSupply", false}});
    row("dali power on", {"dali", "power", "on"}, 0, {{"busVoltage", true}, {"portlineSupply", true}});
    row("dali level", {"dali", "level", "group", "1", "100"}, 0,
        {{"level", 100}, {"target.kind", "group"}, {"target.group", 1}});
    row("dali set broadcast", {"dali", "set", "broadcast", "4", "250"}, 0,
        {{"written", 250}, {"verified", Null}, {"readBack", Null}, {"target.kind", "broadcast"}});
    row("dali get without gear", {"dali", "get", "0", "0"}, 1, {{"status", "failed"}}, "no answer reading Actual level");
    row("dali set outside range", {"dali", "set", "3", "3", "300"}, 2, {}, "VALUE 300 is outside the range 1..254");
    row("dali set read-only", {"dali", "set", "3", "26", "1"}, 2, {}, "parameter 26 \"Status\" is read-only");
    row("dali get undefined", {"dali", "get", "3", "0x2010"}, 2, {}, "NUMBER 0x2010 is not a parameter defined");

    row("dmx discover", {"dmx", "discover"}, 0,
        {{"#drivers", 1}, {"drivers[0].uid", "4856:00000101"}, {"drivers[0].lid", 1}});
    row("dmx daisy", {"dmx", "daisy", "1"}, 0,
        {{"guid", "0x4A1B2C01"}, {"#cells", 2}, {"cells[0].skip", 1}, {"cells[0].guid", "0x4A1B2C02"},
         {"cells[1].skip", 2}, {"cells[1].guid", "0x4A1B2C03"}});
    row("dmx daisy without driver", {"dmx", "daisy", "7"}, 1, {}, "no driver answers as driver LID 7");
    row("dmx params", {"dmx", "params", "1"}, 0,
        {{"#parameters", 23}, {"parameters[0].number", 2}, {"parameters[0].name", "Network start address"},
         {"parameters[0].typeWord", "0x0600"}, {"parameters[0].min", 1}, {"parameters[0].max", 512},
         {"parameters[0].value", 1}, {"parameters[11].number", 74}, {"parameters[11].readOnly", true},
         {"parameters[11].value", 2}});
    row("dmx params in a chain", {"dmx", "params", "1", "--skip", "2"}, 0,
        {{"driver.skip", 2}, {"#parameters", 23}, {"parameters[11].value", 0}});
    row("dmx get", {"dmx", "get", "1", "157"}, 0,
        {{"parameter.value", 85}, {"parameter.name", "Thermal throttling: temperature"}, {"parameter.kind", "value"}});
    row("dmx set", {"dmx", "set", "1", "9", "500"}, 0, {{"readBack", 500}, {"verified", true}});
    row("dmx set flag", {"dmx", "set", "1", "57", "1"}, 0,
        {{"parameter.kind", "flag"}, {"parameter.typeWord", "0x4005"}, {"readBack", 1}, {"verified", true}});
    row("dmx set outside range", {"dmx", "set", "1", "9", "2000"}, 2, {}, "VALUE 2000 is outside the range 0..1023");
    row("dmx set read-only", {"dmx", "set", "1", "150", "1"}, 2, {}, "\"Hardware type\" is read-only");
    row("dmx get missing parameter", {"dmx", "get", "1", "14"}, 1, {}, "has no parameter 14");
    row("dmx get without driver", {"dmx", "get", "9", "2"}, 1, {}, "no driver answers as driver LID 9");
    row("dmx send", {"dmx", "send", "--frames", "3", "1=255", "512=7"}, 0,
        {{"frames", 3}, {"#setpoints", 2}, {"setpoints[1].address", 512}, {"setpoints[1].value", 7}});

    row("keymark read", {"keymark", "read"}, 0,
        {{"#sources", 4}, {"sources[0].currentMa", 350}, {"sources[3].available", true},
         {"dimmingCurve", "logarithmic"}, {"minLevel.daliLevel", 1}, {"minLevel.percent", 0.1},
         {"ntcCelsius", 70}, {"ampwise.count", 2}, {"ampwise.status[1]", "0x0000"}});
    row("keymark write", {"keymark", "write", "--current2", "500", "--ntc", "75"}, 0,
        {{"#written", 2}, {"written[0].setting", "current2"}, {"written[0].parameter.number", 0x2002},
         {"written[0].readBack", 500}, {"written[1].setting", "ntc"}, {"written[1].readBack", 75},
         {"written[1].verified", true}});
    row("keymark write outside range", {"keymark", "write", "--ntc", "200"}, 2, {}, "--ntc: VALUE 200 is outside");

    row("snapshot save", {"snapshot", "save", "dmx", "1"}, 0,
        {{"format", "tivaro-snapshot"}, {"version", 1}, {"device.type", "dmx"}, {"device.lid", 1},
         {"device.hardwareType", 49}, {"device.guid", "0x4A1B2C01"}, {"#parameters", 22}});
}

void TestCliCommands::commandsOnTheBuiltInInstallation()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QVariantMap, expected);
    QFETCH(QString, error);
    const CliRun result = run(QStringList{"--simulate", "--json"} + arguments);
    CLI_VERIFY(check(result, exitCode, expected, error));
    QVERIFY2(result.json.value("error").toString().contains(error), qPrintable(result.describe()));
}

void TestCliCommands::printedText_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("tool help")   << QStringList{"--help"}
                                 << QStringList{"dali commission --all | --new", "snapshot restore FILE [--dry-run]",
                                                "keymark write", "--timeout SECONDS", "3 no dongle"};
    QTest::newRow("help wins over errors") << QStringList{"dali", "get", "99", "--help"}
                                           << QStringList{"Usage: tivaro-cli [options] dali get TARGET NUMBER", "broadcast"};
    QTest::newRow("help word")   << QStringList{"help", "dmx", "send"} << QStringList{"--frames N", "ADDRESS: 1..512"};
    QTest::newRow("group help")  << QStringList{"keymark", "-h"} << QStringList{"keymark read", "keymark write"};
    QTest::newRow("version")     << QStringList{"--version"} << QStringList{"tivaro-cli 1.04"};
    // Human output of commands on the simulator.
    QTest::newRow("info")        << QStringList{"--simulate", "info"}
                                 << QStringList{"Portline (index 1)\nVersion: 5.0\n", "Capabilities: DMX yes, Chorus yes",
                                                "Number  Name ", "37      DMX channel count                512"};
    QTest::newRow("dmx params")  << QStringList{"--simulate", "dmx", "params", "1"}
                                 << QStringList{"Number  Name", "150     Hardware type", "read-only (0x8000)",
                                                "1..512    read/write (0x0600)"};
    QTest::newRow("dali commission") << QStringList{"--simulate", "dali", "commission", "--all"}
                                     << QStringList{"4 gear addressed in this run.", "3              DALI Device 3"};
    QTest::newRow("keymark read") << QStringList{"--simulate", "keymark", "read"}
                                  << QStringList{"1       yes        350 mA", "Dimming curve: logarithmic",
                                                 "Minimum level: 0.1 % (DALI level 1)"};
    QTest::newRow("dmx get")     << QStringList{"--simulate", "dmx", "get", "1", "9"}
                                 << QStringList{"Master dimmer value (9) of driver LID 1: 1023\n"};
}

void TestCliCommands::printedText()
{
    QFETCH(QStringList, arguments);
    QFETCH(QStringList, expected);
    const CliRun result = run(arguments);
    QVERIFY2(result.finished && result.exitCode == 0, qPrintable(result.describe()));
    const QString out = QString::fromUtf8(result.out);
    for (const QString& text : expected)
        QVERIFY2(out.contains(text), qPrintable(text + "\n" + result.describe()));
    // The core's diagnostic dumps never reach the results.
    QVERIFY2(!out.contains("Network init") && !out.contains("***"), qPrintable(result.describe()));
}

void TestCliCommands::equipmentVariants_data()
{
    QTest::addColumn<QByteArray>("installation");
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QVariantMap>("expected");
    QTest::addColumn<QString>("message");
    auto installation = [](const char* name, const QByteArray& text, const QStringList& arguments, int exitCode,
                           const QVariantMap& expected, const QString& message = QString()) {
        QTest::newRow(name) << text << arguments << exitCode << expected << message;
    };
    // One dongle made of the given members.
    auto row = [&](const char* name, const char* dongle, const QStringList& arguments, int exitCode,
                   const QVariantMap& expected, const QString& message = QString()) {
        installation(name, "{\"dongles\": [{" + QByteArray(dongle) + "}]}", arguments, exitCode, expected, message);
    };
    const QByteArray twoDongles = R"({"dongles": [{"name": "Bench A"}, {"name": "Bench B", "firmwareVersion": 6}]})";
    const char* writeOnly = R"("capabilities": "0x003F")";

    row("no tag", R"("keymark": {"present": false})", {"keymark", "read"}, 1, {{"status", "failed"}},
        "no Keymark tag in the port");
    row("write-only dongle reads", writeOnly, {"keymark", "read"}, 1, {}, "can only write Keymark tags");
    row("write-only dongle writes", writeOnly, {"keymark", "write", "--current1", "600"}, 0,
        {{"#written", 1}, {"written[0].written", 600}, {"written[0].verified", Null}}, "cannot read the tag");
    row("write-only dongle, level without curve", writeOnly, {"keymark", "write", "--min-level", "10"}, 2,
        {{"status", "usage-error"}}, "--min-level needs --curve");
    row("one Ampwise chip: no source 3", R"("keymark": {"ampwise": ["0x0000"]})",
        {"keymark", "write", "--current3", "500"}, 1, {}, "current source 3 is not available");
    row("one Ampwise chip read", R"("keymark": {"ampwise": ["0x0040"]})", {"keymark", "read"}, 0,
        {{"ampwise.count", 1}, {"sources[0].available", true}, {"sources[1].available", false},
         {"sources[1].currentMa", Null}, {"sources[2].available", false}});
    row("no DALI", R"("capabilities": "0x007B")", {"dali", "scan"}, 1, {}, "does not support DALI");
    row("bus without supply", R"("dali": {"gear": [{"short": 0}]})", {"dali", "scan"}, 0,
        {{"#gear", 0}, {"warnings[0]", "the DALI bus has no voltage; \"dali power on\" switches on the "
                                       "Portline's own bus supply"}},
        "dali power on");
    row("gear with a short address", R"("dali": {"powered": true, "gear": [{"short": 5}]})", {"dali", "scan"}, 0,
        {{"#gear", 1}, {"gear[0].shortAddress", 5}});
    row("new gear beside addressed gear",
        R"("dali": {"powered": true, "gear": [{"short": 0}, {"short": 1}], "randomGear": 2})",
        {"dali", "commission", "--new"}, 0,
        {{"#addressed", 2}, {"addressed[0].shortAddress", 2}, {"addressed[1].shortAddress", 3}, {"#gear", 4},
         {"gear[0].shortAddress", 0}});
    row("no Chorus", R"("capabilities": "0x007D")", {"dmx", "discover"}, 1, {}, "does not support command/reply traffic");
    row("old firmware", R"("answersVersionRead": false)", {"info"}, 0,
        {{"dongle.version", "< 4.0"}, {"dongle.versionKnown", false}, {"dongle.capabilities.dmx", true},
         {"dongle.capabilities.dali", false}, {"#dongle.parameters", 1}});
    installation("first of two dongles", twoDongles, {"--dongle", "1", "info"}, 0,
                 {{"dongleIndex", 1}, {"dongle.index", 1}, {"dongle.version", "5.0"}});
    installation("second of two dongles", twoDongles, {"--dongle", "2", "info"}, 0,
                 {{"dongleIndex", 2}, {"dongle.index", 2}, {"dongle.version", "6.0"}});
    // Exit 3 once --timeout has passed without the dongle.
    installation("no dongle plugged in", R"({"dongles": []})", {"--timeout", "0.3", "info"}, 3,
                 {{"status", "no-dongle"}}, "no Portline found within 0.3 s");
    installation("not the index asked for", R"({"dongles": [{}]})", {"--timeout", "0.3", "--dongle", "2", "dali", "scan"}, 3,
                 {{"status", "no-dongle"}}, "no Portline with index 2 found within 0.3 s");
}

void TestCliCommands::equipmentVariants()
{
    QFETCH(QByteArray, installation);
    QFETCH(QStringList, arguments);
    QFETCH(int, exitCode);
    QFETCH(QVariantMap, expected);
    QFETCH(QString, message);
    QTemporaryDir dir;
    const QString file = clitest::writeFile(dir, "installation.json", installation);
    const CliRun result = run(QStringList{"--simulate=" + file, "--json"} + arguments);
    CLI_VERIFY(check(result, exitCode, expected, message));
    // Waiting for a dongle is bounded by --timeout, not by the tool's own patience.
    if (exitCode == 3)
        QVERIFY2(result.elapsedMs >= 300 && result.elapsedMs < 10000, qPrintable(result.describe()));
}

void TestCliCommands::dmxSendKeepsTheFramePeriod()
{
    // 0.3 s at one frame per 50 ms: six frames, spread over the time asked.
    const CliRun result = run({"--simulate", "--json", "dmx", "send", "--seconds", "0.3", "1=255"});
    CLI_VERIFY(check(result, 0, {{"frames", 6}, {"intervalMs", 50}}));
    QVERIFY2(result.elapsedMs >= 250, qPrintable(result.describe()));
}

void TestCliCommands::unusableInstallationIsAUsageError()
{
    QTemporaryDir dir;
    const QString file = clitest::writeFile(dir, "broken.json", "{\n\"dongles\": [\n{\"capabilities\": 7x}]}");
    const CliRun result = run({"--simulate=" + file, "info"});
    QVERIFY2(result.finished && result.exitCode == 2, qPrintable(result.describe()));
    const QString err = QString::fromLocal8Bit(result.err);
    QVERIFY2(err.contains("simulation not started") && err.contains("line 3"), qPrintable(result.describe()));
}

QTEST_GUILESS_MAIN(TestCliCommands)

#include "tst_clicommands.moc"
