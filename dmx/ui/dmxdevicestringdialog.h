#pragma once

#include "dmx/dmxdaisychainmode.h"
#include "dmx/dmxdevice.h"

#include <QDialog>

class QComboBox;
class QSpinBox;

namespace halvorn::dmx {

// "Create devices": asks for a string of chained DMX devices — how many,
// their universe, start address, channel count, resolution and addressing
// mode — for DMXNetwork::createDeviceString / appendDeviceString.
//
// Opened without a preset it starts at one 8-bit device with one channel
// at address 1 of universe 0, auto-addressed; preset() takes the channel
// count, universe, resolution and mode of the device the new ones are
// chained behind.
class DMXDeviceStringDialog : public QDialog
{
    Q_OBJECT

public:
    explicit DMXDeviceStringDialog(QWidget* parent = nullptr);

    void preset(const DMXDevice* device);
    // Proposes a start address (the cell the dialog was opened on).
    void setStartAddress(quint16 address);

    int deviceCount() const { return m_deviceCount; }
    uint channelCount() const { return m_channelCount; }
    quint8 universe() const { return m_universe; }
    quint16 startAddress() const { return m_startAddress; }
    DMXDaisyChainMode daisyChainMode() const { return m_daisyChainMode; }
    DMXDevice::DMXNetworkResolution resolution() const { return m_resolution; }

private Q_SLOTS:
    void on_deviceCountSpinBox_valueChanged(int value);
    void on_universeSpinBox_valueChanged(int value);
    void on_startAddressSpinBox_valueChanged(int value);
    void on_channelCount_valueChanged(int value);
    void on_resolutionComboBox_currentIndexChanged(int index);
    void on_daisychainComboBox_currentIndexChanged(int index);

private:
    int m_deviceCount = 1;
    uint m_channelCount = 1;
    quint8 m_universe = 0;
    quint16 m_startAddress = 1;
    DMXDaisyChainMode m_daisyChainMode = DaisyChainAuto;
    DMXDevice::DMXNetworkResolution m_resolution = DMXDevice::Resolution8Bits;

    QSpinBox* m_deviceCountBox;
    QSpinBox* m_universeBox;
    QSpinBox* m_startAddressBox;
    QSpinBox* m_channelCountBox;
    QComboBox* m_resolutionBox;
    QComboBox* m_daisyChainBox;
};

} // namespace halvorn::dmx
