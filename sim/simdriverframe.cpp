#include "sim/simdriverframe.h"

namespace halvorn::sim {

SimDriverFrame::SimDriverFrame(const quint8* bytes, int length)
{
    if (bytes == nullptr || length != Length)
        return;
    for (int i = 0; i < Length; ++i)
        m_bytes[size_t(i)] = bytes[i];
    m_valid = m_bytes[0] == StartByte;
}

SimDriverFrame SimDriverFrame::make(quint8 code, quint8 byte2, quint8 byte3, quint8 d0, quint8 d1,
                                    quint8 d2, quint8 d3)
{
    SimDriverFrame frame;
    frame.m_bytes = {StartByte, code, byte2, byte3, d0, d1, d2, d3, 0};
    frame.m_bytes[8] = frame.checksum();
    frame.m_valid = true;
    return frame;
}

quint8 SimDriverFrame::checksum() const
{
    unsigned sum = 0;
    for (int i = 0; i < Length - 1; ++i)
        sum += m_bytes[size_t(i)];
    return quint8(sum & 0xFF);
}

} // namespace halvorn::sim
