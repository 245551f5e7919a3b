#pragma once

#include "dmx/dmxdevice.h"
#include "general/channel.h"

#include <QPointer>

namespace halvorn::dmx {

class DMXSetpoint;

// One channel of a DMX device: its level is the set-point value at the
// channel's addresses (one byte at 8 bits, a high/low byte pair at 16 bits),
// read from and written to the buffer of the device's universe. The range
// follows the device's resolution (0–255 or 0–65535, 0–100 until the first
// resolution change). A device in a universe without a buffer reads 0 and
// ignores writes; addresses outside 1..512 do the same.
//
// The channel announces channelChanged() when one of its addresses changes
// in the buffer, when the device's address range moves and when the
// resolution changes. It follows the device into another universe.
class DMXChannel : public general::Channel
{
    Q_OBJECT

public:
    DMXChannel(DMXDevice* device, int index);

    DMXDevice* device() const { return m_device.data(); }

    int level() const override;

public Q_SLOTS:
    // Clamped to the range; an unchanged level writes nothing.
    void setLevel(int level) override;
    void setpointByteChanged(unsigned char uni, unsigned short address);
    void deviceNetworkResolutionChanged(halvorn::dmx::DMXDevice::DMXNetworkResolution newRes);
    void deviceAddressRangeChanged(unsigned short startAddress, unsigned short endAddress);

private Q_SLOTS:
    void deviceUniverseChanged(unsigned char universe);

private:
    DMXSetpoint* setpoint() const;
    void connectSetpoint();

    QPointer<DMXDevice> m_device;
    QMetaObject::Connection m_setpointConnection;
};

} // namespace halvorn::dmx
