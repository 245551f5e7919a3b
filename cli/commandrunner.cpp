#include "cli/commandrunner.h"

#include "cli/clioutput.h"
#include "cli/clisession.h"
#include "cli/dalicommands.h"
#include "cli/dmxcommands.h"
#include "cli/donglecommands.h"
#include "cli/keymarkcommands.h"
#include "cli/snapshotcommands.h"

#include <QJsonArray>

namespace halvorn::cli {

namespace {

CommandResult dispatch(CliSession& session, const CliCommand& command, const Snapshot& snapshot)
{
    switch (command.kind) {
    case CliCommand::Info:
        return DongleCommands::info(session);
    case CliCommand::DongleGet:
        return DongleCommands::get(session, command);
    case CliCommand::DongleSet:
        return DongleCommands::set(session, command);
    case CliCommand::DaliScan:
        return DaliCommands::scan(session);
    case CliCommand::DaliCommission:
        return DaliCommands::commission(session, command);
    case CliCommand::DaliGet:
        return DaliCommands::get(session, command);
    case CliCommand::DaliSet:
        return DaliCommands::set(session, command);
    case CliCommand::DaliLevel:
        return DaliCommands::level(session, command);
    case CliCommand::DaliPower:
        return DaliCommands::power(session, command);
    case CliCommand::DmxDiscover:
        return DmxCommands::discover(session);
    case CliCommand::DmxDaisy:
        return DmxCommands::daisy(session, command);
    case CliCommand::DmxParams:
        return DmxCommands::params(session, command);
    case CliCommand::DmxGet:
        return DmxCommands::get(session, command);
    case CliCommand::DmxSet:
        return DmxCommands::set(session, command);
    case CliCommand::DmxSend:
        return DmxCommands::send(session, command);
    case CliCommand::KeymarkRead:
        return KeymarkCommands::read(session);
    case CliCommand::KeymarkWrite:
        return KeymarkCommands::write(session, command);
    case CliCommand::SnapshotSave:
        return SnapshotCommands::save(session, command);
    case CliCommand::SnapshotRestore:
        return SnapshotCommands::restore(session, command, snapshot);
    case CliCommand::None:
        break;
    }
    return CommandResult::failure(ExitUsage, QStringLiteral("missing COMMAND"));
}

} // namespace

QString CommandRunner::statusText(int exitCode)
{
    switch (exitCode) {
    case ExitSuccess:
        return QStringLiteral("ok");
    case ExitUsage:
        return QStringLiteral("usage-error");
    case ExitNoDongle:
        return QStringLiteral("no-dongle");
    case ExitInterrupted:
        return QStringLiteral("interrupted");
    default:
        return QStringLiteral("failed");
    }
}

int CommandRunner::run(const CliOptions& options, CliOutput& output)
{
    Snapshot snapshot;
    if (options.command.kind == CliCommand::SnapshotRestore) {
        if (std::optional<CommandResult> failure = SnapshotCommands::load(options.command, snapshot))
            return report(options, output, *failure);
    }

    CliSession session(options, output);
    CommandResult result;
    const int opened = session.open();
    if (opened != ExitSuccess) {
        result = CommandResult::failure(opened, session.errorText());
    } else {
        result = dispatch(session, options.command, snapshot);
        if (!result.dataIsDocument)
            result.data.insert(QStringLiteral("dongleIndex"), session.dongleIndex());
        if (session.isInterrupted()) {
            result.exitCode = ExitInterrupted;
            if (result.error.isEmpty())
                result.error = QStringLiteral("interrupted; what was done so far is reported");
        }
    }
    const QString saveError = session.close();
    if (!saveError.isEmpty()) {
        if (result.exitCode == ExitSuccess)
            result.exitCode = ExitBusFailure;
        result.error = result.error.isEmpty() ? saveError : result.error + QLatin1Char('\n') + saveError;
    }
    return report(options, output, result);
}

int CommandRunner::report(const CliOptions& options, CliOutput& output, const CommandResult& result)
{
    const QString context = options.command.name.isEmpty() ? QStringLiteral("tivaro-cli")
                                                           : QStringLiteral("tivaro-cli: ") + options.command.name;
    if (result.dataIsDocument && result.exitCode == ExitSuccess) {
        output.writeJson(result.data);
    } else if (options.json) {
        QJsonObject document = result.data;
        document.insert(QStringLiteral("command"), options.command.name);
        document.insert(QStringLiteral("status"), statusText(result.exitCode));
        document.insert(QStringLiteral("exitCode"), result.exitCode);
        if (!result.error.isEmpty())
            document.insert(QStringLiteral("error"), result.error);
        if (!result.warnings.isEmpty())
            document.insert(QStringLiteral("warnings"), QJsonArray::fromStringList(result.warnings));
        output.writeJson(document);
    } else if (!result.dataIsDocument && !result.text.isEmpty()) {
        output.write(result.text);
    }
    for (const QString& warning : result.warnings)
        output.error(QStringLiteral("%1: warning: %2").arg(context, warning));
    if (!result.error.isEmpty())
        output.error(result.exitCode == ExitUsage && result.error.startsWith(QLatin1String("tivaro-cli"))
                         ? result.error
                         : QStringLiteral("%1: %2").arg(context, result.error));
    return result.exitCode;
}

} // namespace halvorn::cli
