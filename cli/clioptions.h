#pragma once

#include "cli/clicommand.h"

#include <QString>
#include <QStringList>

namespace halvorn::cli {

// The command line of tivaro-cli:
//
//   tivaro-cli [--simulate[=FILE]] [--save-simulation FILE] [--dongle INDEX]
//              [--json] [--log-file FILE] [--verbose] [--timeout SECONDS]
//              COMMAND ...
//
// Global options may stand anywhere on the line; a command's own options
// (--skip, --all, …) belong to that command. Every argument is checked
// here, before any dongle is looked for, so a usage error never touches the
// equipment.
struct CliOptions
{
    enum class Action { Run, ShowHelp, ShowVersion, UsageError };

    Action action = Action::Run;
    // Help or version text (stdout), or the usage error (stderr).
    QString message;

    bool simulate = false;
    QString simulationFile;
    // Where to save the simulated installation when the command is done.
    QString saveSimulationFile;
    // The dongle index to use (1, 2, … as the USB layer numbers them); 0:
    // the first one found.
    int dongleIndex = 0;
    bool json = false;
    QString logFile;
    bool verbose = false;
    double timeoutSeconds = 5.0;

    CliCommand command;

    // `arguments` starts with the program name, as in argv.
    static CliOptions parse(const QStringList& arguments);
    // The help of the whole tool.
    static QString toolHelp();
};

} // namespace halvorn::cli
