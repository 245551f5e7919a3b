#include "app/startupoptions.h"

#include <QCommandLineParser>
#include <QFileInfo>

namespace {

const QString kSimulateOption = QStringLiteral("simulate");
const QString kSimulatePrefix = QStringLiteral("--simulate=");

// --simulate takes an optional value, which the parser cannot express: the
// parser sees a plain --simulate flag, and the value of --simulate=FILE is
// taken out beforehand.
QStringList takeSimulationFile(const QStringList& arguments, QString* simulationFile)
{
    QStringList result = arguments;
    for (qsizetype i = 1; i < result.size(); ++i) {
        if (result[i] == QLatin1String("--"))
            break;
        if (result[i].startsWith(kSimulatePrefix)) {
            *simulationFile = result[i].mid(kSimulatePrefix.size());
            result[i] = QStringLiteral("--simulate");
        }
    }
    return result;
}

QString programName(const QStringList& arguments)
{
    return arguments.isEmpty() ? QStringLiteral("tivaro") : QFileInfo(arguments.first()).fileName();
}

} // namespace

StartupOptions StartupOptions::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Service tool for setting up, commissioning and testing LED drivers through the Portline dongle."));
    const QCommandLineOption helpOption = parser.addHelpOption();
    const QCommandLineOption versionOption = parser.addVersionOption();
    const QCommandLineOption logFileOption(QStringLiteral("log-file"),
                                           QStringLiteral("Append every log line to <file> as it is logged "
                                                          "(- for standard error)."),
                                           QStringLiteral("file"));
    const QCommandLineOption simulateOption(
        kSimulateOption,
        QStringLiteral("Run on the virtual Portline instead of a real dongle; --simulate=<file> "
                       "reads the simulated equipment from <file>."));
    QCommandLineOption screenshotOption(QStringLiteral("screenshot"),
                                        QStringLiteral("Save screenshots of the tool at work into <dir>."),
                                        QStringLiteral("dir"));
    screenshotOption.setFlags(QCommandLineOption::HiddenFromHelp);
    parser.addOption(logFileOption);
    parser.addOption(simulateOption);
    parser.addOption(screenshotOption);

    StartupOptions options;
    QString simulationFile;
    const bool parsed = parser.parse(takeSimulationFile(arguments, &simulationFile));
    // Help and version win over mistakes elsewhere on the line.
    if (parser.isSet(helpOption) || parser.isSet(QStringLiteral("help-all"))) {
        options.action = Action::ShowHelp;
        // Without an application object the parser cannot know the program's name.
        options.message = parser.helpText().replace(QLatin1String("<executable_name>"), programName(arguments));
        return options;
    }
    if (parser.isSet(versionOption)) {
        options.action = Action::ShowVersion;
        options.message = QStringLiteral("tivaro " TIVARO_VERSION "\n");
        return options;
    }
    if (!parsed) {
        options.action = Action::Fail;
        options.message = parser.errorText() + QStringLiteral("\nTry --help for the options.\n");
        return options;
    }
    if (!parser.positionalArguments().isEmpty()) {
        options.action = Action::Fail;
        options.message = QStringLiteral("Unexpected argument: ") + parser.positionalArguments().first()
                          + QStringLiteral("\nTry --help for the options.\n");
        return options;
    }
    if (parser.isSet(logFileOption)) {
        options.logFile = parser.value(logFileOption);
        if (options.logFile.isEmpty()) {
            options.action = Action::Fail;
            options.message = QStringLiteral("--log-file needs a file name.\n");
            return options;
        }
    }
    options.simulate = parser.isSet(simulateOption);
    if (options.simulate)
        options.simulationFile = simulationFile;
    if (parser.isSet(screenshotOption)) {
        options.screenshotDir = parser.value(screenshotOption);
        if (options.screenshotDir.isEmpty() || !options.simulate) {
            options.action = Action::Fail;
            options.message = QStringLiteral("--screenshot needs a folder and --simulate.\n");
            return options;
        }
    }
    return options;
}
