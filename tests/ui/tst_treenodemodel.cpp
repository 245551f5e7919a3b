// The tree model and its controller: the model mirrors the tree as the
// controller brings the changes of network threads to the GUI thread.
#include "general/device.h"
#include "general/parameter.h"
#include "general/parametergroup.h"
#include "general/treenode.h"
#include "general/ui/treenodecontroller.h"
#include "general/ui/treenodemodel.h"

#include <QAbstractItemModelTester>
#include <QMutex>
#include <QPointer>
#include <QRandomGenerator>
#include <QSemaphore>
#include <QSignalSpy>
#include <QTest>
#include <QThread>
#include <QTreeView>

#include <atomic>

using namespace halvorn::general;

namespace {

constexpr int kWaitMs = 10000;

// Counts its destructions, to prove that retired nodes are deleted once.
class CountedGroup : public ParameterGroup
{
public:
    CountedGroup(const QString& name, std::atomic<int>* destroyed)
        : m_destroyed(destroyed)
    {
        setName(name);
    }
    ~CountedGroup() override
    {
        if (m_destroyed)
            ++*m_destroyed;
    }

private:
    std::atomic<int>* m_destroyed;
};

TreeNode* named(const QString& name, std::atomic<int>* destroyed = nullptr)
{
    return new CountedGroup(name, destroyed);
}

// The tree the tests show: a root (not an item) owning everything below it.
struct Fixture {
    TreeNode root;
    TreeNodeController controller;
    std::unique_ptr<TreeNodeModel> model;
    std::unique_ptr<QAbstractItemModelTester> tester;

    ~Fixture()
    {
        root.setController(nullptr);
        tester.reset();
        model.reset();
    }
    void attach()
    {
        root.setController(&controller);
        model = std::make_unique<TreeNodeModel>(&root);
        tester = std::make_unique<QAbstractItemModelTester>(model.get(),
                                                            QAbstractItemModelTester::FailureReportingMode::Fatal);
        controller.setModel(model.get());
    }
    // Waits (bounded) until every queued change has reached the model.
    bool settle()
    {
        return QTest::qWaitFor([this] { return !controller.hasPendingChanges(); }, kWaitMs);
    }
};

// Where the model below `parent` differs from the live node (empty: nowhere).
QString mirrorMismatch(const TreeNodeModel& model, const QModelIndex& parent, const TreeNode* node)
{
    const QList<TreeNode*> children = node->childNodes();
    if (model.rowCount(parent) != children.size())
        return QStringLiteral("%1: %2 rows, %3 children").arg(node->name()).arg(model.rowCount(parent)).arg(children.size());
    for (int row = 0; row < children.size(); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        if (model.nodeForIndex(index) != children.at(row))
            return QStringLiteral("%1: row %2 shows another node").arg(node->name()).arg(row);
        if (QString why = mirrorMismatch(model, index, children.at(row)); !why.isEmpty())
            return why;
    }
    return {};
}

// Random changes to a network's devices and parameters, made in the
// network's thread as the bus answers.
class NetworkWorker : public QObject
{
    Q_OBJECT

public:
    NetworkWorker(TreeNode* network, std::atomic<int>* destroyed)
        : m_network(network)
        , m_destroyed(destroyed)
    {
    }

    int retired = 0;

public Q_SLOTS:
    void run()
    {
        QRandomGenerator random(20240611);
        const auto pick = [&random](const QList<TreeNode*>& nodes) {
            return nodes.isEmpty() ? nullptr : nodes.at(random.bounded(int(nodes.size())));
        };
        const auto insertAnywhere = [&random](TreeNode* parent, TreeNode* child) {
            parent->insertChild(int(random.bounded(parent->childCount() + 1)), child);
        };
        for (int i = 0; i < 3000; ++i) {
            const QList<TreeNode*> devices = m_network->childNodes();
            const int choice = int(random.bounded(100));
            if (devices.size() < 3 || choice < 25) {
                // A device arrives with its parameters already in it.
                TreeNode* added = named(QStringLiteral("device %1").arg(i), m_destroyed);
                for (int p = int(random.bounded(4)); p > 0; --p)
                    added->addChild(named(QStringLiteral("param %1").arg(p), m_destroyed), false);
                insertAnywhere(m_network, added);
            } else if (choice < 35) {
                pick(devices)->retire();
                ++retired;
            } else if (choice < 60) {
                insertAnywhere(pick(devices), named(QStringLiteral("param x%1").arg(i), m_destroyed));
            } else if (choice < 70) {
                if (TreeNode* parameter = pick(pick(devices)->childNodes())) {
                    parameter->retire();
                    ++retired;
                }
            } else if (choice < 80) {
                TreeNode* from = pick(devices);
                TreeNode* to = pick(devices);
                if (TreeNode* parameter = pick(from->childNodes())) {
                    from->removeChild(parameter);
                    insertAnywhere(to, parameter);
                }
            } else {
                for (TreeNode* parameter : pick(devices)->childNodes())
                    parameter->setUpdateState(int(random.bounded(2)));
            }
            // Spread over about a second, so that the changes meet the GUI
            // thread at every stage of its flushes.
            QThread::usleep(250);
        }
        emit finished();
    }

Q_SIGNALS:
    void finished();

private:
    TreeNode* m_network;
    std::atomic<int>* m_destroyed;
};

} // namespace

class TestTreeNodeModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void snapshotShowsTheNodes();
    void structureChangesReachTheModelInOrder();
    void changesQueuedBeforeTheModelAreIgnored();
    void retiredNodeIsDeletedOnce_data();
    void retiredNodeIsDeletedOnce();
    void valueChangesAreMergedIntoRanges_data();
    void valueChangesAreMergedIntoRanges();
    void controllerNeverBlocksTheChangingThread();
    void networkThreadChangesKeepModelConsistent();
};

void TestTreeNodeModel::snapshotShowsTheNodes()
{
    TreeNode root;
    auto* device = new Device(nullptr, 7, QStringLiteral("Driver"));
    root.addChild(device, false);
    root.addChild(named(QStringLiteral("b")), false);
    auto* parameter = new Parameter(device, 0x1234, QStringLiteral("Level"), QStringLiteral("The level"), 0, 100,
                                    42, false, false, Parameter::Decimal);
    device->addChild(parameter, false);
    device->addChild(named(QStringLiteral("a2")), false);
    TreeNodeModel model(&root);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    QCOMPARE(mirrorMismatch(model, {}, &root), QString());

    const QModelIndex deviceIndex = model.index(0, 0);
    const QModelIndex parameterRow = model.index(0, 0, deviceIndex);
    QCOMPARE(model.indexForNode(parameter), parameterRow);
    QCOMPARE(model.indexForNode(&root), QModelIndex());
    // Only column 0 has children.
    QCOMPARE(model.rowCount(deviceIndex.siblingAtColumn(2)), 0);
    QVERIFY(!model.index(0, 1, deviceIndex.siblingAtColumn(2)).isValid());
    QVERIFY(!model.index(0, 5).isValid());

    QCOMPARE(model.data(parameterRow.siblingAtColumn(3), Qt::UserRole).toInt(), int(parameter->id()));
    QCOMPARE(model.data(parameterRow.siblingAtColumn(1)).toString(), QStringLiteral("1234h"));
    parameter->setValue(43, false); // live: the model shows what the node holds now
    QCOMPARE(model.data(parameterRow.siblingAtColumn(4)).toString(), QStringLiteral("43"));

    // The name is edited in place and its row announced; other columns are not edited.
    QVERIFY(model.flags(deviceIndex) & Qt::ItemIsEditable);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    QVERIFY(model.setData(deviceIndex, QStringLiteral("Renamed")));
    QCOMPARE(device->name(), QStringLiteral("Renamed"));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), deviceIndex);
    QVERIFY(!model.setData(deviceIndex.siblingAtColumn(3), 5));
    QCOMPARE(changed.size(), 1);
}

void TestTreeNodeModel::structureChangesReachTheModelInOrder()
{
    Fixture f;
    TreeNode* a = named(QStringLiteral("a"));
    TreeNode* moved = named(QStringLiteral("moved"));
    a->addChild(moved, false);
    f.root.addChild(a, false);
    f.attach();
    QSignalSpy inserted(f.model.get(), &QAbstractItemModel::rowsInserted);

    TreeNode* b = named(QStringLiteral("b")); // a subtree arrives whole
    TreeNode* b1 = named(QStringLiteral("b1"));
    b->addChild(b1, false);
    b1->addChild(named(QStringLiteral("b11")), false);
    f.root.insertChild(0, b);
    TreeNode* c = named(QStringLiteral("c"));
    f.root.addChild(c, false);
    c->addChild(moved, false);
    // Nothing reaches the model before the GUI thread takes the changes.
    QCOMPARE(f.model->rowCount(), 1);
    QVERIFY(f.settle());
    QCOMPARE(inserted.size(), 3); // b with its subtree, c, moved
    QCOMPARE(mirrorMismatch(*f.model, {}, &f.root), QString());
    QCOMPARE(f.model->mirroredCount(), 6);
}

