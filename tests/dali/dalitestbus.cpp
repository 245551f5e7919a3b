#include "tests/dali/dalitestbus.h"

#include "dali/dalinetwork.h"
#include "general/log.h"
#include "general/treenode.h"
#include "sim/simdongle.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "usb/usbhandler.h"

#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace halvorn::dali {

DaliTestBus::DaliTestBus()
    : m_portline(std::make_shared<sim::VirtualPortline>())
{
    m_portline->setTimeoutWaitMs(20);
    m_simDongle = m_portline->plug();
    {
        auto guard = m_simDongle->lock();
        m_simDongle->daliBus().setExternalSupply(true);
    }
    m_handler = std::make_shared<usb::USBHandler>(m_portline);
    m_handler->checkForDevices();
    m_root = new general::TreeNode;
    m_dongle = new usb::USBDongle(m_handler, 1, m_root);
    m_network = new DaliNetwork(m_dongle);
    m_dongle->addChild(m_network, false);
    // networkInitialized() comes from the network's thread: it is recorded
    // by a queued call into this thread (a QSignalSpy would append in the
    // network's thread while wait() reads its list here).
    auto initialised = std::make_shared<bool>(false);
    const QMetaObject::Connection connection = QObject::connect(
        m_network, &general::Network::networkInitialized, m_root, [initialised] { *initialised = true; });
    m_network->emitNetworkCreated();
    if (!QTest::qWaitFor([initialised] { return *initialised; }, 5000))
        qWarning("DALI network not initialised");
    QObject::disconnect(connection);
}

DaliTestBus::~DaliTestBus()
{
    delete m_root;
}

void DaliTestBus::withBus(const std::function<void(sim::SimDaliBus&)>& change)
{
    auto guard = m_simDongle->lock();
    change(m_simDongle->daliBus());
}

QList<quint16> DaliTestBus::frames() const
{
    return m_simDongle->daliForwardFrames();
}

void DaliTestBus::clearFrames()
{
    auto guard = m_simDongle->lock();
    m_simDongle->daliBus().clearForwardFrames();
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
    QDeadlineTimer deadline(timeoutMs);
    while (log->count() < count) {
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
    return true;
}

} // namespace halvorn::dali
