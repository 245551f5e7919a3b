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
    explicit CountedGroup(const QString& name, std::atomic<int>* destroyed = nullptr)
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

// The tree the tests show: a root (not an item) owning everything below it.
struct Fixture {
    TreeNode root;
    TreeNodeController controller;
    std::unique_ptr<TreeNodeModel> model;

    Fixture() { root.setName(QStringLiteral("root")); }
    ~Fixture()
    {
        root.setController(nullptr);
        model.reset();
    }
    void attach()
    {
        root.setController(&controller);
        model = std::make_unique<TreeNodeModel>(&root);
        controller.setModel(model.get());
    }
    // Waits (bounded) until every queued change has reached the model.
    bool settle()
    {
        return QTest::qWaitFor([this] { return !controller.hasPendingChanges(); }, kWaitMs);
    }
};

TreeNode* named(const QString& name)
{
    auto* node = new ParameterGroup;
    node->setName(name);
    return node;
}

// Compares the model below `parent` with the live node, recursively.
bool mirrorMatches(const TreeNodeModel& model, const QModelIndex& parent, const TreeNode* node, QString* why)
{
    const QList<TreeNode*> children = node->childNodes();
    if (model.rowCount(parent) != children.size()) {
        *why = QStringLiteral("%1: %2 rows, %3 children")
                   .arg(node->name())
                   .arg(model.rowCount(parent))
                   .arg(children.size());
        return false;
    }
    for (int row = 0; row < children.size(); ++row) {
        const QModelIndex index = model.index(row, 0, parent);
        if (model.nodeForIndex(index) != children.at(row)) {
            *why = QStringLiteral("%1: row %2 shows another node").arg(node->name()).arg(row);
            return false;
        }
        if (!mirrorMatches(model, index, children.at(row), why))
            return false;
    }
    return true;
}

// Runs random changes on a tree of devices and parameters in its own thread,
// as a network and its tasks do.
class NetworkWorker : public QObject
{
    Q_OBJECT

public:
    NetworkWorker(TreeNode* network, int operations, std::atomic<int>* destroyed)
        : m_network(network)
        , m_operations(operations)
        , m_destroyed(destroyed)
    {
    }

    int retired = 0;

public Q_SLOTS:
    void run()
    {
        QRandomGenerator random(20240611);
        for (int i = 0; i < m_operations; ++i) {
            const QList<TreeNode*> devices = m_network->childNodes();
            const int choice = int(random.bounded(100));
            if (devices.size() < 3 || choice < 25) {
                addDevice(random);
            } else if (choice < 35) {
                devices.at(random.bounded(int(devices.size())))->retire();
                ++retired;
            } else if (choice < 60) {
                addParameter(devices.at(random.bounded(int(devices.size()))), random);
            } else if (choice < 70) {
                retireParameter(devices.at(random.bounded(int(devices.size()))), random);
            } else if (choice < 80) {
                moveParameter(devices.at(random.bounded(int(devices.size()))),
                              devices.at(random.bounded(int(devices.size()))), random);
            } else {
                changeValues(devices.at(random.bounded(int(devices.size()))), random);
            }
            // A network changes its tree as the bus answers: spread the
            // changes over about a second, so that they meet the GUI thread
            // at every stage of its flushes.
            QThread::usleep(250);
        }
        emit finished();
    }

Q_SIGNALS:
    void finished();

private:
    void addDevice(QRandomGenerator& random)
    {
        // A device arrives with its parameters already in it.
        auto* device = new CountedGroup(QStringLiteral("device %1").arg(++m_serial), m_destroyed);
        const int parameters = int(random.bounded(4));
        for (int p = 0; p < parameters; ++p)
            device->addChild(new CountedGroup(QStringLiteral("param %1").arg(p), m_destroyed), false);
        const int row = int(random.bounded(m_network->childCount() + 1));
        m_network->insertChild(row, device);
    }
    void addParameter(TreeNode* device, QRandomGenerator& random)
    {
        auto* parameter = new CountedGroup(QStringLiteral("param x%1").arg(++m_serial), m_destroyed);
        device->insertChild(int(random.bounded(device->childCount() + 1)), parameter);
    }
    void retireParameter(TreeNode* device, QRandomGenerator& random)
    {
        const QList<TreeNode*> parameters = device->childNodes();
        if (parameters.isEmpty())
            return;
        parameters.at(random.bounded(int(parameters.size())))->retire();
        ++retired;
    }
    // Taken out of one device and inserted into another (or the same one,
    // at another row).
    void moveParameter(TreeNode* from, TreeNode* to, QRandomGenerator& random)
    {
        const QList<TreeNode*> parameters = from->childNodes();
        if (parameters.isEmpty())
            return;
        TreeNode* parameter = parameters.at(random.bounded(int(parameters.size())));
        from->removeChild(parameter);
        to->insertChild(int(random.bounded(to->childCount() + 1)), parameter);
    }
    void changeValues(TreeNode* device, QRandomGenerator& random)
    {
        const QList<TreeNode*> parameters = device->childNodes();
        for (TreeNode* parameter : parameters)
            parameter->setUpdateState(int(random.bounded(2)));
    }

