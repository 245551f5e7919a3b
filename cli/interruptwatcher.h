#pragma once

#include <QObject>

class QSocketNotifier;

namespace halvorn::cli {

// Turns SIGINT (Ctrl-C) into the Qt signal interrupted(), delivered in the
// thread that created the watcher. The signal handler only writes a byte to
// a pipe; a second SIGINT while the first is being handled ends the process
// at once with the default action, for a user who does not want to wait
// for the running bus exchange to finish.
//
// One watcher per process.
class InterruptWatcher : public QObject
{
    Q_OBJECT

public:
    explicit InterruptWatcher(QObject* parent = nullptr);
    ~InterruptWatcher() override;

    bool isInstalled() const { return m_notifier != nullptr; }

Q_SIGNALS:
    void interrupted();

private:
    void OnPipeReadable();

    QSocketNotifier* m_notifier = nullptr;
};

} // namespace halvorn::cli
