#pragma once

namespace halvorn::general {
class Network;
}

namespace halvorn::usb {

class USBDongle;

// Makes the bus networks a dongle carries. The bus layers (DALI, Vx,
// Keymark) sit above the USB layer, so the dongle cannot name their classes:
// the program's core registers the factory that does (km/portlinenetworks.cpp,
// linked into everything that uses tivaro_core). A dongle without a
// registered factory carries plain networks.
//
// Each network is created with the dongle as its parent and attaches itself
// to the dongle in its constructor.
class DongleNetworkFactory
{
public:
    virtual ~DongleNetworkFactory() = default;

    virtual general::Network* createDaliNetwork(USBDongle* dongle) = 0;
    virtual general::Network* createVxNetwork(USBDongle* dongle) = 0;
    virtual general::Network* createKeymarkNetwork(USBDongle* dongle) = 0;

    // The process-wide factory (nullptr until one is registered). Registered
    // during static initialisation, before any dongle exists.
    static DongleNetworkFactory* instance();
    static void setInstance(DongleNetworkFactory* factory);
};

} // namespace halvorn::usb