    TreeNode* m_network;
    const int m_operations;
    std::atomic<int>* m_destroyed;
    int m_serial = 0;
};

} // namespace

class TestTreeNodeModel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void headerNamesTheFiveColumns_data();
    void headerNamesTheFiveColumns();
    void mirrorsTheTreeItIsGiven();
    void onlyColumnZeroHasChildren();
    void dataAndFlagsComeFromTheNodes();
    void setDataAnnouncesTheRow();

    void insertionReachesTheModelInOrder();
    void subtreeInsertedWithChildrenIsMirroredWhole();
    void notificationsForMirroredOrGoneNodesAreIgnored();
    void movedNodeFollowsItsNewParent();
    void retiredNodeIsDroppedThenDeletedOnce();
    void retiredNodeWithoutModelIsStillDeleted();
    void manyChangesOfOneNodeMakeOneDataChanged();
    void changesOfNeighbourRowsAreMerged();
    void manyChangedChildrenMakeOneRangeOverAll();
    void rootChangeCoversTheTopLevelRows();
    void controllerNeverBlocksTheChangingThread();
    void networkThreadChangesKeepModelConsistent();
};

void TestTreeNodeModel::headerNamesTheFiveColumns_data()
{
    QTest::addColumn<int>("section");
    QTest::addColumn<int>("orientation");
    QTest::addColumn<int>("role");
    QTest::addColumn<QVariant>("header");
    const int horizontal = Qt::Horizontal;
    QTest::newRow("name")       << 0 << horizontal << int(Qt::DisplayRole) << QVariant(QStringLiteral("Name"));
    QTest::newRow("number")     << 1 << horizontal << int(Qt::DisplayRole) << QVariant(QStringLiteral("Number"));
    QTest::newRow("min")        << 2 << horizontal << int(Qt::DisplayRole) << QVariant(QStringLiteral("Min"));
    QTest::newRow("max")        << 3 << horizontal << int(Qt::DisplayRole) << QVariant(QStringLiteral("Max"));
    QTest::newRow("value")      << 4 << horizontal << int(Qt::DisplayRole) << QVariant(QStringLiteral("Value"));
    QTest::newRow("section 5")  << 5 << horizontal << int(Qt::DisplayRole) << QVariant();
    QTest::newRow("vertical")   << 0 << int(Qt::Vertical) << int(Qt::DisplayRole) << QVariant();
    QTest::newRow("tool tip")   << 0 << horizontal << int(Qt::ToolTipRole) << QVariant();
}

void TestTreeNodeModel::headerNamesTheFiveColumns()
{
    QFETCH(int, section);
    QFETCH(int, orientation);
    QFETCH(int, role);
    QFETCH(QVariant, header);
    TreeNode root;
    TreeNodeModel model(&root);
    QCOMPARE(model.headerData(section, Qt::Orientation(orientation), role), header);
}

