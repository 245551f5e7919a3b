#include "sim/simrdmpacket.h"

namespace halvorn::sim {

bool SimRdmPacket::parse(const quint8* bytes, int length, SimRdmPacket& packet)
{
    if (bytes == nullptr || length < HeaderLength + 2)
        return false;
    if (bytes[0] != StartCode || bytes[1] != SubStartCode)
        return false;
    const int messageLength = bytes[2];
    const int dataLength = bytes[23];
    if (messageLength < HeaderLength || messageLength != HeaderLength + dataLength)
        return false;
    // Trailing bytes after the checksum are not part of a well-formed request either.
    if (length != messageLength + 2)
        return false;
    const quint16 expected = quint16((bytes[messageLength] << 8) | bytes[messageLength + 1]);
    if (checksum(bytes, messageLength) != expected)
        return false;

    packet.destination = uidFromBytes(bytes + 3);
    packet.source = uidFromBytes(bytes + 9);
    packet.transactionNumber = bytes[15];
    packet.portIdOrResponseType = bytes[16];
    packet.messageCount = bytes[17];
    packet.subDevice = quint16((bytes[18] << 8) | bytes[19]);
    packet.commandClass = bytes[20];
    packet.pid = quint16((bytes[21] << 8) | bytes[22]);
    packet.data = QByteArray(reinterpret_cast<const char*>(bytes + HeaderLength), dataLength);
    return true;
}

SimRdmPacket SimRdmPacket::responseTo(const SimRdmPacket& request, quint64 responderUid,
                                      ResponseType type, const QByteArray& data)
{
    SimRdmPacket response;
    response.destination = request.source;
    response.source = responderUid;
    response.transactionNumber = request.transactionNumber;
    response.portIdOrResponseType = type;
    response.messageCount = 0;
    response.subDevice = request.subDevice;
    response.commandClass = quint8(request.commandClass + 1);
    response.pid = request.pid;
    response.data = data.left(MaxDataLength);
    return response;
}

SimRdmPacket SimRdmPacket::nackTo(const SimRdmPacket& request, quint64 responderUid,
                                  NackReasonCode reason)
{
    QByteArray data(2, '\0');
    data[0] = char(quint16(reason) >> 8);
    data[1] = char(quint16(reason) & 0xFF);
    return responseTo(request, responderUid, NackReason, data);
}

QByteArray SimRdmPacket::toBytes() const
{
    const int dataLength = int(qMin<qsizetype>(data.size(), MaxDataLength));
    const int messageLength = HeaderLength + dataLength;
    QByteArray bytes(messageLength + 2, '\0');
    auto* out = reinterpret_cast<quint8*>(bytes.data());
    out[0] = StartCode;
    out[1] = SubStartCode;
    out[2] = quint8(messageLength);
    uidToBytes(destination, out + 3);
    uidToBytes(source, out + 9);
    out[15] = transactionNumber;
    out[16] = portIdOrResponseType;
    out[17] = messageCount;
    out[18] = quint8(subDevice >> 8);
    out[19] = quint8(subDevice & 0xFF);
    out[20] = commandClass;
    out[21] = quint8(pid >> 8);
    out[22] = quint8(pid & 0xFF);
    out[23] = quint8(dataLength);
    for (int i = 0; i < dataLength; ++i)
        out[HeaderLength + i] = quint8(data[i]);
    const quint16 sum = checksum(out, messageLength);
    out[messageLength] = quint8(sum >> 8);
    out[messageLength + 1] = quint8(sum & 0xFF);
    return bytes;
}

quint16 SimRdmPacket::checksum(const quint8* bytes, int length)
{
    unsigned sum = 0;
    for (int i = 0; i < length; ++i)
        sum += bytes[i];
    return quint16(sum & 0xFFFF);
}

QByteArray SimRdmPacket::discoveryAnswer(quint64 uid)
{
    QByteArray answer(DiscoveryAnswerLength, '\0');
    auto* out = reinterpret_cast<quint8*>(answer.data());
    for (int i = 0; i < 7; ++i)
        out[i] = 0xFE;
    out[7] = 0xAA;
    quint8 uidBytes[6];
    uidToBytes(uid, uidBytes);
    for (int k = 0; k < 6; ++k) {
        out[8 + 2 * k] = uidBytes[k] | 0xAA;
        out[9 + 2 * k] = uidBytes[k] | 0x55;
    }
    const quint16 sum = checksum(out + 8, 12);
    out[20] = quint8(sum >> 8) | 0xAA;
    out[21] = quint8(sum >> 8) | 0x55;
    out[22] = quint8(sum & 0xFF) | 0xAA;
    out[23] = quint8(sum & 0xFF) | 0x55;
    return answer;
}

quint64 SimRdmPacket::uidFromBytes(const quint8* bytes)
{
    quint64 uid = 0;
    for (int i = 0; i < 6; ++i)
        uid = (uid << 8) | bytes[i];
    return uid;
}

void SimRdmPacket::uidToBytes(quint64 uid, quint8* bytes)
{
    for (int i = 5; i >= 0; --i) {
        bytes[i] = quint8(uid & 0xFF);
        uid >>= 8;
    }
}

bool SimRdmPacket::isBroadcastUid(quint64 uid)
{
    return (uid & AllDevicesId) == AllDevicesId;
}

} // namespace halvorn::sim
