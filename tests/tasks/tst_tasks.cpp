// The task scheduler: one task at a time in FIFO order, aborts, deletion of
// finished tasks, thread names in the log, and the update and parameter
// search tasks.

#include "general/log.h"
#include "general/parameterdevice.h"
#include "general/searchparametertask.h"
#include "general/task.h"
#include "general/taskscheduler.h"
#include "general/treenode.h"
#include "general/updatetask.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QMutex>
#include <QPointer>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

using namespace halvorn::general;

namespace {

std::atomic<int> g_running{0};
std::atomic<int> g_maxRunning{0};
QMutex g_orderMutex;
QStringList g_order; // guarded by g_orderMutex

// Runs until its gate is opened (or, when it honours aborts, until it is
// aborted); never longer than ten seconds.
class GateTask : public Task
{
public:
    explicit GateTask(const QString& name, bool deleteWhenDone = false, bool honoursAbort = true)
        : Task(2, name, deleteWhenDone)
        , m_honoursAbort(honoursAbort)
    {
    }

    void open() { m_gate.release(); }

    void execute() override
    {
        executed = true;
        const int running = ++g_running;
        int seen = g_maxRunning.load();
        while (running > seen && !g_maxRunning.compare_exchange_weak(seen, running)) {
        }
        {
            QMutexLocker lock(&g_orderMutex);
            g_order << name();
        }
        QElapsedTimer timer;
        timer.start();
        while (!m_gate.tryAcquire(1, 5) && timer.elapsed() < 10000) {
            if (m_honoursAbort && isAborted())
                break;
        }
        --g_running;
    }

    std::atomic<bool> executed{false};

private:
    QSemaphore m_gate;
    const bool m_honoursAbort;
};

class LoggingTask : public Task
{
public:
    LoggingTask(const QString& name, QString text)
        : Task(2, name, false)
        , m_text(std::move(text))
    {
    }
    void execute() override { logToMain(TEST, m_text, INFO); }

private:
    const QString m_text;
};

class ProgressTask : public Task
{
public:
    ProgressTask()
        : Task(2, QStringLiteral("progress"), false)
    {
    }
    void execute() override
    {
        reportProgress(3, 10);
        reportProgress(QStringLiteral("half way"), 5, 10);
    }
};

class CountingNode : public TreeNode
{
public:
    bool update(bool manual) override
    {
        manualUpdates += manual ? 1 : 0;
        return true;
    }
    std::atomic<int> manualUpdates{0};
};

class SearchingDevice : public ParameterDevice
{
public:
    void searchParameters() override { ++searches; }
    std::atomic<int> searches{0};
};

// Counts a task's signal where it is emitted (the pool thread), safely
// readable from the test thread.
class EmitCounter
{
public:
    template <typename Signal>
    EmitCounter(Task* task, Signal signal)
        : m_connection(QObject::connect(task, signal, [this] { ++m_count; }))
    {
    }
    ~EmitCounter() { QObject::disconnect(m_connection); }
    int count() const { return m_count.load(); }

private:
    std::atomic<int> m_count{0};
    QMetaObject::Connection m_connection;
};

TaskScheduler* scheduler()
{
    return TaskScheduler::instance();
}

QString threadNameOfMessage(const QString& text)
{
    for (int i = mainLog()->count() - 1; i >= 0; --i) {
        if (mainLog()->message(i)->text() == text)
            return mainLog()->message(i)->threadName();
    }
    return QStringLiteral("(not logged)");
}

} // namespace

class TestTasks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void tasksRunOneAtATimeInOrder();
    void abortStopsOnlyTheCurrentTask();
    void abortWithoutACurrentTaskDoesNothing();
    void taskIgnoringTheAbortStillReportsIt();
    void abortBeforeTheStartIsHonoured();
    void staleAbortIsClearedWhenQueued();
    void queueEmptyFollowsTheLastTaskDone();
    void logLinesCarryTheTaskName();
    void tasksMadeToBeDeletedAreDeleted();
    void deletedQueuedTaskLeavesTheQueue();
    void ownerMayDeleteItsTaskOnTaskDone();
    void queuedTaskIsNotQueuedTwice();
    void tasksAddedFromAnotherThreadRunFromTheMainThread();
    void progressIsForwarded();
    void updateAndParameterSearchTasks();
};

