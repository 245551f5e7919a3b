#pragma once

#include "sim/simdalibus.h"

#include <QList>
#include <QString>

#include <functional>
#include <memory>

namespace halvorn::general {
class Log;
class TreeNode;
} // namespace halvorn::general
namespace halvorn::sim {
class SimDongle;
class VirtualPortline;
} // namespace halvorn::sim
namespace halvorn::usb {
class USBDongle;
class USBHandler;
} // namespace halvorn::usb

namespace halvorn::dali {

class DaliNetwork;

// A DaliNetwork on a virtual Portline with a powered DALI bus, set up the
// way the dongle sets it up (initialised in its own thread).
class DaliTestBus
{
public:
    DaliTestBus();
    ~DaliTestBus();

    DaliNetwork* network() const { return m_network; }
    sim::SimDongle& dongle() const { return *m_simDongle; }
    std::shared_ptr<sim::SimDongle> donglePointer() const { return m_simDongle; }
    sim::VirtualPortline& portline() const { return *m_portline; }
    usb::USBDongle* usbDongle() const { return m_dongle; }

    // Runs `change` on the simulated bus under the dongle's lock.
    void withBus(const std::function<void(sim::SimDaliBus&)>& change);
    QList<quint16> frames() const;
    void clearFrames();

    // Every message text of a log, waiting (bounded) until it holds `count`.
    static QStringList texts(const general::Log* log);
    static bool waitForCount(const general::Log* log, int count, int timeoutMs = 5000);

private:
    std::shared_ptr<sim::VirtualPortline> m_portline;
    std::shared_ptr<sim::SimDongle> m_simDongle;
    std::shared_ptr<usb::USBHandler> m_handler;
    general::TreeNode* m_root = nullptr;
    usb::USBDongle* m_dongle = nullptr;
    DaliNetwork* m_network = nullptr;
};

// Frames as the bus carried them, address << 8 | data.
inline quint16 frame(int address, int data)
{
    return quint16((address << 8) | data);
}

} // namespace halvorn::dali
