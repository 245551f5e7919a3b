// The USB handler on the virtual Portline: indices, the one failure counter,
// reset and close after four failures, the log messages, the exchange lock
// and the bus poll.

#include "tests/support/logrecorder.h"
#include "tests/support/testthreads.h"

#include "sim/simdongle.h"
#include "sim/simfault.h"
#include "sim/virtualportline.h"
#include "usb/usbhandler.h"

#include <QSignalSpy>
#include <QTest>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>

using namespace halvorn;
using general::ERROR;
using general::GENERAL;
using general::INFO;
using sim::SimDongle;
using sim::SimFault;
using usb::USBHandler;

namespace {

// A parameter read of `address` as the dongle device sends it, and a reply
// buffer with guard bytes on both sides to catch writes past it.
struct Exchange {
    unsigned char request[64] = {};
    unsigned char before[16], reply[64], after[16];
    int length = 64;

    explicit Exchange(int address = 0, unsigned char fill = 0)
    {
        request[0] = 0x0D;
        request[1] = quint8(address >> 8);
        request[2] = quint8(address);
        std::memset(before, 0x5C, sizeof before);
        std::memset(reply, fill, sizeof reply);
        std::memset(after, 0x5C, sizeof after);
    }
    Exchange& run(USBHandler& handler, int index, int requestLength = 64)
    {
        handler.transfer(index, request, requestLength, reply, &length);
        return *this;
    }
    bool ok() const { return length >= 5 && reply[0] == 0x8D; }
    int address() const { return reply[1] << 8 | reply[2]; }
    bool guardsIntact() const
    {
        const auto isGuard = [](unsigned char byte) { return byte == 0x5C; };
        return std::all_of(before, before + 16, isGuard) && std::all_of(after, after + 16, isGuard);
    }
};

// Lengths given to a transfer, what the device sends (-1: its normal reply),
// and what must come of it.
struct Lengths {
    int request, capacity, deviceSends;
    int sent, received;
    bool overflow;
};

QList<int> intArguments(const QSignalSpy& spy)
{
    QList<int> values;
    for (const QList<QVariant>& call : spy)
        values.append(call.first().toInt());
    return values;
}

} // namespace

Q_DECLARE_METATYPE(Lengths)

