// The DMX network without a dongle: the set-point buffer, the network
// parameters, the devices with their chain addressing and their channels.
// (The frames on the line are tested with the Vx network, which sends them.)

#include "dmx/dmxchannel.h"
#include "dmx/dmxdevice.h"
#include "dmx/dmxnetwork.h"
#include "dmx/dmxsetpoint.h"
#include "general/input.h"
#include "general/iomanager.h"
#include "general/parameter.h"

#include <QMutex>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <cmath>
#include <limits>
#include <memory>

using namespace halvorn;
using dmx::DMXDevice;
using dmx::DMXNetwork;
using dmx::DMXSetpoint;

namespace {

constexpr int WaitMs = 5000;

// Everything queued to `object`'s thread before this call has been handled when it returns.
void drainQueue(QObject* object)
{
    if (object->thread() != QThread::currentThread())
        QMetaObject::invokeMethod(object, [] {}, Qt::BlockingQueuedConnection);
    QCoreApplication::processEvents();
}

std::unique_ptr<DMXNetwork> initializedNetwork()
{
    auto network = std::make_unique<DMXNetwork>();
    network->emitNetworkCreated();
    if (!QTest::qWaitFor([&] { return network->findParameter(DMXNetwork::UpdateRateParameter) != nullptr; }, WaitMs))
        return nullptr;
    drainQueue(network.get());
    return network;
}

QList<int> ranges(const QList<DMXDevice*>& devices)
{
    QList<int> list;
    for (const DMXDevice* device : devices)
        list << device->startAddress() << device->endAddress();
    return list;
}

QList<DMXDevice*> chainFrom(DMXDevice* first)
{
    QList<DMXDevice*> chain;
    for (DMXDevice* d = first; d && chain.size() < 100; d = d->outputDevice())
        chain.append(d);
    return chain;
}

} // namespace

class TestDmx : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void bufferWrites_data();
    void bufferWrites();
    void setChannelCountZeroesAndAnnounces();
    void inputValueToByte_data();
    void inputValueToByte();
    void networkParameters_data();
    void networkParameters();
    void initCreatesParametersAndInputs();
    void chainLayouts_data();
    void chainLayouts();
    void movingTheHeadOfAnAutoChainMovesEveryDevice();
    void chainsNeverCloseALoop();
    void sixteenBitChannelWritesHighByteFirst();
    void channelReactsOnlyToItsAddresses_data();
    void channelReactsOnlyToItsAddresses();
    void channelCountZeroDeletesTheChannels();
    void onlyUniverseZeroHasABuffer();
};

void TestDmx::bufferWrites_data()
{
    QTest::addColumn<bool>("word");
    QTest::addColumn<int>("address");
    QTest::addColumn<QList<int>>("announced");
    QTest::addColumn<QList<int>>("stored"); // at the announced addresses
    //                                      word    address  announced           stored
    QTest::newRow("word at 10, high first") << true  << 10    << QList<int>{10, 11} << QList<int>{0xAB, 0xCD};
    QTest::newRow("word at 512")            << true  << 512   << QList<int>{512}    << QList<int>{0xAB};
    QTest::newRow("word at 0")              << true  << 0     << QList<int>{1}      << QList<int>{0xCD};
    QTest::newRow("word at 65535")          << true  << 65535 << QList<int>{}       << QList<int>{};
    QTest::newRow("byte at 0")              << false << 0     << QList<int>{}       << QList<int>{};
    QTest::newRow("byte at 513")            << false << 513   << QList<int>{}       << QList<int>{};
    QTest::newRow("byte at 65535")          << false << 65535 << QList<int>{}       << QList<int>{};
}

