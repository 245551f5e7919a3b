// The device tree: structure changes and their notifications, automatic
// updates, parameter lookup and parameter writes with retries.

#include "general/parameter.h"
#include "general/parameterdevice.h"
#include "general/parametergroup.h"
#include "general/task.h"
#include "general/taskscheduler.h"
#include "general/treenode.h"
#include "general/treeobserver.h"
#include "tests/support/recordingmenubuilder.h"
#include "tests/support/testthreads.h"

#include <QMutex>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <memory>

using namespace halvorn::general;
using halvorn::test::RecordingMenuBuilder;

namespace {

// Records every notification as one line of text; deletes retired nodes
// the way the ui controller does (later, in the node's thread).
class RecordingObserver : public TreeObserver
{
public:
    void nodeChanged(TreeNode* node, int firstColumn, int lastColumn) override
    {
        record(QStringLiteral("changed %1 %2..%3").arg(node->name()).arg(firstColumn).arg(lastColumn));
    }
    void nodeInserted(TreeNode* parent, TreeNode* child, int row) override
    {
        ++inserted;
        record(QStringLiteral("inserted %1 under %2 at %3").arg(child->name(), parent->name()).arg(row));
    }
    void nodeRemoved(TreeNode* parent, TreeNode* child, bool retire) override
    {
        ++removed;
        record(QStringLiteral("removed %1 from %2%3")
                   .arg(child->name(), parent ? parent->name() : QStringLiteral("(none)"),
                        retire ? QStringLiteral(" retired") : QString()));
        if (retire)
            child->deleteLater();
    }

    QStringList events() const
    {
        QMutexLocker lock(&m_mutex);
        return m_events;
    }
    void clear()
    {
        QMutexLocker lock(&m_mutex);
        m_events.clear();
    }

    std::atomic<int> inserted{0};
    std::atomic<int> removed{0};

private:
    void record(const QString& event)
    {
        QMutexLocker lock(&m_mutex);
        m_events << event;
    }

    mutable QMutex m_mutex;
    QStringList m_events;
};

// A node whose update is counted and succeeds or fails as told.
class CountingNode : public TreeNode
{
public:
    explicit CountingNode(const QString& name, bool succeeds = true)
        : m_succeeds(succeeds)
    {
        setName(name);
    }
    bool update(bool) override
    {
        ++updates;
        return m_succeeds;
    }
    std::atomic<int> updates{0};

private:
    const bool m_succeeds;
};

TreeNode* namedNode(const QString& name, TreeNode* parent = nullptr)
{
    auto* node = new TreeNode(parent);
    node->setName(name);
    return node;
}

// Fails the first `failures` uploads, then succeeds.
class FlakyDevice : public ParameterDevice
{
public:
    explicit FlakyDevice(int failures)
        : m_failures(failures)
    {
    }
    void uploadParameter(Parameter*, bool& ok) override
    {
        ok = ++uploads > m_failures;
    }
    int uploads = 0;

private:
    const int m_failures;
};

Parameter* makeParameter(ParameterDevice* device, uint number, const QString& name, bool readOnly = false)
{
    return new Parameter(device, number, name, QString(), -1, -1, -1, false, readOnly, Parameter::Decimal);
}

} // namespace

class TestTree : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void insertChildChecksTheRow_data();
    void insertChildChecksTheRow();
    void insertChildTakesTheChildFromItsOldParent();
    void setAutoUpdatePropagatesToAncestors();
    void isEnabledLooksAtAncestorsButFlagsDoNot();
    void updateVisitsChildren_data();
    void updateVisitsChildren();
    void findParameterSearchesDepthFirst_data();
    void findParameterSearchesDepthFirst();
    void groupIsFoundOrMadeAndShowsAutoUpdate();
    void parameterWriteRetries_data();
    void parameterWriteRetries();
    void observerHearsChangesInOrder();
    void insertedSubtreeTakesTheController();
    void retireWithoutObserverDeletesLater();
    void deletedNodeTakesItsSubtreeAndLeavesItsParent();
    void addChildMovesTheSubtreeToTheParentsThread();
    void concurrentStructureChangesStayConsistent();
    void menuOffersAnUpdateThatRunsInTheBackground();
};

