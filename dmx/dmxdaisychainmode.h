#pragma once

#include <QMetaType>

namespace halvorn::dmx {

// How a DMX device places the device behind it on its output (the same
// numbers as the drivers' parameter 59 "Daisy-chain mode").
enum DMXDaisyChainMode : int {
    DaisyChainAuto = 0,       // the next device starts right after this one
    DaisyChainForwarding = 1, // the next device starts where this one starts (plus its offset − 1)
    DaisyChainCluster = 2,    // the next device uses its own start address
    DaisyChainManual = 3      // as forwarding
};

} // namespace halvorn::dmx

Q_DECLARE_METATYPE(halvorn::dmx::DMXDaisyChainMode)