void TestDmx::bufferWrites()
{
    QFETCH(bool, word);
    QFETCH(int, address);
    QFETCH(QList<int>, announced);
    QFETCH(QList<int>, stored);
    DMXSetpoint buffer(0);
    QSignalSpy changed(&buffer, &DMXSetpoint::byteChanged);
    if (word)
        buffer.setWord(quint16(address), 0xABCD);
    else
        buffer.setByte(quint16(address), 0xAB);
    QList<int> addresses;
    for (const QList<QVariant>& signal : std::as_const(changed)) {
        QCOMPARE(signal.at(0).toInt(), 0); // the universe
        addresses.append(signal.at(1).toInt());
    }
    QCOMPARE(addresses, announced);
    // Nothing but the announced slots changed.
    QByteArray expected(DMXSetpoint::SlotCount, '\0');
    for (int i = 0; i < announced.size(); ++i)
        expected[announced[i] - 1] = char(stored[i]);
    QCOMPARE(buffer.data().toHex(), expected.toHex());
    if (address < 1 || address > 512)
        QCOMPARE(buffer.getByte(quint16(address)), quint8(0));
}

void TestDmx::setChannelCountZeroesAndAnnounces()
{
    DMXSetpoint buffer(0);
    for (int address = 1; address <= 512; ++address)
        buffer.setByte(quint16(address), 0x55);
    QSignalSpy changed(&buffer, &DMXSetpoint::byteChanged);
    buffer.setChannelCount(100);
    QCOMPARE(buffer.channelCount(), quint16(100));
    QCOMPARE(changed.size(), 100);
    QCOMPARE(changed.first().at(1).toInt(), 1);
    QCOMPARE(changed.last().at(1).toInt(), 100);
    QCOMPARE(buffer.getByte(100), quint8(0));
    QCOMPARE(buffer.getByte(101), quint8(0x55));
    QCOMPARE(buffer.getByte(512), quint8(0x55));

    changed.clear();
    buffer.update();
    QCOMPARE(changed.size(), 100);
    buffer.setChannelCount(1000);
    QCOMPARE(buffer.channelCount(), quint16(512));
}

void TestDmx::inputValueToByte_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("expected");
    QTest::newRow("full")                          << 1.0   << 7   << 255;
    QTest::newRow("half truncates")                << 0.5   << 7   << 127;
    QTest::newRow("zero")                          << 0.0   << 7   << 0;
    QTest::newRow("almost full")                   << 0.999 << 7   << 254;
    QTest::newRow("above full keeps the low byte") << 1.5   << 7   << 126;
    QTest::newRow("negative keeps the low byte")   << -0.5  << 7   << 0x81;
    QTest::newRow("not a number is ignored")       << std::numeric_limits<double>::quiet_NaN() << 7 << 0x11;
    QTest::newRow("index 0 is ignored")            << 1.0   << 0   << 0x11;
    QTest::newRow("index 513 is ignored")          << 1.0   << 513 << 0x11;
    QTest::newRow("last address")                  << 1.0   << 512 << 255;
}

void TestDmx::inputValueToByte()
{
    QFETCH(double, value);
    QFETCH(int, index);
    QFETCH(int, expected);
    DMXSetpoint buffer(0);
    const int checked = index >= 1 && index <= 512 ? index : 7;
    buffer.setByte(quint16(checked), 0x11);
    general::Input input;
    input.setIndex(index);
    input.setValue(value);
    buffer.inputValueChanged(&input);
    QCOMPARE(int(buffer.getByte(quint16(checked))), expected);
}

void TestDmx::networkParameters_data()
{
    QTest::addColumn<uint>("number");
    QTest::addColumn<int>("written");
    QTest::addColumn<bool>("writeOk");
    QTest::addColumn<int>("readBack");
    //                                         number  written  ok     read back
    QTest::newRow("11001 channel count")     << 11001u << 100   << true  << 100;
    QTest::newRow("11001 above 512")         << 11001u << 600   << true  << 512;
    QTest::newRow("11002 chorus output on")  << 11002u << 5     << true  << 1;
    QTest::newRow("11002 chorus output off") << 11002u << 0     << true  << 0;
    QTest::newRow("11003 low 8 bits")        << 11003u << 0x1F3 << true  << 0xF3;
    QTest::newRow("11004 low 8 bits")        << 11004u << 0x107 << true  << 0x07;
    QTest::newRow("11005 on")                << 11005u << 1     << true  << 1;
    QTest::newRow("11005 other values stop") << 11005u << 2     << true  << 0;
    QTest::newRow("11006 interval")          << 11006u << 20    << true  << 20;
    QTest::newRow("11006 zero is refused")   << 11006u << 0     << false << 50;
    QTest::newRow("10500 is nobody's")       << 10500u << 1     << false << -1;
    QTest::newRow("100003 goes to the base") << 100003u << 4    << true  << 4;
}

