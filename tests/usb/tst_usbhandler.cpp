// The USB handler's own logic, on the virtual Portline: indices, the one
// failure counter, reset and close after four failures, the log messages,
// the exchange lock and the bus poll.

#include "logrecorder.h"

#include "general/logmessage.h"
#include "sim/simdongle.h"
#include "sim/simfault.h"
#include "sim/virtualportline.h"
#include "usb/usbhandler.h"

#include <QSignalSpy>
#include <QTest>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>
#include <vector>

using namespace halvorn;
using general::ERROR;
using general::GENERAL;
using general::INFO;
using sim::SimDongle;
using sim::SimFault;
using usb::USBHandler;

namespace {

// A 64-byte parameter read of `address`, as the dongle sends it.
struct ReadRequest {
    unsigned char bytes[64] = {};
    explicit ReadRequest(int address)
    {
        bytes[0] = 0x0D;
        bytes[1] = quint8(address >> 8);
        bytes[2] = quint8(address);
    }
};

// A reply buffer with guard bytes on both sides, to catch writes past it.
struct GuardedReply {
    unsigned char before[16];
    unsigned char bytes[64];
    unsigned char after[16];
    int length = 64;

    explicit GuardedReply(unsigned char fill = 0)
    {
        std::memset(before, 0x5C, sizeof before);
        std::memset(bytes, fill, sizeof bytes);
        std::memset(after, 0x5C, sizeof after);
    }
    bool guardsIntact() const
    {
        for (int i = 0; i < 16; ++i) {
            if (before[i] != 0x5C || after[i] != 0x5C)
                return false;
        }
        return true;
    }
};

QList<int> intArguments(const QSignalSpy& spy)
{
    QList<int> values;
    for (const QList<QVariant>& call : spy)
        values.append(call.first().toInt());
    return values;
}

} // namespace

class TestUsbHandler : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<sim::VirtualPortline> m_portline;
    std::unique_ptr<USBHandler> m_handler;

    // A dongle plugged in and opened; returns it.
    std::shared_ptr<SimDongle> plugAndOpen()
    {
        auto dongle = m_portline->plug();
        m_handler->checkForDevices();
        return dongle;
    }

    bool readParameter(int index, int address, int* value = nullptr)
    {
        ReadRequest request(address);
        GuardedReply reply;
        m_handler->transfer(index, request.bytes, 64, reply.bytes, &reply.length);
        if (reply.length < 5 || reply.bytes[0] != 0x8D)
            return false;
        if (value)
            *value = reply.bytes[3] << 8 | reply.bytes[4];
        return true;
    }

