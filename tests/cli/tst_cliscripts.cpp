// tivaro-cli in sequences, as a production script runs it: commissioning
// followed by levels on every gear, settings kept from one run to the next
// (--save-simulation), snapshots saved, edited and restored, and Ctrl-C in
// the middle of commissioning.

#include "clitest.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using clitest::check;
using clitest::CliRun;
using clitest::run;

namespace {

// Changes the values of some parameters of a snapshot document.
QByteArray edited(const QJsonObject& snapshot, const QMap<int, int>& values, const QVariantMap& device = {})
{
    QJsonObject document = snapshot;
    QJsonArray parameters = document.value(QStringLiteral("parameters")).toArray();
    for (qsizetype i = 0; i < parameters.size(); ++i) {
        QJsonObject parameter = parameters.at(i).toObject();
        const int number = parameter.value(QStringLiteral("number")).toInt();
        if (values.contains(number))
            parameter.insert(QStringLiteral("value"), values.value(number));
        parameters[i] = parameter;
    }
    document.insert(QStringLiteral("parameters"), parameters);
    QJsonObject deviceObject = document.value(QStringLiteral("device")).toObject();
    for (auto it = device.begin(); it != device.end(); ++it)
        deviceObject.insert(it.key(), QJsonValue::fromVariant(it.value()));
    document.insert(QStringLiteral("device"), deviceObject);
    return QJsonDocument(document).toJson();
}

// The Chorus write frames the tool sent, from a --log-file log.
QStringList chorusWrites(const QString& logPath)
{
    return clitest::logLines(logPath).filter(QRegularExpression(QStringLiteral(R"(\[SEND \] CHORUS .*CH_EC_WRP)")));
}

QList<int> shortAddresses(const CliRun& scan)
{
    QList<int> addresses;
    for (const QJsonValue gear : scan.json.value(QStringLiteral("gear")).toArray())
        addresses.append(gear.toObject().value(QStringLiteral("shortAddress")).toInt());
    return addresses;
}

struct Interrupted
{
    int exitCode = -1;
    QJsonObject json;
    QString err;
};

// Starts tivaro-cli, waits until its log shows `marker`, sends SIGINT and
// waits (bounded) for it to end.
Interrupted interruptWhenLogged(const QStringList& arguments, const QString& log, const QString& marker)
{
    Interrupted result;
    QProcess process;
    process.start(QStringLiteral(TIVARO_CLI_PROGRAM), QStringList{"--json", "--log-file", log} + arguments);
    if (!process.waitForStarted(10000))
        return result;
    QElapsedTimer clock;
    clock.start();
    while (clitest::logLines(log).filter(marker).isEmpty() && process.state() == QProcess::Running
           && clock.elapsed() < 30000)
        process.waitForFinished(20);
    if (process.state() == QProcess::Running)
        ::kill(pid_t(process.processId()), SIGINT);
    if (!process.waitForFinished(10000)) {
        process.kill();
        process.waitForFinished(5000);
        return result;
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.json = QJsonDocument::fromJson(process.readAllStandardOutput()).object();
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

} // namespace

class TestCliScripts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void scriptCommissionsThenSetsEveryLevel();
    void keymarkSettingsWrittenAreReadNextTime();
    void snapshotRestoreWritesExactlyTheDifferences();
    void snapshotRestoreWithoutWrites_data();
    void snapshotRestoreWithoutWrites();
    void daliSnapshotRestoresGearSettings();
    void interruptReportsWhatWasFound_data();
    void interruptReportsWhatWasFound();
    void verboseLogsToStandardErrorOnly();

private:
    QString file(const QString& name) const { return m_dir.filePath(name); }
    QString write(const QString& name, const QByteArray& text) const { return clitest::writeFile(m_dir, name, text); }

    QTemporaryDir m_dir;
    QJsonObject m_driverSnapshot;
};

void TestCliScripts::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const CliRun saved = run({"--simulate", "snapshot", "save", "dmx", "1"});
    CLI_VERIFY(check(saved, 0));
    m_driverSnapshot = saved.json;
}