void TestTree::insertChildChecksTheRow_data()
{
    QTest::addColumn<int>("row");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<QString>("order");
    //                               row  accepted  children afterwards
    QTest::newRow("before the first") << -1 << false << "a b";
    QTest::newRow("at the front")     << 0  << true  << "n a b";
    QTest::newRow("in the middle")    << 1  << true  << "a n b";
    QTest::newRow("append at count")  << 2  << true  << "a b n";
    QTest::newRow("past the end")     << 3  << false << "a b";
}

void TestTree::insertChildChecksTheRow()
{
    QFETCH(int, row);
    QFETCH(bool, accepted);
    QFETCH(QString, order);

    TreeNode root;
    root.addChild(namedNode("a"), false);
    root.addChild(namedNode("b"), false);
    std::unique_ptr<TreeNode> node(namedNode("n"));

    QCOMPARE(root.insertChild(row, node.get()), accepted);
    if (accepted) {
        QCOMPARE(node->parentNode(), &root);
        QCOMPARE(node->row(), row);
        (void)node.release(); // the root owns it now
    }
    QStringList names;
    for (TreeNode* child : root.childNodes())
        names << child->name();
    QCOMPARE(names.join(' '), order);
    QVERIFY(!root.child(-1));
    QVERIFY(!root.child(root.childCount()));
}

void TestTree::insertChildTakesTheChildFromItsOldParent()
{
    TreeNode first;
    TreeNode second;
    TreeNode* child = namedNode("c");
    first.addChild(child, false);

    QVERIFY(second.insertChild(0, child));
    QCOMPARE(first.childCount(), 0);
    QCOMPARE(second.childCount(), 1);
    QCOMPARE(child->parentNode(), &second);
    QVERIFY2(!second.insertChild(1, child), "a node is listed once");
    QCOMPARE(second.childCount(), 1);
    QVERIFY(!second.insertChild(0, &second));
}

void TestTree::setAutoUpdatePropagatesToAncestors()
{
    TreeNode root;
    TreeNode* child = namedNode("child");
    TreeNode* grandchild = namedNode("grandchild");
    root.addChild(child, false);
    child->addChild(grandchild, false);

    grandchild->setAutoUpdate(true);
    QVERIFY(child->autoUpdate());
    QVERIFY(root.autoUpdate());

    grandchild->setAutoUpdate(false);
    QVERIFY(!grandchild->autoUpdate());
    QVERIFY2(child->autoUpdate() && root.autoUpdate(), "clearing changes only the node itself");

    // The walk up stops at the first ancestor that already has the flag.
    root.setAutoUpdate(false);
    grandchild->setAutoUpdate(true);
    QVERIFY(child->autoUpdate());
    QVERIFY(!root.autoUpdate());
}

void TestTree::isEnabledLooksAtAncestorsButFlagsDoNot()
{
    TreeNode grandparent;
    TreeNode* parent = namedNode("parent");
    TreeNode* node = namedNode("node");
    grandparent.addChild(parent, false);
    parent->addChild(node, false);

    grandparent.setEnabled(false);
    QVERIFY(node->isOwnEnabled());
    QVERIFY(!node->isEnabled());
    QVERIFY(node->flags(0).testFlag(Qt::ItemIsEnabled));
    QVERIFY(node->flags(0).testFlag(Qt::ItemIsUserCheckable));
    QVERIFY(!node->flags(1).testFlag(Qt::ItemIsUserCheckable));

    node->setEnabled(false);
    QVERIFY(!node->flags(0).testFlag(Qt::ItemIsEnabled));
    grandparent.setEnabled(true);
    QVERIFY(parent->isEnabled());
    QVERIFY(!node->isEnabled());
}

