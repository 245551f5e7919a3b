#include "dmx/dmxsetpoint.h"

#include "general/input.h"

#include <cmath>

namespace halvorn::dmx {

DMXSetpoint::DMXSetpoint(quint8 universe, QObject* parent)
    : QObject(parent)
    , m_universe(universe)
{
    for (auto& slot : m_data)
        slot.store(0, std::memory_order_relaxed);
}

void DMXSetpoint::setByte(unsigned short dmxAddress, unsigned char value)
{
    if (!isValidAddress(dmxAddress))
        return;
    m_data[dmxAddress - 1].store(value, std::memory_order_relaxed);
    emit byteChanged(m_universe, dmxAddress);
}

void DMXSetpoint::setWord(unsigned short dmxAddress, unsigned short value)
{
    const bool highInside = isValidAddress(dmxAddress);
    const bool lowInside = isValidAddress(quint16(dmxAddress + 1)) && dmxAddress != 0xFFFF;
    if (highInside)
        m_data[dmxAddress - 1].store(quint8(value >> 8), std::memory_order_relaxed);
    if (lowInside)
        m_data[dmxAddress].store(quint8(value & 0xFF), std::memory_order_relaxed);
    if (highInside)
        emit byteChanged(m_universe, dmxAddress);
    if (lowInside)
        emit byteChanged(m_universe, quint16(dmxAddress + 1));
}

unsigned char DMXSetpoint::getByte(unsigned short dmxAddress) const
{
    return isValidAddress(dmxAddress) ? m_data[dmxAddress - 1].load(std::memory_order_relaxed) : 0;
}

unsigned short DMXSetpoint::getWord(unsigned short dmxAddress) const
{
    const quint16 next = dmxAddress == 0xFFFF ? 0 : quint16(dmxAddress + 1);
    return quint16(getByte(dmxAddress) << 8 | getByte(next));
}

quint8 DMXSetpoint::slot(int index) const
{
    return index >= 0 && index < SlotCount ? m_data[size_t(index)].load(std::memory_order_relaxed) : 0;
}

QByteArray DMXSetpoint::data() const
{
    QByteArray copy(SlotCount, '\0');
    for (int i = 0; i < SlotCount; ++i)
        copy[i] = char(slot(i));
    return copy;
}

void DMXSetpoint::setChannelCount(unsigned short n)
{
    const quint16 count = n > SlotCount ? quint16(SlotCount) : n;
    m_channelCount = count;
    for (quint16 address = 1; address <= count; ++address)
        setByte(address, 0);
}

void DMXSetpoint::update()
{
    const quint16 count = channelCount();
    for (quint16 address = 1; address <= count; ++address)
        emit byteChanged(m_universe, address);
}

void DMXSetpoint::inputValueChanged(general::Input* input)
{
    if (!input)
        return;
    const double scaled = 255.0 * input->value();
    if (!std::isfinite(scaled))
        return;
    // Truncated toward zero to 16 bits, then the low byte is kept.
    const auto level = quint16(qint64(std::trunc(scaled)) & 0xFFFF);
    const int index = input->index();
    if (index < 1 || index > SlotCount)
        return;
    setByte(quint16(index), quint8(level & 0xFF));
}

} // namespace halvorn::dmx
