// Finding drivers on the virtual DMX line: RDM discovery (with responders
// that misbehave), the Chorus range search, the daisy-chain search, and the
// parameter search of the devices found, including the parameters' names,
// kinds and addressing.

#include "general/log.h"
#include "general/parameter.h"
#include "general/parametergroup.h"
#include "general/taskscheduler.h"
#include "sim/simdongle.h"
#include "sim/simdriver.h"
#include "tests/support/queuedsignalcounter.h"
#include "tests/support/recordingmenubuilder.h"
#include "tests/vx/vxportline.h"
#include "vx/chbinsearch.h"
#include "vx/rdmbinsearch.h"
#include "vx/vxdevice.h"
#include "vx/vxnetwork.h"
#include "vx/vxparameter.h"

#include <QPointer>
#include <QSemaphore>
#include <QSet>
#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <memory>

using namespace halvorn;
using sim::SimDriver;
using vx::VxDevice;
using vx::VxNetwork;

Q_DECLARE_METATYPE(SimDriver::Behaviour)

namespace {

constexpr int TaskWaitMs = 60000;
constexpr int WaitMs = 5000;

struct RdmRequest {
    quint8 transactionNumber = 0;
    quint8 commandClass = 0;
    quint16 pid = 0;
    quint64 destination = 0;
    QByteArray data;
};

quint64 uidAt(const QByteArray& bytes, int offset)
{
    quint64 uid = 0;
    for (int i = 0; i < 6; ++i)
        uid = (uid << 8) | quint8(bytes[offset + i]);
    return uid;
}

// The RDM requests the dongle was given, in order.
QList<RdmRequest> rdmRequests(const VxPortline& portline)
{
    QList<RdmRequest> requests;
    for (const QByteArray& packet : portline.recorder().requests(0x02)) {
        const QByteArray frame = packet.mid(2, quint8(packet[1]));
        if (frame.size() < 26 || quint8(frame[0]) != 0xCC)
            continue;
        RdmRequest request;
        request.destination = uidAt(frame, 3);
        request.transactionNumber = quint8(frame[15]);
        request.commandClass = quint8(frame[20]);
        request.pid = quint16(quint8(frame[21]) << 8 | quint8(frame[22]));
        request.data = frame.mid(24, quint8(frame[23]));
        requests.append(request);
    }
    return requests;
}

bool runTask(general::Task* task)
{
    QSignalSpy done(task, &general::Task::taskDone);
    general::TaskScheduler::instance()->addTask(task);
    return QTest::qWaitFor([&] { return !done.isEmpty(); }, TaskWaitMs);
}

bool runRdmSearch(const VxPortline& portline)
{
    portline.network()->rdmSearch()->setTraceEnabled(false);
    return runTask(portline.network()->rdmSearch());
}

// A driver with LID `lid` and `behind` drivers daisy-chained behind it; GUIDs from `guid` up.
void addChain(VxPortline& portline, quint32 guid, quint16 lid, int behind)
{
    const int chain = portline.line().addDriver(SimDriver::halvorn(guid, 0x485600000000ull + guid, lid));
    for (quint32 k = 1; k <= quint32(behind); ++k)
        portline.line().addChainedDriver(chain, SimDriver::halvorn(guid + k, 0x485600000000ull + guid + k));
}

QList<VxDevice*> discoveredDevices(const VxNetwork* network)
{
    QList<VxDevice*> devices;
    for (int i = 0; i < network->deviceCount(); ++i) {
        auto* device = qobject_cast<VxDevice*>(network->deviceAt(i));
        if (device && device->isDiscovered())
            devices.append(device);
    }
    return devices;
}

QStringList mainLogLinesFrom(int first)
{
    QStringList lines;
    general::Log* log = general::mainLog();
    for (int i = first; i < log->count(); ++i) {
        const general::LogMessage* message = log->message(i);
        if (message && message->msgClass() == general::RDM)
            lines.append(message->text());
    }
    return lines;
}

QList<quint64> lineUids(const VxPortline& portline)
{
    QList<quint64> uids;
    for (const SimDriver& driver : portline.line().drivers())
        uids.append(driver.uid());
    return uids;
}

// The VxParameters in a device's "VelaLogic parameters" group, by number.
QMap<uint, vx::VxParameter*> foundParameters(const VxDevice* device)
{
    QMap<uint, vx::VxParameter*> parameters;
    for (general::TreeNode* node : device->velaGroup()->childNodes()) {
        if (auto* param = qobject_cast<vx::VxParameter*>(node))
            parameters.insert(param->number(), param);
    }
    return parameters;
}

// A device at `lid` whose parameters were searched as the menu's task
// searches them; null when the search does not finish in time.
VxDevice* searchedDevice(VxNetwork* network, uint lid, const QString& name = QStringLiteral("Driver"))
{
    auto* device = qobject_cast<VxDevice*>(network->createDevice(lid, name));
    QSignalSpy searched(device, &general::Device::parameterSearchFinished);
    device->triggerSearchParameters();
    return QTest::qWaitFor([&] { return !searched.isEmpty(); }, TaskWaitMs) ? device : nullptr;
}

} // namespace

