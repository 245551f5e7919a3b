// tivaro-cli in sequences, as a production script runs it: commissioning
// followed by levels on every gear, settings kept from one run to the next
// (--save-simulation), snapshots saved, edited and restored, and Ctrl-C in
// the middle of commissioning.

#include "clitest.h"

#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>

using clitest::CliRun;

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
    process.start(QStringLiteral(TIVARO_CLI_PROGRAM),
                  QStringList{QStringLiteral("--json"), QStringLiteral("--log-file"), log} + arguments);
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
    void snapshotDryRunWritesNothing();
    void snapshotSkipsWhatItCannotWrite();
    void snapshotRefusesAnotherDevice_data();
    void snapshotRefusesAnotherDevice();
    void daliSnapshotRestoresGearSettings();
    void interruptDuringCommissioningReportsWhatWasFound();
    void interruptDuringDiscoveryReportsWhatWasFound();
    void verboseLogsToStandardErrorOnly();

private:
    QTemporaryDir m_dir;
    QJsonObject m_driverSnapshot;
};

void TestCliScripts::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const CliRun saved = clitest::run({QStringLiteral("--simulate"), QStringLiteral("snapshot"), QStringLiteral("save"),
                                       QStringLiteral("dmx"), QStringLiteral("1")});
    QVERIFY2(saved.exitCode == 0 && saved.jsonError.isEmpty(), qPrintable(saved.describe()));
    m_driverSnapshot = saved.json;
}

void TestCliScripts::scriptCommissionsThenSetsEveryLevel()
{
    const QString state = m_dir.filePath(QStringLiteral("commissioned.json"));
    auto cli = [&](const QStringList& arguments, bool first = false) {
        return clitest::run(QStringList{first ? QStringLiteral("--simulate") : QStringLiteral("--simulate=") + state,
                                        QStringLiteral("--save-simulation"), state, QStringLiteral("--json")}
                            + arguments);
    };

    const CliRun commissioned = cli({QStringLiteral("dali"), QStringLiteral("commission"), QStringLiteral("--all")}, true);
    QVERIFY2(commissioned.exitCode == 0, qPrintable(commissioned.describe()));
    QCOMPARE(clitest::at(commissioned.json, QStringLiteral("#addressed")).toInt(), 4);

    // A later run finds the gear where commissioning put it.
    const CliRun scanned = cli({QStringLiteral("dali"), QStringLiteral("scan")});
    QVERIFY2(scanned.exitCode == 0, qPrintable(scanned.describe()));
    QList<int> addresses;
    for (const QJsonValue gear : scanned.json.value(QStringLiteral("gear")).toArray())
        addresses.append(gear.toObject().value(QStringLiteral("shortAddress")).toInt());
    QCOMPARE(addresses, (QList<int>{0, 1, 2, 3}));

    for (int address : addresses) {
        const QString target = QString::number(address);
        const int level = 100 + 30 * address;
        const CliRun set = cli({QStringLiteral("dali"), QStringLiteral("set"), target, QStringLiteral("0"),
                                QString::number(level)});
        QVERIFY2(set.exitCode == 0, qPrintable(set.describe()));
        const QString problems = clitest::mismatches(set.json, {{"written", level}, {"readBack", level},
                                                                {"verified", true}, {"target.address", address}});
        QVERIFY2(problems.isEmpty(), qPrintable(problems));

        const CliRun shortAddress = cli({QStringLiteral("dali"), QStringLiteral("get"), target, QStringLiteral("7")});
        QVERIFY2(shortAddress.exitCode == 0, qPrintable(shortAddress.describe()));
        QCOMPARE(clitest::at(shortAddress.json, QStringLiteral("parameter.value")).toInt(), address);
    }

    // Readdressing one gear: never onto gear that is there already; the
    // next scan finds it at its new address.
    const CliRun taken = cli({QStringLiteral("dali"), QStringLiteral("set"), QStringLiteral("3"), QStringLiteral("7"),
                              QStringLiteral("1")});
    QCOMPARE(taken.exitCode, 1);
    QVERIFY2(taken.json.value(QStringLiteral("error")).toString().contains(QStringLiteral("short address 1 is taken")),
             qPrintable(taken.describe()));
    const CliRun moved = cli({QStringLiteral("dali"), QStringLiteral("set"), QStringLiteral("3"), QStringLiteral("7"),
                              QStringLiteral("10")});
    QVERIFY2(moved.exitCode == 0, qPrintable(moved.describe()));
    QVERIFY(clitest::at(moved.json, QStringLiteral("warnings[0]")).toString().contains(QStringLiteral("new short address")));
    const CliRun rescanned = cli({QStringLiteral("dali"), QStringLiteral("scan")});
    QList<int> after;
    for (const QJsonValue gear : rescanned.json.value(QStringLiteral("gear")).toArray())
        after.append(gear.toObject().value(QStringLiteral("shortAddress")).toInt());
    QCOMPARE(after, (QList<int>{0, 1, 2, 10}));
}

