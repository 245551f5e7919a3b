// Start-up of the program: the command line, the application object, the
// main window's start sequence, and the real executable with --log-file.

#include "app/myapplication.h"
#include "app/startupoptions.h"
#include "app/tivaromainwindow.h"

#include "general/log.h"
#include "general/threadnames.h"

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <stdexcept>

using namespace halvorn::general;

namespace {

class ThrowingObject : public QObject
{
public:
    bool event(QEvent* event) override
    {
        if (event->type() == QEvent::User)
            throw std::runtime_error("driver table corrupt");
        return QObject::event(event);
    }
};

QString readText(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

} // namespace

class TestStartup : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void commandLine_data();
    void commandLine();
    void exceptionInEventHandlerIsSwallowed();
    void windowStartsInOrder();
    void programAnswersHelpAndVersion_data();
    void programAnswersHelpAndVersion();
    void programLogsItsStartToTheLogFile_data();
    void programLogsItsStartToTheLogFile();
    void shutdownStepsRunOnceInReverseWhenQuitting();
};

void TestStartup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<int>("action");
    QTest::addColumn<QString>("logFile");
    QTest::addColumn<bool>("simulate");
    QTest::addColumn<QString>("simulationFile");

    const int run = int(StartupOptions::Action::Run);
    const int fail = int(StartupOptions::Action::Fail);
    //                                     arguments after the program name               action  log file   simulate  file
    QTest::newRow("nothing")            << QStringList{}                                 << run  << ""      << false << "";
    QTest::newRow("log file")           << QStringList{"--log-file", "/tmp/t.log"}       << run  << "/tmp/t.log" << false << "";
    QTest::newRow("log file with =")    << QStringList{"--log-file=t.log"}               << run  << "t.log" << false << "";
    QTest::newRow("bare simulate")      << QStringList{"--simulate"}                     << run  << ""      << true  << "";
    QTest::newRow("simulate takes no next argument")
        << QStringList{"--simulate", "--log-file", "x.log"} << run << "x.log" << true << "";
    QTest::newRow("simulate with file") << QStringList{"--simulate=bench.json"}          << run  << ""      << true  << "bench.json";
    QTest::newRow("simulate then file argument fails")
        << QStringList{"--simulate", "bench.json"} << fail << "" << false << "";
    QTest::newRow("log file without name") << QStringList{"--log-file"}                  << fail << ""      << false << "";
    QTest::newRow("unknown option")     << QStringList{"--verbose"}                      << fail << ""      << false << "";
    QTest::newRow("help")               << QStringList{"--help"} << int(StartupOptions::Action::ShowHelp) << "" << false << "";
    QTest::newRow("help beats mistakes")
        << QStringList{"--bogus", "-h"} << int(StartupOptions::Action::ShowHelp) << "" << false << "";
    QTest::newRow("version")            << QStringList{"--version"} << int(StartupOptions::Action::ShowVersion) << "" << false << "";
}

void TestStartup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(int, action);
    QFETCH(QString, logFile);
    QFETCH(bool, simulate);
    QFETCH(QString, simulationFile);

    const StartupOptions options = StartupOptions::parse(QStringList{QStringLiteral("/opt/tivaro/tivaro")} + arguments);
    QCOMPARE(int(options.action), action);
    QCOMPARE(options.logFile, logFile);
    QCOMPARE(options.simulate, simulate);
    QCOMPARE(options.simulationFile, simulationFile);
    if (options.action == StartupOptions::Action::Fail)
        QVERIFY(options.message.contains(QStringLiteral("--help")));
}

void TestStartup::exceptionInEventHandlerIsSwallowed()
{
    ThrowingObject thrower;
    QTest::ignoreMessage(QtDebugMsg, "Exception thrown: driver table corrupt");
    QEvent event(QEvent::User);
    QVERIFY(!QCoreApplication::sendEvent(&thrower, &event));

    // A posted event that throws does not end the event loop either.
    bool laterEventDelivered = false;
    QTest::ignoreMessage(QtDebugMsg, "Exception thrown: driver table corrupt");
    QCoreApplication::postEvent(&thrower, new QEvent(QEvent::User));
    QTimer::singleShot(0, this, [&] { laterEventDelivered = true; });
    QTRY_VERIFY_WITH_TIMEOUT(laterEventDelivered, 5000);
}