class TestVxDiscovery : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void oneDriverIsFoundNamedAndGivenLid1();
    void twentyRandomDriversAreFoundOnceAndAgain();
    void misbehavingResponders_data();
    void misbehavingResponders();
    void daisySearch_data();
    void daisySearch();
    void devicesTakeOnlyTheirOwnParameters();
    void searchEndsWithTheFoundParametersInTheTree();
    void toolParametersChangeTheAddressing();
    void chorusSearchFromTheMenuAsksWithoutTraffic();
};

void TestVxDiscovery::initTestCase()
{
    qRegisterMetaType<SimDriver::Behaviour>();
}

void TestVxDiscovery::oneDriverIsFoundNamedAndGivenLid1()
{
    VxPortline portline;
    portline.line().addDriver(SimDriver::halvorn(0x1111, 0x123456789ABCull));
    QVERIFY(portline.start());
    portline.recorder().setRecordPackets(true);
    const int logStart = general::mainLog()->count();
    QVERIFY(runRdmSearch(portline));

    const QStringList lines = mainLogLinesFrom(logStart);
    const QStringList expected = {
        QStringLiteral("Unmute all"),
        QStringLiteral("Address found [12:34:56:78:9a:bc]"),
        QStringLiteral("Address range [00:00:00:00:00:00-ff:ff:ff:ff:ff:ff] - Single"),
        QStringLiteral("Address range [12:34:56:78:9a:bc-12:34:56:78:9a:bc] - Verify"),
        QStringLiteral("Address range [12:34:56:78:9a:bc-12:34:56:78:9a:bc] - Mute"),
    };
    QCOMPARE(lines.mid(0, expected.size()), expected);
    QCOMPARE(lines.last(), QStringLiteral("Address range [00:00:00:00:00:00-ff:ff:ff:ff:ff:ff] - No reply"));

    QTRY_COMPARE_WITH_TIMEOUT(discoveredDevices(portline.network()).size(), 1, WaitMs);
    VxDevice* device = discoveredDevices(portline.network()).first();
    QCOMPARE(device->name(), QStringLiteral("1234:56789abc"));
    QCOMPARE(device->address(), 1u);
    QCOMPARE(device->uid(), 0x123456789ABCull);
    QCOMPARE(portline.line().driver(0)->lid(), quint16(1));

    // Un-mute twice (one transaction), the whole range, the UID that answered
    // it asked alone before it counts, its mute, its LID: class, PID, destination, data.
    const QList<RdmRequest> requests = rdmRequests(portline);
    QStringList sent;
    for (const RdmRequest& r : requests.mid(0, 6))
        sent << QStringLiteral("%1 %2 %3 %4").arg(r.commandClass, 2, 16, QLatin1Char('0')).arg(r.pid, 4, 16, QLatin1Char('0'))
                    .arg(r.destination, 12, 16, QLatin1Char('0')).arg(QString::fromLatin1(r.data.toHex()));
    QCOMPARE(sent, (QStringList{"10 0003 ffffffffffff ", "10 0003 ffffffffffff ",
                                "10 0001 ffffffffffff 000000000000ffffffffffff", "10 0001 ffffffffffff 123456789abc123456789abc",
                                "10 0002 123456789abc ", "30 80d0 123456789abc 00a10001"}));
    QCOMPARE(requests[1].transactionNumber, requests[0].transactionNumber);
    // One whole-range question after the device, then ten retries.
    int wholeRange = 0;
    for (const RdmRequest& request : requests)
        wholeRange += request.pid == 0x0001 && request.data == QByteArray::fromHex("000000000000ffffffffffff");
    QCOMPARE(wholeRange, 12);
}

