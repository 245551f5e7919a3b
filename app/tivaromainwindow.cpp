#include "app/tivaromainwindow.h"

#include "app/daliwidget.h"
#include "app/devicetreedock.h"
#include "app/dmxdockwidget.h"
#include "app/dmxwidget.h"
#include "app/keymarkwidget.h"
#include "app/myapplication.h"
#include "app/taskstatuswidget.h"
#include "ui_tivaromainwindow.h"

#include "dali/dalinetwork.h"
#include "general/log.h"
#include "general/network.h"
#include "general/networklog.h"
#include "general/taskscheduler.h"
#include "general/threadnames.h"
#include "general/treenode.h"
#include "general/ui/appmenubar.h"
#include "general/ui/devicestatuswidget.h"
#include "general/ui/multilogwidget.h"
#include "general/ui/treenodecontroller.h"
#include "km/keymarkdevice.h"
#include "km/keymarknetwork.h"
#include "sim/simdongle.h"
#include "sim/siminstallation.h"
#include "sim/virtualportline.h"
#include "usb/dongleinittask.h"
#include "usb/usbdongle.h"
#include "usb/usbdonglemanager.h"
#include "vx/vxnetwork.h"

#include <QAction>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDesktopServices>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSettings>
#include <QStatusBar>
#include <QThread>
#include <QUrl>
#include <QVBoxLayout>

using namespace halvorn::general;
using halvorn::usb::USBDongle;
using halvorn::usb::USBDongleManager;

namespace {

const QString SettingsOrganisation = QStringLiteral("Halvorn");
const QString SettingsApplication = QStringLiteral("Tivaro");
const QString GeometryKey = QStringLiteral("MainWindow/geometry");
const QString StateKey = QStringLiteral("MainWindow/state");
const QString ModeKey = QStringLiteral("MainWindow/mode");

QString modeName(TivaroMainWindow::Mode mode)
{
    switch (mode) {
    case TivaroMainWindow::Mode::DALI:
        return QStringLiteral("DALI");
    case TivaroMainWindow::Mode::Keymark:
        return QStringLiteral("Keymark");
    case TivaroMainWindow::Mode::DMX:
        break;
    }
    return QStringLiteral("DMX");
}

TivaroMainWindow::Mode modeFromName(const QString& name)
{
    if (name == QLatin1String("DALI"))
        return TivaroMainWindow::Mode::DALI;
    if (name == QLatin1String("Keymark"))
        return TivaroMainWindow::Mode::Keymark;
    return TivaroMainWindow::Mode::DMX;
}

} // namespace

TivaroMainWindow::TivaroMainWindow(QWidget* parent)
    : QMainWindow(parent)
    , m_ui(std::make_unique<Ui::TivaroMainWindow>())
{
    m_ui->setupUi(this);
    setThreadName(QThread::currentThread(), QStringLiteral("UI"));
    logToMain(GENERAL, QStringLiteral("Tivaro Started"), INFO);

    m_settings.load();
    m_settings.start(QStringLiteral("Tivaro"), QStringLiteral(TIVARO_VERSION));

    m_manufacturer = AppSettings::manufacturer();
    m_name = AppSettings::applicationName();
    m_title = m_manufacturer + QLatin1Char(' ') + m_name;
    setWindowTitle(m_title);

    m_logWindow = new MultiLogWidget;
    m_logWindow->addLog(mainLog());
    m_treeRoot = new TreeNode;
    m_treeController = new TreeNodeController;
    m_treeRoot->setController(m_treeController);

    buildPages();
    m_ui->actionDALI->setEnabled(false);
    m_ui->actionKeymark->setEnabled(false);
    buildStatusBar();
    restoreSettings();
    enterMode(Mode::DMX);

    buildMenus();
    startDongleManager();

    m_aboutAction = new QAction(tr("&About"), this);
    connect(m_aboutAction, &QAction::triggered, this, &TivaroMainWindow::about);
    m_helpMenu = menuBar()->addMenu(tr("&Help"));
    m_helpMenu->addAction(m_aboutAction);

    m_ui->actionLog->setShortcutContext(Qt::ApplicationShortcut);
    // The log window's own shortcut (Ctrl+2) works while this window is shown.
    AppMenuBar::instance()->attachTo(this);
    setMinimumSize(800, 600);
}