void TestTreeNodeModel::mirrorsTheTreeItIsGiven()
{
    TreeNode root;
    TreeNode* a = named(QStringLiteral("a"));
    TreeNode* b = named(QStringLiteral("b"));
    root.addChild(a, false);
    root.addChild(b, false);
    a->addChild(named(QStringLiteral("a1")), false);
    a->addChild(named(QStringLiteral("a2")), false);
    TreeNodeModel model(&root);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);

    QCOMPARE(model.rowCount(), 2);
    QCOMPARE(model.columnCount(), 5);
    const QModelIndex aIndex = model.index(0, 0);
    QCOMPARE(model.nodeForIndex(aIndex), a);
    QCOMPARE(model.rowCount(aIndex), 2);
    QCOMPARE(model.data(model.index(1, 0, aIndex)).toString(), QStringLiteral("a2"));
    QCOMPARE(model.parent(model.index(1, 0, aIndex)), aIndex);
    QCOMPARE(model.parent(aIndex), QModelIndex());
    QCOMPARE(model.indexForNode(b), model.index(1, 0));
    QCOMPARE(model.indexForNode(&root), QModelIndex());
    QString why;
    QVERIFY2(mirrorMatches(model, {}, &root, &why), qPrintable(why));
}

void TestTreeNodeModel::onlyColumnZeroHasChildren()
{
    TreeNode root;
    TreeNode* a = named(QStringLiteral("a"));
    root.addChild(a, false);
    a->addChild(named(QStringLiteral("a1")), false);
    TreeNodeModel model(&root);
    const QModelIndex column2 = model.index(0, 2);
    QVERIFY(column2.isValid());
    QVERIFY(!model.index(0, 1, column2).isValid());
    QCOMPARE(model.rowCount(column2), 0);
    QVERIFY(model.index(0, 1, model.index(0, 0)).isValid());
    QVERIFY(!model.index(1, 0, model.index(0, 0)).isValid());
    QVERIFY(!model.index(0, 5).isValid());
    QVERIFY(!model.index(-1, 0).isValid());
}

void TestTreeNodeModel::dataAndFlagsComeFromTheNodes()
{
    TreeNode root;
    auto* device = new Device(nullptr, 7, QStringLiteral("Driver"));
    root.addChild(device, false);
    auto* parameter = new Parameter(device, 0x1234, QStringLiteral("Level"), QStringLiteral("The level"), 0,
                                    100, 42, false, false, Parameter::Decimal);
    device->addChild(parameter, false);
    TreeNodeModel model(&root);

    const QModelIndex deviceIndex = model.index(0, 0);
    QCOMPARE(model.data(deviceIndex).toString(), QStringLiteral("Driver"));
    QCOMPARE(model.data(deviceIndex, Qt::UserRole).toInt(), int(device->id()));
    QVERIFY(model.flags(deviceIndex) & Qt::ItemIsEditable);
    const QModelIndex parameterRow = model.index(0, 0, deviceIndex);
    QCOMPARE(model.data(parameterRow.siblingAtColumn(1)).toString(), QStringLiteral("1234h"));
    QCOMPARE(model.data(parameterRow.siblingAtColumn(4)).toString(), QStringLiteral("42"));
    QCOMPARE(model.data(parameterRow.siblingAtColumn(3), Qt::UserRole).toInt(), int(parameter->id()));
    QCOMPARE(model.data(QModelIndex(), Qt::DisplayRole), QVariant());
    // Live: the model shows what the node holds now.
    parameter->setValue(43, false);
    QCOMPARE(model.data(parameterRow.siblingAtColumn(4)).toString(), QStringLiteral("43"));
}

void TestTreeNodeModel::setDataAnnouncesTheRow()
{
    TreeNode root;
    auto* device = new Device(nullptr, 7, QStringLiteral("Driver"));
    root.addChild(device, false);
    TreeNodeModel model(&root);
    QSignalSpy changed(&model, &QAbstractItemModel::dataChanged);
    const QModelIndex index = model.index(0, 0);
    QVERIFY(model.setData(index, QStringLiteral("Renamed")));
    QCOMPARE(device->name(), QStringLiteral("Renamed"));
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), index);
    QVERIFY(!model.setData(index.siblingAtColumn(3), 5));
    QCOMPARE(changed.size(), 1);
}