void TestVxDiscovery::twentyRandomDriversAreFoundOnceAndAgain()
{
    VxPortline portline;
    portline.line().addRandomDrivers(20, 7, 0);
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    VxDevice* manual = qobject_cast<VxDevice*>(network->createDevice(40, QStringLiteral("Manual")));
    const QList<quint64> onLine = lineUids(portline);
    QList<QPointer<VxDevice>> earlier;
    for (int run = 1; run <= 2; ++run) {
        QVERIFY(runRdmSearch(portline));
        // A second run replaces the first run's devices.
        for (const QPointer<VxDevice>& device : std::as_const(earlier))
            QTRY_VERIFY_WITH_TIMEOUT(device.isNull(), WaitMs);
        QTRY_COMPARE_WITH_TIMEOUT(discoveredDevices(network).size(), 20, WaitMs);
        QSet<quint64> uids;
        QSet<uint> lids;
        for (VxDevice* device : discoveredDevices(network)) {
            uids.insert(device->uid());
            lids.insert(device->address());
            QCOMPARE(portline.line().driverByUid(device->uid())->lid(), quint16(device->address()));
            earlier.append(device);
        }
        QCOMPARE(uids, QSet<quint64>(onLine.cbegin(), onLine.cend()));
        QCOMPARE(lids.size(), 20);
        QCOMPARE(*std::min_element(lids.cbegin(), lids.cend()), 1u);
        QCOMPARE(*std::max_element(lids.cbegin(), lids.cend()), 20u);
        QCOMPARE(network->rdmSearch()->nextLid(), quint16(20));
    }
    QCOMPARE(network->deviceCount(), 1 + 1 + 20);
    QCOMPARE(network->deviceAt(0), network->broadcastDevice());
    QVERIFY(network->findDevice(40) == manual);
}

void TestVxDiscovery::misbehavingResponders_data()
{
    QTest::addColumn<SimDriver::Behaviour>("behaviour");
    QTest::addColumn<bool>("getsDevice");
    QTest::addColumn<bool>("neighbours"); // the others' serial numbers side by side
    QTest::addColumn<bool>("garbledCollisions");
    //                                      behaviour of one driver             found  neighbours garbled collisions
    QTest::newRow("never mutes")         << SimDriver::Behaviour::NonMuting    << true  << false << false;
    QTest::newRow("never decodes")       << SimDriver::Behaviour::Garbage      << false << false << false;
    QTest::newRow("loses one mute")      << SimDriver::Behaviour::FlakeyMuting << true  << false << false;
    QTest::newRow("silent")              << SimDriver::Behaviour::Silent       << false << false << false;
    QTest::newRow("collisions garbled")  << SimDriver::Behaviour::Normal       << true  << false << true;
    // The AND of the answers of ...01 and ...02 is a clean answer of ...00,
    // a UID nobody has, when the dongle passes collisions on as answers.
    QTest::newRow("overlaid answers decode") << SimDriver::Behaviour::Normal   << true  << true  << true;
}

void TestVxDiscovery::misbehavingResponders()
{
    QFETCH(SimDriver::Behaviour, behaviour);
    QFETCH(bool, getsDevice);
    QFETCH(bool, neighbours);
    QFETCH(bool, garbledCollisions);
    VxPortline portline;
    if (neighbours) {
        for (quint32 serial = 1; serial <= 4; ++serial)
            portline.line().addDriver(SimDriver::halvorn(serial, 0x485600000000ull + serial));
    } else {
        portline.line().addRandomDrivers(6, 3);
    }
    const int wellBehaved = int(portline.line().drivers().size());
    SimDriver odd = SimDriver::halvorn(0xABCD, 0x485612345678ull);
    odd.setBehaviour(behaviour);
    portline.line().addDriver(odd);
    if (garbledCollisions)
        portline.line().setCollisionMode(sim::SimDmxLine::CollisionMode::Garbled);
    QVERIFY(portline.start());
    portline.recorder().setRecordPackets(true);
    QVERIFY(runRdmSearch(portline));

    const int expectedDevices = wellBehaved + (getsDevice ? 1 : 0);
    QTRY_COMPARE_WITH_TIMEOUT(discoveredDevices(portline.network()).size(), expectedDevices, WaitMs);
    QSet<quint64> found;
    QSet<uint> lids;
    const QList<quint64> onLine = lineUids(portline);
    for (const VxDevice* device : discoveredDevices(portline.network())) {
        QVERIFY2(!found.contains(device->uid()), "a UID got two devices");
        QVERIFY2(onLine.contains(device->uid()), "a device for a UID nobody owns");
        found.insert(device->uid());
        lids.insert(device->address());
    }
    QCOMPARE(found.contains(odd.uid()), getsDevice);
    QCOMPARE(lids.size(), expectedDevices);

    // Addresses are written only to UIDs that exist, once each; nobody is
    // muted more than four times.
    QHash<quint64, int> lidWrites;
    QHash<quint64, int> mutes;
    for (const RdmRequest& request : rdmRequests(portline)) {
        lidWrites[request.destination] += request.pid == 0x80D0;
        mutes[request.destination] += request.pid == 0x0002;
    }
    lidWrites.removeIf([](const auto& entry) { return entry.value() == 0; });
    QCOMPARE(lidWrites.size(), expectedDevices);
    for (auto it = lidWrites.cbegin(); it != lidWrites.cend(); ++it) {
        QVERIFY(onLine.contains(it.key()));
        QCOMPARE(it.value(), 1);
    }
    for (auto it = mutes.cbegin(); it != mutes.cend(); ++it)
        QVERIFY2(it.value() <= 1 + vx::RDMBinSearch::MaxRemutes, qPrintable(QString::number(it.value())));
}