void TestDmx::networkParameters()
{
    QFETCH(uint, number);
    QFETCH(int, written);
    QFETCH(bool, writeOk);
    QFETCH(int, readBack);
    DMXNetwork network;
    // A parameter of that number without a range, as a definition file would make it.
    general::Parameter param(&network, number, QStringLiteral("p"), QString(), -1, -1, written, false, false, 0);
    bool ok = !writeOk;
    network.uploadParameter(&param, ok);
    QCOMPARE(ok, writeOk);
    const uint value = network.downloadParameter(&param, ok);
    QCOMPARE(ok, readBack >= 0);
    if (readBack >= 0)
        QCOMPARE(int(value), readBack);
}

void TestDmx::initCreatesParametersAndInputs()
{
    std::unique_ptr<DMXNetwork> network = initializedNetwork();
    QVERIFY(network);
    QCOMPARE(network->findParameter(DMXNetwork::UpdateRateParameter)->value(), 50); // ms between frames
    // Input 512 drives slot 512 of the buffer in the output thread.
    auto* input = qobject_cast<general::Input*>(network->ioManager()->child(511));
    QVERIFY(input);
    input->setValue(0.5);
    QTRY_COMPARE_WITH_TIMEOUT(int(network->getSetpoint()->getByte(512)), 127, WaitMs);
}

void TestDmx::chainLayouts_data()
{
    QTest::addColumn<dmx::DMXDaisyChainMode>("mode");
    QTest::addColumn<int>("resolution");
    QTest::addColumn<QList<int>>("layout");
    //                                mode                        resolution                         start-end of three devices
    QTest::newRow("auto")          << dmx::DaisyChainAuto       << int(DMXDevice::Resolution8Bits)  << QList<int>{10, 12, 13, 15, 16, 18};
    QTest::newRow("forwarding")    << dmx::DaisyChainForwarding << int(DMXDevice::Resolution8Bits)  << QList<int>{10, 12, 19, 21, 28, 30};
    QTest::newRow("manual")        << dmx::DaisyChainManual     << int(DMXDevice::Resolution8Bits)  << QList<int>{10, 12, 19, 21, 28, 30};
    QTest::newRow("cluster")       << dmx::DaisyChainCluster    << int(DMXDevice::Resolution8Bits)  << QList<int>{10, 12, 10, 12, 10, 12};
    QTest::newRow("auto 16 bits")  << dmx::DaisyChainAuto       << int(DMXDevice::Resolution16Bits) << QList<int>{10, 15, 16, 21, 22, 27};
}

void TestDmx::chainLayouts()
{
    QFETCH(dmx::DMXDaisyChainMode, mode);
    QFETCH(int, resolution);
    QFETCH(QList<int>, layout);
    std::unique_ptr<DMXNetwork> network = initializedNetwork();
    QVERIFY(network);
    DMXDevice* first = network->createDeviceString(3, 0, 10, 3, DMXDevice::DMXNetworkResolution(resolution), mode);
    QVERIFY(first);
    const QList<DMXDevice*> chain = chainFrom(first);
    QCOMPARE(chain.size(), 3);
    drainQueue(network.get());
    QCOMPARE(ranges(chain), layout);
    QCOMPARE(chain.last()->channelCount(), 3);
    QCOMPARE(network->deviceCount(), 3);
    QCOMPARE(first->daisyChildCount(), 2);

    // Appending a string behind the last device continues the chain.
    DMXDevice* appended = network->appendDeviceString(chain.last(), 1, 0, 40, 2, DMXDevice::Resolution8Bits, dmx::DaisyChainAuto);
    QCOMPARE(appended->inputDevice(), chain.last());
    QCOMPARE(first->daisyChildCount(), 3);
    QVERIFY(!network->createDeviceString(0, 0, 1, 1, DMXDevice::Resolution8Bits, dmx::DaisyChainAuto));
}

