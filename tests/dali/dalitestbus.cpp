#include "tests/dali/dalitestbus.h"

#include "dali/dalinetwork.h"
#include "general/log.h"
#include "sim/simdongle.h"
#include "usb/usbdongle.h"

#include <QTest>

#include <memory>

namespace halvorn::dali {

DaliTestBus::DaliTestBus()
{
    withBus([](sim::SimDaliBus& dali) { dali.setExternalSupply(true); });
    if (!open())
        return;
    m_network = new DaliNetwork(dongle());
    dongle()->addChild(m_network, false);
    // networkInitialized() comes from the network's thread: recorded by a
    // queued call into this thread.
    auto initialised = std::make_shared<bool>(false);
    QObject context;
    QObject::connect(m_network, &general::Network::networkInitialized, &context, [initialised] { *initialised = true; });
    m_network->emitNetworkCreated();
    if (!QTest::qWaitFor([initialised] { return *initialised; }, 5000))
        qWarning("DALI network not initialised");
}

void DaliTestBus::withBus(const std::function<void(sim::SimDaliBus&)>& change)
{
    auto guard = simDongle()->lock();
    change(simDongle()->daliBus());
}

QList<quint16> DaliTestBus::frames() const
{
    return simDongle()->daliForwardFrames();
}

void DaliTestBus::clearFrames()
{
    auto guard = simDongle()->lock();
    simDongle()->daliBus().clearForwardFrames();
}

QStringList DaliTestBus::texts(const general::Log* log)
{
    QStringList result;
    for (int i = 0; i < log->count(); ++i)
        result << log->message(i)->text();
    return result;
}

bool DaliTestBus::waitForCount(const general::Log* log, int count, int timeoutMs)
{
    return QTest::qWaitFor([log, count] { return log->count() >= count; }, timeoutMs);
}

} // namespace halvorn::dali
