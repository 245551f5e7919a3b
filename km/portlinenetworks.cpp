// Registers the bus networks a Portline carries: the DALI network, the Vx
// network (which is also the DMX line) and the Keymark network. Compiled
// once and linked into every program and test that uses tivaro_core (see
// the top-level CMakeLists.txt), so that every dongle gets its real networks
// while the USB layer itself stays below the bus layers.

#include "dali/dalinetwork.h"
#include "km/keymarknetwork.h"
#include "usb/donglenetworkfactory.h"
#include "vx/vxnetwork.h"

namespace halvorn::km {
namespace {

class PortlineNetworks final : public usb::DongleNetworkFactory
{
public:
    general::Network* createDaliNetwork(usb::USBDongle* dongle) override
    {
        return new dali::DaliNetwork(dongle);
    }

    general::Network* createVxNetwork(usb::USBDongle* dongle) override
    {
        return new vx::VxNetwork(dongle);
    }

    general::Network* createKeymarkNetwork(usb::USBDongle* dongle) override
    {
        return new KeymarkNetwork(dongle);
    }
};

struct Registration
{
    Registration() { usb::DongleNetworkFactory::setInstance(&factory); }
    PortlineNetworks factory;
};

const Registration registration;

} // namespace
} // namespace halvorn::km
