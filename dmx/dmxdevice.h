#pragma once

#include "dmx/dmxdaisychainmode.h"
#include "general/device.h"

#include <QPointer>

#include <atomic>

namespace halvorn::dmx {

class DMXNetwork;

// One receiver on the DMX line: a run of consecutive addresses in one
// universe of its network's set-point buffer, one address per channel at
// 8 bits, two (high byte first) at 16 bits.
//
// Devices can be chained: a device may have one output device, whose start
// address follows from this device's daisy-chain mode:
//   auto        next start = this end address + the next device's offset
//   forwarding  next start = this start address + the next device's offset − 1
//   manual      as forwarding
//   cluster     next start = the next device's own offset
// Each device re-announces its range when its input device's range
// changes, so moving the head of a chain moves every device behind it.
// Addresses are 16-bit and not limited to 512: a chain may run past the
// end of the universe (such addresses have no buffer slot).
//
// The chain links are guarded pointers (a removed device drops out of the
// chain) and never form a cycle: setOutputDevice() refuses a device that
// would close a loop. Numeric fields are atomic, so views may read ranges
// while the network thread changes them.
class DMXDevice : public general::Device
{
    Q_OBJECT

public:
    enum DMXNetworkResolution : int { Resolution16Bits = 0, Resolution8Bits = 1 };
    Q_ENUM(DMXNetworkResolution)
    enum DMXOutputGammaCurve : int { GammaLinear = 0, GammaLog = 1 };
    Q_ENUM(DMXOutputGammaCurve)

    static constexpr uint MaxChannelCount = 255;

    DMXDevice(general::Network* network, uint address, const QString& typeName);
    ~DMXDevice() override;

    DMXNetwork* dmxNetwork() const;

    virtual void setStartAddress(quint16 startOffset);
    // Creates or deletes channels to have n (at most 255) and announces the
    // new count and address range.
    virtual void setChannelCount(uint n);
    virtual void setNetworkResolution(halvorn::dmx::DMXDevice::DMXNetworkResolution resolution);
    virtual void setOutputGammaCurve(halvorn::dmx::DMXDevice::DMXOutputGammaCurve gamma);
    virtual void setDaisyChainMode(halvorn::dmx::DMXDaisyChainMode mode);

    void setUniverse(quint8 universe);
    // Chains `device` behind this one (nullptr unchains the current one).
    // Returns false, changing nothing, when `device` is this device or
    // stands before it in the chain.
    bool setOutputDevice(DMXDevice* device);

    quint8 universe() const { return m_universe.load(); }
    quint16 startOffset() const { return m_startOffset.load(); }
    uint dmxChannelCount() const { return m_channelCount.load(); }
    DMXNetworkResolution networkResolution() const { return DMXNetworkResolution(m_resolution.load()); }
    DMXDaisyChainMode daisyChainMode() const { return DMXDaisyChainMode(m_daisyChainMode.load()); }
    DMXOutputGammaCurve outputGammaCurve() const { return DMXOutputGammaCurve(m_gamma.load()); }
    // The neighbours in the chain. Links change in the thread that edits the
    // chain (the window, a daisy search) and are read from every thread, so
    // they are guarded by one lock for all chains.
    DMXDevice* inputDevice() const;
    DMXDevice* outputDevice() const;

    // Addresses per channel: 1 at 8 bits, 2 at 16 bits.
    int bytesPerChannel() const { return networkResolution() == Resolution8Bits ? 1 : 2; }
    quint16 startAddress() const;
    quint16 endAddress() const;
    quint16 channelStartAddress(int channel) const;
    quint16 channelEndAddress(int channel) const;

    // The devices behind this one on its output chain.
    int daisyChildCount() const override;

public Q_SLOTS:
    // The input device's range changed: announce this device's own range.
    void parentAddressRangeChanged(unsigned short startAddress, unsigned short endAddress);

Q_SIGNALS:
    void dmxAddressRangeChanged(unsigned short startAddress, unsigned short endAddress);
    void dmxNetworkResolutionChanged(halvorn::dmx::DMXDevice::DMXNetworkResolution newRes);
    void dmxOutputGammaCurveChanged(halvorn::dmx::DMXDevice::DMXOutputGammaCurve newGamma);
    void dmxUniverseChanged(unsigned char newUniverse);
    void dmxOutputDeviceChanged(halvorn::dmx::DMXDevice* device, halvorn::dmx::DMXDevice* outputDevice);
    // Emitted after Device::channelCountChanged(old, new), once per setChannelCount().
    void channelCountChanged(uint newChannelCount);

protected:
    void emitAddressRange();

private:
    // Upper bound of a chain walk; chains are acyclic, this only keeps a
    // walk finite whatever happens.
    static constexpr int MaxChainLength = 4096;

    std::atomic<quint8> m_universe{0};
    std::atomic<quint16> m_startOffset{1};
    std::atomic<uint> m_channelCount{0};
    std::atomic<int> m_resolution{Resolution8Bits};
    std::atomic<int> m_daisyChainMode{DaisyChainAuto};
    std::atomic<int> m_gamma{GammaLinear};
    // Guarded by chainLock().
    QPointer<DMXDevice> m_inputDevice;
    QPointer<DMXDevice> m_outputDevice;
    QMetaObject::Connection m_outputConnection;
};

} // namespace halvorn::dmx
