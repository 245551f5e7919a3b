#pragma once

#include "general/network.h"
#include "usb/usbnetwork.h"

namespace halvorn::usb {

// A network that stands in for a bus whose network class is not built yet:
// a plain general::Network with the USBNetwork side, so that a dongle can
// create, attach, initialise and detach it like the real one. It sends
// nothing on its own.
class PlaceholderNetwork : public general::Network, public USBNetwork
{
    Q_OBJECT
    Q_INTERFACES(halvorn::usb::USBNetwork)

public:
    // Named `name`, its thread named `threadName`; attaches itself to the dongle.
    PlaceholderNetwork(USBDongle* dongle, const QString& name, const QString& threadName);

    void dongleAttached() override;
    void dongleDetached() override;

public Q_SLOTS:
    void init() override;
};

} // namespace halvorn::usb
