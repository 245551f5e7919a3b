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
#include "tests/support/testthreads.h"

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

// Logs a line from the pool thread and reports its progress.
class ReportingTask : public Task
{
public:
    ReportingTask(const QString& name, QString text)
        : Task(2, name, false)
        , m_text(std::move(text))
    {
    }
    void execute() override
    {
        logToMain(TEST, m_text, INFO);
        reportProgress(3, 10);
        reportProgress(m_text, 5, 10);
    }

private:
    const QString m_text;
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
    void abortStopsOnlyTheCurrentTask_data();
    void abortStopsOnlyTheCurrentTask();
    void earlierAbortDoesNotStopANewTask_data();
    void earlierAbortDoesNotStopANewTask();
    void abortBeforeTheStartIsHonoured();
    void logLinesAndProgressCarryTheTask();
    void finishedTasksAreDeletedByTheSchedulerOrTheirOwner();
    void queueHoldsATaskOnceAndForgetsDeletedOnes();
    void tasksAddedFromAnotherThreadRunFromTheMainThread();
    void updateAndParameterSearchTasks();
};

void TestTasks::initTestCase()
{
    // The first caller is a thread without an event loop: the scheduler
    // must still live in the main thread.
    QVERIFY(halvorn::test::runInThread([] { TaskScheduler::instance(); }));
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
    QStringList events;
    QObject context;
    connect(scheduler(), &TaskScheduler::taskStarted, &context, [&] { events << "started"; });
    connect(scheduler(), &TaskScheduler::taskDone, &context, [&] { events << "done"; });
    connect(scheduler(), &TaskScheduler::taskQueueEmpty, &context, [&] { events << "empty"; });
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
    QCOMPARE(events, (QStringList{"started", "done", "started", "done", "started", "done", "started", "done", "empty"}));
    QList<int> left;
    for (const QList<QVariant>& arguments : std::as_const(fromQueue))
        left << arguments.at(1).toInt();
    QCOMPARE(left, (QList<int>{0, 2, 1, 0}));
    QCOMPARE(fromQueue.at(1).at(0).value<Task*>(), &a);
    for (GateTask* task : {&first, &a, &b, &c})
        QCOMPARE(task->state(), int(Task::Idle));
}

void TestTasks::abortStopsOnlyTheCurrentTask_data()
{
    QTest::addColumn<bool>("honoursAbort");
    QTest::newRow("task that stops at the abort") << true;
    QTest::newRow("task that runs to its end still reports it") << false;
}

void TestTasks::abortStopsOnlyTheCurrentTask()
{
    QFETCH(bool, honoursAbort);
    GateTask running("running", false, honoursAbort);
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
    if (!honoursAbort)
        running.open();

    QTRY_VERIFY_WITH_TIMEOUT(queued.state() == Task::Running, 5000);
    queued.open();
    QTRY_COMPARE_WITH_TIMEOUT(queuedDone.count(), 1, 5000); // emitted in the pool thread
    QCOMPARE(runningAborted.count(), 1);
    QCOMPARE(queuedAborted.count(), 0);
}

void TestTasks::earlierAbortDoesNotStopANewTask_data()
{
    QTest::addColumn<bool>("taskAbortedItself");
    QTest::newRow("scheduler aborted with nothing running") << false;
    QTest::newRow("task aborted before it was queued") << true;
}

void TestTasks::earlierAbortDoesNotStopANewTask()
{
    QFETCH(bool, taskAbortedItself);
    GateTask task("reused");
    if (taskAbortedItself)
        task.abort();
    else
        scheduler()->abortTask();
    task.open();
    EmitCounter aborted(&task, &Task::taskAborted);
    EmitCounter done(&task, &Task::taskDone);
    scheduler()->addTask(&task);
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000); // emitted in the pool thread
    QVERIFY(task.executed);
    QCOMPARE(aborted.count(), 0);
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

