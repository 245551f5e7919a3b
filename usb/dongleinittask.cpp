#include "usb/dongleinittask.h"

#include "usb/usbdongle.h"

namespace halvorn::usb {

DongleInitTask::DongleInitTask(USBDongle* dongle)
    : general::Task(2, QStringLiteral("Initialise \"%1\"").arg(dongle ? dongle->name() : QString()), true)
    , m_dongle(dongle)
{
    setTarget(dongle);
}

void DongleInitTask::execute()
{
    // The dongle lives as long as its manager; the pointer only guards
    // against a task that outlives a test's tree.
    if (USBDongle* dongle = m_dongle.data())
        dongle->initialize();
}

} // namespace halvorn::usb