void TestStartup::windowStartsInOrder()
{
    const int before = mainLog()->count();
    TivaroMainWindow window;

    QCOMPARE(threadName(QThread::currentThread()), QStringLiteral("UI"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Halvorn Tivaro"));
    QCOMPARE(window.minimumSize(), QSize(800, 600));

    QStringList texts;
    for (int i = before; i < mainLog()->count(); ++i)
        texts << mainLog()->message(i)->text().remove(QRegularExpression(QStringLiteral("\".*/settings/")));
    QCOMPARE(texts.mid(0, 5), (QStringList{"Tivaro Started", "Importing config file: main_config.json\"",
                                           "Importing config file: dali_device.json\"",
                                           "Importing config file: dmx_device.json\"", "Starting Tivaro v1.04"}));
    QCOMPARE(mainLog()->message(before)->data(2).toString(), QStringLiteral("UI"));

    // As when the program quits: the shut-down steps run before the window goes.
    MyApplication::instance()->cleanup();
}

void TestStartup::programAnswersHelpAndVersion_data()
{
    QTest::addColumn<QString>("option");
    QTest::addColumn<QStringList>("expected");
    QTest::newRow("version") << "--version" << QStringList{"tivaro 1.04\n"};
    QTest::newRow("help") << "--help" << QStringList{"--log-file <file>", "--simulate"};
}

void TestStartup::programAnswersHelpAndVersion()
{
    QFETCH(QString, option);
    QFETCH(QStringList, expected);
    QProcess program;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.remove(QStringLiteral("DISPLAY"));
    environment.remove(QStringLiteral("QT_QPA_PLATFORM")); // answers without any display
    program.setProcessEnvironment(environment);
    program.start(QStringLiteral(TIVARO_PROGRAM), {option});
    QVERIFY(program.waitForFinished(20000));
    QCOMPARE(program.exitCode(), 0);
    const QString output = QString::fromLocal8Bit(program.readAllStandardOutput());
    for (const QString& text : expected)
        QVERIFY2(output.contains(text), qPrintable(output));
}

void TestStartup::programLogsItsStartToTheLogFile_data()
{
    QTest::addColumn<bool>("toStandardError");
    QTest::newRow("to a file") << false;
    QTest::newRow("to standard error") << true;
}

void TestStartup::programLogsItsStartToTheLogFile()
{
    QFETCH(bool, toStandardError);
    QTemporaryDir dir;
    const QString logPath = dir.filePath(QStringLiteral("tivaro.log"));
    QProcess program;
    if (toStandardError)
        program.setStandardErrorFile(logPath);
    program.start(QStringLiteral(TIVARO_PROGRAM),
                  {"-platform", "offscreen", "--log-file", toStandardError ? "-" : logPath, "--simulate"});
    QVERIFY(program.waitForStarted(20000));
    QTRY_VERIFY_WITH_TIMEOUT(readText(logPath).contains(QStringLiteral("Starting Tivaro v1.04")), 20000);
    program.terminate();
    if (!program.waitForFinished(5000)) {
        program.kill();
        program.waitForFinished(5000);
    }

    // Standard error also carries Qt's own messages; the log lines are those
    // that start with the log's name.
    QStringList lines = readText(logPath).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    if (toStandardError)
        lines = lines.filter(QRegularExpression(QStringLiteral("^[A-Za-z ]+ log: ")));
    // The first lines, each with its time and type, in the order of the start.
    static const QRegularExpression stamp(QStringLiteral(R"(^Main log: \[\d\d:\d\d:\d\d\.\d\d\d\]   \[INFO \] )"));
    QStringList start;
    for (const QString& line : lines.mid(0, 5))
        start << QString(line).remove(stamp).remove(QRegularExpression(QStringLiteral("\".*/settings/")));
    QCOMPARE(start, (QStringList{"Tivaro Started", "Importing config file: main_config.json\"",
                                 "Importing config file: dali_device.json\"", "Importing config file: dmx_device.json\"",
                                 "Starting Tivaro v1.04"}));
    QVERIFY(lines.filter(QStringLiteral("Error parsing")).isEmpty());
}

void TestStartup::shutdownStepsRunOnceInReverseWhenQuitting()
{
    auto* app = MyApplication::instance();
    QVERIFY(app);
    QStringList ran;
    app->addShutdownStep([&] { ran.append(QStringLiteral("network logs")); });
    app->addShutdownStep([&] { ran.append(QStringLiteral("dongle manager")); });
    QTimer::singleShot(0, app, &QCoreApplication::quit);
    app->exec();
    QCOMPARE(ran, (QStringList{QStringLiteral("dongle manager"), QStringLiteral("network logs")}));
    app->cleanup();
    QCOMPARE(ran.size(), 2);
}

int main(int argc, char* argv[])
{
    MyApplication app(argc, argv);
    TestStartup test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_startup.moc"