void TestCliScripts::keymarkSettingsWrittenAreReadNextTime()
{
    const QString state = m_dir.filePath(QStringLiteral("tag.json"));
    const CliRun written = clitest::run({QStringLiteral("--simulate"), QStringLiteral("--save-simulation"), state,
                                         QStringLiteral("--json"), QStringLiteral("keymark"), QStringLiteral("write"),
                                         QStringLiteral("--current1"), QStringLiteral("700"), QStringLiteral("--curve"),
                                         QStringLiteral("linear"), QStringLiteral("--min-level"), QStringLiteral("50"),
                                         QStringLiteral("--ntc"), QStringLiteral("80")});
    QVERIFY2(written.exitCode == 0, qPrintable(written.describe()));
    // 50 % on the linear curve is DALI level round(49.9 × 253 / 99.9 + 1) = 127.
    const QString writeProblems =
        clitest::mismatches(written.json, {{"#written", 4}, {"written[2].setting", "minLevel"},
                                           {"written[2].written", 127}, {"written[2].verified", true}});
    QVERIFY2(writeProblems.isEmpty(), qPrintable(writeProblems));

    const CliRun read = clitest::run({QStringLiteral("--simulate=") + state, QStringLiteral("--json"),
                                      QStringLiteral("keymark"), QStringLiteral("read")});
    QVERIFY2(read.exitCode == 0, qPrintable(read.describe()));
    const QString problems = clitest::mismatches(
        read.json, {{"sources[0].currentMa", 700}, {"sources[1].currentMa", 350}, {"dimmingCurve", "linear"},
                    {"minLevel.daliLevel", 127}, {"minLevel.percent", 126 * (99.9 / 253) + 0.1}, {"ntcCelsius", 80}});
    QVERIFY2(problems.isEmpty(), qPrintable(problems + "\n" + read.describe()));
}

void TestCliScripts::snapshotRestoreWritesExactlyTheDifferences()
{
    // Two writable parameters and a read-only one differ from the driver.
    const QString file = clitest::writeFile(m_dir, QStringLiteral("driver.json"),
                                            edited(m_driverSnapshot, {{9, 700}, {157, 90}, {152, 2}}));
    const QString log = m_dir.filePath(QStringLiteral("restore.log"));
    const CliRun restored = clitest::run({QStringLiteral("--simulate"), QStringLiteral("--log-file"), log,
                                          QStringLiteral("snapshot"), QStringLiteral("restore"), file});
    QVERIFY2(restored.exitCode == 0, qPrintable(restored.describe()));

    const QString out = QString::fromUtf8(restored.out);
    const qsizetype table = out.indexOf(QStringLiteral("Differences between driver LID 1 and the snapshot"));
    QVERIFY2(table >= 0, qPrintable(restored.describe()));
    for (const QString& row : {QStringLiteral("9       Master dimmer value              1023    700       write"),
                               QStringLiteral("152     Number of LED groups             4       2         skipped-read-only"),
                               QStringLiteral("157     Thermal throttling: temperature  85      90        write")})
        QVERIFY2(out.indexOf(row) > table, qPrintable(row + "\n" + restored.describe()));
    QVERIFY2(out.contains(QStringLiteral("2 parameters written.")), qPrintable(restored.describe()));
    QCOMPARE(out.count(QStringLiteral("Master dimmer")), 1);

    // Exactly two writes left the tool: parameter 9 with 700 and 157 with 90.
    const QStringList writes = chorusWrites(log);
    QCOMPARE(writes.size(), 2);
    QVERIFY2(writes[0].contains(QStringLiteral("D0 0E 01 00 09 00 BC 02")), qPrintable(writes.join('\n')));
    QVERIFY2(writes[1].contains(QStringLiteral("D0 0E 01 00 9D 00 5A 00")), qPrintable(writes.join('\n')));
}