void TestTreeNodeModel::changesQueuedBeforeTheModelAreIgnored()
{
    // The model's snapshot holds these changes already, or they concern
    // nodes that are gone again.
    Fixture f;
    f.root.setController(&f.controller);
    TreeNode* kept = named(QStringLiteral("kept"));
    f.root.addChild(kept, false);
    kept->addChild(named(QStringLiteral("child")), false);
    std::atomic<int> destroyed{0};
    QPointer<TreeNode> gone = named(QStringLiteral("gone"), &destroyed);
    f.root.addChild(gone, false);
    gone->retire();

    f.attach();
    QSignalSpy inserted(f.model.get(), &QAbstractItemModel::rowsInserted);
    QVERIFY(f.settle());
    QCOMPARE(inserted.size(), 0);
    QCOMPARE(mirrorMismatch(*f.model, {}, &f.root), QString());
    QTRY_VERIFY_WITH_TIMEOUT(gone.isNull(), kWaitMs);
    QCOMPARE(destroyed.load(), 1);
}

void TestTreeNodeModel::retiredNodeIsDeletedOnce_data()
{
    QTest::addColumn<bool>("withModel");
    QTest::newRow("shown in a model") << true;
    QTest::newRow("no model yet")     << false;
}

void TestTreeNodeModel::retiredNodeIsDeletedOnce()
{
    QFETCH(bool, withModel);
    Fixture f;
    std::atomic<int> destroyed{0};
    TreeNode* device = named(QStringLiteral("device"), &destroyed);
    device->addChild(named(QStringLiteral("parameter"), &destroyed), false);
    f.root.addChild(device, false);
    withModel ? f.attach() : f.root.setController(&f.controller);

    QThread network;
    device->moveToThread(&network);
    device->child(0)->moveToThread(&network);
    network.start();
    QPointer<TreeNode> guard(device);
    QMetaObject::invokeMethod(device, [device] { device->retire(); });
    QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), kWaitMs);
    if (withModel) {
        QCOMPARE(f.model->rowCount(), 0);
        QCOMPARE(f.model->mirroredCount(), 0);
    }
    network.quit();
    QVERIFY(network.wait(kWaitMs));
    QCOMPARE(destroyed.load(), 2);
}

void TestTreeNodeModel::valueChangesAreMergedIntoRanges_data()
{
    // The tree: a group of 40 parameters p0..p39 at row 0, "other" at row 1.
    // A change is {child of the group (or Other, or Root), first column, last column}.
    enum { Other = -1, Root = -2 };
    QTest::addColumn<QList<QList<int>>>("changes");
    QTest::addColumn<QStringList>("ranges"); // "parent: top row,column - bottom row,column"
    QList<QList<int>> often(1000, {Other, 4, 4});
    often.append({Other, 2, 3});
    QList<QList<int>> refresh;
    for (int i = 5; i < 30; ++i)
        refresh.append({i, 4, 4});
    refresh.append({7, 2, 2});
    QTest::newRow("one row, many changes") << often << QStringList{"root: 1,2 - 1,4"};
    QTest::newRow("neighbour rows, two parents") << QList<QList<int>>{{5, 4, 4}, {2, 0, 0}, {Other, 0, 4}}
                                                << QStringList{"group: 2,0 - 5,4", "root: 1,0 - 1,4"};
    // A network refreshing a whole device: one range, no look-up per value.
    QTest::newRow("many children: all rows") << refresh << QStringList{"group: 0,2 - 39,4"};
    QTest::newRow("root: the top-level rows") << QList<QList<int>>{{Root, 0, 0}} << QStringList{"root: 0,0 - 1,0"};
}

