#pragma once

#include "cli/exitcode.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

namespace halvorn::cli {

// What a command reports: its exit status, the fields of its JSON document,
// the human-readable text, and the messages for standard error.
struct CommandResult
{
    int exitCode = ExitSuccess;
    // Why the command failed (standard error; "error" in the JSON document).
    QString error;
    QStringList warnings;
    // The command's own fields of the JSON document.
    QJsonObject data;
    // Standard output without --json.
    QString text;
    // The data is the whole document (a snapshot), printed as it is.
    bool dataIsDocument = false;

    static CommandResult failure(int exitCode, const QString& error)
    {
        CommandResult result;
        result.exitCode = exitCode;
        result.error = error;
        return result;
    }
    bool failed() const { return exitCode != ExitSuccess; }
};

} // namespace halvorn::cli