void TestDmx::movingTheHeadOfAnAutoChainMovesEveryDevice()
{
    std::unique_ptr<DMXNetwork> network = initializedNetwork();
    QVERIFY(network);
    QList<DMXDevice*> chain;
    for (int i = 0; i < 3; ++i)
        chain.append(network->createDeviceString(1, 0, 1, 3, DMXDevice::Resolution8Bits, dmx::DaisyChainAuto));

    // Observers connected before the chain is linked see the announcements in chain order.
    QMutex mutex;
    QList<QPair<int, int>> announced; // device index, start address
    for (int i = 0; i < chain.size(); ++i) {
        connect(chain[i], &DMXDevice::dmxAddressRangeChanged, chain[i], [&, i](unsigned short start, unsigned short) {
            QMutexLocker lock(&mutex);
            announced.append({i, start});
        }, Qt::DirectConnection);
    }
    chain[0]->setOutputDevice(chain[1]);
    chain[1]->setOutputDevice(chain[2]);
    drainQueue(network.get());
    QCOMPARE(ranges(chain), (QList<int>{1, 3, 4, 6, 7, 9}));
    {
        QMutexLocker lock(&mutex);
        announced.clear();
    }

    chain[0]->setStartAddress(21);
    QTRY_COMPARE_WITH_TIMEOUT([&] { QMutexLocker lock(&mutex); return announced.size(); }(), 3, WaitMs);
    drainQueue(network.get());
    QMutexLocker lock(&mutex);
    QCOMPARE(announced, (QList<QPair<int, int>>{{0, 21}, {1, 24}, {2, 27}}));
    QCOMPARE(ranges(chain), (QList<int>{21, 23, 24, 26, 27, 29}));
}

void TestDmx::chainsNeverCloseALoop()
{
    std::unique_ptr<DMXNetwork> network = initializedNetwork();
    QVERIFY(network);
    DMXDevice* a = network->createDeviceString(3, 0, 1, 2, DMXDevice::Resolution8Bits, dmx::DaisyChainAuto);
    const QList<DMXDevice*> chain = chainFrom(a);
    QVERIFY(!chain[2]->setOutputDevice(a));
    QVERIFY(!chain[1]->setOutputDevice(a));
    QVERIFY(!a->setOutputDevice(a));
    QCOMPARE(chainFrom(a).size(), 3);
    QCOMPARE(chain[2]->endAddress(), quint16(6));

    // Moving a device to the front of another chain takes it out of the old one.
    QVERIFY(chain[2]->setOutputDevice(nullptr));
    QVERIFY(a->setOutputDevice(chain[2]));
    QVERIFY(!chain[1]->outputDevice());
    QCOMPARE(chain[2]->inputDevice(), a);
    QVERIFY(!chain[1]->inputDevice());
    QCOMPARE(chain[1]->startAddress(), quint16(1));
}

void TestDmx::sixteenBitChannelWritesHighByteFirst()
{
    std::unique_ptr<DMXNetwork> network = initializedNetwork();
    QVERIFY(network);
    DMXDevice* device = network->createDeviceString(1, 0, 1, 4, DMXDevice::Resolution16Bits, dmx::DaisyChainAuto);
    QCOMPARE(device->endAddress(), quint16(8));
    QCOMPARE(device->channelStartAddress(2), quint16(5));
    QCOMPARE(device->channelEndAddress(2), quint16(6));
    auto* channel = qobject_cast<dmx::DMXChannel*>(device->channel(2));
    QVERIFY(channel);
    drainQueue(channel);
    QCOMPARE(channel->maximum(), 65535);

    channel->setLevel(0x1234);
    DMXSetpoint* buffer = network->getSetpoint();
    QCOMPARE(buffer->getByte(5), quint8(0x12));
    QCOMPARE(buffer->getByte(6), quint8(0x34));
    QCOMPARE(channel->level(), 0x1234);
    channel->setLevel(70000);
    QCOMPARE(buffer->getWord(5), quint16(0xFFFF));

    device->setNetworkResolution(DMXDevice::Resolution8Bits);
    drainQueue(channel);
    QCOMPARE(channel->maximum(), 255);
    QCOMPARE(device->channelStartAddress(2), quint16(3));
    channel->setLevel(300);
    QCOMPARE(buffer->getByte(3), quint8(255));
}

