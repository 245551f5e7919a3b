// The virtual Portline itself: the firmware's parameter memory and packet
// routing, DMX frame assembly from set-point blocks, plugging, the USB
// behaviour of handles, fault injection, latency and the installation file.

#include "tests/support/testthreads.h"

#include "sim/simdalibus.h"
#include "sim/simdmxline.h"
#include "sim/simdongle.h"
#include "sim/simfault.h"
#include "sim/siminstallation.h"
#include "sim/simkeymarkport.h"
#include "sim/simtag.h"
#include "sim/virtualportline.h"

#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

using namespace halvorn;
using sim::SimDongle;
using sim::SimFault;
using sim::SimInstallation;
using sim::VirtualPortline;
using usb::UsbDevice;
using usb::UsbHandle;

Q_DECLARE_METATYPE(halvorn::sim::SimFault)

namespace {

QByteArray bytes(std::initializer_list<int> values)
{
    QByteArray out;
    for (int value : values)
        out.append(char(value));
    return out;
}

QByteArray packet(std::initializer_list<int> values, int length = 64)
{
    QByteArray out = bytes(values);
    out.resize(std::max<int>(length, int(out.size())), '\0');
    return out;
}

const QByteArray VersionRead = packet({0x0D, 0, 0});
const QByteArray VersionReply = bytes({0x8D, 0, 0, 0, 5});

// A Chorus frame with its checksum.
QByteArray chorus(int command, int address, int number, int value = 0)
{
    QByteArray frame = bytes({0xD0, command, address & 0xFF, address >> 8, number & 0xFF, number >> 8,
                              value & 0xFF, value >> 8});
    int sum = 0;
    for (char byte : frame)
        sum += quint8(byte);
    return frame.append(char(sum & 0xFF));
}

// The set-point blocks of one frame, in the order the tool sends them.
QList<QByteArray> setpointBlocks(const QByteArray& levels, bool chorusOutput = false, quint8 mode = 0)
{
    const int n = int(levels.size());
    const auto block = [&](int i) {
        QByteArray out = packet({0x03, n & 0xFF, ((n >> 8) & 0x0F) | ((i << 4) & 0xF0)});
        const QByteArray data = levels.mid(60 * i, 60);
        std::copy(data.begin(), data.end(), out.begin() + 4);
        return out;
    };
    QList<QByteArray> blocks;
    for (int i = 1; n > 60 && i <= n / 60; ++i)
        blocks.append(block(i));
    QByteArray first = block(0);
    if (chorusOutput) {
        first[2] = char(quint8(first[2]) | 0x10);
        first[3] = char(mode);
    }
    return blocks << first;
}

QByteArray levelsOf(int count)
{
    QByteArray levels(count, '\0');
    for (int i = 0; i < count; ++i)
        levels[i] = char((i * 7 + 3) & 0xFF);
    return levels;
}

void sendFrame(SimDongle& dongle, const QList<QByteArray>& blocks)
{
    for (const QByteArray& block : blocks)
        dongle.process(block);
}

// An opened, claimed handle on the first device of the list.
UsbHandle openFirst(VirtualPortline& portline)
{
    QList<UsbDevice> devices;
    UsbHandle handle = nullptr;
    if (portline.getDeviceList(devices) < 1 || portline.open(devices.first(), handle) != usb::UsbSuccess)
        return nullptr;
    portline.claimInterface(handle, 0);
    return handle;
}

struct Exchange {
    int outResult = 0;
    int inResult = 0;
    QByteArray reply;
    bool failed() const { return outResult != 0 || inResult != 0; }
};

Exchange exchange(VirtualPortline& portline, UsbHandle handle, QByteArray request = VersionRead, int capacity = 64)
{
    Exchange result;
    int transferred = 0;
    result.outResult = portline.bulkTransfer(handle, 0x01, reinterpret_cast<unsigned char*>(request.data()),
                                             int(request.size()), &transferred, 500);
    unsigned char buffer[256] = {};
    result.inResult = portline.bulkTransfer(handle, 0x81, buffer, capacity, &transferred, 500);
    result.reply = QByteArray(reinterpret_cast<const char*>(buffer), transferred);
    return result;
}

// A portline with one dongle, opened; faults time out at once.
struct OpenPortline {
    VirtualPortline portline;
    std::shared_ptr<SimDongle> dongle;
    UsbHandle handle = nullptr;