private Q_SLOTS:
    void init()
    {
        m_portline = std::make_shared<sim::VirtualPortline>();
        m_portline->setTimeoutWaitMs(5);
        m_handler = std::make_unique<USBHandler>(m_portline);
    }

    void cleanup()
    {
        m_handler.reset();
        m_portline.reset();
    }

    void dongleOpensUnderIndexOneWithItsLogLines()
    {
        LogRecorder log;
        QSignalSpy connected(m_handler.get(), &USBHandler::dongleConnect);
        plugAndOpen();

        QCOMPARE(intArguments(connected), QList<int>{1});
        QCOMPARE(m_handler->openIndices(), QList<int>{1});
        QCOMPARE(log.count("USB: Opening device using VID: 4d8 PID: ff00", GENERAL, INFO), 1);
        QCOMPARE(log.count("USB device connected (1)", GENERAL, INFO), 1);
        int version = 0;
        QVERIFY(readParameter(1, 0, &version));
        QCOMPARE(version, 5);
    }

    void indicesAreSmallestFreeAndReused()
    {
        QSignalSpy connected(m_handler.get(), &USBHandler::dongleConnect);
        QSignalSpy disconnected(m_handler.get(), &USBHandler::dongleDisconnect);
        auto first = m_portline->plug();
        auto second = m_portline->plug();
        m_handler->checkForDevices();
        QCOMPARE(m_handler->openIndices(), (QList<int>{1, 2}));

        LogRecorder log;
        m_portline->unplug(first);
        m_handler->checkForDevices();
        QCOMPARE(intArguments(disconnected), QList<int>{1});
        QCOMPARE(log.count("USB: Closing device.", general::USB, INFO), 1);
        QCOMPARE(log.count("USB device disconnected (1)", GENERAL, INFO), 1);
        QCOMPARE(m_handler->openIndices(), QList<int>{2});

        m_portline->plug(first);
        m_handler->checkForDevices();
        QCOMPARE(m_handler->openIndices(), (QList<int>{1, 2}));
        QCOMPARE(intArguments(connected), (QList<int>{1, 2, 1}));
        // Index 1 now reaches the re-plugged dongle.
        const int before = first->requestCount(0x0D);
        QVERIFY(readParameter(1, 0));
        QCOMPARE(first->requestCount(0x0D), before + 1);
        QCOMPARE(second->requestCount(0x0D), 0);
    }

    void foreignDevicesAreNeverOpened()
    {
        auto other = std::make_shared<SimDongle>();
        other->setUsbIds(0x04D8, 0xFF01);
        m_portline->plug(other);
        QSignalSpy connected(m_handler.get(), &USBHandler::dongleConnect);
        m_handler->checkForDevices();
        QCOMPARE(connected.count(), 0);
        QCOMPARE(m_portline->openHandleCount(), 0);
    }

    void exchangeWithClosedIndexSendsNothing()
    {
        auto dongle = plugAndOpen();
        ReadRequest request(0);
        GuardedReply reply(0xA7);
        reply.length = 17;
        m_handler->transfer(2, request.bytes, 64, reply.bytes, &reply.length);

        QCOMPARE(reply.length, 17);
        QCOMPARE(reply.bytes[0], 0xA7);
        QCOMPARE(dongle->transferCount(SimFault::Out), 0);
        QCOMPARE(m_handler->failureCount(), 0);
    }

    void failedOutMakesNoInAndKeepsTheLength()
    {
        auto dongle = plugAndOpen();
        dongle->injectFault(SimFault::stall(SimFault::Out).next(1));
        LogRecorder log;
        ReadRequest request(0);
        GuardedReply reply;
        m_handler->transfer(1, request.bytes, 64, reply.bytes, &reply.length);

        QCOMPARE(reply.length, 64);
        QCOMPARE(reply.bytes[0], 0);
        QCOMPARE(dongle->transferCount(SimFault::Out), 1);
        QCOMPARE(dongle->transferCount(SimFault::In), 0);
        QCOMPARE(log.count("USB: Pipe error", general::USB, ERROR), 1);
        QCOMPARE(m_handler->failureCount(), 1);
    }

    void eachResultIsLoggedAndCounted_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");
        //                                result                        logged text
        QTest::newRow("input/output")  << -1  << "USB: Input/output error";
        QTest::newRow("invalid param") << -2  << "USB: Invalid parameter";
        QTest::newRow("access")        << -3  << "USB: Access denied (insufficient permissions)";
        QTest::newRow("no device")     << -4  << "USB: No such device (it may have been disconnected)";
        QTest::newRow("not found")     << -5  << "USB: Entity not found";
        QTest::newRow("busy")          << -6  << "USB: Resource busy";
        QTest::newRow("time-out")      << -7  << "USB: Operation timed out";
        QTest::newRow("overflow")      << -8  << "USB: Overflow";
        QTest::newRow("pipe")          << -9  << "USB: Pipe error";
        QTest::newRow("interrupted")   << -10 << "USB: System call interrupted (perhaps due to signal)";
        QTest::newRow("no memory")     << -11 << "USB: Insufficient memory";
        QTest::newRow("not supported") << -12 << "USB: Operation not supported or unimplemented on this platform";
        QTest::newRow("other (-99)")   << -99 << QString();
        QTest::newRow("unlisted (-13)") << -13 << QString();
        QTest::newRow("positive (7)")  << 7   << QString();
    }

    void eachResultIsLoggedAndCounted()
    {
        QFETCH(int, result);
        QFETCH(QString, message);
        auto dongle = plugAndOpen();
        dongle->injectFault(SimFault::error(result, SimFault::In).next(1));
        LogRecorder log;
        QVERIFY(!readParameter(1, 0));

        const QList<LogRecorder::Entry> entries = log.entries();
        if (message.isEmpty()) {
            QVERIFY2(entries.isEmpty(), qPrintable(log.texts().join(" | ")));
        } else {
            QCOMPARE(entries.size(), 1);
            QCOMPARE(entries.first().text, message);
            QCOMPARE(entries.first().msgClass, int(general::USB));
            QCOMPARE(entries.first().type, int(ERROR));
        }
        QCOMPARE(m_handler->failureCount(), 1);
    }

    void fourFailuresAcrossTwoDonglesResetTheFourth()
    {
        auto first = m_portline->plug();
        auto second = m_portline->plug();
        m_handler->checkForDevices();
        // An IN failure follows a successful OUT, which resets the count, so
        // only failed OUTs (as an unplugged dongle makes) add up.
        first->injectFault(SimFault::timeout(SimFault::Out).next(2));
        second->injectFault(SimFault::timeout(SimFault::Out).next(2));
        QSignalSpy disconnected(m_handler.get(), &USBHandler::dongleDisconnect);
        LogRecorder log;

        QVERIFY(!readParameter(1, 0));
        QVERIFY(!readParameter(2, 0));
        QVERIFY(!readParameter(1, 0));
        QCOMPARE(m_handler->failureCount(), 3);
        QCOMPARE(disconnected.count(), 0);
        QVERIFY(!log.contains("USB: Resetting device"));

        QVERIFY(!readParameter(2, 0));
        QCOMPARE(log.count("USB: Resetting device", general::USB, ERROR), 1);
        QCOMPARE(log.count("USB device disconnected (2)", GENERAL, INFO), 1);
        QCOMPARE(intArguments(disconnected), QList<int>{2});
        QCOMPARE(m_handler->openIndices(), QList<int>{1});
        QCOMPARE(m_handler->failureCount(), 0);

        // Still plugged in: the next poll opens it again under the free index.
        QSignalSpy connected(m_handler.get(), &USBHandler::dongleConnect);
        m_handler->checkForDevices();
        QCOMPARE(intArguments(connected), QList<int>{2});
        QVERIFY(readParameter(2, 0));
    }

    void successInBetweenRestartsTheCount()
    {
        auto dongle = plugAndOpen();
        dongle->injectFault(SimFault::timeout(SimFault::Out).next(3));
        for (int i = 0; i < 3; ++i)
            QVERIFY(!readParameter(1, 0));
        QCOMPARE(m_handler->failureCount(), 3);
        QVERIFY(readParameter(1, 0));
        QCOMPARE(m_handler->failureCount(), 0);

        dongle->injectFault(SimFault::timeout(SimFault::Out).next(3));
        for (int i = 0; i < 3; ++i)
            QVERIFY(!readParameter(1, 0));
        QVERIFY(m_handler->isOpen(1));
        dongle->injectFault(SimFault::timeout(SimFault::Out).next(1));
        QVERIFY(!readParameter(1, 0));
        QVERIFY(!m_handler->isOpen(1));
    }

    void openAndClaimFailuresAreLoggedButNotCounted_data()
    {
        QTest::addColumn<bool>("atOpen");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("hint");
        QTest::newRow("open: access denied") << true << -3 << "USB: Access denied (insufficient permissions)" << true;
        QTest::newRow("open: busy")          << true << -6 << "USB: Resource busy" << false;
        QTest::newRow("claim: busy")         << false << -6 << "USB: Resource busy" << false;
        QTest::newRow("claim: access")       << false << -3 << "USB: Access denied (insufficient permissions)" << true;
    }

    void openAndClaimFailuresAreLoggedButNotCounted()
    {
        QFETCH(bool, atOpen);
        QFETCH(int, result);
        QFETCH(QString, message);
        QFETCH(bool, hint);
        // An open dongle with three failures: an open failure must not make a fourth.
        auto good = plugAndOpen();
        good->injectFault(SimFault::stall(SimFault::Out).next(3));
        for (int i = 0; i < 3; ++i)
            QVERIFY(!readParameter(1, 0));

        auto held = std::make_shared<SimDongle>();
        if (atOpen)
            held->setOpenResult(result);
        else
            held->setClaimResult(result);
        m_portline->plug(held);
        LogRecorder log;
        QSignalSpy connected(m_handler.get(), &USBHandler::dongleConnect);
        m_handler->checkForDevices();

        QCOMPARE(connected.count(), 0);
        QCOMPARE(log.count(message, general::USB, ERROR), 1);
        QCOMPARE(log.count("USB: Could not open device", general::USB, ERROR), 1);
        QCOMPARE(log.containsPart("60-tivaro.rules"), hint);
        QCOMPARE(m_handler->failureCount(), 3);
        QVERIFY(!log.contains("USB: Resetting device"));
        QCOMPARE(m_handler->openIndices(), QList<int>{1});
        // A claim that failed closes its handle again.
        QCOMPARE(m_portline->openHandleCount(), 1);
    }

    void unopenableDongleIsTriedAtEveryPoll()
    {
        auto held = std::make_shared<SimDongle>();
        held->setOpenResult(usb::UsbErrorBusy);
        m_portline->plug(held);
        LogRecorder log;
        QSignalSpy connected(m_handler.get(), &USBHandler::dongleConnect);
        for (int poll = 0; poll < 3; ++poll)
            m_handler->checkForDevices();
        QCOMPARE(log.count("USB: Could not open device"), 3);
        QCOMPARE(log.count("USB: Opening device using VID: 4d8 PID: ff00"), 3);

        held->setOpenResult(usb::UsbSuccess); // the other program let go
        m_handler->checkForDevices();
        QCOMPARE(intArguments(connected), QList<int>{1});
        QCOMPARE(log.count("USB: Could not open device"), 3);
    }

    void lengthsAreClampedToThePacket_data()
    {
        QTest::addColumn<int>("requestLength");
        QTest::addColumn<int>("capacity");
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("received");
        QTest::newRow("request 1000")   << 1000 << 64  << 64 << 5;
        QTest::newRow("request -5")     << -5   << 64  << 0  << 0;
        QTest::newRow("capacity 1000")  << 64   << 1000 << 64 << 5;
        QTest::newRow("capacity -3")    << 64   << -3  << 64 << 0;
        QTest::newRow("capacity 3")     << 64   << 3   << 64 << 3;
    }

    void lengthsAreClampedToThePacket()
    {
        QFETCH(int, requestLength);
        QFETCH(int, capacity);
        QFETCH(int, sent);
        QFETCH(int, received);
        auto dongle = plugAndOpen();
        unsigned char request[256];
        std::memset(request, 0, sizeof request);
        request[0] = 0x0D;
        GuardedReply reply;
        reply.length = capacity;
        m_handler->transfer(1, request, requestLength, reply.bytes, &reply.length);

        QCOMPARE(dongle->lastRequest().size(), sent);
        QCOMPARE(reply.length, received);
        QVERIFY(reply.guardsIntact());
    }

    void deviceSendingTooMuchIsAnOverflowNotAnOverrun()
    {
        auto dongle = plugAndOpen();
        dongle->injectFault(SimFault::reply(200).next(1));
        LogRecorder log;
        ReadRequest request(0);
        GuardedReply reply;
        m_handler->transfer(1, request.bytes, 64, reply.bytes, &reply.length);
        QCOMPARE(reply.length, 64);
        QVERIFY(reply.guardsIntact());
        QCOMPARE(log.count("USB: Overflow"), 1);
        QCOMPARE(m_handler->failureCount(), 1);
    }

    void successfulExchangeRestartsThePollTimer()
    {
        auto dongle = plugAndOpen();
        QSignalSpy restart(m_handler.get(), &USBHandler::restartTimer);
        dongle->injectFault(SimFault::timeout(SimFault::In).next(1));
        QVERIFY(!readParameter(1, 0));
        QCOMPARE(restart.count(), 0);
        QCOMPARE(m_handler->lastSuccessAgeMs(), -1);
        QVERIFY(readParameter(1, 0));
        QCOMPARE(intArguments(restart), QList<int>{2000});
        QVERIFY(m_handler->lastSuccessAgeMs() >= 0);
    }

    void exchangesFromManyThreadsStayPaired()
    {
        // Without the exchange lock, one thread's IN would collect another's
        // reply: every reply must echo its own request's address.
        plugAndOpen();
        std::atomic<int> mismatches{0};
        std::atomic<int> failures{0};
        std::vector<std::thread> threads;
        for (int t = 0; t < 4; ++t) {
            threads.emplace_back([&, t] {
                for (int i = 0; i < 500; ++i) {
                    const int address = 100 + t;
                    ReadRequest request(address);
                    GuardedReply reply;
                    m_handler->transfer(1, request.bytes, 64, reply.bytes, &reply.length);
                    if (reply.length < 5)
                        ++failures;
                    else if ((reply.bytes[1] << 8 | reply.bytes[2]) != address)
                        ++mismatches;
                }
            });
        }
        for (std::thread& thread : threads)
            thread.join();
        QCOMPARE(mismatches.load(), 0);
        QCOMPARE(failures.load(), 0);
    }

    void resetNeverRacesAnExchange()
    {
        // Exchanges on two threads that keep failing (so dongles are reset
        // and closed on the exchanging threads) while the main thread polls
        // them open again. A closed handle reaching the bus would show as
        // "USB: Invalid parameter".
        auto first = m_portline->plug();
        auto second = m_portline->plug();
        m_handler->checkForDevices();
        first->injectFault(SimFault::stall(SimFault::Out));
        second->injectFault(SimFault::stall(SimFault::Out));
        // Emitted on the exchanging threads: counted there (a QSignalSpy is
        // not thread-safe).
        std::atomic<int> disconnects{0};
        connect(m_handler.get(), &USBHandler::dongleDisconnect, m_handler.get(), [&] { ++disconnects; },
                Qt::DirectConnection);
        LogRecorder log;
        std::atomic<bool> running{true};
        std::vector<std::thread> threads;
        for (int index : {1, 2}) {
            threads.emplace_back([&, index] {
                while (running.load()) {
                    ReadRequest request(0);
                    GuardedReply reply;
                    m_handler->transfer(index, request.bytes, 64, reply.bytes, &reply.length);
                }
            });
        }
        for (int poll = 0; poll < 200; ++poll) {
            m_handler->checkForDevices();
            QThread::usleep(200);
        }
        running = false;
        for (std::thread& thread : threads)
            thread.join();

        QVERIFY(disconnects.load() > 0);
        QVERIFY(!log.contains("USB: Invalid parameter"));
        m_handler->checkForDevices();
        QCOMPARE(m_handler->openIndices(), (QList<int>{1, 2}));
        QCOMPARE(m_portline->openHandleCount(), 2);
    }

    void abortedHandlerTouchesNothing()
    {
        auto dongle = plugAndOpen();
        m_handler->abortExchanges();
        GuardedReply reply(0x11);
        ReadRequest request(0);
        m_handler->transfer(1, request.bytes, 64, reply.bytes, &reply.length);
        QCOMPARE(reply.bytes[0], 0x11);
        QCOMPARE(dongle->transferCount(SimFault::Out), 0);
        const int polls = m_portline->enumerationCount();
        m_handler->checkForDevices();
        QCOMPARE(m_portline->enumerationCount(), polls);
    }

    void deviceListFailureIsLogged()
    {
        // A backend that cannot list devices.
        class BrokenBus : public sim::VirtualPortline
        {
        public:
            int getDeviceList(QList<usb::UsbDevice>&) override { return usb::UsbErrorNoMem; }
        };
        USBHandler handler(std::make_shared<BrokenBus>());
        LogRecorder log;
        handler.checkForDevices();
        QCOMPARE(log.count("Could not query USB device list", general::USB, ERROR), 1);
    }
};

QTEST_GUILESS_MAIN(TestUsbHandler)
#include "tst_usbhandler.moc"
