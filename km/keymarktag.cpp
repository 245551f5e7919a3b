#include "km/keymarktag.h"

namespace halvorn::km {

KeymarkTag::KeymarkTag()
    : m_bytes(Size, '\0')
{
}

int KeymarkTag::thermalThrottlingTemp() const
{
    return byteAt(ThermalThrottlingTempIndex);
}

int KeymarkTag::checksum() const
{
    return byteAt(ChecksumIndex);
}

void KeymarkTag::setThermalThrottlingTemp(int value)
{
    setByte(ThermalThrottlingTempIndex, quint8(value & 0xFF));
    emit thermalThrottlingTempChanged();
}

void KeymarkTag::setChecksum(int value)
{
    setByte(ChecksumIndex, quint8(value & 0xFF));
    emit checksumChanged();
}

int KeymarkTag::current(int source) const
{
    if (source < 0 || source >= CurrentCount)
        return 0;
    const int index = Current1Index + 2 * source;
    return byteAt(index) << 8 | byteAt(index + 1);
}

void KeymarkTag::setCurrent(int source, int value)
{
    if (source < 0 || source >= CurrentCount)
        return;
    setWord(Current1Index + 2 * source, quint16(value & 0xFFFF));
    emitCurrentChanged(source);
}

void KeymarkTag::emitCurrentChanged(int source)
{
    switch (source) {
    case 0:
        emit current1Changed();
        break;
    case 1:
        emit current2Changed();
        break;
    case 2:
        emit current3Changed();
        break;
    case 3:
        emit current4Changed();
        break;
    default:
        break;
    }
}

quint8 KeymarkTag::byteAt(int index) const
{
    if (index < 0 || index >= m_bytes.size())
        return 0;
    return quint8(m_bytes.at(index));
}

void KeymarkTag::setByte(int index, quint8 value)
{
    if (index < 0)
        return;
    if (index >= m_bytes.size())
        m_bytes.append(QByteArray(index + 1 - m_bytes.size(), '\0'));
    m_bytes[index] = char(value);
}

void KeymarkTag::setWord(int index, quint16 value)
{
    setByte(index, quint8(value >> 8));
    setByte(index + 1, quint8(value & 0xFF));
}

void KeymarkTag::clear()
{
    m_bytes.fill('\0');
    emitAllChanged();
}

void KeymarkTag::copyFrom(const KeymarkTag* other)
{
    if (!other || other == this)
        return;
    for (int i = 0; i < Size; ++i)
        setByte(i, other->byteAt(i));
    emitAllChanged();
}

void KeymarkTag::updateChecksum()
{
    if (m_bytes.isEmpty())
        return;
    quint8 sum = 0;
    for (int i = 1; i < m_bytes.size(); ++i)
        sum = quint8(sum + quint8(m_bytes.at(i)));
    m_bytes[ChecksumIndex] = char(sum);
}

void KeymarkTag::emitAllChanged()
{
    emit thermalThrottlingTempChanged();
    for (int source = 0; source < CurrentCount; ++source)
        emitCurrentChanged(source);
    emit checksumChanged();
}

} // namespace halvorn::km
