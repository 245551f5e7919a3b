#pragma once

#include "cli/clicommand.h"
#include "cli/commandresult.h"

#include <QJsonObject>

namespace halvorn::dali {
class DaliDevice;
class DaliNetwork;
} // namespace halvorn::dali

namespace halvorn::cli {

class CliSession;

// The DALI commands: scan, commission, get, set, level, power.
//
// Gear is addressed through DaliDevice objects: `dali get/set` on a short
// address that is not yet in the tree (no scan in this run) creates the
// device through the network's createDevice(), as the short-address scan
// would, and reads or writes its Parameter. Parameter numbers must be
// defined for DALI devices in the settings (dali_device.json): the
// definition gives the name, the width, the range and the read-only flag.
class DaliCommands
{
public:
    static CommandResult scan(CliSession& session);
    static CommandResult commission(CliSession& session, const CliCommand& command);
    static CommandResult get(CliSession& session, const CliCommand& command);
    static CommandResult set(CliSession& session, const CliCommand& command);
    static CommandResult level(CliSession& session, const CliCommand& command);
    static CommandResult power(CliSession& session, const CliCommand& command);

    // A failure when the dongle does not carry DALI; empty otherwise.
    static std::optional<CommandResult> checkSupported(CliSession& session);
    // The device of a short address or the broadcast device; creates a
    // short address's device when the network has none. Call in a task.
    static dali::DaliDevice* device(dali::DaliNetwork* network, const DaliTarget& target);
    // "DALI short 3", "DALI broadcast".
    static QString deviceText(const DaliTarget& target);
    static QJsonObject targetJson(const DaliTarget& target);
};

} // namespace halvorn::cli
