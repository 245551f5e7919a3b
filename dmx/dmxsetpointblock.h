#pragma once

#include <QtGlobal>

namespace halvorn::dmx {

class DMXSetpoint;

// The packets (code 0x03) that carry one DMX frame to the dongle. Block i
// carries slots 60·i … 60·i + 59:
//
//   byte 0   0x03
//   byte 1   channel count, low 8 bits
//   byte 2   channel count bits 8-11 in the low nibble, block number in
//            the high nibble
//   byte 3   0
//   4..63    the block's 60 slots (0 past the end of the buffer)
//
// A frame is blocks 1 … ⌊n / 60⌋ (only when n > 60) followed by block 0,
// which always comes last: it carries the Chorus set-point flags. With
// Chorus output on, block 0 has bit 4 of byte 2 set and byte 3 holds
// (set-point type << 4) + cluster mode index.
//
// build() writes into a caller's buffer, so a frame needs no allocation.
class DMXSetpointBlock
{
public:
    static constexpr int PacketLength = 64;
    static constexpr int SlotsPerBlock = 60;
    static constexpr int HeaderLength = 4;
    static constexpr quint8 Code = 0x03;

    // The highest block number a frame of `channelCount` addresses sends
    // (0 when block 0 alone carries it).
    static int lastBlock(int channelCount);
    // Writes block `block` of `setpoint` into `packet` (PacketLength bytes)
    // with the channel count the frame was started with.
    static void build(const DMXSetpoint& setpoint, int channelCount, int block, quint8* packet);
};

} // namespace halvorn::dmx
