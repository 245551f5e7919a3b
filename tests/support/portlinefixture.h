#pragma once

#include <QJsonObject>

#include <memory>

namespace halvorn::general {
class Network;
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

// A Portline on the virtual bus, opened and initialised like the program
// does it, without the dongle manager's thread:
//
//   PortlineFixture portline;                       // firmware 5, all capabilities
//   portline.simDongle()->daliBus().addGear(...);   // equipment, before start()
//   QVERIFY(portline.start());                      // open, read parameters, networks up
//   auto* dali = qobject_cast<dali::DaliNetwork*>(portline.dongle()->daliNetwork());
//
// Silent transfers time out after 20 ms; the portline runs without latency.
// The fixture tears everything down in a safe order (the dongle's shutdown,
// the tree with its network threads, the handler, the bus). Use it from the
// test's main thread.
class PortlineFixture
{
public:
    // A dongle with firmware 5 and capabilities 0x007F.
    PortlineFixture();
    // A dongle of your own (configure it before or after; plugged in here).
    explicit PortlineFixture(std::shared_ptr<halvorn::sim::SimDongle> dongle);
    // The first dongle of an installation (see docs/simulator.md); the
    // fixture fails to start when the installation is malformed.
    explicit PortlineFixture(const QJsonObject& installation);
    ~PortlineFixture();

    PortlineFixture(const PortlineFixture&) = delete;
    PortlineFixture& operator=(const PortlineFixture&) = delete;

    // Polls the bus once (the dongle gets index 1) and creates the connected
    // USBDongle under the root, without reading its parameters; null (with a
    // qWarning) when the dongle cannot be opened.
    halvorn::usb::USBDongle* open();
    // open(), then initialize() on the calling thread, then waits (processing
    // events) for its three networks. False (with a qWarning) when any step
    // fails in time.
    bool start(int timeoutMs = 10000);

    halvorn::sim::VirtualPortline& portline() const { return *m_portline; }
    std::shared_ptr<halvorn::sim::VirtualPortline> portlinePointer() const { return m_portline; }
    std::shared_ptr<halvorn::sim::SimDongle> simDongle() const { return m_simDongle; }
    halvorn::usb::USBHandler& handler() const { return *m_handler; }
    std::shared_ptr<halvorn::usb::USBHandler> handlerPointer() const { return m_handler; }
    halvorn::general::TreeNode& root() const { return *m_root; }
    // Null before open() or start().
    halvorn::usb::USBDongle* dongle() const { return m_dongle; }
    // Networks reported initialised so far (3 after a successful start()).
    int initializedNetworks() const { return *m_initializedNetworks; }

private:
    void build(std::shared_ptr<halvorn::sim::SimDongle> dongle);

    std::shared_ptr<halvorn::sim::VirtualPortline> m_portline;
    std::shared_ptr<halvorn::sim::SimDongle> m_simDongle;
    std::shared_ptr<halvorn::usb::USBHandler> m_handler;
    halvorn::general::TreeNode* m_root = nullptr;
    halvorn::usb::USBDongle* m_dongle = nullptr;
    std::shared_ptr<int> m_initializedNetworks = std::make_shared<int>(0);
    QString m_setupError;
};