void TestCliScripts::snapshotDryRunWritesNothing()
{
    const QString file =
        clitest::writeFile(m_dir, QStringLiteral("dry.json"), edited(m_driverSnapshot, {{9, 700}, {2, 17}}));
    const QString log = m_dir.filePath(QStringLiteral("dry.log"));
    const CliRun result = clitest::run({QStringLiteral("--simulate"), QStringLiteral("--json"), QStringLiteral("--log-file"),
                                        log, QStringLiteral("snapshot"), QStringLiteral("restore"), file,
                                        QStringLiteral("--dry-run")});
    QVERIFY2(result.exitCode == 0, qPrintable(result.describe()));
    const QString problems = clitest::mismatches(
        result.json, {{"dryRun", true}, {"#differences", 2}, {"differences[0].number", 2},
                      {"differences[0].device", 1}, {"differences[0].snapshot", 17},
                      {"differences[0].action", "would-write"}, {"differences[1].number", 9}, {"written", 0}});
    QVERIFY2(problems.isEmpty(), qPrintable(problems + "\n" + result.describe()));
    QVERIFY(chorusWrites(log).isEmpty());
    QVERIFY(!clitest::logLines(log).isEmpty());
}

void TestCliScripts::snapshotSkipsWhatItCannotWrite()
{
    // 2000 is beyond the range the driver gives parameter 9 (0..1023).
    const QString file = clitest::writeFile(m_dir, QStringLiteral("range.json"), edited(m_driverSnapshot, {{9, 2000}}));
    const QString log = m_dir.filePath(QStringLiteral("range.log"));
    const CliRun result = clitest::run({QStringLiteral("--simulate"), QStringLiteral("--json"), QStringLiteral("--log-file"),
                                        log, QStringLiteral("snapshot"), QStringLiteral("restore"), file});
    QVERIFY2(result.exitCode == 0, qPrintable(result.describe()));
    const QString problems = clitest::mismatches(
        result.json, {{"#differences", 1}, {"differences[0].action", "skipped-out-of-range"}, {"written", 0}});
    QVERIFY2(problems.isEmpty(), qPrintable(problems + "\n" + result.describe()));
    QVERIFY(chorusWrites(log).isEmpty());

    // The driver the file names is not there.
    const QString absent = clitest::writeFile(m_dir, QStringLiteral("absent.json"),
                                              edited(m_driverSnapshot, {{9, 700}}, {{"lid", 9}}));
    const CliRun missing = clitest::run({QStringLiteral("--simulate"), QStringLiteral("snapshot"),
                                         QStringLiteral("restore"), absent});
    QCOMPARE(missing.exitCode, 1);
    QVERIFY2(QString::fromLocal8Bit(missing.err).contains(QStringLiteral("no driver answers as driver LID 9")),
             qPrintable(missing.describe()));
}

void TestCliScripts::snapshotRefusesAnotherDevice_data()
{
    QTest::addColumn<QByteArray>("snapshot");
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");

    QTest::newRow("another hardware type")
        << edited(m_driverSnapshot, {{9, 700}}, {{"hardwareType", 0x0032}}) << 1
        << "the snapshot is for a driver of hardware type 0x0032, but the driver LID 1 is of hardware type 0x0031";
    QTest::newRow("unknown device type") << edited(m_driverSnapshot, {}, {{"type", "lamp"}}) << 2
                                         << "unknown device type \"lamp\"";
    QTest::newRow("not a snapshot") << QByteArray(R"({"dongles": []})") << 2 << "not a snapshot of tivaro-cli";
    QTest::newRow("broken JSON") << QByteArray("{\n\"format\": \"tivaro-snapshot\",\n]") << 2 << "line 3";
}

