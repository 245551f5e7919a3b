#include "dmx/dmxchannel.h"

#include "dmx/dmxnetwork.h"
#include "dmx/dmxsetpoint.h"
#include "general/channeldisplayoptions.h"

namespace halvorn::dmx {

DMXChannel::DMXChannel(DMXDevice* device, int index)
    : general::Channel(index)
    , m_device(device)
{
    setName(QStringLiteral("DMX addr %1").arg(device->channelStartAddress(index)));
    general::ChannelDisplayOptions* options = displayOptions();
    options->setShowPercentage(false);
    options->setShowRawValue(false);
    options->setOrientation(Qt::Vertical);
    // The range stays the base's 0..100 until the device's next resolution
    // change; it is not re-applied here, as that would clamp (and rewrite)
    // whatever the buffer holds at the channel's addresses.

    connect(device, &DMXDevice::dmxNetworkResolutionChanged, this,
            &DMXChannel::deviceNetworkResolutionChanged);
    connect(device, &DMXDevice::dmxAddressRangeChanged, this, &DMXChannel::deviceAddressRangeChanged);
    connect(device, &DMXDevice::dmxUniverseChanged, this, &DMXChannel::deviceUniverseChanged);
    connectSetpoint();
}

DMXSetpoint* DMXChannel::setpoint() const
{
    const DMXDevice* dev = m_device.data();
    const DMXNetwork* network = dev ? dev->dmxNetwork() : nullptr;
    return network ? network->getSetpoint(dev->universe()) : nullptr;
}

void DMXChannel::connectSetpoint()
{
    QObject::disconnect(m_setpointConnection);
    if (DMXSetpoint* buffer = setpoint())
        m_setpointConnection = connect(buffer, &DMXSetpoint::byteChanged, this, &DMXChannel::setpointByteChanged);
}

int DMXChannel::level() const
{
    const DMXDevice* dev = m_device.data();
    const DMXSetpoint* buffer = setpoint();
    if (!dev || !buffer)
        return 0;
    const quint16 address = dev->channelStartAddress(index());
    if (dev->networkResolution() == DMXDevice::Resolution16Bits)
        return buffer->getWord(address);
    return buffer->getByte(address);
}

void DMXChannel::setLevel(int level)
{
    const int clamped = qBound(minimum(), level, maximum());
    if (clamped == this->level())
        return;
    const DMXDevice* dev = m_device.data();
    DMXSetpoint* buffer = setpoint();
    if (!dev || !buffer)
        return;
    const quint16 address = dev->channelStartAddress(index());
    if (dev->networkResolution() == DMXDevice::Resolution16Bits)
        buffer->setWord(address, quint16(clamped));
    else
        buffer->setByte(address, quint8(clamped & 0xFF));
    emit channelChanged();
}

void DMXChannel::setpointByteChanged(unsigned char, unsigned short address)
{
    const DMXDevice* dev = m_device.data();
    if (!dev)
        return;
    const int first = index();
    if (address >= dev->channelStartAddress(first) && address <= dev->channelEndAddress(first))
        emit channelChanged();
}

void DMXChannel::deviceNetworkResolutionChanged(DMXDevice::DMXNetworkResolution newRes)
{
    setRange(0, newRes == DMXDevice::Resolution8Bits ? 0xFF : 0xFFFF);
    emit channelChanged();
}

void DMXChannel::deviceAddressRangeChanged(unsigned short, unsigned short)
{
    emit channelChanged();
}

void DMXChannel::deviceUniverseChanged(unsigned char)
{
    connectSetpoint();
    emit channelChanged();
}

} // namespace halvorn::dmx
