#pragma once

namespace halvorn::cli {

// The exit status of tivaro-cli; scripts rely on these values (docs/cli.md).
enum ExitCode : int {
    ExitSuccess = 0,
    // The operation failed on the bus: no answer, refused, not found.
    ExitBusFailure = 1,
    // The command line was wrong; nothing was sent.
    ExitUsage = 2,
    // No dongle (or not the one asked for) appeared within --timeout.
    ExitNoDongle = 3,
    // Ctrl-C: the running work was aborted; what was found is reported.
    ExitInterrupted = 130,
};

} // namespace halvorn::cli
