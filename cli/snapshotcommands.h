#pragma once

#include "cli/clicommand.h"
#include "cli/commandresult.h"
#include "cli/snapshot.h"

#include <optional>

namespace halvorn::cli {

class CliSession;

// snapshot save / snapshot restore.
//
// A snapshot holds every readable parameter of one device: a DALI gear's
// (or the broadcast device's) parameters from the settings, a driver's
// parameters as the driver lists them, or those of the gear behind a
// Keymark tag. Not in a snapshot: a device's address (DALI short address,
// the driver's "Device Local ID"), which the file names as its target, and
// the DALI DTR registers, which every access overwrites.
//
// restore reads the device's current values, refuses a file made for
// another kind of device (DALI device type, driver hardware type), prints
// the differences, and writes exactly the differing parameters that are
// writable, each read back. Read-only parameters are never written.
class SnapshotCommands
{
public:
    // Reads the file of `snapshot restore` before any dongle is looked for:
    // a file that is missing or malformed is a usage error.
    static std::optional<CommandResult> load(const CliCommand& command, Snapshot& snapshot);
    static CommandResult save(CliSession& session, const CliCommand& command);
    static CommandResult restore(CliSession& session, const CliCommand& command, const Snapshot& snapshot);

    // Whether a parameter number belongs in a snapshot of this kind of device.
    static bool belongsInSnapshot(CliCommand::SnapshotKind type, uint number);
};

} // namespace halvorn::cli
