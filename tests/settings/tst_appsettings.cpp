// Loading the settings folder at start-up. The settings store is process-wide
// and never cleared, so each scenario loads its folder in a fresh process:
// this executable started again with TIVARO_TEST_APP_DIR set.

#include "general/appsettings.h"
#include "general/log.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

using namespace halvorn::general;

namespace {

const char* const kChildVariable = "TIVARO_TEST_APP_DIR";

using FileMap = QMap<QString, QByteArray>;

// Child side: load the folder and report what happened as JSON.
int runChild(const QString& applicationDir)
{
    AppSettings settings;
    QJsonObject report;
    report[QStringLiteral("loaded")] = settings.load(applicationDir);
    report[QStringLiteral("title")] = AppSettings::windowTitle();
    QJsonArray log;
    for (int i = 0; i < mainLog()->count(); ++i)
        log.append(mainLog()->message(i)->text());
    report[QStringLiteral("log")] = log;
    std::fputs(QJsonDocument(report).toJson(QJsonDocument::Compact).constData(), stdout);
    return 0;
}

// The file names that the log says were imported, or could not be.
QStringList namesLogged(const QJsonArray& log, const QString& prefix, const QString& settingsDir)
{
    QStringList names;
    for (const auto& line : log) {
        const QString text = line.toString();
        if (text.startsWith(prefix))
            names.append(text.mid(prefix.size()).remove(QLatin1Char('"')).remove(settingsDir + QLatin1Char('/')));
    }
    return names;
}

} // namespace

class TestAppSettings : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void loadsSettingsFolderFreshProcess_data();
    void loadsSettingsFolderFreshProcess();
};

void TestAppSettings::loadsSettingsFolderFreshProcess_data()
{
    QTest::addColumn<FileMap>("files");
    QTest::addColumn<bool>("loaded");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("imported");
    QTest::addColumn<QStringList>("notImported");

    QTest::newRow("no main_config: all defaults")
        << FileMap{{"other.json", R"({ "Application": { "Name": "Other" } })"}}
        << false << "Halvorn Tivaro" << QStringList{} << QStringList{"main_config.json"};

    QTest::newRow("Settings as a string imports nothing more")
        << FileMap{{"main_config.json", R"({ "Application": { "Manufacturer": "Main" }, "Settings": "extra.json" })"},
                   {"extra.json", R"({ "Application": { "Manufacturer": "Extra" } })"}}
        << true << "Main Tivaro" << QStringList{"main_config.json"} << QStringList{};

    QTest::newRow("syntax error in main_config stops the imports")
        << FileMap{{"main_config.json", "{ \"Settings\": [\"extra.json\"], \"Application\": { \"Name\": \"X\" } "},
                   {"extra.json", R"({ "Application": { "Manufacturer": "Extra" } })"}}
        << true << "Halvorn Tivaro" << QStringList{"main_config.json"} << QStringList{};

    QTest::newRow("listed files in order, later hides earlier, missing skipped")
        << FileMap{{"main_config.json", R"({ "Application": { "Manufacturer": "Main", "Name": "Main" },
                                             "Settings": ["a.json", "missing.json", "b.json"] })"},
                   {"a.json", R"({ "Application": { "Manufacturer": "A", "Name": "A" } })"},
                   {"b.json", R"({ "Application": { "Manufacturer": "B" } })"}}
        << true << "B Tivaro" << QStringList{"main_config.json", "a.json", "b.json"}
        << QStringList{"missing.json"};

}

void TestAppSettings::loadsSettingsFolderFreshProcess()
{
    QFETCH(FileMap, files);
    QFETCH(bool, loaded);
    QFETCH(QString, title);
    QFETCH(QStringList, imported);
    QFETCH(QStringList, notImported);

    QTemporaryDir appDir;
    const QString settingsDir = QDir(appDir.path()).absoluteFilePath(QStringLiteral("settings"));
    QVERIFY(QDir().mkpath(settingsDir));
    for (auto it = files.cbegin(); it != files.cend(); ++it) {
        QFile file(settingsDir + QLatin1Char('/') + it.key());
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(it.value());
    }

    QProcess child;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QString::fromLatin1(kChildVariable), appDir.path());
    child.setProcessEnvironment(environment);
    child.start(QCoreApplication::applicationFilePath(), {});
    QVERIFY(child.waitForFinished(20000));
    QCOMPARE(child.exitCode(), 0);
    const QJsonObject report = QJsonDocument::fromJson(child.readAllStandardOutput()).object();
    QVERIFY(!report.isEmpty());

    QCOMPARE(report[QStringLiteral("loaded")].toBool(), loaded);
    QCOMPARE(report[QStringLiteral("title")].toString(), title);
    const QJsonArray log = report[QStringLiteral("log")].toArray();
    QCOMPARE(namesLogged(log, QStringLiteral("Importing config file: "), settingsDir), imported);
    QCOMPARE(namesLogged(log, QStringLiteral("Can't import config file: "), settingsDir), notImported);
}

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    if (qEnvironmentVariableIsSet(kChildVariable))
        return runChild(qEnvironmentVariable(kChildVariable));
    TestAppSettings test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_appsettings.moc"