void TestCliScripts::scriptCommissionsThenSetsEveryLevel()
{
    const QString state = file("commissioned.json");
    auto cli = [&](const QStringList& arguments, bool first = false) {
        return run(QStringList{first ? "--simulate" : "--simulate=" + state, "--save-simulation", state, "--json"}
                   + arguments);
    };
    CLI_VERIFY(check(cli({"dali", "commission", "--all"}, true), 0, {{"#addressed", 4}}));

    // A later run finds the gear where commissioning put it.
    const CliRun scanned = cli({"dali", "scan"});
    CLI_VERIFY(check(scanned, 0));
    QCOMPARE(shortAddresses(scanned), (QList<int>{0, 1, 2, 3}));
    for (int address = 0; address < 4; ++address) {
        const int level = 100 + 30 * address;
        CLI_VERIFY(check(cli({"dali", "set", QString::number(address), "0", QString::number(level)}), 0,
                         {{"written", level}, {"readBack", level}, {"verified", true}, {"target.address", address}}));
    }

    // Readdressing one gear: never onto gear that is there already; the
    // next scan finds it at its new address.
    CLI_VERIFY(check(cli({"dali", "set", "3", "7", "1"}), 1, {}, "short address 1 is taken"));
    const CliRun moved = cli({"dali", "set", "3", "7", "10"});
    CLI_VERIFY(check(moved, 0));
    QVERIFY(clitest::at(moved.json, "warnings[0]").toString().contains("new short address"));
    QCOMPARE(shortAddresses(cli({"dali", "scan"})), (QList<int>{0, 1, 2, 10}));
}

void TestCliScripts::keymarkSettingsWrittenAreReadNextTime()
{
    const QString state = file("tag.json");
    // 50 % on the linear curve is DALI level round(49.9 × 253 / 99.9 + 1) = 127.
    CLI_VERIFY(check(run({"--simulate", "--save-simulation", state, "--json", "keymark", "write", "--current1", "700",
                          "--curve", "linear", "--min-level", "50", "--ntc", "80"}),
                     0,
                     {{"#written", 4}, {"written[2].setting", "minLevel"}, {"written[2].written", 127},
                      {"written[2].verified", true}}));
    CLI_VERIFY(check(run({"--simulate=" + state, "--json", "keymark", "read"}), 0,
                     {{"sources[0].currentMa", 700}, {"sources[1].currentMa", 350}, {"dimmingCurve", "linear"},
                      {"minLevel.daliLevel", 127}, {"minLevel.percent", 126 * (99.9 / 253) + 0.1}, {"ntcCelsius", 80}}));
}

void TestCliScripts::snapshotRestoreWritesExactlyTheDifferences()
{
    // Two writable parameters and a read-only one differ from the driver.
    const QString snapshot = write("driver.json", edited(m_driverSnapshot, {{9, 700}, {157, 90}, {152, 2}}));
    const QString log = file("restore.log");
    const CliRun restored = run({"--simulate", "--log-file", log, "snapshot", "restore", snapshot});
    QVERIFY2(restored.exitCode == 0, qPrintable(restored.describe()));

    const QString out = QString::fromUtf8(restored.out);
    const qsizetype table = out.indexOf("Differences between driver LID 1 and the snapshot");
    QVERIFY2(table >= 0, qPrintable(restored.describe()));
    for (const char* row : {"9       Master dimmer value              1023    700       write",
                            "152     Number of LED groups             4       2         skipped-read-only",
                            "157     Thermal throttling: temperature  85      90        write"})
        QVERIFY2(out.indexOf(row) > table, qPrintable(row + restored.describe()));
    QVERIFY2(out.contains("2 parameters written."), qPrintable(restored.describe()));
    QCOMPARE(out.count("Master dimmer"), 1);

    // Exactly two writes left the tool: parameter 9 with 700 and 157 with 90.
    const QStringList writes = chorusWrites(log);
    QCOMPARE(writes.size(), 2);
    QVERIFY2(writes[0].contains("D0 0E 01 00 09 00 BC 02"), qPrintable(writes.join('\n')));
    QVERIFY2(writes[1].contains("D0 0E 01 00 9D 00 5A 00"), qPrintable(writes.join('\n')));
}