void TestVxDiscovery::daisySearch_data()
{
    QTest::addColumn<int>("chained");
    QTest::addColumn<int>("cells");
    QTest::newRow("alone")      << 0  << 0;
    QTest::newRow("two behind") << 2  << 2;
    QTest::newRow("31 behind")  << 31 << 29; // no more than 29 cells are asked for
}

void TestVxDiscovery::daisySearch()
{
    QFETCH(int, chained);
    QFETCH(int, cells);
    VxPortline portline;
    addChain(portline, 0x700, 7, chained);
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    auto* head = qobject_cast<VxDevice*>(network->createDevice(7, QStringLiteral("Head")));
    portline.recorder().setRecordPackets(true);

    test::QueuedSignalCounter finished(head, &general::Device::daisySearchFinished);
    head->searchDaisyChildren();
    QTRY_COMPARE_WITH_TIMEOUT(finished.count(), 1, TaskWaitMs);
    QCOMPARE(head->daisyChildCount(), cells);
    dmx::DMXDevice* link = head;
    for (int k = 1; k <= cells; ++k) {
        auto* cell = qobject_cast<VxDevice*>(link->outputDevice());
        QVERIFY(cell);
        QCOMPARE(cell->name(), QStringLiteral("Cell %1").arg(k));
        QCOMPARE(cell->address(), 7u);
        QCOMPARE(cell->skipCount(), quint16(k));
        QCOMPARE(cell->parentNode(), head);
        link = cell;
    }
    QCOMPARE(network->deviceCount(), 2);
    // The GUID reads asked skip 1 … the first that did not answer (or 29).
    int guidReads = 0;
    for (const QByteArray& packet : portline.recorder().requests(0x02))
        guidReads += quint8(packet[3]) == 0x80;
    QCOMPARE(guidReads, qMin(cells + 1, 29));

    // Searching again lists the chain once. Back to back, each search
    // relinks the chain while the cells of the one before are deleted.
    constexpr int Searches = 10;
    for (int search = 2; search <= Searches; ++search) {
        head->searchDaisyChildren();
        QTRY_COMPARE_WITH_TIMEOUT(finished.count(), search, TaskWaitMs);
    }
    QTRY_COMPARE_WITH_TIMEOUT(head->childCount() - 2, cells, WaitMs); // besides the two parameter groups
    QCOMPARE(head->daisyChildCount(), cells);

    // Removing the chain removes its last device first. (The cells' own
    // parameter searches and updates run first: they must not lose their device.)
    if (cells != 2)
        return;
    QVERIFY(waitForIdleScheduler());
    QList<QPointer<dmx::DMXDevice>> chain;
    QList<general::Device*> lastFirst;
    for (dmx::DMXDevice* d = head->outputDevice(); d; d = d->outputDevice()) {
        chain.append(d);
        lastFirst.prepend(d);
    }
    // Recorded in this thread through queued calls (a QSignalSpy would
    // append in the network's thread while this one reads).
    QObject receiver;
    QList<general::Device*> removed;
    connect(network, &general::Network::deviceRemoved, &receiver,
            [&removed](general::Device* device) { removed.append(device); }, Qt::QueuedConnection);
    QMetaObject::invokeMethod(head, &VxDevice::removeDaisyChildren, Qt::QueuedConnection);
    QTRY_COMPARE_WITH_TIMEOUT(removed.size(), cells, WaitMs);
    QCOMPARE(removed, lastFirst);
    for (const QPointer<dmx::DMXDevice>& cell : chain)
        QTRY_VERIFY_WITH_TIMEOUT(cell.isNull(), WaitMs);
    QCOMPARE(head->daisyChildCount(), 0);
}