    explicit OpenPortline(const SimFault* fault = nullptr)
    {
        portline.setTimeoutWaitMs(1);
        dongle = portline.plug();
        if (fault)
            dongle->injectFault(*fault);
        handle = openFirst(portline);
    }
    Exchange run(const QByteArray& request = VersionRead, int capacity = 64)
    {
        return exchange(portline, handle, request, capacity);
    }
};

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& text)
{
    QString path = dir.filePath(name);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size())
        qWarning("cannot write %s", qPrintable(path));
    return path;
}

} // namespace

class TestVirtualPortline : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parameterPackets_data()
    {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("reply");
        //                                     request                        reply
        QTest::newRow("read version")      << VersionRead                  << VersionReply;
        QTest::newRow("read unknown")      << packet({0x0D, 0x12, 0x34})   << bytes({0x8D, 0x12, 0x34, 0, 0});
        QTest::newRow("write mode")        << packet({0x0E, 0, 12, 1, 2})  << bytes({0x8E, 0, 12, 1, 2});
        QTest::newRow("short read")        << bytes({0x0D, 0})             << QByteArray();
        QTest::newRow("short write")       << bytes({0x0E, 0, 12, 1})      << QByteArray();
        QTest::newRow("unknown code")      << packet({0x55, 0, 0})         << QByteArray();
        QTest::newRow("empty")             << QByteArray()                 << QByteArray();
        QTest::newRow("set-point ack")     << packet({0x03, 0, 0, 0})      << bytes({0x83, 0});
        QTest::newRow("truncated command") << bytes({0x02, 9, 0xD0, 0x0D}) << QByteArray();
        QTest::newRow("set-point header cut short") << bytes({0x03, 0xFF}) << QByteArray();
    }

    void parameterPackets()
    {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, reply);
        SimDongle dongle(5, 0x007F);
        QCOMPARE(dongle.process(request), reply);
        QCOMPARE(dongle.dmxLine().commandFrameCount(), 0);
    }

    void parameterMemoryKeepsWritesAndProtectsReadOnlyWords()
    {
        SimDongle dongle(5, 0x007F);
        dongle.process(packet({0x0E, 0, 12, 0xAB, 0xCD}));
        QCOMPARE(dongle.process(packet({0x0D, 0, 12})), bytes({0x8D, 0, 12, 0xAB, 0xCD}));
        for (int readOnly : {0, 1, 2, 3, 4}) {
            const QByteArray before = dongle.process(packet({0x0D, 0, readOnly}));
            dongle.process(packet({0x0E, 0, readOnly, 0x12, 0x34}));
            QCOMPARE(dongle.process(packet({0x0D, 0, readOnly})), before);
        }

        // The status flags show the DALI supply, the dongle's own or another.
        const auto supplied = [&dongle] { return dongle.process(packet({0x0D, 0, 4})).at(4) & 0x01; };
        QCOMPARE(supplied(), 0);
        dongle.process(packet({0x0E, 0, 8, 0, 1})); // bus power on
        QCOMPARE(supplied(), 1);
        dongle.powerUp(); // plugging in switches the dongle's own supply off
        QCOMPARE(dongle.parameter(SimDongle::ConfigurationFlagsAddress), quint16(0));
        QCOMPARE(supplied(), 0);
        dongle.daliBus().setExternalSupply(true);
        QCOMPARE(supplied(), 1);
    }

    void commandFramesAreRouted_data()
    {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<quint16>("capabilities");
        QTest::addColumn<bool>("toDmxLine");
        //                                     frame                            capabilities      DMX line?
        QTest::newRow("tag read 16-bit")    << chorus(0x0D, 0, 0x0A80)         << quint16(0x007F) << false;
        QTest::newRow("last tag number")    << chorus(0x0D, 0, 0x0BFF)         << quint16(0x007F) << false;
        QTest::newRow("below tag range")    << chorus(0x0D, 0, 0x09FF)         << quint16(0x007F) << true;
        QTest::newRow("above tag range")    << chorus(0x0D, 0, 0x0C00)         << quint16(0x007F) << true;
        QTest::newRow("driver address 1")   << chorus(0x0D, 1, 0x0A80)         << quint16(0x007F) << true;
        QTest::newRow("find-next command")  << chorus(0x1D, 0, 0x0A80)         << quint16(0x007F) << true;
        QTest::newRow("skip read")          << chorus(0x85, 0, 0x0A80)         << quint16(0x007F) << true;
        QTest::newRow("short frame")        << chorus(0x0D, 0, 0x0A80).left(8) << quint16(0x007F) << true;
        QTest::newRow("RDM request")        << packet({0xCC, 0x01, 24}, 26)    << quint16(0x007F) << true;
        QTest::newRow("no Keymark port")    << chorus(0x0D, 0, 0x0A80)         << quint16(0x001F) << true;
    }

    void commandFramesAreRouted()
    {
        QFETCH(QByteArray, frame);
        QFETCH(quint16, capabilities);
        QFETCH(bool, toDmxLine);
        SimDongle dongle(5, capabilities);
        const QByteArray reply = dongle.process(bytes({0x02, int(frame.size())}) + frame);
        QCOMPARE(dongle.dmxLine().commandFrameCount(), toDmxLine ? 1 : 0);
        QCOMPARE(dongle.keymarkPort().frameCount(), toDmxLine ? 0 : 1);
        if (toDmxLine)
            QCOMPARE(dongle.dmxLine().lastCommandFrame(), frame);
        // 0x82, status, answer length, answer: never more than a packet.
        QVERIFY(reply.size() >= 3 && reply.size() <= 64);
        QCOMPARE(quint8(reply.at(0)), quint8(0x82));
        QCOMPARE(int(quint8(reply.at(2))), int(reply.size()) - 3);
    }

    void daliCodesNeedTheDaliCapability()
    {
        SimDongle withDali(5, 0x007F);
        QCOMPARE(withDali.process(bytes({0x0A, 0, 0xFE, 0x80, 0})).left(1), bytes({0x8A}));
        QCOMPARE(withDali.daliForwardFrames(), QList<quint16>{0xFE80});
        SimDongle withoutDali(5, 0x0003);
        QCOMPARE(withoutDali.process(bytes({0x0A, 0, 0xFE, 0x80, 0})), QByteArray());
    }

    void setpointBlocksMakeFrames_data()
    {
        QTest::addColumn<int>("slotCount");
        QTest::addColumn<bool>("chorusOutput");
        QTest::addColumn<int>("mode");
        QTest::newRow("512, Chorus 0x21")  << 512 << true  << 0x21;
        QTest::newRow("60, one block")     << 60  << false << 0;
        QTest::newRow("61, two blocks")    << 61  << false << 0;
        QTest::newRow("120, three blocks") << 120 << true  << 0x13;
        QTest::newRow("1 slot")            << 1   << false << 0;
    }

    void setpointBlocksMakeFrames()
    {
        QFETCH(int, slotCount);
        QFETCH(bool, chorusOutput);
        QFETCH(int, mode);
        SimDongle dongle(5, 0x007F);
        const QByteArray levels = levelsOf(slotCount);
        for (int frame = 0; frame < 2; ++frame) {
            for (const QByteArray& block : setpointBlocks(levels, chorusOutput, quint8(mode)))
                QCOMPARE(dongle.process(block), bytes({0x83, 0}));
        }
        QCOMPARE(dongle.dmxFrameCount(), 2);
        QCOMPARE(dongle.lastDmxFrame(), levels);
        QCOMPARE(dongle.dmxLine().lastFrameChorusOutput(), chorusOutput);
        QCOMPARE(int(dongle.dmxLine().lastFrameChorusMode()), chorusOutput ? mode : 0);
    }

    void lostBlocksAndOversizedFrames()
    {
        SimDongle dongle(5, 0x007F);
        QList<QByteArray> blocks = setpointBlocks(levelsOf(512));
        blocks.removeAt(3);
        sendFrame(dongle, blocks); // a lost block drops only its frame
        QCOMPARE(dongle.dmxFrameCount(), 0);
        const QByteArray levels = levelsOf(900); // blocks 1 … 15, the most a header can number
        sendFrame(dongle, setpointBlocks(levels));
        QCOMPARE(dongle.dmxFrameCount(), 1);
        QCOMPARE(dongle.lastDmxFrame(), levels.left(512));
        sendFrame(dongle, setpointBlocks(levelsOf(4095))); // block numbers wrap
        QVERIFY(dongle.lastDmxFrame().size() <= 512);
    }

    void plugAndUnplugChangeTheBus()
    {
        VirtualPortline portline;
        auto dongle = portline.plug();
        QList<UsbDevice> devices;
        QCOMPARE(portline.getDeviceList(devices), 1);
        const UsbDevice firstDevice = devices.first();
        UsbHandle handle = openFirst(portline);
        QVERIFY(handle);
        QCOMPARE(portline.deviceOf(handle), firstDevice);
        QCOMPARE(exchange(portline, handle).reply, VersionReply);

        QVERIFY(portline.unplug(dongle));
        QVERIFY(!portline.unplug(dongle));
        QCOMPARE(portline.getDeviceList(devices), 0);
        const Exchange gone = exchange(portline, handle);
        QCOMPARE(gone.outResult, int(usb::UsbErrorNoDevice));
        QCOMPARE(gone.inResult, int(usb::UsbErrorNoDevice));
        QCOMPARE(portline.claimInterface(handle, 0), int(usb::UsbErrorNoDevice));
        QCOMPARE(portline.resetDevice(handle), int(usb::UsbErrorNoDevice));

        portline.plug(dongle);
        QCOMPARE(portline.getDeviceList(devices), 1);
        QVERIFY(devices.first() != firstDevice); // a new USB device
        QCOMPARE(exchange(portline, handle).outResult, int(usb::UsbErrorNoDevice));
        portline.close(handle);
        QCOMPARE(exchange(portline, openFirst(portline)).reply, VersionReply);
        QCOMPARE(portline.openHandleCount(), 1);
    }

    void unplugEndsAWaitingTransfer()
    {
        VirtualPortline portline; // full time-outs
        auto dongle = portline.plug();
        UsbHandle handle = openFirst(portline);
        std::atomic<int> result{1};
        test::ThreadGroup reader(1, [&](int) {
            unsigned char buffer[64];
            int transferred = 0;
            result = portline.bulkTransfer(handle, 0x81, buffer, 64, &transferred, 30000);
        });
        QTRY_COMPARE_WITH_TIMEOUT(dongle->transferCount(SimFault::In), 1, 5000);
        portline.unplug(dongle);
        QVERIFY(reader.join(5000));
        QCOMPARE(result.load(), int(usb::UsbErrorNoDevice));
    }

    void faultSchedules_data()
    {
        QTest::addColumn<SimFault>("fault");
        QTest::addColumn<QList<bool>>("fails"); // per exchange, reading parameters 0 and 37 in turn
        QTest::newRow("next 2")             << SimFault::timeout().next(2)
                                            << QList<bool>{true, true, false, false, false, false};
        QTest::newRow("every 3rd")          << SimFault::stall().everyNth(3)
                                            << QList<bool>{false, false, true, false, false, true};
        QTest::newRow("version reads only") << SimFault::timeout().forCode(0x0D).forParameter(0)
                                            << QList<bool>{true, false, true, false, true, false};
        QTest::newRow("writes only")        << SimFault::stall(SimFault::Out).forCode(0x0E)
                                            << QList<bool>{false, false, false, false, false, false};
    }

    void faultSchedules()
    {
        QFETCH(SimFault, fault);
        QFETCH(QList<bool>, fails);
        OpenPortline open(&fault);
        for (int i = 0; i < fails.size(); ++i)
            QVERIFY2(open.run(packet({0x0D, 0, i % 2 == 0 ? 0 : 37})).failed() == fails.at(i), qPrintable(QString::number(i)));
    }

    void replyFaults_data()
    {
        QTest::addColumn<SimFault>("fault");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("inResult");
        QTest::addColumn<QByteArray>("reply");
        const int overflow = usb::UsbErrorOverflow;
        //                               fault                 capacity  IN result  reply received
        QTest::newRow("cut to 1")     << SimFault::reply(1)  << 64 << 0        << bytes({0x8D});
        QTest::newRow("cut to 0")     << SimFault::reply(0)  << 64 << 0        << QByteArray();
        QTest::newRow("padded to 7")  << SimFault::reply(7)  << 64 << 0        << VersionReply + bytes({0xEE, 0xEE});
        QTest::newRow("too long")     << SimFault::reply(70) << 64 << overflow << VersionReply + QByteArray(59, char(0xEE));
        QTest::newRow("small buffer") << SimFault::reply(5)  << 3  << overflow << bytes({0x8D, 0, 0});
        QTest::newRow("garbled")      << SimFault::garbled() << 64 << 0        << bytes({0x8D ^ 0xA5, 0xA5, 0xA5, 0xA5, 5 ^ 0xA5});
        QTest::newRow("stalled")      << SimFault::stall()   << 64 << int(usb::UsbErrorPipe)    << QByteArray();
        QTest::newRow("timed out")    << SimFault::timeout() << 64 << int(usb::UsbErrorTimeout) << QByteArray();
        QTest::newRow("I/O error")    << SimFault::error(usb::UsbErrorIo, SimFault::In) << 64 << int(usb::UsbErrorIo) << QByteArray();
    }

    void replyFaults()
    {
        QFETCH(SimFault, fault);
        QFETCH(int, capacity);
        QFETCH(int, inResult);
        QFETCH(QByteArray, reply);
        const SimFault once = fault.next(1);
        OpenPortline open(&once);
        const Exchange result = open.run(VersionRead, capacity);
        QCOMPARE(result.outResult, 0);
        QCOMPARE(result.inResult, inResult);
        QCOMPARE(result.reply, reply);
        QCOMPARE(open.run().reply, VersionReply); // the fault was used up
    }

    void unplugFaultPullsTheDongleMidExchange()
    {
        const SimFault unplug = SimFault::unplug(SimFault::In).forCode(0x0D).forParameter(8);
        OpenPortline open(&unplug);
        QCOMPARE(open.run(packet({0x0D, 0, 4})).inResult, 0);
        QCOMPARE(open.run(packet({0x0D, 0, 8})).inResult, int(usb::UsbErrorNoDevice));
        QVERIFY(!open.portline.isPlugged(open.dongle));
    }

    void unclaimedHandlesTransferNothing()
    {
        // Open and claim results themselves are seen through the USB handler's tests.
        VirtualPortline portline;
        portline.plug();
        QList<UsbDevice> devices;
        portline.getDeviceList(devices);
        UsbHandle handle = nullptr;
        QCOMPARE(portline.open(devices.first(), handle), 0);
        int transferred = 0;
        unsigned char byte = 0x0D;
        QCOMPARE(portline.bulkTransfer(handle, 0x01, &byte, 1, &transferred, 10), int(usb::UsbErrorIo));
        QCOMPARE(portline.claimInterface(handle, 1), int(usb::UsbErrorNotFound));
        QCOMPARE(portline.claimInterface(handle, 0), 0);
        QCOMPARE(portline.bulkTransfer(handle, 0x01, &byte, 1, &transferred, 10), 0);
    }

    void builtInInstallation()
    {
        QString error;
        auto portline = VirtualPortline::fromInstallationFile(QString(), &error);
        QVERIFY2(portline, qPrintable(error));
        QCOMPARE(portline->pluggedDongles().size(), 1);
        // What the bus sections write, they read back.
        QCOMPARE(portline->installation(), SimInstallation::builtIn());
    }

    void installationRoundTrip()
    {
        // Every bus section with the fields a save might leave out; they are
        // checked after a save and a reload, which would lose them.
        QTemporaryDir dir;
        QString error;
        auto portline = VirtualPortline::fromInstallationFile(writeFile(dir, "installation.json", R"({"dongles": [
            {"name": "Bench", "firmwareVersion": 6, "capabilities": "0x0005", "keymarkVersion": 3,
             "parameters": {"37": 120, "0x000C": "0x0102"},
             "dali": {"powered": true, "randomGear": 3, "seed": 9,
                      "gear": [{"short": 5, "random": "0x123456", "fault": "neverAnswers"},
                               {"randomiseTo": "0x000100", "bank1": {"0x10": 7}, "version": 2, "physicalMinimum": 85,
                                "makerParameters": {"0x2000": 700}, "makerValues": {"9": 42}, "bridgeRegisters": {"1": 77}}]},
             "dmx": {"collisions": "garbled", "random": {"count": 3, "seed": 5},
                     "drivers": [{"guid": "0xDEADBEEF", "uid": "4856:12345678", "lid": 263, "behaviour": "flakey-muting",
                                  "parameters": [{"number": 9, "value": 512}],
                                  "chain": [{"guid": "0xC0DE", "parameters": [{"number": 200, "type": "0xC003", "value": 8}]}]},
                                 {"guid": 7, "uid": "7FFF:00000007", "behaviour": "garbage", "table": "empty"}]},
             "keymark": {"present": false, "replies": "badChecksum", "currents": [700, "0x015E", 500, 1050],
                         "dimmingCurve": "linear", "minLevel": 40, "ntcTemperature": 85,
                         "ampwise": ["0x0000", 64], "makerParameters": {"0x0005": 4660}, "bank1": {"0x31": 9}}},
            {"name": "Old", "firmwareVersion": 3, "answersVersionRead": false}
        ]})"), &error);
        QVERIFY2(portline, qPrintable(error));
        const QJsonObject saved = portline->installation();
        const QString copy = dir.filePath("copy.json");
        QVERIFY2(SimInstallation::writeFile(copy, saved, &error), qPrintable(error));
        auto reloaded = VirtualPortline::fromInstallationFile(copy, &error);
        QVERIFY2(reloaded, qPrintable(error));
        QCOMPARE(reloaded->installation(), saved);

        const auto dongles = reloaded->pluggedDongles();
        QCOMPARE(dongles.size(), 2);
        SimDongle& bench = *dongles.at(0);
        QCOMPARE(bench.name(), QStringLiteral("Bench"));
        QCOMPARE(bench.capabilities(), quint16(0x0005));
        QCOMPARE(bench.parameter(37), quint16(120));
        QCOMPARE(bench.parameter(12), quint16(0x0102));
        QVERIFY(!dongles.at(1)->answersVersionRead());

        const sim::SimDaliBus& dali = bench.daliBus();
        QCOMPARE(dali.gearCount(), 5);
        QCOMPARE(dali.gear(0).shortAddress(), 5);
        QCOMPARE(dali.gear(0).randomAddress(), 0x123456u);
        QCOMPARE(dali.gear(0).fault(), sim::SimGearFault::NeverAnswers);
        const sim::SimDaliGear& second = dali.gear(1);
        QCOMPARE(second.config().fixedRandomAddress, std::optional<uint32_t>(0x100));
        QCOMPARE(second.memory(1, 0x10), 7);
        QCOMPARE(second.config().versionNumber, 2);
        QCOMPARE(second.config().physicalMinLevel, 85);
        QCOMPARE(second.makerParameter(0x2000), 700);
        QCOMPARE(second.config().makerValues.value(9), 42);
        QCOMPARE(second.bridgeRegister(1), 77);

        const sim::SimDmxLine& dmx = bench.dmxLine();
        QCOMPARE(dmx.collisionMode(), sim::SimDmxLine::CollisionMode::Garbled);
        QCOMPARE(dmx.chainCount(), 5);
        QCOMPARE(dmx.chainLength(0), 2);
        QCOMPARE(dmx.driver(0)->behaviour(), sim::SimDriver::Behaviour::FlakeyMuting);
        QCOMPARE(dmx.driver(0)->lid(), quint16(263));
        QCOMPARE(dmx.driver(0)->parameterValue(9), quint16(512));
        QCOMPARE(dmx.driver(0, 1)->typeWord(200), quint16(0xC003));
        QCOMPARE(dmx.driver(1)->behaviour(), sim::SimDriver::Behaviour::Garbage);
        QVERIFY(dmx.driver(1)->parameterNumbers().isEmpty());

        const sim::SimKeymarkPort& keymark = bench.keymarkPort();
        QVERIFY(!keymark.isTagPresent());
        QCOMPARE(keymark.replyFault(), sim::SimKeymarkPort::ReplyFault::BadChecksum);
        const sim::SimTag& tag = keymark.tag();
        QCOMPARE(tag.current(1), quint16(350));
        QCOMPARE(tag.driver().dimmingCurve(), quint8(1));
        QCOMPARE(tag.driver().minLevel(), quint8(40));
        QCOMPARE(tag.memoryByte(0x30), quint8(85));
        QCOMPARE(tag.memoryByte(0x31), quint8(9));
        QCOMPARE(tag.memoryByte(0x7F), quint8(2));
        QCOMPARE(tag.driver().memory(1, 0xA5), quint8(0x40));
        QCOMPARE(tag.driver().makerParameter(0x0005), quint16(0x1234));
    }

    void malformedInstallations_data()
    {
        QTest::addColumn<QByteArray>("text"); // null: no file at all
        QTest::addColumn<QString>("message");
        QTest::newRow("missing file")           << QByteArray()                          << "cannot open";
        QTest::newRow("syntax error on line 3") << QByteArray("{\n\"dongles\": [\n{,}]}") << "line 3";
        QTest::newRow("not an object")          << QByteArray("[1, 2]")                  << "JSON object";
        QTest::newRow("no dongles")             << QByteArray(R"({"dongle": []})")       << "\"dongles\" array";
        QTest::newRow("bad capabilities")       << QByteArray(R"({"dongles": [{}, {"capabilities": "lots"}]})") << "dongle 2: \"capabilities\"";
        QTest::newRow("version out of range")   << QByteArray(R"({"dongles": [{"firmwareVersion": 70000}]})") << "\"firmwareVersion\"";
        QTest::newRow("fractional number")      << QByteArray(R"({"dongles": [{"keymarkVersion": 1.5}]})")  << "\"keymarkVersion\"";
        QTest::newRow("bad parameter address")  << QByteArray(R"({"dongles": [{"parameters": {"x": 1}}]})") << "\"parameters\"";
    }

    void malformedInstallations()
    {
        QFETCH(QByteArray, text);
        QFETCH(QString, message);
        QTemporaryDir dir;
        const QString path = text.isNull() ? dir.filePath("none/file.json") : writeFile(dir, "bad.json", text);
        QString error;
        QVERIFY(!VirtualPortline::fromInstallationFile(path, &error));
        QVERIFY2(error.contains(message), qPrintable(error));
    }
};

QTEST_GUILESS_MAIN(TestVirtualPortline)
#include "tst_virtualportline.moc"
