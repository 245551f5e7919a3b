#pragma once

#include "general/appsettings.h"

#include <QMainWindow>
#include <QString>

#include <memory>
#include <optional>

namespace halvorn::general {
class TreeNode;
}
namespace halvorn::sim {
class VirtualPortline;
}
namespace halvorn::usb {
class USBDongle;
class USBDongleManager;
}

// The program's single top-level window. Constructing it loads the settings
// and logs the start of the program.
class TivaroMainWindow : public QMainWindow
{
    Q_OBJECT

public:
    explicit TivaroMainWindow(QWidget* parent = nullptr);
    ~TivaroMainWindow() override;

    QString title() const { return m_title; }

private Q_SLOTS:
    void OnVxConnect();
    void OnDaliConnect();
    void OnKeymarkConnect();
    void OnDongleConnect(halvorn::usb::USBDongle* usbDongle);
    void OnDongleDisconnect(halvorn::usb::USBDongle* usbDongle);

private:
    // Starts the dongle manager (on the virtual Portline with --simulate)
    // with the tree root as the parent of the dongles.
    void startDongleManager();
    void addSimulatorMenu(halvorn::usb::USBDongleManager* manager);
    void logNetworkCreated(const char* networkProperty);

    halvorn::general::AppSettings m_settings;
    QString m_name;
    QString m_manufacturer;
    QString m_title;
    // The root of the device tree; the dongle manager places dongles below it.
    halvorn::general::TreeNode* m_treeRoot = nullptr;
    // Only with --simulate.
    std::shared_ptr<halvorn::sim::VirtualPortline> m_portline;
    // Set by the shut-down step (which may outlive the window): false when
    // the manager's thread would not stop, and the dongles in the tree must
    // then be left alone.
    std::shared_ptr<std::optional<bool>> m_dongleManagerStopped = std::make_shared<std::optional<bool>>();
};
