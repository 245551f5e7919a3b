#include "dmx/dmxsetpointblock.h"

#include "dmx/dmxsetpoint.h"

namespace halvorn::dmx {

int DMXSetpointBlock::lastBlock(int channelCount)
{
    return channelCount > SlotsPerBlock ? channelCount / SlotsPerBlock : 0;
}

void DMXSetpointBlock::build(const DMXSetpoint& setpoint, int channelCount, int block, quint8* packet)
{
    const int count = channelCount;
    packet[0] = Code;
    packet[1] = quint8(count & 0xFF);
    packet[2] = quint8(((count >> 8) & 0x0F) | ((block & 0x0F) << 4));
    packet[3] = 0;
    if (block == 0 && setpoint.chorusOutput()) {
        packet[2] |= 0x10;
        packet[3] = quint8((setpoint.setpointType() << 4) + setpoint.clusterModeIndex());
    }
    const int first = block * SlotsPerBlock;
    for (int i = 0; i < SlotsPerBlock; ++i) {
        // Positions past the channel count still carry the buffer (the
        // drivers count the slots themselves); past 512 they carry 0.
        packet[HeaderLength + i] = setpoint.slot(first + i);
    }
}

} // namespace halvorn::dmx
