#pragma once

#include "dmx/dmxdevice.h"

#include <QPointer>

#include <array>
#include <atomic>

namespace halvorn::general {
class Parameter;
class ParameterGroup;
} // namespace halvorn::general

namespace halvorn::vx {

class VxNetwork;

// A driver on the DMX line that the tool talks to with Chorus commands: a
// DMX device that also has a device address (LID, the Device address), a
// skip count (its place behind the device with the same address in a daisy
// chain; 0 when addressed directly) and, when RDM discovery found it, its
// RDM UID.
//
// Parameters, by number:
//   0 … 20479       the driver's, read and written with Chorus commands
//                   (readParameter / writeParameter with the device's skip
//                   count and address); a set flag parameter is written as
//                   0xFFFF, a clear one as 0
//   20480, 20481    the tool's own: "Skip count" and "Chorus ID (LID)"
//                   (group "Tool parameters"); writing them changes how
//                   every later command addresses the driver
//   20482 … 24575   read as 0; 24576 … 28671 fail; 28672 and up read as 0
//
// "Search parameters" reads the definitions under "DMX Device" from the
// settings and lists the driver's parameters (VxNetwork::
// retrieveParameterList); each number found becomes a VxParameter in the
// group "VelaLogic parameters". The network announces every result to all
// its devices: a device takes only results retrieved with its own skip
// count and address, so a device never takes another driver's parameters.
class VxDevice : public dmx::DMXDevice
{
    Q_OBJECT

public:
    enum ToolParameter : uint { SkipCountParameter = 0x5000, LidParameter = 0x5001 };
    static constexpr uint LastDriverParameter = 20479;

    VxDevice(VxNetwork* network, uint address, const QString& name);

    VxNetwork* vxNetwork() const;

    // Creates the groups "Tool parameters" and "VelaLogic parameters" and
    // the two tool parameters, and subscribes to the network's
    // parameterFound(). Run by the network right after creating the device.
    void buildGroups();
    general::ParameterGroup* toolGroup() const { return m_toolGroup; }
    general::ParameterGroup* velaGroup() const { return m_velaGroup; }

    quint16 skipCount() const { return m_skipCount.load(); }
    void setSkipCount(quint16 skipCount);
    // Sets the device address (LID) and shows it in "Chorus ID (LID)".
    void setLid(quint16 lid);
    bool isDiscovered() const { return m_discovered.load(); }
    void setDiscovered(bool discovered) { m_discovered = discovered; }
    quint64 uid() const { return m_uid.load(); }
    // The UID as six bytes, most significant first.
    std::array<quint8, 6> uidBytes() const;
    void setUid(quint64 uid);

    // Whether a parameterFound() result, retrieved with (skip, address), is
    // this device's.
    bool acceptsParameterResult(quint16 skip, quint16 address) const;

    // 0 is ignored.
    void setStartAddress(quint16 startOffset) override;
    void setChannelCount(uint n) override;

    QString toString() const override;
    void searchParameters() override;
    void uploadParameter(halvorn::general::Parameter* param, bool& ok) override;
    uint downloadParameter(halvorn::general::Parameter* param, bool& ok) override;

public Q_SLOTS:
    void parameterFound(unsigned short skpCount, unsigned short devIndex, unsigned short paramNum,
                        unsigned short paramType, unsigned short paramVal);
    // Queues a daisy-chain search ("Search daisy") behind this device;
    // daisySearchFinished() follows when the task is gone.
    void searchDaisyChildren() override;
    // Removes the devices chained behind this one, the last first.
    void removeDaisyChildren() override;
    void parameterChanged(halvorn::general::Parameter* param) override;

private:
    // How long a parameter search waits for the parameters it found to be
    // created in the device's thread.
    static constexpr int FoundParametersWaitMs = 2000;
    void waitForFoundParameters();
    general::Parameter* addToolParameter(uint number, const QString& name, int max, bool is8Bit);
    void refreshToolParameter(uint number);

    general::ParameterGroup* m_toolGroup = nullptr;
    general::ParameterGroup* m_velaGroup = nullptr;
    std::atomic<quint16> m_skipCount{0};
    std::atomic<bool> m_discovered{false};
    std::atomic<quint64> m_uid{0};
};

} // namespace halvorn::vx