void TestVxDiscovery::devicesTakeOnlyTheirOwnParameters()
{
    VxPortline portline;
    SimDriver flagModel = SimDriver::halvorn(0x1, 0x485600000001ull, 1);
    SimDriver valueModel = SimDriver::halvorn(0x2, 0x485600000002ull, 2);
    valueModel.defineParameter(57, 0x03FF, 100); // the other model's 57 is a value
    valueModel.defineParameter(100, 0x00FF, 9);  // and it has a parameter the first lacks
    portline.line().addDriver(flagModel);
    const int valueChain = portline.line().addDriver(valueModel);
    portline.line().addChainedDriver(valueChain, SimDriver::halvorn(0x3, 0x485600000003ull));
    QVERIFY(portline.start());
    VxNetwork* network = portline.network();
    auto* cellOfOther = qobject_cast<VxDevice*>(network->createDevice(2, QStringLiteral("Skip 1 of 2")));
    cellOfOther->setSkipCount(1);
    VxDevice* valueDevice = searchedDevice(network, 2, QStringLiteral("Value model"));
    VxDevice* flagDevice = searchedDevice(network, 1, QStringLiteral("Flag model"));
    QVERIFY(valueDevice && flagDevice);
    QCOMPARE(foundParameters(valueDevice).size(), valueModel.parameterNumbers().size());
    QCOMPARE(foundParameters(flagDevice).size(), flagModel.parameterNumbers().size());
    QVERIFY(!foundParameters(flagDevice).contains(100));
    QVERIFY(foundParameters(cellOfOther).isEmpty());
    QVERIFY(foundParameters(network->broadcastDevice()).isEmpty());
    // A flag is written as 0xFFFF and the driver keeps its bit; a read-only parameter is never written.
    vx::VxParameter* flag = foundParameters(flagDevice).value(57);
    QCOMPARE(flag->type(), int(general::Parameter::BooleanType));
    portline.recorder().setRecordPackets(true);
    flag->setValue(1, true);
    QCOMPARE(flag->readState(), int(general::Parameter::ReadOk));
    QCOMPARE(portline.recorder().requests(0x02).first().mid(2, 8).toHex(' '), QByteArray("d0 0e 01 00 39 00 ff ff"));
    QCOMPARE(portline.line().driver(0)->parameterValue(57), quint16(0x20));
    QVERIFY(flag->update(true));
    QCOMPARE(flag->value(), 1);
    portline.recorder().clear();
    QVERIFY(foundParameters(flagDevice).value(150)->isReadOnly());
    foundParameters(flagDevice).value(150)->setValue(7, true);
    QVERIFY(portline.recorder().requests(0x02).isEmpty());

    vx::VxParameter* valueParam = foundParameters(valueDevice).value(57);
    QCOMPARE(valueParam->type(), int(general::Parameter::IntegerType));
    QCOMPARE(valueParam->maximum(), 1023);
    valueParam->setValue(300, true);
    QCOMPARE(portline.line().driver(1)->parameterValue(57), quint16(300));

    // The broadcast device's search (one answering driver at a time) stays its own.
    QSignalSpy searched(network->broadcastDevice(), &general::Device::parameterSearchFinished);
    {
        auto guard = portline.simDongle().lock();
        portline.line().removeChain(valueChain);
    }
    network->broadcastDevice()->triggerSearchParameters();
    QTRY_COMPARE_WITH_TIMEOUT(searched.size(), 1, TaskWaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(!foundParameters(network->broadcastDevice()).isEmpty(), WaitMs);
    QTest::qWait(100);
    QVERIFY(!foundParameters(flagDevice).contains(100));
    QVERIFY(foundParameters(cellOfOther).isEmpty());
}

void TestVxDiscovery::searchEndsWithTheFoundParametersInTheTree()
{
    VxPortline portline;
    const SimDriver model = SimDriver::halvorn(0x1, 0x485600000001ull, 1);
    portline.line().addDriver(model);
    QVERIFY(portline.start());
    auto* device = qobject_cast<VxDevice*>(portline.network()->createDevice(1, QStringLiteral("Driver")));

    // Run as a task runs it, outside the device's thread, while the
    // device's thread is still busy with something else: when the search
    // returns, every parameter it found must already be in the tree, so an
    // update started right after reads them.
    auto networkThreadBusy = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(
        device, [networkThreadBusy] { networkThreadBusy->acquire(); }, Qt::QueuedConnection);
    std::atomic<int> parametersWhenSearchReturned{-1};
    std::unique_ptr<QThread> task(QThread::create([device, &parametersWhenSearchReturned] {
        device->searchParameters();
        parametersWhenSearchReturned = foundParameters(device).size();
    }));
    task->start();
    task->wait(300);
    networkThreadBusy->release();
    QVERIFY(task->wait(TaskWaitMs));
    QCOMPARE(parametersWhenSearchReturned.load(), int(model.parameterNumbers().size()));
}

void TestVxDiscovery::toolParametersChangeTheAddressing()
{
    VxPortline portline;
    addChain(portline, 0x70, 7, 3);
    portline.line().addDriver(SimDriver::halvorn(0x80, 0x485600000080ull, 0x0102));
    QVERIFY(portline.start());
    auto* device = qobject_cast<VxDevice*>(portline.network()->createDevice(7, QStringLiteral("Driver")));
    general::Parameter* skip = device->toolGroup()->findParameter(VxDevice::SkipCountParameter);
    general::Parameter* lid = device->toolGroup()->findParameter(VxDevice::LidParameter);
    QVERIFY(skip && lid);
    portline.recorder().setRecordPackets(true);
    general::Parameter probe(device, 161, QStringLiteral("probe"), QString(), -1, -1, -1, false, false, 0);

    skip->setValue(3, true);
    QCOMPARE(device->skipCount(), quint16(3));
    QVERIFY(probe.update(true));
    QCOMPARE(portline.recorder().requests(0x02).last().mid(2, 4).toHex(' '), QByteArray("d0 85 03 07"));

    skip->setValue(0, true);
    lid->setValue(0x0102, true);
    QCOMPARE(device->address(), 0x0102u);
    QVERIFY(probe.update(true));
    QCOMPARE(probe.value(), 0x0102);
    QCOMPARE(portline.recorder().requests(0x02).last().mid(2, 4).toHex(' '), QByteArray("d0 0d 02 01"));

    // Beyond the bookkeeping numbers: 20482 reads without the bus, 25000 fails, 30000 goes to the driver.
    for (const auto& [number, readable] : {std::pair{20482u, true}, {25000u, false}, {30000u, true}}) {
        general::Parameter numbered(device, number, QStringLiteral("n"), QString(), -1, -1, -1, false, false, 0);
        bool ok = !readable;
        device->downloadParameter(&numbered, ok);
        QVERIFY2(ok == readable, qPrintable(QString::number(number)));
    }

    // A start address or channel count of 0 is ignored.
    device->setStartAddress(17);
    device->setChannelCount(4);
    device->setStartAddress(0);
    device->setChannelCount(0);
    QCOMPARE(device->startAddress(), quint16(17));
    QCOMPARE(device->channelCount(), 4);
}

void TestVxDiscovery::chorusSearchFromTheMenuAsksWithoutTraffic()
{
    VxPortline portline;
    portline.line().addRandomDrivers(2, 5);
    QVERIFY(portline.start());
    portline.recorder().setRecordPackets(true);
    VxNetwork* network = portline.network();
    test::RecordingMenuBuilder menu;
    network->populateMenu(menu);
    const auto& entries = menu.entries();
    QVERIFY(entries.size() >= 2);
    QCOMPARE(entries[entries.size() - 2].task, network->rdmSearch());
    auto* search = qobject_cast<vx::CHBinSearch*>(entries.back().task);
    QVERIFY(search);

    search->setTraceEnabled(false);
    QSignalSpy progress(search, qOverload<general::Task*, int, int>(&general::Task::taskProgress));
    QVERIFY(runTask(search));
    QCOMPARE(search->questionCount(), quint64(11));
    QCOMPARE(progress.size(), 10);
    QCOMPARE(progress.last().at(1).toInt(), 10);
    QCOMPARE(network->deviceCount(), 1);
    QVERIFY(portline.recorder().requests(0x02).isEmpty());
}

QTEST_MAIN(TestVxDiscovery)
#include "tst_vxdiscovery.moc"