// Restores that write nothing: a dry run, values the driver cannot take,
// and files of another driver or no snapshot at all.
void TestCliScripts::snapshotRestoreWithoutWrites_data()
{
    QTest::addColumn<QByteArray>("snapshot");
    QTest::addColumn<QStringList>("options");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QVariantMap>("expected");
    QTest::addColumn<QString>("message");
    const QJsonObject& driver = m_driverSnapshot;
    QTest::newRow("dry run") << edited(driver, {{9, 700}, {2, 17}}) << QStringList{"--dry-run"} << 0
                             << QVariantMap{{"dryRun", true}, {"#differences", 2}, {"differences[0].number", 2},
                                            {"differences[0].device", 1}, {"differences[0].snapshot", 17},
                                            {"differences[0].action", "would-write"}, {"differences[1].number", 9},
                                            {"written", 0}} << QString();
    // 2000 is beyond the range the driver gives parameter 9 (0..1023).
    QTest::newRow("out of range") << edited(driver, {{9, 2000}}) << QStringList() << 0
                                  << QVariantMap{{"#differences", 1}, {"differences[0].action", "skipped-out-of-range"},
                                                 {"written", 0}} << QString();
    QTest::newRow("driver absent") << edited(driver, {{9, 700}}, {{"lid", 9}}) << QStringList() << 1 << QVariantMap()
                                   << "no driver answers as driver LID 9";
    QTest::newRow("another hardware type")
        << edited(driver, {{9, 700}}, {{"hardwareType", 0x0032}}) << QStringList() << 1 << QVariantMap()
        << "the snapshot is for a driver of hardware type 0x0032, but the driver LID 1 is of hardware type 0x0031";
    QTest::newRow("unknown device type") << edited(driver, {}, {{"type", "lamp"}}) << QStringList() << 2 << QVariantMap()
                                         << "unknown device type \"lamp\"";
    QTest::newRow("not a snapshot") << QByteArray(R"({"dongles": []})") << QStringList() << 2 << QVariantMap()
                                    << "not a snapshot of tivaro-cli";
    QTest::newRow("broken JSON") << QByteArray("{\n\"format\": \"tivaro-snapshot\",\n]") << QStringList() << 2
                                 << QVariantMap() << "line 3";
}

void TestCliScripts::snapshotRestoreWithoutWrites()
{
    QFETCH(QByteArray, snapshot);
    QFETCH(QStringList, options);
    QFETCH(int, exitCode);
    QFETCH(QVariantMap, expected);
    QFETCH(QString, message);
    const QString log = file(QStringLiteral("unwritten-%1.log").arg(QTest::currentDataTag()));
    const QString path = write(QStringLiteral("unwritten-%1.json").arg(QTest::currentDataTag()), snapshot);
    CLI_VERIFY(check(run(QStringList{"--simulate", "--json", "--log-file", log, "snapshot", "restore", path} + options),
                     exitCode, expected, message));
    QVERIFY(exitCode != 0 || !clitest::logLines(log).isEmpty()); // the tool did talk to the driver
    QVERIFY(chorusWrites(log).isEmpty());
}

void TestCliScripts::daliSnapshotRestoresGearSettings()
{
    const QString installation = "--simulate=" + clitest::installation(m_dir, "gear.json",
                                                                       R"("dali": {"powered": true, "gear": [{"short": 0}, {"short": 1}]})");
    const CliRun saved = run({installation, "snapshot", "save", "dali", "0"});
    CLI_VERIFY(check(saved, 0, {{"device.type", "dali"}, {"device.target", 0}, {"device.deviceType", 6}}));
    // The address and the DTR registers are not settings of the gear.
    for (const QJsonValue parameter : saved.json.value(QStringLiteral("parameters")).toArray())
        QVERIFY(!QList<int>({7, 27, 28, 29}).contains(parameter.toObject().value(QStringLiteral("number")).toInt()));

    // Max level 200 and scene 3 at 40: two stores, and nothing else.
    const QString log = file("gear.log");
    CLI_VERIFY(check(run({installation, "--json", "--log-file", log, "snapshot", "restore",
                          write("gear0.json", edited(saved.json, {{4, 200}, {13, 40}}))}),
                     0,
                     {{"#differences", 2}, {"differences[0].number", 4}, {"differences[0].action", "written"},
                      {"differences[1].number", 13}, {"differences[1].action", "written"}, {"written", 2}}));
    const QStringList sets = clitest::logLines(log).filter("[REPLY] SET ");
    QCOMPARE(sets.size(), 2);
    QVERIFY2(sets[0].endsWith("SET STORE THE DTR AS MAX LEVEL: 200 (C8)"), qPrintable(sets[0]));
    QVERIFY2(sets[1].endsWith("SET STORE THE DTR AS SCENE 3: 40 (28)"), qPrintable(sets[1]));

    // A file of gear of another device type is refused before anything is written.
    const QString otherLog = file("dt8.log");
    CLI_VERIFY(check(run({installation, "--json", "--log-file", otherLog, "snapshot", "restore",
                          write("dt8.json", edited(saved.json, {{4, 200}}, {{"deviceType", 8}}))}),
                     1, {}, "the snapshot is for DALI device type 8, but DALI short 0 is of device type 6"));
    QVERIFY(clitest::logLines(otherLog).filter("[REPLY] SET ").isEmpty());
}

