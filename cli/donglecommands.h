#pragma once

#include "cli/clicommand.h"
#include "cli/commandresult.h"

namespace halvorn::usb {
class USBDongle;
}

namespace halvorn::cli {

class CliSession;

// info, dongle get, dongle set: the Portline's own firmware parameters.
class DongleCommands
{
public:
    static CommandResult info(CliSession& session);
    static CommandResult get(CliSession& session, const CliCommand& command);
    static CommandResult set(CliSession& session, const CliCommand& command);

    // Bit `bit` of the capability flags read when the dongle was opened
    // (USBDongle::CapabilityBit); DMX is assumed for firmware that cannot say.
    static bool hasCapability(const usb::USBDongle* dongle, int bit);
};

} // namespace halvorn::cli
