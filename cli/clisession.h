#pragma once

#include "cli/clioptions.h"
#include "cli/functiontask.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <atomic>
#include <functional>
#include <memory>

class QEventLoop;

namespace halvorn::general {
class Task;
class TreeNode;
} // namespace halvorn::general
namespace halvorn::sim {
class VirtualPortline;
}
namespace halvorn::usb {
class USBDongle;
}
namespace halvorn::dali {
class DaliNetwork;
}
namespace halvorn::vx {
class VxNetwork;
}
namespace halvorn::km {
class KeymarkNetwork;
}

namespace halvorn::cli {

class CliOutput;
class InterruptWatcher;

// One run of the command line tool against one dongle, in the main thread.
//
// open() finds the dongle the way the window does: the dongle manager (on
// libusb, or on the virtual Portline with --simulate) announces it, its
// initialisation runs as a task, and it creates its three networks; open()
// waits for them, bounded by --timeout for the dongle and NetworkWaitMs for
// the networks.
//
// Commands then do their bus work as tasks on the TaskScheduler: run()
// wraps a function in a FunctionTask, runTask() queues one of the
// networks' own searches. Both wait with the main thread's event loop
// running, so the scheduler's queued calls, the networks' signals and
// Ctrl-C keep being handled. Ctrl-C aborts the running task
// (TaskScheduler::abortTask) and marks the session interrupted; the
// command then reports what it has.
//
// close() waits for the tasks that searches left queued (aborting them as
// they start), stops the dongle manager (which shuts the dongles down),
// saves the simulated installation when asked, deletes the device tree
// (joining every network thread) and ends the task pool's thread.
class CliSession : public QObject
{
    Q_OBJECT

public:
    static constexpr int NetworkWaitMs = 15000;
    static constexpr int LeftoverTaskWaitMs = 30000;

    CliSession(const CliOptions& options, CliOutput& output);
    ~CliSession() override;

    // ExitSuccess, ExitNoDongle, ExitBusFailure, ExitUsage (an unusable
    // installation file) or ExitInterrupted; errorText() says why.
    int open();
    QString errorText() const { return m_error; }
    const CliOptions& options() const { return m_options; }
    CliOutput& output() { return m_output; }

    usb::USBDongle* dongle() const;
    dali::DaliNetwork* daliNetwork() const;
    vx::VxNetwork* vxNetwork() const;
    km::KeymarkNetwork* keymarkNetwork() const;
    // The index under which the USB layer knows the dongle.
    int dongleIndex() const;

    // Runs `work` in the task pool and returns when it has finished; false
    // when the session was interrupted (the work saw isAborted()).
    bool run(const QString& name, const FunctionTask::Work& work);
    // Queues a task (one of the networks' searches, not deleted when done)
    // and returns when it has finished; false when interrupted.
    bool runTask(general::Task* task);
    bool isInterrupted() const { return m_interrupted.load(); }
    // Lets the tasks that a search left queued go by without doing their
    // work (each is aborted as it starts) and waits until the scheduler is
    // idle; false when it was not within the time.
    bool discardQueuedTasks(int timeoutMs = LeftoverTaskWaitMs);

    // Saving the simulation failed: the message, empty otherwise.
    QString close();

private:
    void OnDongleConnect(usb::USBDongle* dongle);
    void OnInterrupt();
    void OnTaskProgress(general::Task* task, int value, int max);
    // Runs the event loop until done() holds or timeoutMs (−1: no limit) passed.
    bool waitUntil(const std::function<bool()>& done, int timeoutMs);
    void wake();
    bool networksReady() const;
    void joinTaskPool();

    const CliOptions m_options;
    CliOutput& m_output;
    InterruptWatcher* m_interruptWatcher = nullptr;
    general::TreeNode* m_treeRoot = nullptr;
    std::shared_ptr<sim::VirtualPortline> m_portline;
    QPointer<usb::USBDongle> m_dongle;
    bool m_daliReady = false;
    bool m_vxReady = false;
    bool m_keymarkReady = false;
    std::atomic<bool> m_interrupted{false}; // read by task threads
    bool m_managerStarted = false;
    bool m_closed = false;
    QEventLoop* m_loop = nullptr;
    QString m_error;
};

} // namespace halvorn::cli
