#pragma once

#include "cli/commandresult.h"

#include <optional>

namespace halvorn::general {
class Parameter;
}

namespace halvorn::cli {

// Reading and writing one parameter through its Parameter object (and so
// through its device's downloadParameter/uploadParameter), with the
// read-back that tells a script whether the value arrived.
//
// read() and write() block on the bus: call them in a task (CliSession::run).
// The results are built from the parameter afterwards, in any thread.
class ParameterAccess
{
public:
    struct WriteOutcome
    {
        bool written = false;
        bool readBackAttempted = false;
        std::optional<int> readBack;
    };

    static bool read(general::Parameter* parameter);
    // Writes `value` (with the device's retries); then, with `readBack`,
    // reads the parameter again.
    static WriteOutcome write(general::Parameter* parameter, uint value, bool readBack);

    // The value the parameter shows once `value` has been stored (a flag
    // shows 0 or 1; an integer keeps the bits of its mask).
    static int expectedValue(const general::Parameter* parameter, uint value);

    // `device` names where the parameter lives, e.g. "DALI short 3".
    static CommandResult readResult(const general::Parameter* parameter, bool ok, const QString& device);
    static CommandResult writeResult(const general::Parameter* parameter, uint value, const WriteOutcome& outcome,
                                     const QString& device);
};

} // namespace halvorn::cli
