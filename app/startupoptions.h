#pragma once

#include <QString>
#include <QStringList>

// The command line of the program:
//
//   tivaro [--log-file FILE] [--simulate[=FILE]] [--screenshot DIR]
//   tivaro --help | --version
//
// Parsed before the application object exists, so that --help and --version
// also work where no display is available.
struct StartupOptions
{
    enum class Action { Run, ShowHelp, ShowVersion, Fail };

    Action action = Action::Run;
    // Where to write every log line as it is logged (empty: nowhere; "-":
    // standard error).
    QString logFile;
    // Run on the virtual Portline instead of the USB bus, with the equipment
    // described in `simulationFile` (empty: the default set-up).
    bool simulate = false;
    QString simulationFile;
    // Hidden: drive the window through the tool's work and save screenshots
    // into this folder, then quit (needs --simulate).
    QString screenshotDir;
    // The text to print for ShowHelp, ShowVersion and Fail.
    QString message;

    // `arguments` starts with the program name, as in argv.
    static StartupOptions parse(const QStringList& arguments);
};
