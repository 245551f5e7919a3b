#include "usb/usbnetwork.h"

#include "usb/usbdongle.h"

#include <cstring>

namespace halvorn::usb {

void USBNetwork::setDongle(USBDongle* dongle)
{
    m_dongle.store(dongle);
    if (dongle)
        dongleAttached();
    else
        dongleDetached();
}

int USBNetwork::exchange(int requestLength)
{
    std::memset(reply, 0, sizeof reply);
    replyLength = PacketLength;
    USBDongle* const target = m_dongle.load();
    if (!target) {
        replyLength = 0;
        return 0;
    }
    target->transfer(request, requestLength, reply, &replyLength);
    return replyLength;
}

bool USBNetwork::exchange(int requestLength, unsigned char replyCode)
{
    return exchange(requestLength) > 0 && reply[0] == replyCode;
}

} // namespace halvorn::usb
