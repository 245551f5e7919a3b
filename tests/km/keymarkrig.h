#pragma once

#include "tests/support/portlinefixture.h"

#include <QByteArray>
#include <QList>

#include <functional>
#include <memory>

namespace halvorn::km {
class KeymarkDevice;
class KeymarkNetwork;
} // namespace halvorn::km
namespace halvorn::sim {
class SimKeymarkPort;
} // namespace halvorn::sim

// A Keymark network on the virtual Portline, started the way the program
// starts it, with the shipped parameter definitions loaded (so device 0 has
// its currents, curve, levels and Ampwise parameters):
//
//   KeymarkRig rig(KeymarkRig::WriteOnly);
//   rig.withPort([](sim::SimKeymarkPort& port) { port.setTagPresent(false); });
//   QVERIFY(rig.start());
//   QVERIFY(rig.poll());            // one presence poll, in the network's thread
class KeymarkRig
{
public:
    static constexpr quint16 AllCapabilities = 0x007F;
    static constexpr quint16 WriteOnly = 0x003F;

    explicit KeymarkRig(quint16 capabilities = AllCapabilities);
    ~KeymarkRig();

    bool start(int timeoutMs = 10000);

    PortlineFixture& fixture() { return m_fixture; }
    halvorn::km::KeymarkNetwork* network() const;
    halvorn::km::KeymarkDevice* device() const;

    // Runs `change` on the dongle's Keymark port under the dongle's lock.
    void withPort(const std::function<void(halvorn::sim::SimKeymarkPort&)>& change);
    // The tag frames that reached the port since the last clear.
    QList<QByteArray> tagFrames();
    void clearTagFrames();
    // Requests the firmware has seen with this command code.
    int requests(int code) const;

    // One presence poll in the network's thread; false when it does not
    // finish in time.
    bool poll(int timeoutMs = 5000);
    // Waits until everything queued to the network's thread so far has run.
    bool settle(int timeoutMs = 5000);

    // Reads (with the definitions' width) or writes one parameter of
    // device 0; false when the device does not have it or the read fails.
    bool read(uint number, int& value);
    bool write(uint number, int value);

private:
    PortlineFixture m_fixture;
};
