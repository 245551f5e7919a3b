#pragma once

#include "general/device.h"

namespace halvorn::dali {

class DaliNetwork;

// One piece of DALI control gear (address = short address 0..63), or the
// "Broadcast Device" (address 254) that stands for all of them. Its
// parameters come from the settings under "DALI Device|Parameters"; the
// network turns a parameter number into DALI frames (DaliNetwork::
// readParameter / writeParameter).
class DaliDevice : public general::Device
{
    Q_OBJECT

public:
    static constexpr uint BroadcastAddress = 254;

    // Reads its parameter definitions at once.
    DaliDevice(DaliNetwork* network, uint address, const QString& name);

    DaliNetwork* daliNetwork() const { return m_daliNetwork; }
    // 2n for arc power and stores (254 for the broadcast device).
    uint8_t arcPowerAddress() const;
    // 2n + 1 for queries and commands (254: the network sets the S bit).
    uint8_t commandAddress() const;

    void printInfo() override;
    void searchParameters() override;
    void uploadParameter(halvorn::general::Parameter* param, bool& ok) override;
    uint downloadParameter(halvorn::general::Parameter* param, bool& ok) override;

private:
    DaliNetwork* const m_daliNetwork;
};

} // namespace halvorn::dali
