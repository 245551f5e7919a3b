#pragma once

#include <QtGlobal>

#include <array>

namespace halvorn::sim {

// One Chorus frame as the drivers on the DMX line read and write it:
//
//   byte 0    0xD0
//   byte 1    command or reply code
//   bytes 2-3 device address (LID), low byte first, 0 = broadcast;
//             in a skip command: skip count, then the low byte of the address
//   bytes 4-7 data (16-bit values low byte first)
//   byte 8    sum of bytes 0-7, modulo 256
//
// A command code has bit 3 set; its skip variant is the code XOR 0x88 (bit 7
// set, bit 3 clear) and reaches the driver that many places down the daisy
// chain of the addressed driver. A normal reply is the command code OR 0x80,
// an error reply has bits 7 and 6 set.
class SimDriverFrame
{
public:
    static constexpr int Length = 9;
    static constexpr quint8 StartByte = 0xD0;
    static constexpr quint8 SkipToggle = 0x88;

    // Command codes the drivers understand (the normal, non-skip form).
    enum Code : quint8 {
        ReadGuid = 0x08,      // CH_EC_GUID
        WriteSerial = 0x09,   // CH_EC_WRSNUM (not supported by the drivers)
        ReadParameter = 0x0D, // CH_EC_RDP
        WriteParameter = 0x0E,// CH_EC_WRP
        NoOperation = 0x0F,   // CH_EC_NOP; its reply 0x8F doubles as CH_ER_NOTSUP
        FindNext = 0x1D,      // CH_EC_FINDNEXT
    };
    static constexpr quint8 ReplyBit = 0x80;
    static constexpr quint8 ErrorBits = 0xC0;
    static constexpr quint8 NotSupported = 0x8F; // CH_ER_NOTSUP

    // Reason in byte 6 of an error reply.
    enum ErrorReason : quint8 {
        ErrorUnknownParameter = 1,
        ErrorReadOnly = 2,
        ErrorOutOfRange = 3,
    };

    SimDriverFrame() = default;
    // Copies `length` bytes; the frame is valid() only for 9 bytes with the
    // start byte 0xD0.
    SimDriverFrame(const quint8* bytes, int length);
    // A frame with the checksum filled in.
    static SimDriverFrame make(quint8 code, quint8 byte2, quint8 byte3, quint8 d0, quint8 d1,
                               quint8 d2, quint8 d3);

    bool valid() const { return m_valid; }
    bool checksumOk() const { return checksum() == m_bytes[8]; }
    quint8 checksum() const;

    quint8 code() const { return m_bytes[1]; }
    // A command code (bit 3 set, bit 7 clear) or a skip code (bit 7 set, bit 3 clear).
    bool isCommand() const { return (code() & 0x88) == 0x08; }
    bool isSkip() const { return (code() & 0x88) == 0x80; }
    // The command code whatever the addressing form.
    quint8 baseCode() const { return isSkip() ? quint8(code() ^ SkipToggle) : code(); }

    // Direct addressing: the 16-bit address of bytes 2-3.
    quint16 address() const { return quint16(m_bytes[2] | (m_bytes[3] << 8)); }
    // Skip addressing: the skip count and the low byte of the head's address.
    quint8 skipCount() const { return m_bytes[2]; }
    quint8 skipAddressLow() const { return m_bytes[3]; }

    quint8 byte(int index) const { return m_bytes[size_t(index)]; }
    // The 16-bit value at data bytes `index`, `index` + 1 (frame positions), low byte first.
    quint16 word(int index) const { return quint16(m_bytes[size_t(index)] | (m_bytes[size_t(index) + 1] << 8)); }

    const quint8* data() const { return m_bytes.data(); }

private:
    std::array<quint8, Length> m_bytes{};
    bool m_valid = false;
};

} // namespace halvorn::sim