TivaroMainWindow::~TivaroMainWindow()
{
    // Normally the application's shut-down step has stopped the manager.
    std::optional<bool>& stopped = *m_dongleManagerStopped;
    if (!stopped)
        stopped = USBDongleManager::shutdownInstance();
    delete m_logWindow;
    // The dongles and their networks go with the tree, unless a manager that
    // would not stop may still use them; the controller, which the nodes
    // call, goes with them. A background task must not outlive them.
    if (*stopped && stopBackgroundTasks()) {
        delete m_treeRoot;
        delete m_treeController;
    }
}

bool TivaroMainWindow::stopBackgroundTasks()
{
    // Each task that starts meanwhile is aborted too: a task aborted before
    // it runs does nothing, one that runs stops at its next step.
    TaskScheduler* scheduler = TaskScheduler::instance();
    const QDeadlineTimer deadline(TaskStopWaitMs);
    while (scheduler->currentTask() || scheduler->queuedCount() > 0) {
        if (deadline.hasExpired()) {
            logToMain(GENERAL, QStringLiteral("A background task did not stop; the device tree is left behind"),
                      ERROR);
            return false;
        }
        scheduler->abortTask();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(1);
    }
    return true;
}

void TivaroMainWindow::buildPages()
{
    m_dmxWidget = new halvorn::DMXWidget;
    m_dmxWidget->setObjectName(QStringLiteral("dmxWidget"));
    m_dmxDock = new halvorn::DMXDockWidget(this);
    m_dmxDock->setObjectName(QStringLiteral("dmxDock"));
    m_dmxDock->setWindowTitle(tr("DMX sliders"));
    addDockWidget(Qt::RightDockWidgetArea, m_dmxDock, Qt::Vertical);

    m_daliWidget = new halvorn::DALIWidget;
    m_daliWidget->setObjectName(QStringLiteral("daliWidget"));
    m_keymarkWidget = new halvorn::KeymarkWidget;
    m_keymarkWidget->setObjectName(QStringLiteral("keymarkWidget"));
    m_ui->verticalLayout->setContentsMargins(0, 0, 0, 0);
    m_ui->verticalLayout->addWidget(m_dmxWidget);
    m_ui->verticalLayout->addWidget(m_daliWidget);
    m_ui->verticalLayout->addWidget(m_keymarkWidget);

    m_deviceTreeDock = new halvorn::DeviceTreeDock(m_treeRoot, m_treeController, this);
    m_deviceTreeDock->setObjectName(QStringLiteral("deviceTreeDock"));
    addDockWidget(Qt::LeftDockWidgetArea, m_deviceTreeDock, Qt::Vertical);
}

void TivaroMainWindow::buildStatusBar()
{
    m_taskStatus = new halvorn::TaskStatusWidget(TaskScheduler::instance());
    m_taskStatus->setObjectName(QStringLiteral("taskStatus"));
    statusBar()->addWidget(m_taskStatus, 1);

    m_usbStatus = new DeviceStatusWidget;
    m_usbStatus->setObjectName(QStringLiteral("usbStatus"));
    m_usbStatus->setIcon(QStringLiteral(":/icons/usb/disconnected"));
    m_keymarkStatus = new DeviceStatusWidget;
    m_keymarkStatus->setObjectName(QStringLiteral("keymarkStatus"));
    m_keymarkStatus->setIcon(QStringLiteral(":/icons/keymark/disconnected"));
    statusBar()->addPermanentWidget(m_usbStatus);
    statusBar()->addPermanentWidget(m_keymarkStatus);
    m_keymarkStatus->hide();
}

void TivaroMainWindow::buildMenus()
{
    QMenu* view = menuBar()->addMenu(tr("&View"));
    view->addAction(m_ui->actionDMX);
    view->addAction(m_ui->actionDALI);
    view->addAction(m_ui->actionKeymark);
    view->addSeparator();
    view->addAction(m_ui->actionLog);
    view->addAction(m_deviceTreeDock->toggleViewAction());
}

