#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <array>

namespace halvorn::vx {

// One Chorus frame, the drivers' own 9-byte command/reply frame on the DMX
// line (the same in both directions):
//
//   byte 0     0xD0
//   byte 1     command or reply code
//   bytes 2-3  device address (LID), low byte first, 0 = broadcast; in a
//              skip command: skip count, then the low byte of the address
//   bytes 4-7  command data (16-bit values low byte first)
//   byte 8     sum of bytes 0-7, modulo 256
//
// A command code has bit 3 set. Its skip variant (code XOR 0x88: bit 7 set,
// bit 3 clear) reaches the driver that many places down the daisy chain of
// the addressed driver. A normal reply is the command code OR 0x80; an
// error reply has bits 7 and 6 set (0xCD: "Unknown parameter").
class ChorusFrame
{
public:
    static constexpr int Length = 9;
    static constexpr quint8 StartByte = 0xD0;
    static constexpr quint8 SkipToggle = 0x88;
    static constexpr quint8 ReplyBit = 0x80;
    static constexpr quint8 ErrorBit = 0x40;

    enum Code : quint8 {
        ReadGuid = 0x08,
        WriteSerialNumber = 0x09,
        UidRangeLow = 0x0A,
        UnmuteAll = 0x0C,
        ReadParameter = 0x0D,
        WriteParameter = 0x0E,
        NoOperation = 0x0F,
        UidRangeHigh = 0x1A,
        SetMute = 0x1C,
        FindNext = 0x1D
    };

    ChorusFrame() = default;

    // A command to the device `address` (skip 0) or to the driver `skip`
    // places behind it, with the checksum filled in.
    static ChorusFrame command(quint8 code, quint16 skip, quint16 address, quint8 d0 = 0, quint8 d1 = 0,
                               quint8 d2 = 0, quint8 d3 = 0);
    // A command carrying two 16-bit values (low byte first).
    static ChorusFrame command(quint8 code, quint16 skip, quint16 address, quint16 word0, quint16 word1);

    // The sum of bytes 0-7, modulo 256.
    static quint8 checksum(const quint8* frame);
    // True for a frame of exactly 9 bytes with the start byte and a correct checksum.
    static bool isValid(const quint8* bytes, int length);
    static bool isSkipCode(quint8 code) { return (code & 0x88) == 0x80; }
    static bool isErrorReply(quint8 code) { return (code & 0xC0) == 0xC0; }

    const quint8* data() const { return m_bytes.data(); }
    quint8 byte(int index) const { return m_bytes[size_t(index)]; }
    QByteArray toByteArray() const;

private:
    std::array<quint8, Length> m_bytes{};
};

} // namespace halvorn::vx