void TestDmx::channelReactsOnlyToItsAddresses_data()
{
    QTest::addColumn<int>("resolution");
    QTest::addColumn<QList<bool>>("reacts"); // to a write at 4, 5, 6, 7 (the channel starts at 5)
    QTest::newRow("8 bits")  << int(DMXDevice::Resolution8Bits)  << QList<bool>{false, true, false, false};
    QTest::newRow("16 bits") << int(DMXDevice::Resolution16Bits) << QList<bool>{false, true, true, false};
}

void TestDmx::channelReactsOnlyToItsAddresses()
{
    QFETCH(int, resolution);
    QFETCH(QList<bool>, reacts);
    std::unique_ptr<DMXNetwork> network = initializedNetwork();
    QVERIFY(network);
    DMXDevice* device = network->createDeviceString(1, 0, 5, 1, DMXDevice::DMXNetworkResolution(resolution), dmx::DaisyChainAuto);
    dmx::DMXChannel* channel = qobject_cast<dmx::DMXChannel*>(device->channel(0));
    drainQueue(channel);
    for (int address = 4; address <= 7; ++address) {
        QSignalSpy changed(channel, &general::Channel::channelChanged);
        network->getSetpoint()->setByte(quint16(address), 9);
        drainQueue(channel);
        QVERIFY2(changed.size() == (reacts[address - 4] ? 1 : 0), qPrintable(QString::number(address)));
    }
}

void TestDmx::channelCountZeroDeletesTheChannels()
{
    std::unique_ptr<DMXNetwork> network = initializedNetwork();
    QVERIFY(network);
    DMXDevice* device = network->createDeviceString(1, 0, 10, 3, DMXDevice::Resolution8Bits, dmx::DaisyChainAuto);
    QList<QPointer<general::Channel>> channels;
    for (int i = 0; i < 3; ++i)
        channels.append(device->channel(i));
    QSignalSpy counted(device, qOverload<uint>(&DMXDevice::channelCountChanged));
    QSignalSpy range(device, &DMXDevice::dmxAddressRangeChanged);
    device->setChannelCount(0);
    QCOMPARE(device->channelCount(), 0);
    QCOMPARE(device->endAddress(), quint16(9));
    QCOMPARE(counted.size(), 1);
    QCOMPARE(range.size(), 1);
    for (const QPointer<general::Channel>& channel : channels)
        QTRY_VERIFY_WITH_TIMEOUT(channel.isNull(), WaitMs);
    device->setChannelCount(300);
    QCOMPARE(device->channelCount(), 255);
}

void TestDmx::onlyUniverseZeroHasABuffer()
{
    std::unique_ptr<DMXNetwork> network = initializedNetwork();
    QVERIFY(network);
    QCOMPARE(network->setpointCount(), 1);
    QCOMPARE(network->getSetpoint(), network->getSetpoint(0));
    QVERIFY(!network->getSetpoint(1));
    QVERIFY(!network->getSetpoint(65535));
    QCOMPARE(network->getSetpoint()->thread(), network->outputThread());

    // A device in universe 3 neither reads nor writes universe 0's buffer.
    DMXDevice* device = network->createDeviceString(1, 3, 1, 2, DMXDevice::Resolution8Bits, dmx::DaisyChainAuto);
    QCOMPARE(device->universe(), quint8(3));
    general::Channel* channel = device->channel(0);
    network->getSetpoint()->setByte(1, 77);
    QCOMPARE(channel->level(), 0);
    channel->setLevel(50);
    QCOMPARE(network->getSetpoint()->getByte(1), quint8(77));

    device->setUniverse(0);
    drainQueue(channel);
    QCOMPARE(channel->level(), 77);
    channel->setLevel(50);
    QCOMPARE(network->getSetpoint()->getByte(1), quint8(50));
}

QTEST_GUILESS_MAIN(TestDmx)
#include "tst_dmx.moc"
