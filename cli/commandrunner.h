#pragma once

#include "cli/clioptions.h"
#include "cli/commandresult.h"

namespace halvorn::cli {

class CliOutput;

// Runs the command of a parsed command line: opens the session (finds the
// dongle), dispatches to the command, closes the session and reports the
// result on standard output (a table, or one JSON document) and standard
// error. Returns the exit status.
//
// The JSON document of every command (docs/cli.md) is
//   { "command": "dali get", "status": "ok", "exitCode": 0,
//     "dongleIndex": 1, "error": "…", "warnings": […], …the command's fields }
// with "error" and "warnings" only when there are any; status is one of
// ok, failed, usage-error, no-dongle, interrupted. `snapshot save` prints
// the snapshot itself instead.
class CommandRunner
{
public:
    static int run(const CliOptions& options, CliOutput& output);
    // Reports a result that never reached a dongle (a usage error).
    static int report(const CliOptions& options, CliOutput& output, const CommandResult& result);
    // "ok", "failed", "usage-error", "no-dongle", "interrupted".
    static QString statusText(int exitCode);
};

} // namespace halvorn::cli