void TestCliScripts::interruptReportsWhatWasFound_data()
{
    QTest::addColumn<QByteArray>("equipment");
    QTest::addColumn<QStringList>("command");
    QTest::addColumn<QString>("marker");
    QTest::addColumn<QString>("list");
    QTest::addColumn<int>("total");
    // On buses at their real speed the work takes far longer than the moment
    // the test needs to interrupt it.
    QTest::newRow("commissioning")
        << QByteArray(R"("dali": {"powered": true, "timing": "realistic", "randomGear": 12, "seed": 5})")
        << QStringList{"dali", "commission", "--all"} << "Programmed short address verified" << "addressed" << 12;
    QTest::newRow("discovery") << QByteArray(R"("dmx": {"random": {"count": 30, "seed": 3}})")
                               << QStringList{"dmx", "discover"} << "Address found [" << "drivers" << 30;
}

void TestCliScripts::interruptReportsWhatWasFound()
{
    QFETCH(QByteArray, equipment);
    QFETCH(QStringList, command);
    QFETCH(QString, marker);
    QFETCH(QString, list);
    QFETCH(int, total);
    const QString installation = clitest::installation(m_dir, "slow.json", equipment, R"("usbLatencyUs": 1000)");
    const Interrupted result = interruptWhenLogged(QStringList{"--simulate=" + installation} + command,
                                                   file(list + ".log"), marker);
    QVERIFY2(result.exitCode == 130, qPrintable(result.err.right(2000)));
    QCOMPARE(result.json.value(QStringLiteral("status")).toString(), QStringLiteral("interrupted"));
    QCOMPARE(result.json.value(QStringLiteral("exitCode")).toInt(), 130);
    const int found = clitest::at(result.json, "#" + list).toInt();
    QVERIFY2(found >= 1 && found < total, qPrintable(QString::number(found)));
    if (list == QLatin1String("drivers")) {
        QCOMPARE(clitest::at(result.json, "drivers[0].lid").toInt(), 1);
        return;
    }
    // What was found is what the gear now hold: consecutive addresses from 0.
    QCOMPARE(clitest::at(result.json, "addressed[0].shortAddress").toInt(), 0);
    QCOMPARE(clitest::at(result.json, "#gear").toInt(), found);
    QVERIFY(result.err.contains("dali commission: interrupted"));
}

void TestCliScripts::verboseLogsToStandardErrorOnly()
{
    const CliRun result = run({"--simulate", "--json", "--verbose", "dmx", "get", "1", "9"});
    CLI_VERIFY(check(result, 0, {}, "USB device connected (1)"));
    const QString err = QString::fromLocal8Bit(result.err);
    QVERIFY(err.contains("Main log: "));
    QVERIFY(err.contains(QRegularExpression(R"(Vela Network Log: .*\[SEND \] CHORUS  D0 0D 01 00 09 00)")));
    // The core's start-up dumps went to standard error too.
    QVERIFY(err.contains("Vx Network init"));
}

QTEST_GUILESS_MAIN(TestCliScripts)

#include "tst_cliscripts.moc"