void TestTreeNodeModel::insertionReachesTheModelInOrder()
{
    Fixture f;
    f.attach();
    QAbstractItemModelTester tester(f.model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy inserted(f.model.get(), &QAbstractItemModel::rowsInserted);
    TreeNode* a = named(QStringLiteral("a"));
    TreeNode* b = named(QStringLiteral("b"));
    f.root.addChild(a, false);
    f.root.insertChild(0, b);
    // Nothing reaches the model before the GUI thread takes the changes.
    QCOMPARE(f.model->rowCount(), 0);
    QVERIFY(f.settle());
    QCOMPARE(inserted.size(), 2);
    QCOMPARE(inserted.at(0).at(1).toInt(), 0);
    QCOMPARE(inserted.at(1).at(1).toInt(), 0);
    QCOMPARE(f.model->nodeForIndex(f.model->index(0, 0)), b);
    QCOMPARE(f.model->nodeForIndex(f.model->index(1, 0)), a);
}

void TestTreeNodeModel::subtreeInsertedWithChildrenIsMirroredWhole()
{
    Fixture f;
    f.attach();
    QAbstractItemModelTester tester(f.model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    TreeNode* device = named(QStringLiteral("device"));
    TreeNode* group = named(QStringLiteral("group"));
    device->addChild(group, false);
    group->addChild(named(QStringLiteral("p1")), false);
    group->addChild(named(QStringLiteral("p2")), false);
    QSignalSpy inserted(f.model.get(), &QAbstractItemModel::rowsInserted);
    f.root.addChild(device, false);
    QVERIFY(f.settle());
    QCOMPARE(inserted.size(), 1);
    QCOMPARE(f.model->mirroredCount(), 4);
    QString why;
    QVERIFY2(mirrorMatches(*f.model, {}, &f.root, &why), qPrintable(why));
}

void TestTreeNodeModel::notificationsForMirroredOrGoneNodesAreIgnored()
{
    TreeNode root;
    TreeNodeController controller;
    root.setController(&controller);
    // Changes queued before the model exists: the model's snapshot holds
    // them already, or they concern nodes that are gone again.
    TreeNode* kept = named(QStringLiteral("kept"));
    root.addChild(kept, false);
    kept->addChild(named(QStringLiteral("child")), false);
    std::atomic<int> destroyed{0};
    auto* gone = new CountedGroup(QStringLiteral("gone"), &destroyed);
    root.addChild(gone, false);
    gone->retire();
    QPointer<TreeNode> goneGuard(gone);

    TreeNodeModel model(&root);
    QAbstractItemModelTester tester(&model, QAbstractItemModelTester::FailureReportingMode::Fatal);
    controller.setModel(&model);
    QSignalSpy inserted(&model, &QAbstractItemModel::rowsInserted);
    QVERIFY(QTest::qWaitFor([&] { return !controller.hasPendingChanges(); }, kWaitMs));
    QCOMPARE(inserted.size(), 0);
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(model.rowCount(model.index(0, 0)), 1);
    QTRY_VERIFY_WITH_TIMEOUT(goneGuard.isNull(), kWaitMs);
    QCOMPARE(destroyed.load(), 1);
    root.setController(nullptr);
}

void TestTreeNodeModel::movedNodeFollowsItsNewParent()
{
    Fixture f;
    TreeNode* a = named(QStringLiteral("a"));
    TreeNode* b = named(QStringLiteral("b"));
    TreeNode* moved = named(QStringLiteral("moved"));
    f.root.addChild(a, false);
    f.root.addChild(b, false);
    a->addChild(moved, false);
    f.attach();
    QAbstractItemModelTester tester(f.model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    b->addChild(moved, false);
    QVERIFY(f.settle());
    QCOMPARE(f.model->rowCount(f.model->index(0, 0)), 0);
    QCOMPARE(f.model->nodeForIndex(f.model->index(0, 0, f.model->index(1, 0))), moved);
}

void TestTreeNodeModel::retiredNodeIsDroppedThenDeletedOnce()
{
    Fixture f;
    std::atomic<int> destroyed{0};
    auto* device = new CountedGroup(QStringLiteral("device"), &destroyed);
    device->addChild(new CountedGroup(QStringLiteral("parameter"), &destroyed), false);
    f.root.addChild(device, false);
    f.attach();
    QAbstractItemModelTester tester(f.model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);

    QThread network;
    device->moveToThread(&network);
    device->child(0)->moveToThread(&network);
    network.start();
    QPointer<TreeNode> guard(device);
    QSignalSpy removed(f.model.get(), &QAbstractItemModel::rowsRemoved);
    QMetaObject::invokeMethod(device, [device] { device->retire(); });
    QTRY_COMPARE_WITH_TIMEOUT(removed.size(), 1, kWaitMs);
    QCOMPARE(f.model->rowCount(), 0);
    QCOMPARE(f.model->mirroredCount(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), kWaitMs);
    network.quit();
    QVERIFY(network.wait(kWaitMs));
    QCOMPARE(destroyed.load(), 2);
}

void TestTreeNodeModel::retiredNodeWithoutModelIsStillDeleted()
{
    TreeNode root;
    TreeNodeController controller;
    root.setController(&controller);
    auto* node = named(QStringLiteral("node"));
    root.addChild(node, false);
    QPointer<TreeNode> guard(node);
    node->retire();
    QTRY_VERIFY_WITH_TIMEOUT(guard.isNull(), kWaitMs);
    root.setController(nullptr);
}

void TestTreeNodeModel::manyChangesOfOneNodeMakeOneDataChanged()
{
    Fixture f;
    TreeNode* node = named(QStringLiteral("node"));
    f.root.addChild(named(QStringLiteral("first")), false);
    f.root.addChild(node, false);
    f.attach();
    QAbstractItemModelTester tester(f.model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy changed(f.model.get(), &QAbstractItemModel::dataChanged);
    for (int i = 0; i < 1000; ++i)
        f.controller.nodeChanged(node, 4, 4);
    f.controller.nodeChanged(node, 2, 3);
    QVERIFY(f.settle());
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), f.model->index(1, 2));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), f.model->index(1, 4));
}

