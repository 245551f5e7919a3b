#pragma once

#include <QJsonObject>
#include <QString>
#include <QTemporaryDir>

#include <memory>

class QAction;
class TivaroMainWindow;

namespace halvorn::sim {
class SimDongle;
class VirtualPortline;
} // namespace halvorn::sim
namespace halvorn::usb {
class USBDongle;
}

// The program's window on the virtual Portline, started as `tivaro
// --simulate=FILE` starts it, with an installation of the test's own:
//
//   WindowRig rig(WindowRig::installation(WindowRig::dongle(0x007F, dali, dmx, keymark)));
//   QVERIFY(rig.start());              // window shown, networks taken, init done
//   rig.action("actionDALI")->trigger();
//
// The installation goes to a temporary file, the window's remembered layout
// to a settings folder of the test run's own; silent transfers time out
// after 20 ms. Destroying the rig waits (bounded) for background tasks and
// destroys the window, which stops its dongle manager.
class WindowRig
{
public:
    static constexpr int AllCapabilities = 0x007F;
    static constexpr int WaitMs = 10000;

    explicit WindowRig(const QJsonObject& installation);
    ~WindowRig();

    WindowRig(const WindowRig&) = delete;
    WindowRig& operator=(const WindowRig&) = delete;

    // One dongle entry of an installation (docs/simulator.md).
    static QJsonObject dongle(int capabilities, const QJsonObject& dali = {},
                              const QJsonObject& dmx = {}, const QJsonObject& keymark = {},
                              const QString& name = QStringLiteral("Portline"));
    static QJsonObject installation(const QJsonObject& dongle = WindowRig::dongle(AllCapabilities));

    // Constructs and shows the window, then waits until the first dongle's
    // networks have reached the pages their capabilities allow and the
    // dongle's initialisation is over. False (with a warning) on time-out.
    bool start(int timeoutMs = 15000);

    TivaroMainWindow& window() const { return *m_window; }
    // The window's action of that object name (null if none).
    QAction* action(const QString& objectName) const;
    std::shared_ptr<halvorn::sim::VirtualPortline> portline() const;
    std::shared_ptr<halvorn::sim::SimDongle> simDongle(int index = 0) const;
    // The tool's dongle for the first simulated dongle (null before start()).
    halvorn::usb::USBDongle* dongle() const;

    // Destroys the window now, whatever runs in the background.
    void closeWindow();

private:
    QTemporaryDir m_dir;
    std::unique_ptr<TivaroMainWindow> m_window;
};
