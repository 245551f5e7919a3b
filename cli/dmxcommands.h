#pragma once

#include "cli/clicommand.h"
#include "cli/commandresult.h"

#include <QList>

#include <optional>

namespace halvorn::vx {
class VxDevice;
class VxNetwork;
class VxParameter;
} // namespace halvorn::vx

namespace halvorn::cli {

class CliSession;

// The DMX line commands: RDM discovery, daisy-chain search, driver
// parameters (list, read, write) and set points.
//
// A driver is a VxDevice addressed by its device address (LID) and skip
// count: one the network already has, or a new one attached to the network.
// Its parameters are those the driver reports to a parameter search
// (SearchParameterTask): numbers, kinds and ranges from its type words,
// names from the driver parameter table.
class DmxCommands
{
public:
    static CommandResult discover(CliSession& session);
    static CommandResult daisy(CliSession& session, const CliCommand& command);
    static CommandResult params(CliSession& session, const CliCommand& command);
    static CommandResult get(CliSession& session, const CliCommand& command);
    static CommandResult set(CliSession& session, const CliCommand& command);
    static CommandResult send(CliSession& session, const CliCommand& command);

    // A failure when the dongle cannot do command/reply traffic on the line.
    static std::optional<CommandResult> checkChorus(CliSession& session);
    // The driver's device; created and attached when the network has none.
    // Call in a task.
    static vx::VxDevice* device(vx::VxNetwork* network, int lid, int skip);
    // Runs the device's parameter search and returns the parameters the
    // driver reported, by number (empty when it did not answer). Call from
    // the main thread.
    static QList<vx::VxParameter*> searchParameters(CliSession& session, vx::VxDevice** device, int lid, int skip);
    // "driver LID 7", "driver LID 7 skip 2".
    static QString deviceText(int lid, int skip);
    // The driver parameter a get or set names; without one, the result that
    // ends the command (no Chorus, interrupted, no driver, no such number).
    static std::optional<CommandResult> namedParameter(CliSession& session, const CliCommand& command,
                                                       vx::VxParameter*& parameter);
};

} // namespace halvorn::cli