void TestCliScripts::snapshotRefusesAnotherDevice()
{
    QFETCH(QByteArray, snapshot);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    const QString file = clitest::writeFile(m_dir, QStringLiteral("other.json"), snapshot);
    const QString log = m_dir.filePath(QStringLiteral("refused.log"));
    QFile::remove(log);
    const CliRun result = clitest::run({QStringLiteral("--simulate"), QStringLiteral("--log-file"), log,
                                        QStringLiteral("snapshot"), QStringLiteral("restore"), file});
    QVERIFY2(result.finished && result.exitCode == exitCode, qPrintable(result.describe()));
    QVERIFY2(QString::fromLocal8Bit(result.err).contains(message), qPrintable(result.describe()));
    QVERIFY(chorusWrites(log).isEmpty());
}

void TestCliScripts::daliSnapshotRestoresGearSettings()
{
    const QString installation = clitest::installation(
        m_dir, QStringLiteral("gear.json"), R"("dali": {"powered": true, "gear": [{"short": 0}, {"short": 1}]})");
    const CliRun saved = clitest::run({QStringLiteral("--simulate=") + installation, QStringLiteral("snapshot"),
                                       QStringLiteral("save"), QStringLiteral("dali"), QStringLiteral("0")});
    QVERIFY2(saved.exitCode == 0 && saved.jsonError.isEmpty(), qPrintable(saved.describe()));
    const QString savedProblems = clitest::mismatches(
        saved.json, {{"device.type", "dali"}, {"device.target", 0}, {"device.deviceType", 6}});
    QVERIFY2(savedProblems.isEmpty(), qPrintable(savedProblems));
    // The address and the DTR registers are not settings of the gear.
    for (const QJsonValue parameter : saved.json.value(QStringLiteral("parameters")).toArray())
        QVERIFY(!QList<int>({7, 27, 28, 29}).contains(parameter.toObject().value(QStringLiteral("number")).toInt()));

    // Max level 200 and scene 3 at 40: two stores, and nothing else.
    const QString file = clitest::writeFile(m_dir, QStringLiteral("gear0.json"), edited(saved.json, {{4, 200}, {13, 40}}));
    const QString log = m_dir.filePath(QStringLiteral("gear.log"));
    const CliRun restored = clitest::run({QStringLiteral("--simulate=") + installation, QStringLiteral("--json"),
                                          QStringLiteral("--log-file"), log, QStringLiteral("snapshot"),
                                          QStringLiteral("restore"), file});
    QVERIFY2(restored.exitCode == 0, qPrintable(restored.describe()));
    const QString problems = clitest::mismatches(
        restored.json, {{"#differences", 2}, {"differences[0].number", 4}, {"differences[0].action", "written"},
                        {"differences[1].number", 13}, {"differences[1].action", "written"}, {"written", 2}});
    QVERIFY2(problems.isEmpty(), qPrintable(problems + "\n" + restored.describe()));
    const QStringList sets = clitest::logLines(log).filter(QStringLiteral("[REPLY] SET "));
    QCOMPARE(sets.size(), 2);
    QVERIFY2(sets[0].endsWith(QStringLiteral("SET STORE THE DTR AS MAX LEVEL: 200 (C8)")), qPrintable(sets[0]));
    QVERIFY2(sets[1].endsWith(QStringLiteral("SET STORE THE DTR AS SCENE 3: 40 (28)")), qPrintable(sets[1]));

    // A file of gear of another device type is refused before anything is written.
    const QString other = clitest::writeFile(m_dir, QStringLiteral("dt8.json"),
                                             edited(saved.json, {{4, 200}}, {{"deviceType", 8}}));
    const QString otherLog = m_dir.filePath(QStringLiteral("dt8.log"));
    const CliRun refused = clitest::run({QStringLiteral("--simulate=") + installation, QStringLiteral("--log-file"),
                                         otherLog, QStringLiteral("snapshot"), QStringLiteral("restore"), other});
    QCOMPARE(refused.exitCode, 1);
    QVERIFY2(QString::fromLocal8Bit(refused.err).contains(
                 QStringLiteral("the snapshot is for DALI device type 8, but DALI short 0 is of device type 6")),
             qPrintable(refused.describe()));
    QVERIFY(clitest::logLines(otherLog).filter(QStringLiteral("[REPLY] SET ")).isEmpty());
}