void TestTasks::initTestCase()
{
    // The first caller is a thread without an event loop: the scheduler
    // must still live in the main thread.
    std::unique_ptr<QThread> worker(QThread::create([] { TaskScheduler::instance(); }));
    worker->start();
    QVERIFY(worker->wait(5000));
    QCOMPARE(scheduler()->thread(), QCoreApplication::instance()->thread());
}

void TestTasks::init()
{
    g_running = 0;
    g_maxRunning = 0;
    QMutexLocker lock(&g_orderMutex);
    g_order.clear();
}

void TestTasks::cleanup()
{
    QTRY_VERIFY_WITH_TIMEOUT(!scheduler()->currentTask() && scheduler()->queuedCount() == 0, 10000);
}

void TestTasks::tasksRunOneAtATimeInOrder()
{
    QSignalSpy fromQueue(scheduler(), &TaskScheduler::taskStartedFromQueue);
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    GateTask first("first");
    GateTask a("a");
    GateTask b("b");
    GateTask c("c");

    scheduler()->addTask(&first);
    QTRY_VERIFY_WITH_TIMEOUT(first.state() == Task::Running, 5000);
    for (GateTask* task : {&a, &b, &c}) {
        scheduler()->addTask(task);
        QCOMPARE(task->state(), int(Task::Queued));
        task->open();
    }
    QCOMPARE(scheduler()->queuedCount(), 3);
    first.open();

    QVERIFY(empty.wait(10000));
    QCOMPARE(g_order, (QStringList{"first", "a", "b", "c"}));
    QCOMPARE(g_maxRunning.load(), 1);
    QList<int> left;
    for (const QList<QVariant>& arguments : std::as_const(fromQueue))
        left << arguments.at(1).toInt();
    QCOMPARE(left, (QList<int>{0, 2, 1, 0}));
    QCOMPARE(fromQueue.at(1).at(0).value<Task*>(), &a);
    for (GateTask* task : {&first, &a, &b, &c})
        QCOMPARE(task->state(), int(Task::Idle));
}

void TestTasks::abortStopsOnlyTheCurrentTask()
{
    GateTask running("running");
    GateTask queued("queued");
    EmitCounter runningAborted(&running, &Task::taskAborted);
    EmitCounter queuedAborted(&queued, &Task::taskAborted);
    EmitCounter queuedDone(&queued, &Task::taskDone);

    scheduler()->addTask(&running);
    scheduler()->addTask(&queued);
    QTRY_VERIFY_WITH_TIMEOUT(running.state() == Task::Running, 5000);
    scheduler()->abortTask();
    QVERIFY(running.isAborted());
    QVERIFY(!queued.isAborted());

    QTRY_VERIFY_WITH_TIMEOUT(queued.state() == Task::Running, 5000);
    queued.open();
    QTRY_COMPARE_WITH_TIMEOUT(queuedDone.count(), 1, 5000); // emitted in the pool thread
    QCOMPARE(runningAborted.count(), 1);
    QCOMPARE(queuedAborted.count(), 0);
}

void TestTasks::abortWithoutACurrentTaskDoesNothing()
{
    scheduler()->abortTask();
    GateTask task("after");
    EmitCounter aborted(&task, &Task::taskAborted);
    EmitCounter done(&task, &Task::taskDone);
    task.open();
    scheduler()->addTask(&task);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000); // emitted in the pool thread
    QVERIFY(task.executed);
    QCOMPARE(aborted.count(), 0);
}

