#pragma once

#include <QByteArray>
#include <QtGlobal>

namespace halvorn::sim {

// One RDM message (ANSI E1.20) as it travels on the DMX line:
//
//   0       start code 0xCC          1      sub-start code 0x01
//   2       message length (everything but the checksum)
//   3-8     destination UID          9-14   source UID
//   15      transaction number       16     port ID (request) / response type (response)
//   17      message count            18-19  sub-device
//   20      command class            21-22  parameter ID
//   23      parameter data length    24...  parameter data
//   last 2  16-bit sum of all preceding bytes, high byte first
//
// UIDs are held as the low 48 bits of a quint64, manufacturer ID in the top
// 16 of them. parse() accepts only well-formed messages: length, data length
// and checksum must agree, so a responder simply ignores anything else.
//
// Discovery answers (to DISC_UNIQUE_BRANCH) are not messages: they carry no
// start code and encode the UID so that it survives collisions:
// seven 0xFE preamble bytes, the separator 0xAA, each UID byte as the pair
// (byte | 0xAA, byte | 0x55), then the 16-bit sum of those 12 bytes encoded
// the same way (high byte first).
class SimRdmPacket
{
public:
    static constexpr quint8 StartCode = 0xCC;
    static constexpr quint8 SubStartCode = 0x01;
    static constexpr int HeaderLength = 24;     // bytes before the parameter data
    static constexpr int MaxDataLength = 231;
    static constexpr quint64 BroadcastUid = 0xFFFFFFFFFFFFull;
    static constexpr quint32 AllDevicesId = 0xFFFFFFFFu; // device part of a vendorcast UID
    static constexpr int DiscoveryAnswerLength = 24;

    enum CommandClass : quint8 {
        DiscoveryCommand = 0x10,
        DiscoveryCommandResponse = 0x11,
        GetCommand = 0x20,
        GetCommandResponse = 0x21,
        SetCommand = 0x30,
        SetCommandResponse = 0x31,
    };
    enum Pid : quint16 {
        DiscUniqueBranch = 0x0001,
        DiscMute = 0x0002,
        DiscUnMute = 0x0003,
        // Halvorn: read (GET, data = number) or write (SET, data = number,
        // value; both 16-bit, high byte first) one driver parameter.
        DriverParameter = 0x80D0,
    };
    enum ResponseType : quint8 { Ack = 0x00, AckTimer = 0x01, NackReason = 0x02, AckOverflow = 0x03 };
    enum NackReasonCode : quint16 {
        UnknownPid = 0x0000,
        FormatError = 0x0001,
        HardwareFault = 0x0002,
        WriteProtect = 0x0004,
        UnsupportedCommandClass = 0x0005,
        DataOutOfRange = 0x0006,
        SubDeviceOutOfRange = 0x0009,
    };

    SimRdmPacket() = default;

    // Reads a message; returns false for anything malformed (wrong start or
    // sub-start code, lengths that disagree, bad checksum, truncated bytes).
    static bool parse(const quint8* bytes, int length, SimRdmPacket& packet);

    // The response a responder with `responderUid` sends to `request`:
    // addressed back to its source, same transaction number and sub-device,
    // command class + 1, same PID, message count 0.
    static SimRdmPacket responseTo(const SimRdmPacket& request, quint64 responderUid,
                                   ResponseType type, const QByteArray& data = QByteArray());
    static SimRdmPacket nackTo(const SimRdmPacket& request, quint64 responderUid,
                               NackReasonCode reason);

    // The bytes on the line, checksum included.
    QByteArray toBytes() const;

    // The 16-bit sum of `length` bytes.
    static quint16 checksum(const quint8* bytes, int length);
    // The 24-byte discovery answer for `uid`.
    static QByteArray discoveryAnswer(quint64 uid);

    static quint64 uidFromBytes(const quint8* bytes);   // 6 bytes, most significant first
    static void uidToBytes(quint64 uid, quint8* bytes);
    // True for FF:FF:FF:FF:FF:FF and for a manufacturer's mmmm:FFFFFFFF.
    static bool isBroadcastUid(quint64 uid);

    quint64 destination = 0;
    quint64 source = 0;
    quint8 transactionNumber = 0;
    quint8 portIdOrResponseType = 0;
    quint8 messageCount = 0;
    quint16 subDevice = 0;
    quint8 commandClass = 0;
    quint16 pid = 0;
    QByteArray data;
};

} // namespace halvorn::sim
