#pragma once

#include <QString>
#include <QtGlobal>

namespace halvorn::vx {

// RDM (ANSI E1.20) messages as the tool builds them, and the UID helpers
// shared by the network and the discovery search.
//
//   0      start code 0xCC          1      sub-start code 0x01
//   2      message length (the packet without its 2 checksum bytes)
//   3-8    destination UID          9-14   source UID
//   15     transaction number       16     port ID
//   17     message count            18-19  sub-device
//   20     command class            21-22  parameter ID (high byte first)
//   23     parameter data length    24...  parameter data
//   last 2 16-bit sum of all preceding bytes, high byte first
//
// A UID is held in the low 48 bits of a quint64; its six bytes, most
// significant first, are the manufacturer ID (two bytes) and the device ID.
class RDMPacket
{
public:
    static constexpr quint8 StartCode = 0xCC;
    static constexpr quint8 SubStartCode = 0x01;
    static constexpr int HeaderLength = 24;
    static constexpr int ChecksumLength = 2;
    static constexpr int MaxDataLength = 231;
    static constexpr int MaxLength = HeaderLength + MaxDataLength + ChecksumLength;
    static constexpr int CommandClassOffset = 20;
    static constexpr quint64 BroadcastUid = 0xFFFFFFFFFFFFull;
    static constexpr quint64 UidMask = 0xFFFFFFFFFFFFull;

    enum CommandClass : quint8 {
        DiscoveryCommand = 0x10,
        DiscoveryCommandResponse = 0x11,
        GetCommand = 0x20,
        GetCommandResponse = 0x21,
        SetCommand = 0x30,
        SetCommandResponse = 0x31
    };
    enum Pid : quint16 {
        DiscUniqueBranch = 0x0001,
        DiscMute = 0x0002,
        DiscUnMute = 0x0003,
        // The drivers' own parameter access: data = parameter number (2
        // bytes) [, value (2 bytes)], high byte first.
        DriverParameter = 0x80D0
    };

    struct Header {
        quint64 destination = 0;
        quint64 source = 0;
        quint8 transactionNumber = 0;
        quint8 portId = 0;
        quint8 messageCount = 0;
        quint16 subDevice = 0;
        quint8 commandClass = 0;
        quint16 pid = 0;
    };

    // Writes the message into `out` (room for `capacity` bytes) and
    // returns its length with the checksum; 0 when it does not fit or the
    // data is longer than 231 bytes.
    static int build(const Header& header, const quint8* data, int dataLength, quint8* out, int capacity);
    // The 16-bit sum of `length` bytes.
    static quint16 checksum(const quint8* bytes, int length);
    // True for a message whose length byte, data length and checksum agree
    // with `length`.
    static bool isWellFormed(const quint8* bytes, int length);

    static void uidToBytes(quint64 uid, quint8* bytes);
    static quint64 uidFromBytes(const quint8* bytes);
    // "12:34:56:78:9a:bc".
    static QString uidBytesText(quint64 uid);
    // "1234:56789abc".
    static QString uidName(quint64 uid);
};

} // namespace halvorn::vx
