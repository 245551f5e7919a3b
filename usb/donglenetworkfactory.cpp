#include "usb/donglenetworkfactory.h"

#include <atomic>

namespace halvorn::usb {

namespace {
// Constant-initialised, so registration from another file's static
// initialiser cannot run before it.
constinit std::atomic<DongleNetworkFactory*> registeredFactory{nullptr};
} // namespace

DongleNetworkFactory* DongleNetworkFactory::instance()
{
    return registeredFactory.load();
}

void DongleNetworkFactory::setInstance(DongleNetworkFactory* factory)
{
    registeredFactory.store(factory);
}

} // namespace halvorn::usb
