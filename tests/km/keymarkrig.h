#pragma once

#include "general/configstore.h"
#include "general/parameter.h"
#include "km/keymarkdevice.h"
#include "km/keymarknetwork.h"
#include "sim/simdongle.h"
#include "sim/simkeymarkport.h"
#include "tests/support/portlinefixture.h"
#include "tests/support/testhelpers.h"
#include "usb/usbdongle.h"

#include <QMetaObject>

#include <functional>
#include <memory>

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

    explicit KeymarkRig(quint16 capabilities = AllCapabilities)
        : m_fixture(std::make_shared<halvorn::sim::SimDongle>(5, capabilities))
    {
        static const bool loaded = halvorn::general::ConfigStore::importFile(
            QStringLiteral(TIVARO_SOURCE_SETTINGS_DIR "/dali_device.json"));
        if (!loaded)
            qWarning("KeymarkRig: the DALI parameter definitions could not be read");
    }

    bool start() { return m_fixture.start() && device(); }

    PortlineFixture& fixture() { return m_fixture; }
    halvorn::sim::SimDongle& simDongle() { return *m_fixture.simDongle(); }
    halvorn::km::KeymarkNetwork* network() const
    {
        return m_fixture.dongle() ? qobject_cast<halvorn::km::KeymarkNetwork*>(m_fixture.dongle()->keymarkNetwork())
                                  : nullptr;
    }
    halvorn::km::KeymarkDevice* device() const { return network() ? network()->tagDevice() : nullptr; }

    // Runs `change` on the dongle's Keymark port under the dongle's lock.
    void withPort(const std::function<void(halvorn::sim::SimKeymarkPort&)>& change)
    {
        auto guard = simDongle().lock();
        change(simDongle().keymarkPort());
    }
    // The tag frames that reached the port since the last clear.
    QList<QByteArray> tagFrames()
    {
        QList<QByteArray> frames;
        withPort([&](halvorn::sim::SimKeymarkPort& port) { frames = port.frames(); });
        return frames;
    }
    void clearTagFrames()
    {
        withPort([](halvorn::sim::SimKeymarkPort& port) { port.clearFrames(); });
    }
    // Requests the firmware has seen with this command code.
    int requests(int code) { return simDongle().requestCount(code); }

    // One presence poll in the network's thread; false when it does not finish in time.
    bool poll()
    {
        QMetaObject::invokeMethod(network(), "pollDevice", Qt::QueuedConnection);
        return settle();
    }
    // Waits until everything queued to the network's thread so far has run.
    bool settle(int timeoutMs = 5000) { return halvorn::test::settle(network(), timeoutMs); }

    // Reads (with the definitions' width) or writes one parameter of
    // device 0; false when the device does not have it or the read fails.
    bool read(uint number, int& value)
    {
        halvorn::general::Parameter* parameter = device()->findParameter(number);
        if (!parameter || !parameter->update(true))
            return false;
        value = parameter->value();
        return true;
    }
    bool write(uint number, int value)
    {
        halvorn::general::Parameter* parameter = device()->findParameter(number);
        if (parameter)
            parameter->setValue(value, true);
        return parameter;
    }

private:
    PortlineFixture m_fixture;
};