void TestTreeNodeModel::valueChangesAreMergedIntoRanges()
{
    QFETCH(QList<QList<int>>, changes);
    QFETCH(QStringList, ranges);
    Fixture f;
    TreeNode* group = named(QStringLiteral("group"));
    f.root.addChild(group, false);
    for (int i = 0; i < 40; ++i)
        group->addChild(named(QStringLiteral("p%1").arg(i)), false);
    TreeNode* other = named(QStringLiteral("other"));
    f.root.addChild(other, false);
    f.attach();
    QSignalSpy changed(f.model.get(), &QAbstractItemModel::dataChanged);
    for (const QList<int>& change : changes) {
        TreeNode* node = change[0] == -1 ? other : change[0] == -2 ? &f.root : group->child(change[0]);
        f.controller.nodeChanged(node, change[1], change[2]);
    }
    QVERIFY(f.settle());
    QStringList seen;
    for (const QList<QVariant>& args : changed) {
        const QModelIndex topLeft = args.at(0).toModelIndex();
        const QModelIndex bottomRight = args.at(1).toModelIndex();
        QCOMPARE(topLeft.parent(), bottomRight.parent());
        seen << QStringLiteral("%1: %2,%3 - %4,%5")
                    .arg(topLeft.parent().isValid() ? topLeft.parent().data().toString() : QStringLiteral("root"))
                    .arg(topLeft.row())
                    .arg(topLeft.column())
                    .arg(bottomRight.row())
                    .arg(bottomRight.column());
    }
    seen.sort();
    QCOMPARE(seen, ranges);
}

void TestTreeNodeModel::controllerNeverBlocksTheChangingThread()
{
    // A daisy search adds devices while holding the network's bus mutex, and
    // the GUI thread takes that mutex for parameter writes. Were the
    // controller to wait for the GUI thread, this would deadlock.
    Fixture f;
    f.attach();
    TreeNode* network = named(QStringLiteral("network"));
    f.root.addChild(network, false);
    QVERIFY(f.settle());

    QMutex busMutex;
    QSemaphore added;
    std::unique_ptr<QThread> search(QThread::create([&] {
        QMutexLocker lock(&busMutex);
        for (int i = 0; i < 20; ++i) {
            network->addChild(named(QStringLiteral("daisy %1").arg(i)), false);
            network->child(i)->setName(QStringLiteral("daisy %1 found").arg(i));
        }
        added.release();
    }));
    search->start();
    // The GUI thread does not run its event loop while it waits here.
    QVERIFY2(added.tryAcquire(1, kWaitMs), "the search thread blocked on the GUI thread");
    QVERIFY(busMutex.tryLock(kWaitMs));
    busMutex.unlock();
    QVERIFY(search->wait(kWaitMs));
    QVERIFY(f.settle());
    QCOMPARE(f.model->rowCount(f.model->index(0, 0)), 20);
}

void TestTreeNodeModel::networkThreadChangesKeepModelConsistent()
{
    Fixture f;
    f.attach();
    QTreeView view;
    view.setModel(f.model.get());
    view.resize(400, 600);
    view.show();

    std::atomic<int> destroyed{0};
    TreeNode* network = named(QStringLiteral("network"));
    f.root.addChild(network, false);
    QThread thread;
    network->moveToThread(&thread);
    NetworkWorker worker(network, &destroyed);
    worker.moveToThread(&thread);
    QSignalSpy finished(&worker, &NetworkWorker::finished);
    thread.start();
    QMetaObject::invokeMethod(&worker, &NetworkWorker::run);

    QElapsedTimer expanding;
    expanding.start();
    while (finished.isEmpty() && expanding.elapsed() < 60000) {
        view.expandAll();
        QTest::qWait(5);
    }
    QCOMPARE(finished.size(), 1);
    QVERIFY(f.settle());
    QCOMPARE(mirrorMismatch(*f.model, {}, &f.root), QString());
    thread.quit();
    QVERIFY(thread.wait(kWaitMs));

    // Every retired node, with whatever it held, has been deleted, once:
    // deleting the rest makes every node made gone exactly once.
    int alive = 0;
    std::function<void(TreeNode*)> count = [&](TreeNode* node) {
        for (TreeNode* child : node->childNodes()) {
            ++alive;
            count(child);
        }
    };
    count(network);
    QVERIFY(worker.retired > 0);
    QVERIFY(destroyed.load() > 0);
    QCOMPARE(f.model->mirroredCount(), alive + 1);
    f.root.setController(nullptr);
    const int before = destroyed.load();
    f.root.removeChild(network);
    delete network;
    QCOMPARE(destroyed.load() - before, alive);
}

QTEST_MAIN(TestTreeNodeModel)
#include "tst_treenodemodel.moc"
