#include "vx/chorusframe.h"

namespace halvorn::vx {

ChorusFrame ChorusFrame::command(quint8 code, quint16 skip, quint16 address, quint8 d0, quint8 d1,
                                 quint8 d2, quint8 d3)
{
    ChorusFrame frame;
    frame.m_bytes[0] = StartByte;
    if (skip != 0) {
        frame.m_bytes[1] = quint8(code ^ SkipToggle);
        frame.m_bytes[2] = quint8(skip & 0xFF);
        frame.m_bytes[3] = quint8(address & 0xFF);
    } else {
        frame.m_bytes[1] = code;
        frame.m_bytes[2] = quint8(address & 0xFF);
        frame.m_bytes[3] = quint8(address >> 8);
    }
    frame.m_bytes[4] = d0;
    frame.m_bytes[5] = d1;
    frame.m_bytes[6] = d2;
    frame.m_bytes[7] = d3;
    frame.m_bytes[8] = checksum(frame.m_bytes.data());
    return frame;
}

ChorusFrame ChorusFrame::command(quint8 code, quint16 skip, quint16 address, quint16 word0, quint16 word1)
{
    return command(code, skip, address, quint8(word0 & 0xFF), quint8(word0 >> 8), quint8(word1 & 0xFF),
                   quint8(word1 >> 8));
}

quint8 ChorusFrame::checksum(const quint8* frame)
{
    quint32 sum = 0;
    for (int i = 0; i < Length - 1; ++i)
        sum += frame[i];
    return quint8(sum & 0xFF);
}

bool ChorusFrame::isValid(const quint8* bytes, int length)
{
    return bytes && length == Length && bytes[0] == StartByte && checksum(bytes) == bytes[8];
}

QByteArray ChorusFrame::toByteArray() const
{
    return QByteArray(reinterpret_cast<const char*>(m_bytes.data()), Length);
}

} // namespace halvorn::vx
