#include "dmx/dmxdevice.h"

#include "dmx/dmxchannel.h"
#include "dmx/dmxnetwork.h"

#include <QVarLengthArray>

#include <mutex>
#include <shared_mutex>

namespace halvorn::dmx {

namespace {

// One lock for the links of all chains: a link change touches two or three
// devices, and it is rare next to the walks that read the links.
std::shared_mutex& chainLock()
{
    static std::shared_mutex lock;
    return lock;
}

} // namespace

DMXDevice::DMXDevice(general::Network* network, uint address, const QString& typeName)
    : general::Device(network, address, typeName)
{
    setDaisyChained(true);
}

DMXDevice::~DMXDevice()
{
    // Leave the neighbours a consistent chain: the device behind this one
    // loses its input, the one before loses its output.
    std::unique_lock lock(chainLock());
    if (DMXDevice* output = m_outputDevice.data())
        output->m_inputDevice = nullptr;
    if (DMXDevice* input = m_inputDevice.data()) {
        if (input->m_outputDevice == this) {
            QObject::disconnect(input->m_outputConnection);
            input->m_outputDevice = nullptr;
        }
    }
}

DMXNetwork* DMXDevice::dmxNetwork() const
{
    return qobject_cast<DMXNetwork*>(network());
}

void DMXDevice::setStartAddress(quint16 startOffset)
{
    m_startOffset = startOffset;
    emitAddressRange();
}

void DMXDevice::setChannelCount(uint n)
{
    const uint count = qMin(n, MaxChannelCount);
    const uint oldCount = uint(Device::channelCount());
    if (count > oldCount) {
        for (uint i = oldCount; i < count; ++i) {
            appendChannel(new DMXChannel(this, int(i)));
        }
    } else if (count < oldCount) {
        removeChannelsFrom(int(count));
    }
    m_channelCount = count;
    emit channelCountChanged(count);
    emitAddressRange();
}

void DMXDevice::setNetworkResolution(DMXNetworkResolution resolution)
{
    m_resolution = resolution;
    emit dmxNetworkResolutionChanged(resolution);
    emitAddressRange();
}

void DMXDevice::setOutputGammaCurve(DMXOutputGammaCurve gamma)
{
    m_gamma = gamma;
    emit dmxOutputGammaCurveChanged(gamma);
}

void DMXDevice::setDaisyChainMode(DMXDaisyChainMode mode)
{
    m_daisyChainMode = mode;
    emitAddressRange();
}

void DMXDevice::setUniverse(quint8 universe)
{
    m_universe = universe;
    emit dmxUniverseChanged(universe);
}

bool DMXDevice::setOutputDevice(DMXDevice* device)
{
    if (device == this)
        return false;
    if (device) {
        int steps = 0;
        for (const DMXDevice* d = inputDevice(); d && steps < MaxChainLength; d = d->inputDevice(), ++steps) {
            if (d == device)
                return false;
        }
    }

    DMXDevice* old = nullptr;
    {
        std::unique_lock lock(chainLock());
        old = m_outputDevice.data();
        if (old && old != device) {
            QObject::disconnect(m_outputConnection);
            old->m_inputDevice = nullptr;
            m_outputDevice = nullptr;
        }
        if (device && old != device) {
            if (DMXDevice* previousInput = device->m_inputDevice.data()) {
                QObject::disconnect(previousInput->m_outputConnection);
                previousInput->m_outputDevice = nullptr;
            }
            device->m_inputDevice = this;
            m_outputDevice = device;
            m_outputConnection = connect(this, &DMXDevice::dmxAddressRangeChanged, device,
                                         &DMXDevice::parentAddressRangeChanged);
        }
    }
    // Addresses are worked out by walking the chain, outside the lock.
    if (old && old != device)
        old->emitAddressRange();
    emitAddressRange();
    emit dmxOutputDeviceChanged(this, device);
    return true;
}

DMXDevice* DMXDevice::inputDevice() const
{
    std::shared_lock lock(chainLock());
    return m_inputDevice.data();
}

DMXDevice* DMXDevice::outputDevice() const
{
    std::shared_lock lock(chainLock());
    return m_outputDevice.data();
}

quint16 DMXDevice::startAddress() const
{
    // Walk up to the head of the chain, then work the addresses out downwards.
    QVarLengthArray<const DMXDevice*, 32> path;
    path.append(this);
    while (path.size() < MaxChainLength) {
        const DMXDevice* input = path.last()->inputDevice();
        if (!input)
            break;
        path.append(input);
    }

    quint16 start = path.last()->startOffset();
    for (qsizetype i = path.size() - 2; i >= 0; --i) {
        const DMXDevice* device = path[i];
        const DMXDevice* input = path[i + 1];
        switch (input->daisyChainMode()) {
        case DaisyChainAuto: {
            const auto inputEnd = quint16(start + input->bytesPerChannel() * input->dmxChannelCount() - 1);
            start = quint16(inputEnd + device->startOffset());
            break;
        }
        case DaisyChainForwarding:
        case DaisyChainManual:
            start = quint16(start + device->startOffset() - 1);
            break;
        case DaisyChainCluster:
            start = device->startOffset();
            break;
        }
    }
    return start;
}

quint16 DMXDevice::endAddress() const
{
    return quint16(startAddress() + bytesPerChannel() * dmxChannelCount() - 1);
}

quint16 DMXDevice::channelStartAddress(int channel) const
{
    return quint16(startAddress() + bytesPerChannel() * channel);
}

quint16 DMXDevice::channelEndAddress(int channel) const
{
    return quint16(startAddress() + bytesPerChannel() * (channel + 1) - 1);
}

int DMXDevice::daisyChildCount() const
{
    int count = 0;
    for (const DMXDevice* d = outputDevice(); d && count < MaxChainLength; d = d->outputDevice())
        ++count;
    return count;
}

void DMXDevice::parentAddressRangeChanged(unsigned short, unsigned short)
{
    emitAddressRange();
}

void DMXDevice::emitAddressRange()
{
    emit dmxAddressRangeChanged(startAddress(), endAddress());
}

} // namespace halvorn::dmx