void TivaroMainWindow::startDongleManager()
{
    MyApplication* application = MyApplication::instance();
    if (application && application->isSimulated()) {
        QString error;
        m_installationPath = application->simulationFile();
        // Without a file, the built-in installation (the same as tivaro-cli's).
        m_portline = halvorn::sim::VirtualPortline::fromInstallationFile(m_installationPath, &error);
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

// Lets the user pull the simulated dongles out and plug them in again,
// take the Keymark tag out and put it back, and look at the installation.
void TivaroMainWindow::addSimulatorMenu(USBDongleManager* manager)
{
    QMenu* menu = menuBar()->addMenu(tr("Simulator"));
    menu->setObjectName(QStringLiteral("simulatorMenu"));
    const auto dongles = m_portline->pluggedDongles();
    for (const auto& dongle : dongles)
        addSimulatedDongleEntries(menu, dongle, manager);
    menu->addSeparator();
    QAction* installation = menu->addAction(tr("Installation file..."));
    installation->setObjectName(QStringLiteral("actionInstallation"));
    connect(installation, &QAction::triggered, this, [this] {
        QDialog* dialog = createInstallationDialog();
        dialog->setAttribute(Qt::WA_DeleteOnClose);
        dialog->open();
    });
}

void TivaroMainWindow::addSimulatedDongleEntries(QMenu* menu, const std::shared_ptr<halvorn::sim::SimDongle>& dongle,
                                                 USBDongleManager* manager)
{
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

    QAction* tag = menu->addAction(tr("%1: Keymark tag inserted").arg(dongle->name()));
    tag->setCheckable(true);
    {
        auto guard = dongle->lock();
        tag->setChecked(dongle->keymarkPort().isTagPresent());
    }
    connect(tag, &QAction::toggled, this, [this, dongle](bool inserted) {
        {
            auto guard = dongle->lock();
            dongle->keymarkPort().setTagPresent(inserted);
        }
        // On the Keymark page the change shows at once, not at the next poll.
        if (m_mode == Mode::Keymark) {
            if (halvorn::km::KeymarkNetwork* network = m_keymarkWidget->network())
                network->startPolling(halvorn::km::KeymarkNetwork::PollIntervalMs);
        }
    });
    menu->addSeparator();
}

QDialog* TivaroMainWindow::createInstallationDialog()
{
    auto* dialog = new QDialog(this);
    dialog->setWindowTitle(tr("Installation file"));
    dialog->resize(560, 480);
    auto* layout = new QVBoxLayout(dialog);

    QString text;
    QString where;
    if (!m_installationPath.isEmpty()) {
        where = QDir::toNativeSeparators(QFileInfo(m_installationPath).absoluteFilePath());
        QFile file(m_installationPath);
        text = file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll())
                                              : tr("The file cannot be read: %1").arg(file.errorString());
    } else {
        where = tr("The installation built into the program (start with --simulate=FILE to use a file "
                   "of your own; the text below is a good start for one).");
        if (m_portline)
            text = QString::fromUtf8(QJsonDocument(m_portline->installation()).toJson(QJsonDocument::Indented));
    }
    auto* label = new QLabel(where);
    label->setObjectName(QStringLiteral("installationPath"));
    label->setWordWrap(true);
    label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* content = new QPlainTextEdit(text);
    content->setObjectName(QStringLiteral("installationText"));
    content->setReadOnly(true);
    content->setFont(QFont(QStringLiteral("Monospace")));

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close);
    if (!m_installationPath.isEmpty()) {
        QPushButton* open = buttons->addButton(tr("Open in editor"), QDialogButtonBox::ActionRole);
        const QUrl url = QUrl::fromLocalFile(QFileInfo(m_installationPath).absoluteFilePath());
        connect(open, &QPushButton::clicked, dialog, [url] { QDesktopServices::openUrl(url); });
    }
    connect(buttons, &QDialogButtonBox::rejected, dialog, &QDialog::reject);
    layout->addWidget(label);
    layout->addWidget(content);
    layout->addWidget(buttons);
    return dialog;
}

