#include "cli/clioptions.h"
#include "cli/clioutput.h"
#include "cli/commandrunner.h"
#include "general/appsettings.h"
#include "general/logfilewriter.h"

#include <QCoreApplication>

#include <cstdio>
#include <memory>
#include <vector>

namespace {

bool s_verbose = false;

// Qt's messages (the core's debug lines) are diagnostics: only --verbose
// shows them.
void messageHandler(QtMsgType type, const QMessageLogContext& context, const QString& text)
{
    if (!s_verbose && type != QtFatalMsg)
        return;
    const QByteArray line = qFormatLogMessage(type, context, text).toLocal8Bit() + '\n';
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
}

} // namespace

int main(int argc, char* argv[])
{
    using namespace halvorn::cli;

    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    CliOptions options = CliOptions::parse(arguments);
    if (options.action == CliOptions::Action::ShowHelp || options.action == CliOptions::Action::ShowVersion) {
        std::fputs(qPrintable(options.message), stdout);
        return ExitSuccess;
    }

    s_verbose = options.verbose;
    qInstallMessageHandler(messageHandler);
    QCoreApplication app(argc, argv);
    CliOutput output(options.verbose);
    if (options.action == CliOptions::Action::UsageError) {
        // The JSON document carries the problem; the hint to --help is for people.
        const QString message = options.json ? options.message.section(QLatin1Char('\n'), 0, 0) : options.message.trimmed();
        return CommandRunner::report(options, output, CommandResult::failure(ExitUsage, message));
    }

    // Every log line as it is appended: --verbose to standard error,
    // --log-file to a file (or standard error for "-").
    std::vector<std::unique_ptr<halvorn::general::LogFileWriter>> logWriters;
    if (options.verbose)
        logWriters.push_back(std::make_unique<halvorn::general::LogFileWriter>());
    if (options.logFile == QLatin1String("-")) {
        if (!options.verbose)
            logWriters.push_back(std::make_unique<halvorn::general::LogFileWriter>());
    } else if (!options.logFile.isEmpty()) {
        auto writer = std::make_unique<halvorn::general::LogFileWriter>(options.logFile);
        if (!writer->isOpen())
            return CommandRunner::report(
                options, output,
                CommandResult::failure(ExitUsage, QStringLiteral("--log-file: cannot open %1: %2")
                                                      .arg(options.logFile, writer->errorString())));
        logWriters.push_back(std::move(writer));
    }

    halvorn::general::AppSettings settings;
    if (!settings.load())
        output.error(QStringLiteral("tivaro-cli: warning: no settings beside the program (%1/settings): device "
                                    "parameters are not defined")
                         .arg(QCoreApplication::applicationDirPath()));
    settings.start(QStringLiteral("Tivaro CLI"), QStringLiteral(TIVARO_VERSION));

    return CommandRunner::run(options, output);
}
