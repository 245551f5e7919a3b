#pragma once

#include <QObject>

#include <atomic>

namespace halvorn::usb {

class USBDongle;

// The side of a network that sends packets through a dongle. DaliNetwork
// (and KeymarkNetwork through it) and VxNetwork implement it beside their
// general::Network base and declare Q_INTERFACES(halvorn::usb::USBNetwork),
// so that qobject_cast<USBNetwork*>(network) finds it.
//
// An exchange, the way every network makes one (exchange() does it all):
// fill `request`; set `replyLength` to 64 and clear `reply`; call the
// dongle's transfer(); then treat the exchange as failed when `replyLength`
// is 0 or reply byte 0 is not the expected reply code (the request code
// with bit 7 set). An exchange that was not made at all (no dongle, a
// disabled dongle, a closed index) leaves the cleared reply and fails that
// test. The buffers belong to the network: use them under its mutex.
class USBNetwork
{
public:
    static constexpr int PacketLength = 64;

    virtual ~USBNetwork() = default;

    // Before an exchange: capacity of `reply`; after it: bytes received.
    int replyLength = 0;
    // Only the first request-length bytes are sent.
    unsigned char request[PacketLength] = {};
    unsigned char reply[PacketLength] = {};

    // Stores the dongle, then calls dongleAttached() (dongle given) or
    // dongleDetached() (null). A network calls it with its parent dongle in
    // its constructor; the dongle's shutdown calls it with null.
    void setDongle(USBDongle* dongle);
    // The dongle this network talks through; null when detached.
    USBDongle* dongle() const { return m_dongle.load(); }

    // One exchange of the first `requestLength` bytes of `request`, with
    // `reply` cleared and a capacity of 64 first. Returns `replyLength`
    // (0 without a dongle).
    int exchange(int requestLength);
    // exchange(), then true when a reply came whose byte 0 is `replyCode`.
    bool exchange(int requestLength, unsigned char replyCode);

    // Networks emit networkConnected() / networkDisconnected() here.
    virtual void dongleAttached() = 0;
    virtual void dongleDetached() = 0;

private:
    std::atomic<USBDongle*> m_dongle{nullptr};
};

} // namespace halvorn::usb

Q_DECLARE_INTERFACE(halvorn::usb::USBNetwork, "usb::USBNetwork")