void TestTreeNodeModel::changesOfNeighbourRowsAreMerged()
{
    Fixture f;
    TreeNode* group = named(QStringLiteral("group"));
    f.root.addChild(group, false);
    for (int i = 0; i < 8; ++i)
        group->addChild(named(QStringLiteral("p%1").arg(i)), false);
    TreeNode* other = named(QStringLiteral("other"));
    f.root.addChild(other, false);
    f.attach();
    QAbstractItemModelTester tester(f.model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy changed(f.model.get(), &QAbstractItemModel::dataChanged);
    f.controller.nodeChanged(group->child(5), 4, 4);
    f.controller.nodeChanged(group->child(2), 0, 0);
    f.controller.nodeChanged(other, 0, 4);
    QVERIFY(f.settle());
    QCOMPARE(changed.size(), 2);
    const QModelIndex groupIndex = f.model->index(0, 0);
    bool sawGroup = false;
    bool sawTop = false;
    for (const QList<QVariant>& args : changed) {
        const QModelIndex topLeft = args.at(0).toModelIndex();
        const QModelIndex bottomRight = args.at(1).toModelIndex();
        if (topLeft.parent() == groupIndex) {
            QCOMPARE(topLeft, f.model->index(2, 0, groupIndex));
            QCOMPARE(bottomRight, f.model->index(5, 4, groupIndex));
            sawGroup = true;
        } else {
            QCOMPARE(topLeft, f.model->index(1, 0));
            QCOMPARE(bottomRight, f.model->index(1, 4));
            sawTop = true;
        }
    }
    QVERIFY(sawGroup && sawTop);
}

void TestTreeNodeModel::manyChangedChildrenMakeOneRangeOverAll()
{
    // A network refreshing a whole device: one range, no look-up per value.
    Fixture f;
    TreeNode* device = named(QStringLiteral("device"));
    f.root.addChild(device, false);
    for (int i = 0; i < 40; ++i)
        device->addChild(named(QStringLiteral("p%1").arg(i)), false);
    f.attach();
    QAbstractItemModelTester tester(f.model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QSignalSpy changed(f.model.get(), &QAbstractItemModel::dataChanged);
    for (int i = 5; i < 30; ++i)
        f.controller.nodeChanged(device->child(i), 4, 4);
    f.controller.nodeChanged(device->child(7), 2, 2);
    QVERIFY(f.settle());
    QCOMPARE(changed.size(), 1);
    const QModelIndex deviceIndex = f.model->index(0, 0);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), f.model->index(0, 2, deviceIndex));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), f.model->index(39, 4, deviceIndex));
}