void TestTree::updateVisitsChildren_data()
{
    QTest::addColumn<bool>("manual");
    QTest::addColumn<bool>("secondFails");
    QTest::addColumn<QList<int>>("updates");
    QTest::addColumn<bool>("result");
    //                                      manual  2nd fails  updates per child   result
    QTest::newRow("automatic: auto only")   << false << false << QList<int>{0, 1, 0} << true;
    QTest::newRow("automatic: auto fails")  << false << true  << QList<int>{0, 1, 0} << false;
    QTest::newRow("manual: all children")   << true  << false << QList<int>{1, 1, 1} << true;
    QTest::newRow("manual: one fails")      << true  << true  << QList<int>{1, 1, 1} << false;
}

void TestTree::updateVisitsChildren()
{
    QFETCH(bool, manual);
    QFETCH(bool, secondFails);
    QFETCH(QList<int>, updates);
    QFETCH(bool, result);

    RecordingObserver observer;
    TreeNode root;
    root.setName("root");
    root.setController(&observer);
    auto* first = new CountingNode("first");
    auto* second = new CountingNode("second", !secondFails);
    auto* third = new CountingNode("third");
    root.addChild(first, false);
    root.addChild(second, false);
    root.addChild(third, false);
    second->setAutoUpdate(true);
    observer.clear();
    QSignalSpy finished(&root, &TreeNode::updateFinished);

    QCOMPARE(root.update(manual), result);
    QCOMPARE((QList<int>{first->updates, second->updates, third->updates}), updates);
    // The row shows the update running, then its end.
    QCOMPARE(root.updateState(), 0);
    QCOMPARE(finished.count(), 1);
    QCOMPARE(observer.events(), (QStringList{"changed root 0..0", "changed root 0..0"}));
}

void TestTree::findParameterSearchesDepthFirst_data()
{
    QTest::addColumn<uint>("number");
    QTest::addColumn<QString>("found");
    //                                     number  name of the parameter found
    QTest::newRow("inside an earlier group") << 5u  << "in group";
    QTest::newRow("before a later group")    << 7u  << "top seven";
    QTest::newRow("deep down")               << 9u  << "deep";
    QTest::newRow("absent")                  << 99u << "";
}

void TestTree::findParameterSearchesDepthFirst()
{
    QFETCH(uint, number);
    QFETCH(QString, found);

    // device: [group: [5 "in group", inner: [9 "deep"]], 5 "top five", 7 "top seven", later: [7 "later seven"]]
    ParameterDevice device;
    ParameterGroup* group = device.group("group");
    group->addChild(makeParameter(&device, 5, "in group"), false);
    group->group("inner")->addChild(makeParameter(&device, 9, "deep"), false);
    device.addChild(makeParameter(&device, 5, "top five"), false);
    device.addChild(makeParameter(&device, 7, "top seven"), false);
    device.group("later")->addChild(makeParameter(&device, 7, "later seven"), false);

    Parameter* parameter = device.findParameter(number);
    QCOMPARE(parameter ? parameter->name() : QString(), found);
}

void TestTree::groupIsFoundOrMadeAndShowsAutoUpdate()
{
    ParameterDevice device;
    device.addChild(makeParameter(&device, 1, "Settings"), false);
    ParameterGroup* settings = device.group("Settings");
    QVERIFY2(settings, "a parameter of the same name is not a group");
    QCOMPARE(device.group("Settings"), settings);
    QCOMPARE(device.childCount(), 2);
    QCOMPARE(settings->parentNode(), &device);

    QCOMPARE(settings->data(0, Qt::CheckStateRole).toInt(), int(Qt::Unchecked));
    QVERIFY(settings->setData(0, int(Qt::Checked), Qt::CheckStateRole));
    QVERIFY(settings->autoUpdate());
    QCOMPARE(settings->data(0, Qt::CheckStateRole).toInt(), int(Qt::Checked));
    settings->setAutoUpdateCheckable(false);
    QVERIFY(!settings->data(0, Qt::CheckStateRole).isValid());
    QVERIFY(!settings->flags(0).testFlag(Qt::ItemIsUserCheckable));
}

