#pragma once

#include "sim/simdalibus.h"
#include "tests/support/portlinefixture.h"

#include <QList>
#include <QStringList>

#include <functional>

namespace halvorn::general {
class Log;
} // namespace halvorn::general

namespace halvorn::dali {

class DaliNetwork;

// A DaliNetwork on an opened virtual Portline with a powered DALI bus,
// initialised in its own thread as the dongle does it (without the dongle's
// other networks).
class DaliTestBus : public PortlineFixture
{
public:
    DaliTestBus();

    DaliNetwork* network() const { return m_network; }
    // Runs `change` on the simulated bus under the dongle's lock.
    void withBus(const std::function<void(sim::SimDaliBus&)>& change);
    QList<quint16> frames() const;
    void clearFrames();

    // Every message text of a log, waiting (bounded) until it holds `count`.
    static QStringList texts(const general::Log* log);
    static bool waitForCount(const general::Log* log, int count, int timeoutMs = 5000);

private:
    DaliNetwork* m_network = nullptr;
};

// Frames as the bus carried them, address << 8 | data.
inline quint16 frame(int address, int data)
{
    return quint16((address << 8) | data);
}

} // namespace halvorn::dali