void TestTasks::taskIgnoringTheAbortStillReportsIt()
{
    GateTask stubborn("stubborn", false, false);
    EmitCounter aborted(&stubborn, &Task::taskAborted);
    EmitCounter done(&stubborn, &Task::taskDone);
    scheduler()->addTask(&stubborn);
    QTRY_VERIFY_WITH_TIMEOUT(stubborn.state() == Task::Running, 5000);
    scheduler()->abortTask();
    stubborn.open();
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000); // emitted in the pool thread
    QCOMPARE(aborted.count(), 1);
}

void TestTasks::abortBeforeTheStartIsHonoured()
{
    GateTask blocker("blocker");
    GateTask later("later");
    EmitCounter laterAborted(&later, &Task::taskAborted);
    EmitCounter laterDone(&later, &Task::taskDone);
    scheduler()->addTask(&blocker);
    scheduler()->addTask(&later);
    later.abort();
    blocker.open();

    QTRY_COMPARE_WITH_TIMEOUT(laterDone.count(), 1, 5000); // emitted in the pool thread
    QVERIFY2(!later.executed, "an aborted task does not start its work");
    QCOMPARE(laterAborted.count(), 1);
}

void TestTasks::staleAbortIsClearedWhenQueued()
{
    GateTask task("reused");
    task.abort();
    task.open();
    EmitCounter aborted(&task, &Task::taskAborted);
    EmitCounter done(&task, &Task::taskDone);
    scheduler()->addTask(&task);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000); // emitted in the pool thread
    QVERIFY(task.executed);
    QCOMPARE(aborted.count(), 0);
}

void TestTasks::queueEmptyFollowsTheLastTaskDone()
{
    QStringList events;
    QList<QMetaObject::Connection> connections{
        connect(scheduler(), &TaskScheduler::taskStarted, this, [&] { events << "started"; }),
        connect(scheduler(), &TaskScheduler::taskDone, this, [&] { events << "done"; }),
        connect(scheduler(), &TaskScheduler::taskQueueEmpty, this, [&] { events << "empty"; }),
    };
    GateTask first("one");
    GateTask second("two");
    first.open();
    second.open();
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    scheduler()->addTask(&first);
    scheduler()->addTask(&second);
    QVERIFY(empty.wait(5000));
    for (const auto& connection : connections)
        disconnect(connection);
    QCOMPARE(events, (QStringList{"started", "done", "started", "done", "empty"}));
}

void TestTasks::logLinesCarryTheTaskName()
{
    LoggingTask first("Reading gear", "logged by the first task");
    LoggingTask second("Searching bus", "logged by the second task");
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    scheduler()->addTask(&first);
    scheduler()->addTask(&second);
    QVERIFY(empty.wait(5000));
    QCOMPARE(threadNameOfMessage("logged by the first task"), QStringLiteral("Reading gear"));
    QCOMPARE(threadNameOfMessage("logged by the second task"), QStringLiteral("Searching bus"));
}

void TestTasks::tasksMadeToBeDeletedAreDeleted()
{
    auto* disposable = new GateTask("disposable", true);
    auto* kept = new GateTask("kept", false);
    QPointer<Task> watchDisposable(disposable);
    QPointer<Task> watchKept(kept);
    disposable->open();
    kept->open();
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    scheduler()->addTask(disposable);
    scheduler()->addTask(kept);
    QVERIFY(empty.wait(5000));
    QVERIFY(watchDisposable.isNull());
    QVERIFY(!watchKept.isNull());
    QCOMPARE(kept->state(), int(Task::Idle));
    delete kept;
}

void TestTasks::deletedQueuedTaskLeavesTheQueue()
{
    GateTask blocker("blocker");
    auto* dropped = new GateTask("dropped");
    QSignalSpy started(scheduler(), &TaskScheduler::taskStarted);
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    scheduler()->addTask(&blocker);
    scheduler()->addTask(dropped);
    QCOMPARE(scheduler()->queuedCount(), 1);
    delete dropped;
    QCOMPARE(scheduler()->queuedCount(), 0);
    blocker.open();
    QVERIFY(empty.wait(5000));
    QCOMPARE(started.count(), 1);
}

