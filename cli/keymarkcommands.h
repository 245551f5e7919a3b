#pragma once

#include "cli/clicommand.h"
#include "cli/commandresult.h"

#include <array>
#include <optional>

namespace halvorn::km {
class KeymarkNetwork;
}

namespace halvorn::cli {

class CliSession;

// keymark read / keymark write: what the Keymark form does, through the
// parameters of device 0 of the Keymark network (the driver behind the
// tag): the four output currents, the dimming curve, the minimum level
// (a DALI level shown in percent on the curve) and the NTC throttling
// temperature; the Ampwise chips tell which current sources exist.
class KeymarkCommands
{
public:
    static CommandResult read(CliSession& session);
    static CommandResult write(CliSession& session, const CliCommand& command);

    // Checks that the dongle carries Keymark (and can read tags when
    // `needsRead`) and polls for the tag once; a failure, or nothing when
    // the tag is there.
    static std::optional<CommandResult> connectTag(CliSession& session, bool needsRead);

    // Which current sources the driver has, from its Ampwise chips (as the
    // form decides it), and the chips' count and status words (−1 where
    // unread). Call in a task.
    struct Ampwise
    {
        std::array<bool, 4> available{true, true, true, true};
        int count = -1;
        QList<int> status;
    };
    static Ampwise checkAmpwise(km::KeymarkNetwork* network);
};

} // namespace halvorn::cli