void TestTasks::logLinesAndProgressCarryTheTask()
{
    ReportingTask first("Reading gear", "logged by the first task");
    ReportingTask second("Searching bus", "logged by the second task");
    QSignalSpy counted(scheduler(), qOverload<Task*, int, int>(&TaskScheduler::taskProgress));
    QSignalSpy described(scheduler(), qOverload<Task*, QString, int, int>(&TaskScheduler::taskProgress));
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    scheduler()->addTask(&first);
    scheduler()->addTask(&second);
    QVERIFY(empty.wait(5000));
    QCOMPARE(threadNameOfMessage("logged by the first task"), QStringLiteral("Reading gear"));
    QCOMPARE(threadNameOfMessage("logged by the second task"), QStringLiteral("Searching bus"));
    QCOMPARE(counted.count(), 2);
    QCOMPARE(counted.at(1).at(0).value<Task*>(), &second);
    QCOMPARE(counted.at(1).mid(1), (QVariantList{3, 10}));
    QCOMPARE(described.count(), 2);
    QCOMPARE(described.at(0).at(1).toString(), QStringLiteral("logged by the first task"));

    // Finished tasks are disconnected from the scheduler.
    emit first.taskProgress(&first, 1, 2);
    QCOMPARE(counted.count(), 2);
}

void TestTasks::finishedTasksAreDeletedByTheSchedulerOrTheirOwner()
{
    auto* disposable = new GateTask("disposable", true);
    // A view that drops a finished task as soon as the scheduler reports it
    // done (in this thread, once the run has returned): the scheduler must
    // not touch it afterwards.
    auto* shown = new GateTask("shown");
    // Tasks run in the order they were added; "shown" is the second.
    const QMetaObject::Connection dropping = connect(scheduler(), &TaskScheduler::taskDone, this,
                                                     [watched = QPointer<Task>(shown), finished = 0]() mutable {
        if (++finished == 2 && watched)
            delete watched.data();
    });
    GateTask kept("kept");
    QPointer<Task> watchDisposable(disposable);
    QPointer<Task> watchShown(shown);
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    QSignalSpy done(scheduler(), &TaskScheduler::taskDone);
    for (GateTask* task : {disposable, shown, &kept}) {
        task->open();
        scheduler()->addTask(task);
    }
    QVERIFY(empty.wait(5000));
    QVERIFY(watchDisposable.isNull());
    QVERIFY(watchShown.isNull());
    QCOMPARE(done.count(), 3);
    QVERIFY(kept.executed);
    QCOMPARE(kept.state(), int(Task::Idle));
    disconnect(dropping);
}

void TestTasks::queueHoldsATaskOnceAndForgetsDeletedOnes()
{
    GateTask blocker("blocker");
    GateTask twice("twice");
    auto* dropped = new GateTask("dropped");
    twice.open();
    EmitCounter twiceStarted(&twice, &Task::taskStarted);
    QSignalSpy started(scheduler(), &TaskScheduler::taskStarted);
    QSignalSpy empty(scheduler(), &TaskScheduler::taskQueueEmpty);
    scheduler()->addTask(&blocker);
    scheduler()->addTask(&twice);
    scheduler()->addTask(dropped);
    QTest::ignoreMessage(QtWarningMsg, "Task \"twice\" is already queued or running");
    scheduler()->addTask(&twice);
    QCOMPARE(scheduler()->queuedCount(), 2);
    delete dropped;
    QCOMPARE(scheduler()->queuedCount(), 1);
    blocker.open();
    QVERIFY(empty.wait(5000));
    QCOMPARE(twiceStarted.count(), 1);
    QCOMPARE(started.count(), 2);
}

void TestTasks::tasksAddedFromAnotherThreadRunFromTheMainThread()
{
    GateTask task("from a network thread");
    task.open();
    QThread* startedIn = nullptr;
    auto connection = connect(scheduler(), &TaskScheduler::taskStarted, this,
                              [&] { startedIn = QThread::currentThread(); });
    EmitCounter done(&task, &Task::taskDone);

    QVERIFY(halvorn::test::runInThread([&task] { TaskScheduler::instance()->addTask(&task); }));
    QTRY_COMPARE_WITH_TIMEOUT(done.count(), 1, 5000); // emitted in the pool thread
    disconnect(connection);
    QCOMPARE(startedIn, QCoreApplication::instance()->thread());
    QVERIFY(task.executed);
}

void TestTasks::updateAndParameterSearchTasks()
{
    CountingNode node;
    SearchingDevice device;
    device.setName("Driver 7");
    UpdateTask update("Update node", &node);
    SearchParameterTask search("Search", &device);

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