void TivaroMainWindow::enterMode(Mode mode)
{
    m_mode = mode;
    m_ui->actionDMX->setChecked(mode == Mode::DMX);
    m_ui->actionDALI->setChecked(mode == Mode::DALI);
    m_ui->actionKeymark->setChecked(mode == Mode::Keymark);
    // Hide first, so that a page that goes stops its bus activity before
    // the next one starts its own.
    if (mode != Mode::DMX) {
        m_dmxWidget->hide();
        m_dmxDock->hide();
    }
    if (mode != Mode::DALI)
        m_daliWidget->hide();
    if (mode != Mode::Keymark) {
        m_keymarkWidget->hide();
        m_keymarkStatus->hide();
    }
    switch (mode) {
    case Mode::DMX:
        m_dmxWidget->show();
        m_dmxDock->show();
        break;
    case Mode::DALI:
        m_daliWidget->show();
        break;
    case Mode::Keymark:
        m_keymarkWidget->show();
        m_keymarkStatus->show();
        break;
    }
}

void TivaroMainWindow::chooseMode(Mode mode)
{
    m_preferredMode = mode;
    enterMode(mode);
}

void TivaroMainWindow::enterPreferredModeIfAvailable()
{
    if (m_mode != Mode::DMX || m_preferredMode == Mode::DMX)
        return;
    const QAction* action = m_preferredMode == Mode::DALI ? m_ui->actionDALI : m_ui->actionKeymark;
    if (action->isEnabled())
        enterMode(m_preferredMode);
}

void TivaroMainWindow::on_actionDMX_triggered()
{
    chooseMode(Mode::DMX);
}

void TivaroMainWindow::on_actionDALI_triggered()
{
    chooseMode(Mode::DALI);
}

void TivaroMainWindow::on_actionKeymark_triggered()
{
    chooseMode(Mode::Keymark);
}

void TivaroMainWindow::on_actionLog_triggered()
{
    m_logWindow->show();
    m_logWindow->raise();
    m_logWindow->activateWindow();
}

void TivaroMainWindow::about()
{
    QMessageBox::about(this, tr("About Tivaro"),
                       QStringLiteral("<b>") + m_title + QStringLiteral("</b><br><br> <i>Version: 1.04</i><br>"));
}

void TivaroMainWindow::OnDongleConnect(USBDongle* usbDongle)
{
    if (!usbDongle)
        return;
    // Once per dongle, however often it comes back.
    disconnect(usbDongle, &USBDongle::OnDaliNetworkCreated, this, &TivaroMainWindow::OnDaliConnect);
    connect(usbDongle, &USBDongle::OnDaliNetworkCreated, this, &TivaroMainWindow::OnDaliConnect);
    disconnect(usbDongle, &USBDongle::OnVxNetworkCreated, this, &TivaroMainWindow::OnVxConnect);
    connect(usbDongle, &USBDongle::OnVxNetworkCreated, this, &TivaroMainWindow::OnVxConnect);
    disconnect(usbDongle, &USBDongle::OnKeymarkNetworkCreated, this, &TivaroMainWindow::OnKeymarkConnect);
    connect(usbDongle, &USBDongle::OnKeymarkNetworkCreated, this, &TivaroMainWindow::OnKeymarkConnect);

    // Off the GUI thread: a dongle that does not answer takes seconds.
    auto* task = new halvorn::usb::DongleInitTask(usbDongle);
    connect(task, &Task::taskDone, this, [this, dongle = QPointer<USBDongle>(usbDongle)] {
        if (dongle)
            dongleInitialized(dongle);
    }, Qt::QueuedConnection);
    TaskScheduler::instance()->addTask(task);

    m_usbStatus->setDevice(usbDongle);
}

void TivaroMainWindow::OnDongleDisconnect(USBDongle*)
{
}

