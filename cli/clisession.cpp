#include "cli/clisession.h"

#include "cli/clioutput.h"
#include "cli/exitcode.h"
#include "cli/interruptwatcher.h"
#include "dali/dalinetwork.h"
#include "general/binsearch.h"
#include "general/log.h"
#include "general/task.h"
#include "general/taskscheduler.h"
#include "general/threadnames.h"
#include "general/treenode.h"
#include "km/keymarknetwork.h"
#include "sim/siminstallation.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "usb/usbdonglemanager.h"
#include "vx/vxnetwork.h"

#include <QElapsedTimer>
#include <QEventLoop>
#include <QThread>
#include <QThreadPool>
#include <QTimer>

#include <cmath>

namespace halvorn::cli {

namespace {

// How often a wait looks at its condition when no signal wakes it.
constexpr int WaitSliceMs = 50;
constexpr int PoolJoinMs = 5000;

} // namespace

CliSession::CliSession(const CliOptions& options, CliOutput& output)
    : m_options(options)
    , m_output(output)
{
    general::setThreadName(QThread::currentThread(), QStringLiteral("Main"));
    m_interruptWatcher = new InterruptWatcher(this);
    connect(m_interruptWatcher, &InterruptWatcher::interrupted, this, &CliSession::OnInterrupt);

    general::TaskScheduler* scheduler = general::TaskScheduler::instance();
    connect(scheduler, qOverload<general::Task*, int, int>(&general::TaskScheduler::taskProgress), this,
            &CliSession::OnTaskProgress);
}

CliSession::~CliSession()
{
    close();
}

usb::USBDongle* CliSession::dongle() const
{
    return m_dongle.data();
}

dali::DaliNetwork* CliSession::daliNetwork() const
{
    return m_dongle ? qobject_cast<dali::DaliNetwork*>(m_dongle->daliNetwork()) : nullptr;
}

vx::VxNetwork* CliSession::vxNetwork() const
{
    return m_dongle ? qobject_cast<vx::VxNetwork*>(m_dongle->vxNetwork()) : nullptr;
}

km::KeymarkNetwork* CliSession::keymarkNetwork() const
{
    return m_dongle ? qobject_cast<km::KeymarkNetwork*>(m_dongle->keymarkNetwork()) : nullptr;
}

int CliSession::dongleIndex() const
{
    return m_dongle ? m_dongle->dongleIndex() : 0;
}

int CliSession::open()
{
    using usb::USBDongleManager;
    if (m_options.simulate) {
        QString error;
        m_portline = sim::VirtualPortline::fromInstallationFile(m_options.simulationFile, &error);
        if (!m_portline) {
            m_error = QStringLiteral("simulation not started: %1").arg(error);
            return ExitUsage;
        }
        auto portline = m_portline;
        USBDongleManager::setBackendFactory([portline] { return portline; });
        general::logToMain(general::GENERAL, QStringLiteral("Running on the virtual Portline"), general::INFO);
    }

    m_treeRoot = new general::TreeNode;
    USBDongleManager* manager = USBDongleManager::instance();
    connect(manager, &USBDongleManager::dongleConnect, this, &CliSession::OnDongleConnect);
    manager->start(m_treeRoot);
    m_managerStarted = true;

    const int timeoutMs = int(std::lround(m_options.timeoutSeconds * 1000.0));
    waitUntil([this] { return !m_dongle.isNull() || m_interrupted; }, timeoutMs);
    if (m_interrupted) {
        m_error = QStringLiteral("interrupted while looking for the Portline");
        return ExitInterrupted;
    }
    if (!m_dongle) {
        const QString which = m_options.dongleIndex > 0
                                  ? QStringLiteral("no Portline with index %1").arg(m_options.dongleIndex)
                                  : QStringLiteral("no Portline");
        m_error = QStringLiteral("%1 found within %2 s").arg(which).arg(m_options.timeoutSeconds);
        return ExitNoDongle;
    }
    waitUntil([this] { return networksReady() || m_interrupted; }, NetworkWaitMs);
    if (m_interrupted) {
        m_error = QStringLiteral("interrupted while the Portline was starting");
        return ExitInterrupted;
    }
    if (!networksReady()) {
        m_error = QStringLiteral("the Portline (index %1) did not start its networks within %2 s")
                      .arg(dongleIndex())
                      .arg(NetworkWaitMs / 1000);
        return ExitBusFailure;
    }
    return ExitSuccess;
}

bool CliSession::networksReady() const
{
    return m_daliReady && m_vxReady && m_keymarkReady;
}

void CliSession::OnDongleConnect(usb::USBDongle* dongle)
{
    if (!dongle || m_dongle)
        return;
    if (m_options.dongleIndex > 0 && dongle->dongleIndex() != m_options.dongleIndex)
        return;
    m_dongle = dongle;
    auto ready = [this](bool* flag) {
        return [this, flag] {
            *flag = true;
            wake();
        };
    };
    connect(dongle, &usb::USBDongle::OnDaliNetworkCreated, this, ready(&m_daliReady));
    connect(dongle, &usb::USBDongle::OnVxNetworkCreated, this, ready(&m_vxReady));
    connect(dongle, &usb::USBDongle::OnKeymarkNetworkCreated, this, ready(&m_keymarkReady));
    dongle->queueInitialize();
    wake();
}

void CliSession::OnInterrupt()
{
    m_interrupted = true;
    m_output.error(QStringLiteral("Interrupted: stopping (Ctrl-C again to quit at once)"));
    general::TaskScheduler::instance()->abortTask();
    wake();
}

void CliSession::OnTaskProgress(general::Task* task, int value, int max)
{
    if (!m_output.showsProgress() || !task)
        return;
    // A binary search reports only its final whole-range questions.
    const QString step = qobject_cast<general::BinSearch*>(task) ? QStringLiteral("checking that nothing else answers, ")
                                                                 : QString();
    m_output.progress(QStringLiteral("%1: %2%3 of %4").arg(task->name(), step).arg(value).arg(max));
}

bool CliSession::run(const QString& name, const FunctionTask::Work& work)
{
    FunctionTask task(name, work);
    return runTask(&task);
}

bool CliSession::runTask(general::Task* task)
{
    if (m_interrupted)
        return false;
    bool done = false;
    const QMetaObject::Connection connection =
        connect(task, &general::Task::taskDone, this, [this, &done] {
            done = true;
            wake();
        });
    // Interrupted while the task was still queued behind another one.
    const QMetaObject::Connection abortLate = connect(
        task, &general::Task::taskStarted, this,
        [this, task] {
            if (m_interrupted.load())
                task->abort();
        },
        Qt::DirectConnection);
    general::TaskScheduler::instance()->addTask(task);
    // The task ends by itself, or soon after an abort (every bus wait in the
    // core is bounded); a second Ctrl-C ends the process.
    waitUntil([&done] { return done; }, -1);
    disconnect(connection);
    disconnect(abortLate);
    // The scheduler lets go of the task in a queued call after taskDone.
    waitUntil([task] { return general::TaskScheduler::instance()->currentTask() != task; }, -1);
    m_output.endProgress();
    return !m_interrupted;
}

bool CliSession::waitUntil(const std::function<bool()>& done, int timeoutMs)
{
    QElapsedTimer clock;
    clock.start();
    while (!done()) {
        int slice = WaitSliceMs;
        if (timeoutMs >= 0) {
            const qint64 left = timeoutMs - clock.elapsed();
            if (left <= 0)
                return false;
            slice = int(std::min<qint64>(left, WaitSliceMs));
        }
        QEventLoop loop;
        QEventLoop* outer = std::exchange(m_loop, &loop);
        QTimer::singleShot(slice, &loop, &QEventLoop::quit);
        loop.exec();
        m_loop = outer;
    }
    return true;
}

void CliSession::wake()
{
    if (m_loop)
        m_loop->quit();
}

bool CliSession::discardQueuedTasks(int timeoutMs)
{
    // Searches may leave tasks queued behind them (the daisy search queues a
    // parameter search and an update for every cell). The command does not
    // need them: each is aborted as it starts, which skips its work unless
    // the pool thread has already begun it.
    general::TaskScheduler* scheduler = general::TaskScheduler::instance();
    const QMetaObject::Connection abortOnStart =
        connect(scheduler, &general::TaskScheduler::taskStarted, this, [](general::Task* task) {
            if (task)
                task->abort();
        });
    scheduler->abortTask();
    const bool idle = waitUntil([scheduler] { return !scheduler->currentTask() && scheduler->queuedCount() == 0; },
                                timeoutMs);
    disconnect(abortOnStart);
    return idle;
}

void CliSession::joinTaskPool()
{
    // The scheduler is process-wide and never destroyed; its pool thread
    // would otherwise still wait for work while the process exits.
    if (general::TaskScheduler* scheduler = general::TaskScheduler::instance()) {
        if (auto* pool = scheduler->findChild<QThreadPool*>())
            pool->waitForDone(PoolJoinMs);
    }
}

QString CliSession::close()
{
    if (m_closed)
        return QString();
    m_closed = true;
    QString saveError;
    if (m_managerStarted) {
        if (!discardQueuedTasks())
            general::logToMain(general::GENERAL, QStringLiteral("Tasks still running at exit"), general::WARN);
        const bool stopped = usb::USBDongleManager::shutdownInstance();
        if (m_portline && !m_options.saveSimulationFile.isEmpty()) {
            QString error;
            if (!sim::SimInstallation::writeFile(m_options.saveSimulationFile, m_portline->installation(), &error))
                saveError = QStringLiteral("the simulation was not saved: %1").arg(error);
        }
        // A manager that would not stop may still reach the dongles in the
        // tree: they are left alone then.
        if (stopped)
            delete m_treeRoot;
        m_treeRoot = nullptr;
        joinTaskPool();
    } else {
        delete m_treeRoot;
        m_treeRoot = nullptr;
    }
    usb::USBDongleManager::setBackendFactory({});
    m_portline.reset();
    return saveError;
}

} // namespace halvorn::cli
