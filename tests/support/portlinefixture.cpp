#include "tests/support/portlinefixture.h"

#include "general/treenode.h"
#include "sim/simdongle.h"
#include "sim/siminstallation.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "usb/usbhandler.h"

#include <QList>
#include <QSignalSpy>
#include <QTest>
#include <QtDebug>

using namespace halvorn;

PortlineFixture::PortlineFixture()
{
    build(std::make_shared<sim::SimDongle>());
}

PortlineFixture::PortlineFixture(std::shared_ptr<sim::SimDongle> dongle)
{
    build(dongle ? std::move(dongle) : std::make_shared<sim::SimDongle>());
}

PortlineFixture::PortlineFixture(const QJsonObject& installation)
{
    QList<std::shared_ptr<sim::SimDongle>> dongles;
    if (!sim::SimInstallation::parse(installation, dongles, &m_setupError))
        dongles.clear();
    else if (dongles.isEmpty())
        m_setupError = QStringLiteral("the installation has no dongle");
    build(dongles.isEmpty() ? std::make_shared<sim::SimDongle>() : dongles.first());
}

void PortlineFixture::build(std::shared_ptr<sim::SimDongle> dongle)
{
    m_portline = std::make_shared<sim::VirtualPortline>();
    m_portline->setTimeoutWaitMs(20); // silent equipment stays fast
    m_simDongle = m_portline->plug(std::move(dongle));
    m_handler = std::make_shared<usb::USBHandler>(m_portline);
    m_root = new general::TreeNode;
    m_root->setName(QStringLiteral("Root"));
}

PortlineFixture::~PortlineFixture()
{
    if (m_dongle)
        m_dongle->shutdown();
    // The root deletes the dongle and its networks, which join their threads.
    delete m_root;
    m_handler.reset();
    m_portline.reset();
}

usb::USBDongle* PortlineFixture::open()
{
    if (!m_setupError.isEmpty()) {
        qWarning("PortlineFixture: %s", qPrintable(m_setupError));
        return nullptr;
    }
    if (m_dongle) {
        qWarning("PortlineFixture: opened twice");
        return nullptr;
    }
    QSignalSpy connected(m_handler.get(), &usb::USBHandler::dongleConnect);
    m_handler->checkForDevices();
    if (connected.count() != 1) {
        qWarning("PortlineFixture: the dongle could not be opened");
        return nullptr;
    }
    m_dongle = new usb::USBDongle(m_handler, connected.first().first().toInt(), m_root);
    const auto count = [counter = m_initializedNetworks] { ++*counter; };
    QObject::connect(m_dongle, &usb::USBDongle::OnDaliNetworkCreated, m_dongle, count);
    QObject::connect(m_dongle, &usb::USBDongle::OnVxNetworkCreated, m_dongle, count);
    QObject::connect(m_dongle, &usb::USBDongle::OnKeymarkNetworkCreated, m_dongle, count);
    m_dongle->setConnected();
    return m_dongle;
}

bool PortlineFixture::start(int timeoutMs)
{
    if (!open())
        return false;
    m_dongle->initialize();
    if (!QTest::qWaitFor([this] { return *m_initializedNetworks >= 3; }, timeoutMs)) {
        qWarning("PortlineFixture: only %d of 3 networks initialised within %d ms",
                 *m_initializedNetworks, timeoutMs);
        return false;
    }
    return true;
}