void TivaroMainWindow::dongleInitialized(USBDongle* dongle)
{
    // The status text (capabilities, version) is known now.
    if (m_usbStatus->device() == dongle)
        m_usbStatus->setDevice(dongle);
    if (m_knownNetworks.contains(dongle->vxNetwork()))
        connectVx(dongle);
    if (m_knownNetworks.contains(dongle->daliNetwork()))
        connectDali(dongle);
    if (m_knownNetworks.contains(dongle->keymarkNetwork()))
        connectKeymark(dongle);
}

void TivaroMainWindow::logNetworkCreated(USBDongle* dongle, Network* network)
{
    if (dongle && network)
        logToMain(GENERAL, QStringLiteral("%1 created on %2 (%3)").arg(network->name(), dongle->name()).arg(dongle->dongleIndex()),
                  INFO);
}

void TivaroMainWindow::OnVxConnect()
{
    auto* dongle = qobject_cast<USBDongle*>(sender());
    if (!dongle)
        return;
    logNetworkCreated(dongle, dongle->vxNetwork());
    connectVx(dongle);
}

void TivaroMainWindow::OnDaliConnect()
{
    auto* dongle = qobject_cast<USBDongle*>(sender());
    if (!dongle)
        return;
    logNetworkCreated(dongle, dongle->daliNetwork());
    connectDali(dongle);
}

void TivaroMainWindow::OnKeymarkConnect()
{
    auto* dongle = qobject_cast<USBDongle*>(sender());
    if (!dongle)
        return;
    logNetworkCreated(dongle, dongle->keymarkNetwork());
    connectKeymark(dongle);
}

void TivaroMainWindow::connectVx(USBDongle* dongle)
{
    auto* network = qobject_cast<halvorn::vx::VxNetwork*>(dongle->vxNetwork());
    if (!network)
        return;
    m_knownNetworks.insert(network);
    m_dmxWidget->setNetwork(network);
    m_dmxDock->setNetwork(network);
    m_logWindow->addLog(network->log());
}

void TivaroMainWindow::connectDali(USBDongle* dongle)
{
    auto* network = qobject_cast<halvorn::dali::DaliNetwork*>(dongle->daliNetwork());
    if (!network)
        return;
    m_knownNetworks.insert(network);
    if (!dongle->isDALISupported()) {
        if (m_ui->actionDALI->isChecked())
            enterMode(Mode::DMX);
        m_ui->actionDALI->setEnabled(false);
        return;
    }
    m_ui->actionDALI->setEnabled(true);
    m_daliWidget->setNetwork(network);
    m_logWindow->addLog(network->log());
    m_logWindow->addLog(network->simpleLog());
    enterPreferredModeIfAvailable();
}

void TivaroMainWindow::connectKeymark(USBDongle* dongle)
{
    auto* network = qobject_cast<halvorn::km::KeymarkNetwork*>(dongle->keymarkNetwork());
    if (!network)
        return;
    m_knownNetworks.insert(network);
    if (!dongle->isKeymarkWriteSupported()) {
        if (m_ui->actionKeymark->isChecked())
            enterMode(Mode::DMX);
        m_ui->actionKeymark->setEnabled(false);
        return;
    }
    m_ui->actionKeymark->setEnabled(true);
    m_keymarkWidget->setNetwork(network);
    m_logWindow->addLog(network->log());
    m_keymarkStatus->setDevice(network->tagDevice());
    enterPreferredModeIfAvailable();
}

void TivaroMainWindow::closeEvent(QCloseEvent* event)
{
    saveSettings();
    m_logWindow->close();
    QMainWindow::closeEvent(event);
}

void TivaroMainWindow::restoreSettings()
{
    const QSettings settings(SettingsOrganisation, SettingsApplication);
    if (!restoreGeometry(settings.value(GeometryKey).toByteArray()))
        resize(1200, 800);
    restoreState(settings.value(StateKey).toByteArray());
    m_preferredMode = modeFromName(settings.value(ModeKey).toString());
}

void TivaroMainWindow::saveSettings() const
{
    QSettings settings(SettingsOrganisation, SettingsApplication);
    settings.setValue(GeometryKey, saveGeometry());
    settings.setValue(StateKey, saveState());
    settings.setValue(ModeKey, modeName(m_preferredMode));
}
