#include "vx/rdmpacket.h"

namespace halvorn::vx {

int RDMPacket::build(const Header& header, const quint8* data, int dataLength, quint8* out, int capacity)
{
    if (dataLength < 0 || dataLength > MaxDataLength || (dataLength > 0 && !data))
        return 0;
    const int length = HeaderLength + dataLength + ChecksumLength;
    if (!out || capacity < length)
        return 0;

    out[0] = StartCode;
    out[1] = SubStartCode;
    out[2] = quint8(HeaderLength + dataLength);
    uidToBytes(header.destination, out + 3);
    uidToBytes(header.source, out + 9);
    out[15] = header.transactionNumber;
    out[16] = header.portId;
    out[17] = header.messageCount;
    out[18] = quint8(header.subDevice >> 8);
    out[19] = quint8(header.subDevice & 0xFF);
    out[20] = header.commandClass;
    out[21] = quint8(header.pid >> 8);
    out[22] = quint8(header.pid & 0xFF);
    out[23] = quint8(dataLength);
    for (int i = 0; i < dataLength; ++i)
        out[HeaderLength + i] = data[i];
    const quint16 sum = checksum(out, HeaderLength + dataLength);
    out[HeaderLength + dataLength] = quint8(sum >> 8);
    out[HeaderLength + dataLength + 1] = quint8(sum & 0xFF);
    return length;
}

quint16 RDMPacket::checksum(const quint8* bytes, int length)
{
    quint32 sum = 0;
    for (int i = 0; i < length; ++i)
        sum += bytes[i];
    return quint16(sum & 0xFFFF);
}

bool RDMPacket::isWellFormed(const quint8* bytes, int length)
{
    if (!bytes || length < HeaderLength + ChecksumLength || bytes[0] != StartCode || bytes[1] != SubStartCode)
        return false;
    const int messageLength = bytes[2];
    if (messageLength + ChecksumLength != length || bytes[23] + HeaderLength != messageLength)
        return false;
    const quint16 sum = checksum(bytes, messageLength);
    return bytes[messageLength] == quint8(sum >> 8) && bytes[messageLength + 1] == quint8(sum & 0xFF);
}

void RDMPacket::uidToBytes(quint64 uid, quint8* bytes)
{
    for (int i = 0; i < 6; ++i)
        bytes[i] = quint8((uid >> (8 * (5 - i))) & 0xFF);
}

quint64 RDMPacket::uidFromBytes(const quint8* bytes)
{
    quint64 uid = 0;
    for (int i = 0; i < 6; ++i)
        uid = (uid << 8) | bytes[i];
    return uid;
}

QString RDMPacket::uidBytesText(quint64 uid)
{
    quint8 bytes[6];
    uidToBytes(uid, bytes);
    QString text;
    text.reserve(17);
    for (int i = 0; i < 6; ++i) {
        if (i > 0)
            text += QLatin1Char(':');
        text += QStringLiteral("%1").arg(bytes[i], 2, 16, QLatin1Char('0'));
    }
    return text;
}

QString RDMPacket::uidName(quint64 uid)
{
    return QStringLiteral("%1:%2")
        .arg(quint32((uid >> 32) & 0xFFFF), 4, 16, QLatin1Char('0'))
        .arg(quint32(uid & 0xFFFFFFFF), 8, 16, QLatin1Char('0'));
}

} // namespace halvorn::vx
