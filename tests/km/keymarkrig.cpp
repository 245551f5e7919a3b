#include "tests/km/keymarkrig.h"

#include "general/configstore.h"
#include "general/parameter.h"
#include "km/keymarkdevice.h"
#include "km/keymarknetwork.h"
#include "sim/simdongle.h"
#include "usb/usbdongle.h"

#include <QMetaObject>
#include <QTest>

#include <atomic>

using namespace halvorn;

namespace {

void loadShippedDefinitions()
{
    static const bool loaded =
        general::ConfigStore::importFile(QStringLiteral(TIVARO_SOURCE_SETTINGS_DIR "/dali_device.json"));
    if (!loaded)
        qWarning("KeymarkRig: the DALI parameter definitions could not be read");
}

} // namespace

KeymarkRig::KeymarkRig(quint16 capabilities)
    : m_fixture(std::make_shared<sim::SimDongle>(5, capabilities))
{
    loadShippedDefinitions();
}

KeymarkRig::~KeymarkRig() = default;

bool KeymarkRig::start(int timeoutMs)
{
    return m_fixture.start(timeoutMs) && network() && device();
}

km::KeymarkNetwork* KeymarkRig::network() const
{
    return m_fixture.dongle() ? qobject_cast<km::KeymarkNetwork*>(m_fixture.dongle()->keymarkNetwork()) : nullptr;
}

km::KeymarkDevice* KeymarkRig::device() const
{
    return network() ? network()->tagDevice() : nullptr;
}

void KeymarkRig::withPort(const std::function<void(sim::SimKeymarkPort&)>& change)
{
    auto guard = m_fixture.simDongle()->lock();
    change(m_fixture.simDongle()->keymarkPort());
}

QList<QByteArray> KeymarkRig::tagFrames()
{
    auto guard = m_fixture.simDongle()->lock();
    return m_fixture.simDongle()->keymarkPort().frames();
}

void KeymarkRig::clearTagFrames()
{
    withPort([](sim::SimKeymarkPort& port) { port.clearFrames(); });
}

int KeymarkRig::requests(int code) const
{
    return m_fixture.simDongle()->requestCount(code);
}

bool KeymarkRig::poll(int timeoutMs)
{
    QMetaObject::invokeMethod(network(), "pollDevice", Qt::QueuedConnection);
    return settle(timeoutMs);
}

bool KeymarkRig::settle(int timeoutMs)
{
    // Shared, so that a late run after a time-out touches nothing freed.
    auto done = std::make_shared<std::atomic<bool>>(false);
    QMetaObject::invokeMethod(network(), [done] { *done = true; }, Qt::QueuedConnection);
    return QTest::qWaitFor([done] { return done->load(); }, timeoutMs);
}

bool KeymarkRig::read(uint number, int& value)
{
    general::Parameter* parameter = device() ? device()->findParameter(number) : nullptr;
    if (!parameter || !parameter->update(true))
        return false;
    value = parameter->value();
    return true;
}

bool KeymarkRig::write(uint number, int value)
{
    general::Parameter* parameter = device() ? device()->findParameter(number) : nullptr;
    if (!parameter)
        return false;
    parameter->setValue(value, true);
    return true;
}
