#include "app/tivaromainwindow.h"

#include "app/myapplication.h"

#include "general/log.h"
#include "general/network.h"
#include "general/threadnames.h"
#include "general/treenode.h"
#include "sim/simdongle.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "usb/usbdonglemanager.h"

#include <QAction>
#include <QMenuBar>
#include <QPointer>
#include <QThread>

using namespace halvorn::general;

TivaroMainWindow::TivaroMainWindow(QWidget* parent)
    : QMainWindow(parent)
{
    setThreadName(QThread::currentThread(), QStringLiteral("UI"));
    logToMain(GENERAL, QStringLiteral("Tivaro Started"), INFO);

    m_settings.load();
    m_settings.start(QStringLiteral("Tivaro"), QStringLiteral(TIVARO_VERSION));

    m_manufacturer = AppSettings::manufacturer();
    m_name = AppSettings::applicationName();
    m_title = m_manufacturer + QLatin1Char(' ') + m_name;
    setWindowTitle(m_title);

    m_treeRoot = new TreeNode;
    startDongleManager();

    setMinimumSize(800, 600);
}

TivaroMainWindow::~TivaroMainWindow()
{
    // Normally the application's shut-down step has stopped the manager.
    std::optional<bool>& stopped = *m_dongleManagerStopped;
    if (!stopped)
        stopped = halvorn::usb::USBDongleManager::shutdownInstance();
    // The dongles and their networks go with the tree, unless a manager that
    // would not stop may still use them.
    if (*stopped)
        delete m_treeRoot;
}

void TivaroMainWindow::startDongleManager()
{
    using halvorn::usb::USBDongleManager;
    MyApplication* application = MyApplication::instance();
    if (application && application->isSimulated()) {
        QString error;
        m_portline = halvorn::sim::VirtualPortline::fromInstallationFile(application->simulationFile(), &error);
        if (m_portline) {
            auto portline = m_portline;
            USBDongleManager::setBackendFactory([portline] { return portline; });
            logToMain(GENERAL, QStringLiteral("Running on the virtual Portline"), INFO);
        } else {
            logToMain(GENERAL, QStringLiteral("Simulation not started: ") + error, ERROR);
        }
    }

    USBDongleManager* manager = USBDongleManager::instance();
    if (m_portline)
        addSimulatorMenu(manager);
    connect(manager, &USBDongleManager::dongleConnect, this, &TivaroMainWindow::OnDongleConnect);
    connect(manager, &USBDongleManager::dongleDisconnect, this, &TivaroMainWindow::OnDongleDisconnect);
    if (application)
        application->addShutdownStep([stopped = m_dongleManagerStopped] {
            if (!*stopped)
                *stopped = USBDongleManager::shutdownInstance();
        });
    manager->start(m_treeRoot);
}

// Lets the user pull the simulated dongles out and plug them in again.
void TivaroMainWindow::addSimulatorMenu(halvorn::usb::USBDongleManager* manager)
{
    QMenu* menu = menuBar()->addMenu(tr("Simulator"));
    const auto dongles = m_portline->pluggedDongles();
    for (const auto& dongle : dongles) {
        QAction* plugged = menu->addAction(tr("%1 plugged in").arg(dongle->name()));
        plugged->setCheckable(true);
        plugged->setChecked(true);
        connect(plugged, &QAction::toggled, this, [this, dongle, manager = QPointer(manager)](bool on) {
            if (on)
                m_portline->plug(dongle);
            else
                m_portline->unplug(dongle);
            if (manager)
                emit manager->triggerDeviceCheck();
        });
    }
}

void TivaroMainWindow::OnDongleConnect(halvorn::usb::USBDongle* usbDongle)
{
    using halvorn::usb::USBDongle;
    disconnect(usbDongle, &USBDongle::OnDaliNetworkCreated, this, &TivaroMainWindow::OnDaliConnect);
    connect(usbDongle, &USBDongle::OnDaliNetworkCreated, this, &TivaroMainWindow::OnDaliConnect);
    disconnect(usbDongle, &USBDongle::OnVxNetworkCreated, this, &TivaroMainWindow::OnVxConnect);
    connect(usbDongle, &USBDongle::OnVxNetworkCreated, this, &TivaroMainWindow::OnVxConnect);
    disconnect(usbDongle, &USBDongle::OnKeymarkNetworkCreated, this, &TivaroMainWindow::OnKeymarkConnect);
    connect(usbDongle, &USBDongle::OnKeymarkNetworkCreated, this, &TivaroMainWindow::OnKeymarkConnect);
    // Off the GUI thread: a dongle that does not answer takes seconds.
    usbDongle->queueInitialize();
}

void TivaroMainWindow::OnDongleDisconnect(halvorn::usb::USBDongle*)
{
}

void TivaroMainWindow::logNetworkCreated(const char* networkProperty)
{
    auto* dongle = qobject_cast<halvorn::usb::USBDongle*>(sender());
    if (!dongle)
        return;
    if (auto* network = dongle->property(networkProperty).value<halvorn::general::Network*>()) {
        logToMain(GENERAL, QStringLiteral("%1 created on %2 (%3)").arg(network->name(), dongle->name()).arg(dongle->dongleIndex()),
                  INFO);
    }
}

void TivaroMainWindow::OnVxConnect()
{
    logNetworkCreated("vxNetwork");
}

void TivaroMainWindow::OnDaliConnect()
{
    logNetworkCreated("daliNetwork");
}

void TivaroMainWindow::OnKeymarkConnect()
{
    logNetworkCreated("keymarkNetwork");
}