void TestTreeNodeModel::rootChangeCoversTheTopLevelRows()
{
    Fixture f;
    for (int i = 0; i < 3; ++i)
        f.root.addChild(named(QStringLiteral("n%1").arg(i)), false);
    f.attach();
    QSignalSpy changed(f.model.get(), &QAbstractItemModel::dataChanged);
    f.root.setName(QStringLiteral("renamed root"));
    QVERIFY(f.settle());
    QCOMPARE(changed.size(), 1);
    QCOMPARE(changed.at(0).at(0).toModelIndex(), f.model->index(0, 0));
    QCOMPARE(changed.at(0).at(1).toModelIndex(), f.model->index(2, 0));
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
    QThread search;
    QObject searchContext;
    searchContext.moveToThread(&search);
    search.start();
    QMetaObject::invokeMethod(&searchContext, [&] {
        QMutexLocker lock(&busMutex);
        for (int i = 0; i < 20; ++i) {
            network->addChild(named(QStringLiteral("daisy %1").arg(i)), false);
            network->child(i)->setName(QStringLiteral("daisy %1 found").arg(i));
        }
        added.release();
    });
    // The GUI thread does not run its event loop while it waits here.
    QVERIFY2(added.tryAcquire(1, kWaitMs), "the search thread blocked on the GUI thread");
    QVERIFY(busMutex.tryLock(kWaitMs));
    busMutex.unlock();
    QVERIFY(f.settle());
    QCOMPARE(f.model->rowCount(f.model->index(0, 0)), 20);
    search.quit();
    QVERIFY(search.wait(kWaitMs));
}

void TestTreeNodeModel::networkThreadChangesKeepModelConsistent()
{
    Fixture f;
    f.attach();
    QAbstractItemModelTester tester(f.model.get(), QAbstractItemModelTester::FailureReportingMode::Fatal);
    QTreeView view;
    view.setModel(f.model.get());
    view.resize(400, 600);
    view.show();

    std::atomic<int> destroyed{0};
    auto* network = new CountedGroup(QStringLiteral("network"));
    f.root.addChild(network, false);
    QThread thread;
    network->moveToThread(&thread);
    NetworkWorker worker(network, 3000, &destroyed);
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
    QString why;
    QVERIFY2(mirrorMatches(*f.model, {}, &f.root, &why), qPrintable(why));

    // Every retired node, with whatever it held, has been deleted, once.
    int alive = 0;
    std::function<void(TreeNode*)> count = [&](TreeNode* node) {
        for (TreeNode* child : node->childNodes()) {
            ++alive;
            count(child);
        }
    };
    QVERIFY(worker.retired > 0);
    thread.quit();
    QVERIFY(thread.wait(kWaitMs));
    count(network);
    QCOMPARE(f.model->mirroredCount(), alive + 1);
    // Created: every device with its parameters, every single parameter;
    // gone: exactly those no longer in the tree.
    QVERIFY(destroyed.load() > 0);
    f.root.setController(nullptr);
    const int before = destroyed.load();
    f.root.removeChild(network);
    delete network;
    QCOMPARE(destroyed.load() - before, alive);
}

QTEST_MAIN(TestTreeNodeModel)
#include "tst_treenodemodel.moc"
