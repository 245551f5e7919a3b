#include "dmx/ui/dmxdevicestringdialog.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QSpinBox>

namespace halvorn::dmx {

namespace {

constexpr int ResolutionIndex16Bits = 0;
constexpr int ResolutionIndex8Bits = 1;
// The box offers auto, forwarding and cluster; manual is set per device.
constexpr int DaisyChainChoices = 3;
// Far more devices than a DMX line can carry; only stops a typing slip.
constexpr int MaxDeviceCount = 512;

QSpinBox* spinBox(const char* name, int minimum, int maximum, int value)
{
    auto* box = new QSpinBox;
    box->setObjectName(QLatin1String(name));
    box->setRange(minimum, maximum);
    box->setValue(value);
    return box;
}

} // namespace

DMXDeviceStringDialog::DMXDeviceStringDialog(QWidget* parent)
    : QDialog(parent)
    , m_deviceCountBox(spinBox("deviceCountSpinBox", 1, MaxDeviceCount, 1))
    , m_universeBox(spinBox("universeSpinBox", 0, 7, 0))
    , m_startAddressBox(spinBox("startAddressSpinBox", 1, 512, 1))
    , m_channelCountBox(spinBox("channelCount", 1, 20, 1))
    , m_resolutionBox(new QComboBox)
    , m_daisyChainBox(new QComboBox)
{
    setWindowTitle(tr("Create devices"));
    m_resolutionBox->setObjectName(QStringLiteral("resolutionComboBox"));
    m_resolutionBox->addItems({tr("16 Bits"), tr("8 Bits")});
    m_resolutionBox->setCurrentIndex(ResolutionIndex8Bits);
    m_daisyChainBox->setObjectName(QStringLiteral("daisychainComboBox"));
    m_daisyChainBox->addItems({tr("Auto addressing"), tr("Forwarding"), tr("Cluster")});

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* form = new QFormLayout(this);
    form->addRow(tr("Number of devices"), m_deviceCountBox);
    form->addRow(tr("DMX Universe"), m_universeBox);
    form->addRow(tr("DMX Start address"), m_startAddressBox);
    form->addRow(tr("Channel count"), m_channelCountBox);
    form->addRow(tr("DMX Network resolution"), m_resolutionBox);
    form->addRow(tr("DMX Daisy-chain mode"), m_daisyChainBox);
    form->addRow(buttons);

    QMetaObject::connectSlotsByName(this);
}

void DMXDeviceStringDialog::preset(const DMXDevice* device)
{
    if (!device)
        return;
    m_deviceCountBox->setValue(1);
    m_channelCountBox->setValue(int(device->dmxChannelCount()));
    m_universeBox->setValue(device->universe());
    m_startAddressBox->setValue(1);
    m_resolutionBox->setCurrentIndex(device->networkResolution() == DMXDevice::Resolution16Bits
                                         ? ResolutionIndex16Bits
                                         : ResolutionIndex8Bits);
    // A manual device has no entry: nothing is selected and the mode stays.
    const int mode = int(device->daisyChainMode());
    m_daisyChainBox->setCurrentIndex(mode < DaisyChainChoices ? mode : -1);
}

void DMXDeviceStringDialog::setStartAddress(quint16 address)
{
    m_startAddressBox->setValue(address);
}

void DMXDeviceStringDialog::on_deviceCountSpinBox_valueChanged(int value)
{
    m_deviceCount = value;
}

void DMXDeviceStringDialog::on_universeSpinBox_valueChanged(int value)
{
    m_universe = quint8(value);
}

void DMXDeviceStringDialog::on_startAddressSpinBox_valueChanged(int value)
{
    m_startAddress = quint16(value);
}

void DMXDeviceStringDialog::on_channelCount_valueChanged(int value)
{
    m_channelCount = uint(value);
}

void DMXDeviceStringDialog::on_resolutionComboBox_currentIndexChanged(int index)
{
    if (index == ResolutionIndex16Bits)
        m_resolution = DMXDevice::Resolution16Bits;
    else if (index == ResolutionIndex8Bits)
        m_resolution = DMXDevice::Resolution8Bits;
}

void DMXDeviceStringDialog::on_daisychainComboBox_currentIndexChanged(int index)
{
    if (index >= 0 && index < DaisyChainChoices)
        m_daisyChainMode = DMXDaisyChainMode(index);
}

} // namespace halvorn::dmx
