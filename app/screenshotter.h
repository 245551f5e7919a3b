#pragma once

#include <QObject>
#include <QString>

#include <functional>

class TivaroMainWindow;
class QWidget;

namespace halvorn {

// Drives the real window on the virtual Portline through the tool's daily
// work and saves what it shows as PNG files (`tivaro --simulate
// --screenshot DIR`, used by scripts/screenshots.sh):
//
//   dmx.png      DMX mode after RDM discovery and "Refresh parameters",
//                with levels in the "DMX sliders" dock
//   dali.png     DALI mode with the level sliders after commissioning
//   devices.png  the device tree after commissioning on both buses
//   keymark.png  Keymark mode after reading the tag
//   log.png      the log window on the DALI network's log
//
// Every step waits for the tool with a bound; a step that times out is
// reported and the run ends with exit code 1.
class Screenshotter : public QObject
{
    Q_OBJECT

public:
    static constexpr int StepTimeoutMs = 60000;

    Screenshotter(TivaroMainWindow* window, const QString& directory, QObject* parent = nullptr);

    // Runs the sequence (after the event loop has started) and quits the
    // application with 0 when every picture was saved.
    void start();

private:
    void run();
    bool waitFor(const char* what, const std::function<bool()>& condition, int timeoutMs = StepTimeoutMs);
    bool waitForTasks(const char* what);
    void settle(int ms);
    bool save(QWidget* widget, const char* fileName);

    TivaroMainWindow* const m_window;
    const QString m_directory;
    int m_failures = 0;
};

} // namespace halvorn