void TestCliScripts::interruptDuringCommissioningReportsWhatWasFound()
{
    // Twelve gear on a bus at its real speed: commissioning takes half a
    // minute, far longer than the moment the test needs to interrupt it.
    const QString installation = clitest::installation(
        m_dir, QStringLiteral("slow.json"),
        R"("dali": {"powered": true, "timing": "realistic", "randomGear": 12, "seed": 5})",
        R"("usbLatencyUs": 1000)");
    const Interrupted result = interruptWhenLogged(
        {QStringLiteral("--simulate=") + installation, QStringLiteral("dali"), QStringLiteral("commission"),
         QStringLiteral("--all")},
        m_dir.filePath(QStringLiteral("commission.log")), QStringLiteral("Programmed short address verified"));
    QVERIFY2(result.exitCode == 130, qPrintable(result.err.right(2000)));
    QCOMPARE(result.json.value(QStringLiteral("status")).toString(), QStringLiteral("interrupted"));
    QCOMPARE(result.json.value(QStringLiteral("exitCode")).toInt(), 130);
    const int addressed = clitest::at(result.json, QStringLiteral("#addressed")).toInt();
    QVERIFY2(addressed >= 1 && addressed < 12, qPrintable(QString::number(addressed)));
    // What was found is what the gear now hold: consecutive addresses from 0.
    QCOMPARE(clitest::at(result.json, QStringLiteral("addressed[0].shortAddress")).toInt(), 0);
    QCOMPARE(clitest::at(result.json, QStringLiteral("#gear")).toInt(), addressed);
    QVERIFY(result.err.contains(QStringLiteral("dali commission: interrupted")));
}

void TestCliScripts::interruptDuringDiscoveryReportsWhatWasFound()
{
    const QString installation = clitest::installation(
        m_dir, QStringLiteral("line.json"), R"("dmx": {"random": {"count": 30, "seed": 3}})", R"("usbLatencyUs": 1000)");
    const Interrupted result = interruptWhenLogged(
        {QStringLiteral("--simulate=") + installation, QStringLiteral("dmx"), QStringLiteral("discover")},
        m_dir.filePath(QStringLiteral("discover.log")), QStringLiteral("Address found ["));
    QVERIFY2(result.exitCode == 130, qPrintable(result.err.right(2000)));
    QCOMPARE(result.json.value(QStringLiteral("status")).toString(), QStringLiteral("interrupted"));
    const int found = clitest::at(result.json, QStringLiteral("#drivers")).toInt();
    QVERIFY2(found >= 1 && found < 30, qPrintable(QString::number(found)));
    QCOMPARE(clitest::at(result.json, QStringLiteral("drivers[0].lid")).toInt(), 1);
}

void TestCliScripts::verboseLogsToStandardErrorOnly()
{
    const CliRun result = clitest::run({QStringLiteral("--simulate"), QStringLiteral("--json"), QStringLiteral("--verbose"),
                                        QStringLiteral("dmx"), QStringLiteral("get"), QStringLiteral("1"),
                                        QStringLiteral("9")});
    QVERIFY2(result.exitCode == 0 && result.jsonError.isEmpty(), qPrintable(result.describe()));
    const QString err = QString::fromLocal8Bit(result.err);
    QVERIFY2(err.contains(QStringLiteral("Main log: ")) && err.contains(QStringLiteral("USB device connected (1)")),
             qPrintable(result.describe()));
    QVERIFY2(err.contains(QRegularExpression(QStringLiteral(R"(Vela Network Log: .*\[SEND \] CHORUS  D0 0D 01 00 09 00)"))),
             qPrintable(result.describe()));
    // The core's start-up dumps went to standard error too.
    QVERIFY2(err.contains(QStringLiteral("Vx Network init")), qPrintable(result.describe()));
}

QTEST_GUILESS_MAIN(TestCliScripts)

#include "tst_cliscripts.moc"
