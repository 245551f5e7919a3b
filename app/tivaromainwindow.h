#pragma once

#include "general/appsettings.h"

#include <QMainWindow>
#include <QPointer>
#include <QSet>
#include <QString>

#include <memory>
#include <optional>

class QAction;
class QMenu;

namespace Ui {
class TivaroMainWindow;
}

namespace halvorn {
class DALIWidget;
class DeviceTreeDock;
class DMXDockWidget;
class DMXWidget;
class KeymarkWidget;
class TaskStatusWidget;
} // namespace halvorn
namespace halvorn::general {
class DeviceStatusWidget;
class MultiLogWidget;
class Network;
class TreeNode;
class TreeNodeController;
} // namespace halvorn::general
namespace halvorn::sim {
class SimDongle;
class VirtualPortline;
} // namespace halvorn::sim
namespace halvorn::usb {
class USBDongle;
class USBDongleManager;
} // namespace halvorn::usb

// The program's single top-level window. Constructing it loads the settings,
// logs the start of the program, builds the three bus pages and starts the
// dongle manager (on the virtual Portline with --simulate).
//
// Modes: DMX, DALI and Keymark, one page each in the centre; the "DMX
// sliders" dock belongs to DMX mode, the Keymark status indicator to
// Keymark mode. A mode's action is enabled once a dongle reports its bus.
// The "Devices" dock shows the device tree, from whose context menus every
// search and update is started; the status bar shows the dongle, the tag
// and the running task.
//
// Following the dongle: each dongle that connects is wired once and
// initialised in the background (DongleInitTask), as its version read may
// take seconds. Its networks report themselves when created (first
// connection); after a reconnection the window looks at the dongle's
// capabilities again once the initialisation is done.
//
// Geometry, dock layout and the chosen mode are kept between runs
// (QSettings "Halvorn"/"Tivaro"); a mode whose bus is not there yet is
// entered when a dongle reports it.
class TivaroMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    enum class Mode { DMX, DALI, Keymark };
    // How long the window waits, as it goes, for background tasks to stop.
    static constexpr int TaskStopWaitMs = 10000;

    explicit TivaroMainWindow(QWidget* parent = nullptr);
    ~TivaroMainWindow() override;

    QString title() const { return m_title; }
    Mode mode() const { return m_mode; }
    halvorn::general::MultiLogWidget* logWindow() const { return m_logWindow; }
    halvorn::general::TreeNode* treeRoot() const { return m_treeRoot; }
    halvorn::DMXWidget* dmxWidget() const { return m_dmxWidget; }
    halvorn::DMXDockWidget* dmxDock() const { return m_dmxDock; }
    halvorn::DALIWidget* daliWidget() const { return m_daliWidget; }
    halvorn::KeymarkWidget* keymarkWidget() const { return m_keymarkWidget; }
    halvorn::DeviceTreeDock* deviceTreeDock() const { return m_deviceTreeDock; }
    halvorn::TaskStatusWidget* taskStatus() const { return m_taskStatus; }
    halvorn::general::DeviceStatusWidget* usbStatus() const { return m_usbStatus; }
    halvorn::general::DeviceStatusWidget* keymarkStatus() const { return m_keymarkStatus; }
    // Only with --simulate.
    std::shared_ptr<halvorn::sim::VirtualPortline> portline() const { return m_portline; }
    // The installation the simulation runs (empty path: the demo built in).
    QString installationPath() const { return m_installationPath; }
    // The dialog of Simulator > Installation file (the caller owns it).
    QDialog* createInstallationDialog();

    // The installation --simulate runs without a file.

protected:
    void closeEvent(QCloseEvent* event) override;

private Q_SLOTS:
    void on_actionDMX_triggered();
    void on_actionDALI_triggered();
    void on_actionKeymark_triggered();
    void OnVxConnect();
    void OnDaliConnect();
    void OnKeymarkConnect();
    void OnDongleConnect(halvorn::usb::USBDongle* usbDongle);
    void OnDongleDisconnect(halvorn::usb::USBDongle* usbDongle);
    void about();
    void on_actionLog_triggered();

private:
    void buildPages();
    void buildStatusBar();
    void buildMenus();
    // Starts the dongle manager (on the virtual Portline with --simulate)
    // with the tree root as the parent of the dongles.
    void startDongleManager();
    void addSimulatorMenu(halvorn::usb::USBDongleManager* manager);
    void addSimulatedDongleEntries(QMenu* menu, const std::shared_ptr<halvorn::sim::SimDongle>& dongle,
                                  halvorn::usb::USBDongleManager* manager);

    // The bus pages take a dongle's networks; a dongle without the bus
    // disables its mode (falling back to DMX mode when it is current).
    void connectVx(halvorn::usb::USBDongle* dongle);
    void connectDali(halvorn::usb::USBDongle* dongle);
    void connectKeymark(halvorn::usb::USBDongle* dongle);
    // After a dongle's initialisation: its networks that were announced
    // before (a reconnection) are looked at again.
    void dongleInitialized(halvorn::usb::USBDongle* dongle);
    void logNetworkCreated(halvorn::usb::USBDongle* dongle, halvorn::general::Network* network);

    void enterMode(Mode mode);
    // A mode action chosen by the user: entered and remembered.
    void chooseMode(Mode mode);
    void enterPreferredModeIfAvailable();
    // Aborts the running and waiting tasks and waits (bounded) until none
    // runs; false when one would not stop.
    bool stopBackgroundTasks();
    void restoreSettings();
    void saveSettings() const;

    std::unique_ptr<Ui::TivaroMainWindow> m_ui;
    halvorn::general::AppSettings m_settings;
    QString m_name;
    QString m_manufacturer;
    QString m_title;
    Mode m_mode = Mode::DMX;
    // The mode the user chose last (also in earlier runs).
    Mode m_preferredMode = Mode::DMX;

    halvorn::general::MultiLogWidget* m_logWindow = nullptr; // owned, no parent
    // The root of the device tree; the dongle manager places dongles below it.
    halvorn::general::TreeNode* m_treeRoot = nullptr;
    halvorn::general::TreeNodeController* m_treeController = nullptr;
    halvorn::DMXWidget* m_dmxWidget = nullptr;
    halvorn::DMXDockWidget* m_dmxDock = nullptr;
    halvorn::DALIWidget* m_daliWidget = nullptr;
    halvorn::KeymarkWidget* m_keymarkWidget = nullptr;
    halvorn::DeviceTreeDock* m_deviceTreeDock = nullptr;
    halvorn::TaskStatusWidget* m_taskStatus = nullptr;
    halvorn::general::DeviceStatusWidget* m_usbStatus = nullptr;
    halvorn::general::DeviceStatusWidget* m_keymarkStatus = nullptr;
    QMenu* m_helpMenu = nullptr;
    QAction* m_aboutAction = nullptr;
    // Networks the window has taken (announced by their dongles).
    QSet<const halvorn::general::Network*> m_knownNetworks;

    // Only with --simulate.
    std::shared_ptr<halvorn::sim::VirtualPortline> m_portline;
    QString m_installationPath;
    // Set by the shut-down step (which may outlive the window): false when
    // the manager's thread would not stop, and the dongles in the tree must
    // then be left alone.
    std::shared_ptr<std::optional<bool>> m_dongleManagerStopped = std::make_shared<std::optional<bool>>();
};