void TestTasks::ownerMayDeleteItsTaskOnTaskDone()
{
    // A view that drops finished tasks at once: the task is gone before the
    // scheduler handles the end of its run.
    auto* shown = new GateTask("shown");
    GateTask next("next");
    QPointer<Task> watch(shown);
    connect(shown, &Task::taskDone, this, [shown] { delete shown; });
    shown->open();
    next.open();
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    QSignalSpy done(scheduler(), &TaskScheduler::taskDone);
    scheduler()->addTask(shown);
    scheduler()->addTask(&next);
    QVERIFY(empty.wait(5000));
    QVERIFY(watch.isNull());
    QCOMPARE(done.count(), 2);
    QVERIFY(next.executed);
}

void TestTasks::queuedTaskIsNotQueuedTwice()
{
    GateTask blocker("blocker");
    GateTask twice("twice");
    twice.open();
    EmitCounter twiceStarted(&twice, &Task::taskStarted);
    scheduler()->addTask(&blocker);
    scheduler()->addTask(&twice);
    QTest::ignoreMessage(QtWarningMsg, "Task \"twice\" is already queued or running");
    scheduler()->addTask(&twice);
    QCOMPARE(scheduler()->queuedCount(), 1);
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    blocker.open();
    QVERIFY(empty.wait(5000));
    QCOMPARE(twiceStarted.count(), 1);
}

void TestTasks::tasksAddedFromAnotherThreadRunFromTheMainThread()
{
    GateTask task("from a network thread");
    task.open();
    QThread* startedIn = nullptr;
    auto connection = connect(scheduler(), &TaskScheduler::taskStarted, this,
                              [&] { startedIn = QThread::currentThread(); });
    EmitCounter done(&task, &Task::taskDone);

    std::unique_ptr<QThread> network(QThread::create([&task] { TaskScheduler::instance()->addTask(&task); }));
    network->start();
    QVERIFY(network->wait(5000));
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000); // emitted in the pool thread
    disconnect(connection);
    QCOMPARE(startedIn, QCoreApplication::instance()->thread());
    QVERIFY(task.executed);
}

void TestTasks::progressIsForwarded()
{
    ProgressTask task;
    QSignalSpy counted(scheduler(), qOverload<Task*, int, int>(&TaskScheduler::taskProgress));
    QSignalSpy described(scheduler(), qOverload<Task*, QString, int, int>(&TaskScheduler::taskProgress));
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    scheduler()->addTask(&task);
    QVERIFY(empty.wait(5000));
    QCOMPARE(counted.count(), 1);
    QCOMPARE(counted.at(0).at(1).toInt(), 3);
    QCOMPARE(counted.at(0).at(2).toInt(), 10);
    QCOMPARE(described.count(), 1);
    QCOMPARE(described.at(0).at(1).toString(), QStringLiteral("half way"));

    // Finished tasks are disconnected from the scheduler.
    emit task.taskProgress(&task, 1, 2);
    QCOMPARE(counted.count(), 1);
}

void TestTasks::updateAndParameterSearchTasks()
{
    CountingNode node;
    SearchingDevice device;
    device.setName("Driver 7");
    UpdateTask update("Update node", &node);
    SearchParameterTask search("Search", &device);
    QCOMPARE(update.target(), &node);
    QCOMPARE(search.target(), &device);
    QVERIFY(!update.deleteWhenDone());

    QStringList names;
    auto connection = connect(scheduler(), &TaskScheduler::taskStarted, this,
                              [&](Task* task) { names << task->name(); });
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    scheduler()->addTask(&update);
    scheduler()->addTask(&search);
    device.triggerSearchParameters();
    QVERIFY(empty.wait(5000));
    disconnect(connection);

    QCOMPARE(node.manualUpdates.load(), 1);
    QCOMPARE(device.searches.load(), 2);
    QCOMPARE(names, (QStringList{"Update node", "Search", "Search parameters \"Driver 7\""}));
}

QTEST_MAIN(TestTasks)
#include "tst_tasks.moc"