void TestTree::parameterWriteRetries_data()
{
    QTest::addColumn<int>("retryCount");
    QTest::addColumn<int>("failures");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<int>("uploads");
    QTest::addColumn<bool>("result");
    //                                       retries failures readOnly uploads result
    QTest::newRow("3: fail, fail, ok")        << 3  << 2  << false << 3 << true;
    QTest::newRow("3: always failing")        << 3  << 9  << false << 3 << false;
    QTest::newRow("3: first succeeds")        << 3  << 0  << false << 1 << true;
    QTest::newRow("1: failing")               << 1  << 1  << false << 1 << false;
    QTest::newRow("0: one attempt, ok")       << 0  << 0  << false << 1 << true;
    QTest::newRow("0: one attempt, failing")  << 0  << 9  << false << 1 << false;
    QTest::newRow("-5: one attempt")          << -5 << 9  << false << 1 << false;
    QTest::newRow("read-only: no traffic")    << 3  << 9  << true  << 0 << true;
}

void TestTree::parameterWriteRetries()
{
    QFETCH(int, retryCount);
    QFETCH(int, failures);
    QFETCH(bool, readOnly);
    QFETCH(int, uploads);
    QFETCH(bool, result);

    FlakyDevice device(failures);
    Parameter* parameter = makeParameter(&device, 1, "p", readOnly);
    device.addChild(parameter, false);

    QCOMPARE(device.parameterWrite(parameter, retryCount), result);
    QCOMPARE(device.uploads, uploads);
}

void TestTree::observerHearsChangesInOrder()
{
    RecordingObserver observer;
    TreeNode root;
    root.setName("root");
    root.setController(&observer);

    TreeNode* a = namedNode("a");
    TreeNode* b = namedNode("b");
    root.addChild(a, false);
    root.addChild(b, false);
    a->setName("alpha");
    a->setName("alpha");      // unchanged: nothing to tell
    a->setTooltip("no row change");
    b->setEnabled(false);
    b->setEnabled(false);
    root.removeChild(a);
    QPointer<TreeNode> retired(b);
    b->retire();

    QCOMPARE(observer.events(), (QStringList{
        "inserted a under root at 0",
        "inserted b under root at 1",
        "changed alpha 0..0",
        "changed b 0..4",
        "removed alpha from root",
        "removed b from root retired",
    }));
    QCOMPARE(root.childCount(), 0);
    QVERIFY2(!a->controller(), "a removed node is no longer attached");
    QVERIFY(!a->parentNode());
    QTRY_VERIFY_WITH_TIMEOUT(retired.isNull(), 5000);
    delete a;
}

void TestTree::insertedSubtreeTakesTheController()
{
    RecordingObserver observer;
    TreeNode root;
    root.setController(&observer);

    TreeNode* child = namedNode("child");
    TreeNode* grandchild = namedNode("grandchild");
    child->addChild(grandchild, false);
    QVERIFY(!grandchild->controller());

    root.addChild(child, false);
    QCOMPARE(grandchild->controller(), &observer);

    observer.clear();
    TreeNode* late = namedNode("late");
    grandchild->addChild(late, false);
    QCOMPARE(late->controller(), &observer);
    QCOMPARE(observer.events(), QStringList{"inserted late under grandchild at 0"});
}

void TestTree::retireWithoutObserverDeletesLater()
{
    TreeNode root;
    TreeNode* child = namedNode("child");
    root.addChild(child, false);
    QPointer<TreeNode> watch(child);

    child->retire();
    QCOMPARE(root.childCount(), 0);
    QVERIFY2(!watch.isNull(), "deleted only once control returns to the event loop");
    QTRY_VERIFY_WITH_TIMEOUT(watch.isNull(), 5000);
}

void TestTree::deletedNodeTakesItsSubtreeAndLeavesItsParent()
{
    RecordingObserver observer;
    TreeNode root;
    root.setName("root");
    root.setController(&observer);
    TreeNode* child = namedNode("child");
    root.addChild(child, false);
    root.addChild(namedNode("other"), false);
    QPointer<TreeNode> grandchild(namedNode("grandchild"));
    child->addChild(grandchild, false);
    observer.clear();

    delete child;
    QVERIFY(grandchild.isNull());
    QCOMPARE(root.childCount(), 1);
    QCOMPARE(root.child(0)->name(), QStringLiteral("other"));
    QCOMPARE(observer.events(), QStringList{"removed child from root"});
}

