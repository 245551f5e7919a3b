#include "usb/placeholdernetwork.h"

#include "general/threadnames.h"
#include "usb/usbdongle.h"

namespace halvorn::usb {

PlaceholderNetwork::PlaceholderNetwork(USBDongle* dongle, const QString& name, const QString& threadName)
    : general::Network(dongle)
{
    setName(name);
    general::setThreadName(networkThread(), threadName);
    setDongle(dongle);
}

void PlaceholderNetwork::dongleAttached()
{
    emit networkConnected();
}

void PlaceholderNetwork::dongleDetached()
{
    emit networkDisconnected();
}

void PlaceholderNetwork::init()
{
    general::Network::init();
    emit networkInitialized();
}

} // namespace halvorn::usb