class TestUsbHandler : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<sim::VirtualPortline> m_portline;
    std::unique_ptr<USBHandler> m_handler;

    std::shared_ptr<SimDongle> plugAndOpen()
    {
        auto dongle = m_portline->plug();
        m_handler->checkForDevices();
        return dongle;
    }

    bool read(int index) { return Exchange().run(*m_handler, index).ok(); }

    // Makes the next `n` reads of `index` fail at the OUT transfer (as an
    // unplugged dongle does); returns how many failed.
    int failReads(SimDongle& dongle, int index, int n)
    {
        dongle.injectFault(SimFault::timeout(SimFault::Out).next(n));
        int failed = 0;
        for (int i = 0; i < n; ++i)
            failed += !read(index);
        return failed;
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

    void indicesAreSmallestFreeAndReused()
    {
        LogRecorder log;
        QSignalSpy connected(m_handler.get(), &USBHandler::dongleConnect);
        QSignalSpy disconnected(m_handler.get(), &USBHandler::dongleDisconnect);
        auto foreign = std::make_shared<SimDongle>();
        foreign->setUsbIds(0x04D8, 0xFF01);
        m_portline->plug(foreign); // never opened
        auto first = m_portline->plug();
        auto second = m_portline->plug();
        m_handler->checkForDevices();
        QCOMPARE(m_handler->openIndices(), (QList<int>{1, 2}));
        QCOMPARE(m_portline->openHandleCount(), 2);
        QCOMPARE(log.count("USB: Opening device using VID: 4d8 PID: ff00", GENERAL, INFO), 2);
        QCOMPARE(log.count("USB device connected (2)", GENERAL, INFO), 1);

        m_portline->unplug(first);
        m_handler->checkForDevices();
        QCOMPARE(intArguments(disconnected), QList<int>{1});
        QCOMPARE(log.count("USB: Closing device.", general::USB, INFO), 1);
        QCOMPARE(log.count("USB device disconnected (1)", GENERAL, INFO), 1);
        QCOMPARE(m_handler->openIndices(), QList<int>{2});

        m_portline->plug(first);
        m_handler->checkForDevices();
        QCOMPARE(intArguments(connected), (QList<int>{1, 2, 1}));
        QCOMPARE(log.count("USB device connected (1)", GENERAL, INFO), 2);
        // Index 1 now reaches the re-plugged dongle.
        QVERIFY(read(1));
        QCOMPARE(first->requestCount(0x0D), 1);
        QCOMPARE(second->requestCount(0x0D), 0);
    }

    void exchangesThatCannotRunTouchNothing()
    {
        auto dongle = plugAndOpen();
        Exchange closedIndex(0, 0xA7);
        closedIndex.length = 17;
        closedIndex.run(*m_handler, 2);
        QCOMPARE(closedIndex.length, 17);
        QCOMPARE(closedIndex.reply[0], 0xA7);
        QCOMPARE(m_handler->failureCount(), 0);

        m_handler->abortExchanges();
        QCOMPARE(Exchange(0, 0x11).run(*m_handler, 1).reply[0], 0x11);
        QCOMPARE(dongle->transferCount(SimFault::Out), 0);
        const int polls = m_portline->enumerationCount();
        m_handler->checkForDevices();
        QCOMPARE(m_portline->enumerationCount(), polls);
    }

    void eachResultIsLoggedAndCounted_data()
    {
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message"); // empty: nothing logged
        QTest::addColumn<bool>("atOut");      // else at the IN transfer
        QTest::newRow("pipe at OUT")    << -9  << "USB: Pipe error"                                                << true;
        QTest::newRow("input/output")   << -1  << "USB: Input/output error"                                        << false;
        QTest::newRow("invalid param")  << -2  << "USB: Invalid parameter"                                         << false;
        QTest::newRow("access")         << -3  << "USB: Access denied (insufficient permissions)"                  << false;
        QTest::newRow("no device")      << -4  << "USB: No such device (it may have been disconnected)"            << false;
        QTest::newRow("not found")      << -5  << "USB: Entity not found"                                          << false;
        QTest::newRow("busy")           << -6  << "USB: Resource busy"                                             << false;
        QTest::newRow("time-out")       << -7  << "USB: Operation timed out"                                       << false;
        QTest::newRow("overflow")       << -8  << "USB: Overflow"                                                  << false;
        QTest::newRow("pipe")           << -9  << "USB: Pipe error"                                                << false;
        QTest::newRow("interrupted")    << -10 << "USB: System call interrupted (perhaps due to signal)"           << false;
        QTest::newRow("no memory")      << -11 << "USB: Insufficient memory"                                       << false;
        QTest::newRow("not supported")  << -12 << "USB: Operation not supported or unimplemented on this platform" << false;
        QTest::newRow("other (-99)")    << -99 << QString()                                                        << false;
        QTest::newRow("unlisted (-13)") << -13 << QString()                                                        << false;
        QTest::newRow("positive (7)")   << 7   << QString()                                                        << false;
    }

    void eachResultIsLoggedAndCounted()
    {
        QFETCH(int, result);
        QFETCH(QString, message);
        QFETCH(bool, atOut);
        auto dongle = plugAndOpen();
        dongle->injectFault(SimFault::error(result, atOut ? SimFault::Out : SimFault::In).next(1));
        LogRecorder log;
        Exchange exchange;
        QVERIFY(!exchange.run(*m_handler, 1).ok());
        // A failed OUT makes no IN and leaves the reply and its length alone.
        QCOMPARE(dongle->transferCount(SimFault::In), atOut ? 0 : 1);
        if (atOut)
            QVERIFY(exchange.length == 64 && exchange.reply[0] == 0);
        QCOMPARE(log.entries().size(), message.isEmpty() ? 0 : 1);
        if (!message.isEmpty())
            QCOMPARE(log.count(message, general::USB, ERROR), 1);
        QCOMPARE(m_handler->failureCount(), 1);
    }

    void fourConsecutiveFailuresAcrossDonglesResetTheFourth()
    {
        auto first = m_portline->plug();
        auto second = m_portline->plug();
        m_handler->checkForDevices();
        QSignalSpy disconnected(m_handler.get(), &USBHandler::dongleDisconnect);
        LogRecorder log;
        // A failed IN follows a successful OUT, which restarts the count, so
        // only failed OUTs (as an unplugged dongle makes) add up.
        QCOMPARE(failReads(*first, 1, 1), 1);
        QCOMPARE(failReads(*second, 2, 1), 1);
        QCOMPARE(failReads(*first, 1, 1), 1);
        QCOMPARE(m_handler->failureCount(), 3);
        QCOMPARE(disconnected.count(), 0);
        QVERIFY(!log.contains("USB: Resetting device"));

        QCOMPARE(failReads(*second, 2, 1), 1);
        QCOMPARE(log.count("USB: Resetting device", general::USB, ERROR), 1);
        QCOMPARE(log.count("USB device disconnected (2)", GENERAL, INFO), 1);
        QCOMPARE(intArguments(disconnected), QList<int>{2});
        QCOMPARE(m_handler->openIndices(), QList<int>{1});
        QCOMPARE(m_handler->failureCount(), 0);

        // Still plugged in: the next poll opens it again under the free index.
        QSignalSpy connected(m_handler.get(), &USBHandler::dongleConnect);
        m_handler->checkForDevices();
        QCOMPARE(intArguments(connected), QList<int>{2});
        QVERIFY(read(2));

        // A success in between starts the count again.
        QCOMPARE(failReads(*first, 1, 3), 3);
        QVERIFY(read(1));
        QCOMPARE(m_handler->failureCount(), 0);
        QCOMPARE(failReads(*first, 1, 3), 3);
        QVERIFY(m_handler->isOpen(1));
        QCOMPARE(failReads(*first, 1, 1), 1);
        QVERIFY(!m_handler->isOpen(1));
    }

    void openAndClaimFailuresAreLoggedButNotCounted_data()
    {
        QTest::addColumn<bool>("atOpen");
        QTest::addColumn<int>("result");
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("permissionHint");
        QTest::newRow("open: access denied") << true  << -3 << "USB: Access denied (insufficient permissions)" << true;
        QTest::newRow("open: busy")          << true  << -6 << "USB: Resource busy"                            << false;
        QTest::newRow("claim: busy")         << false << -6 << "USB: Resource busy"                            << false;
        QTest::newRow("claim: access")       << false << -3 << "USB: Access denied (insufficient permissions)" << true;
    }

    void openAndClaimFailuresAreLoggedButNotCounted()
    {
        QFETCH(bool, atOpen);
        QFETCH(int, result);
        QFETCH(QString, message);
        QFETCH(bool, permissionHint);
        // An open dongle with three failures: an open failure must not make a fourth.
        auto good = plugAndOpen();
        QCOMPARE(failReads(*good, 1, 3), 3);
        auto held = std::make_shared<SimDongle>();
        if (atOpen)
            held->setOpenResult(result);
        else
            held->setClaimResult(result);
        m_portline->plug(held);
        LogRecorder log;
        QSignalSpy connected(m_handler.get(), &USBHandler::dongleConnect);
        for (int poll = 0; poll < 2; ++poll) // tried again at every poll
            m_handler->checkForDevices();

        QCOMPARE(connected.count(), 0);
        QCOMPARE(log.count(message, general::USB, ERROR), 2);
        QCOMPARE(log.count("USB: Could not open device", general::USB, ERROR), 2);
        QCOMPARE(log.containsPart("60-tivaro.rules"), permissionHint);
        QCOMPARE(m_handler->failureCount(), 3);
        QVERIFY(!log.contains("USB: Resetting device"));
        QCOMPARE(m_handler->openIndices(), QList<int>{1});
        QCOMPARE(m_portline->openHandleCount(), 1); // a failed claim closes its handle again

        held->setOpenResult(usb::UsbSuccess); // the other program let go
        held->setClaimResult(usb::UsbSuccess);
        m_handler->checkForDevices();
        QCOMPARE(intArguments(connected), QList<int>{2});
        QCOMPARE(log.count("USB: Could not open device"), 2);
    }

    void lengthsStayInsideThePacket_data()
    {
        QTest::addColumn<Lengths>("lengths");
        //                                     request capacity device sent received overflow
        QTest::newRow("request 1000")     << Lengths{1000, 64,   -1,  64, 5,  false};
        QTest::newRow("request -5")       << Lengths{-5,   64,   -1,  0,  0,  false};
        QTest::newRow("capacity 1000")    << Lengths{64,   1000, -1,  64, 5,  false};
        QTest::newRow("capacity -3")      << Lengths{64,   -3,   -1,  64, 0,  true};
        QTest::newRow("capacity 3")       << Lengths{64,   3,    -1,  64, 3,  true};
        QTest::newRow("device sends 200") << Lengths{64,   1000, 200, 64, 64, true};
    }

    void lengthsStayInsideThePacket()
    {
        QFETCH(Lengths, lengths);
        auto dongle = plugAndOpen();
        if (lengths.deviceSends >= 0)
            dongle->injectFault(SimFault::reply(lengths.deviceSends).next(1));
        LogRecorder log;
        Exchange exchange;
        exchange.length = lengths.capacity;
        exchange.run(*m_handler, 1, lengths.request);
        QCOMPARE(dongle->lastRequest().size(), lengths.sent);
        QCOMPARE(exchange.length, lengths.received);
        QVERIFY(exchange.guardsIntact());
        QCOMPARE(log.count("USB: Overflow"), lengths.overflow ? 1 : 0);
    }

    void successfulExchangeRestartsThePollTimer()
    {
        auto dongle = plugAndOpen();
        QSignalSpy restart(m_handler.get(), &USBHandler::restartTimer);
        dongle->injectFault(SimFault::timeout(SimFault::In).next(1));
        QVERIFY(!read(1));
        QCOMPARE(restart.count(), 0);
        QCOMPARE(m_handler->lastSuccessAgeMs(), -1);
        QVERIFY(read(1));
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
        QVERIFY(test::runInThreads(4, [&](int thread) {
            const int address = 100 + thread;
            for (int i = 0; i < 500; ++i) {
                const Exchange exchange = Exchange(address).run(*m_handler, 1);
                failures += !exchange.ok();
                mismatches += exchange.ok() && exchange.address() != address;
            }
        }));
        QCOMPARE(mismatches.load(), 0);
        QCOMPARE(failures.load(), 0);
    }

    void resetNeverRacesAnExchange()
    {
        // Two threads keep failing (so dongles are reset and closed on the
        // exchanging threads) while this thread polls them open again. A
        // closed handle reaching the bus would show as "USB: Invalid parameter".
        auto first = m_portline->plug();
        auto second = m_portline->plug();
        m_handler->checkForDevices();
        first->injectFault(SimFault::stall(SimFault::Out));
        second->injectFault(SimFault::stall(SimFault::Out));
        // Emitted on the exchanging threads (a QSignalSpy is not thread-safe).
        std::atomic<int> disconnects{0};
        connect(m_handler.get(), &USBHandler::dongleDisconnect, m_handler.get(), [&] { ++disconnects; },
                Qt::DirectConnection);
        LogRecorder log;
        std::atomic<bool> running{true};
        test::ThreadGroup exchanging(2, [&](int thread) {
            while (running.load())
                Exchange().run(*m_handler, thread + 1);
        });
        for (int poll = 0; poll < 200; ++poll) {
            m_handler->checkForDevices();
            QThread::usleep(200);
        }
        running = false;
        QVERIFY(exchanging.join());

        QVERIFY(disconnects.load() > 0);
        QVERIFY(!log.contains("USB: Invalid parameter"));
        m_handler->checkForDevices();
        QCOMPARE(m_handler->openIndices(), (QList<int>{1, 2}));
        QCOMPARE(m_portline->openHandleCount(), 2);
    }

    void deviceListFailureIsLogged()
    {
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