void TestTree::addChildMovesTheSubtreeToTheParentsThread()
{
    QThread networkThread;
    networkThread.start();
    auto* parent = namedNode("network");
    parent->moveToThread(&networkThread);

    TreeNode* child = namedNode("device");
    TreeNode* grandchild = namedNode("parameter");
    child->addChild(grandchild, false);
    parent->addChild(child, true);

    QCOMPARE(child->thread(), &networkThread);
    QCOMPARE(grandchild->thread(), &networkThread);

    networkThread.quit();
    QVERIFY(networkThread.wait(5000));
    delete parent;
}

void TestTree::concurrentStructureChangesStayConsistent()
{
    constexpr int kNodesPerWriter = 2000;
    RecordingObserver observer;
    TreeNode root;
    root.setName("root");
    root.setController(&observer);

    std::atomic<int> writersLeft{2};
    std::atomic<int> badSnapshots{0};
    QList<TreeNode*> removed[2];
    QList<TreeNode*> kept[2];
    // Thread 0 takes snapshots while the two writers add their nodes and
    // remove every other one again; removed nodes are deleted only after all
    // threads have stopped, because the reader may still hold them.
    halvorn::test::ThreadGroup threads(3, [&](int thread) {
        if (thread == 0) {
            do {
                const QList<TreeNode*> snapshot = root.childNodes();
                bool sane = snapshot.size() <= 2 * kNodesPerWriter;
                for (TreeNode* node : snapshot)
                    sane = sane && node && node->id() > 0;
                badSnapshots += sane ? 0 : 1;
            } while (writersLeft > 0);
            return;
        }
        const int index = thread - 1;
        for (int i = 0; i < kNodesPerWriter; ++i) {
            TreeNode* node = namedNode(QStringLiteral("w%1-%2").arg(index).arg(i));
            root.addChild(node, false);
            if (i % 2) {
                root.removeChild(node);
                removed[index] << node;
            } else {
                kept[index] << node;
            }
        }
        --writersLeft;
    });
    QVERIFY(threads.join(30000));

    QCOMPARE(root.childCount(), kNodesPerWriter);
    QCOMPARE(observer.inserted.load(), 2 * kNodesPerWriter);
    QCOMPARE(observer.removed.load(), kNodesPerWriter);
    for (int index = 0; index < 2; ++index) {
        for (TreeNode* node : std::as_const(kept[index]))
            QVERIFY(root.indexOfChild(node) >= 0);
        for (TreeNode* node : std::as_const(removed[index])) {
            QCOMPARE(root.indexOfChild(node), -1);
            delete node;
        }
    }
    QCOMPARE(badSnapshots.load(), 0);
}

void TestTree::menuOffersAnUpdateThatRunsInTheBackground()
{
    CountingNode node("Dimmer");
    RecordingMenuBuilder menu;
    node.TreeNode::populateMenu(menu);
    QCOMPARE(menu.texts(), QStringList{"Update \"Dimmer\""});

    QPointer<Task> started;
    QString startedName;
    QMetaObject::Connection connection =
        connect(TaskScheduler::instance(), &TaskScheduler::taskStarted, this, [&](Task* task) {
            started = task;
            startedName = task->name();
        });
    QSignalSpy done(TaskScheduler::instance(), &TaskScheduler::taskDone);
    menu.action("Update \"Dimmer\"")->trigger();

    QVERIFY(done.wait(5000));
    disconnect(connection);
    QCOMPARE(node.updates.load(), 1);
    QCOMPARE(startedName, QStringLiteral("Update \"Dimmer\""));
    QVERIFY2(started.isNull(), "the update task is deleted when it is done");
}

QTEST_MAIN(TestTree)
#include "tst_tree.moc"
