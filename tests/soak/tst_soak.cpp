// A service session of hours compressed into minutes, on the virtual
// Portline with a dongle that misbehaves. The tool runs as the program runs
// it — the dongle manager's thread polls the bus, every reconnection queues
// the dongle's initialisation — with all its traffic at once: DMX output
// every 50 ms, the Keymark presence poll at twenty times its usual rate, the
// DALI status timer refreshing auto-updated parameters every 50 ms, DALI
// commissioning and RDM discovery again and again. Meanwhile the dongle loses
// every 97th reply, garbles every 89th, cuts every 211th short, and is pulled
// out and plugged in again at random moments: between transfers, in the middle
// of a request, in the middle of a reply.
//
// Checked, as a user who leaves the tool running for a day relies on it:
// nothing crashes; nothing hangs (every task ends within TaskBoundMs, the
// main thread never stalls); after every replug the dongle is announced again
// as the same object and DMX frames resume with the levels last set; once
// the faults stop, the same session commissions every DALI gear and discovers
// every driver again; memory (with the logs cleared, as a user would) and the
// thread count stay flat.
//
//   TIVARO_SOAK_SECONDS  length of the run in seconds (default 75)
//   TIVARO_SOAK_SEED     seed of the random moments (default: from the clock;
//                        printed, so that a failing run can be repeated)

#include "dali/dalinetwork.h"
#include "dmx/dmxsetpoint.h"
#include "general/configstore.h"
#include "general/device.h"
#include "general/log.h"
#include "general/network.h"
#include "general/networklog.h"
#include "general/parameter.h"
#include "general/task.h"
#include "general/taskscheduler.h"
#include "general/treenode.h"
#include "km/keymarknetwork.h"
#include "sim/simdongle.h"
#include "sim/simfault.h"
#include "sim/siminstallation.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "usb/usbdonglemanager.h"
#include "vx/vxnetwork.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPointer>
#include <QRandomGenerator>
#include <QTest>
#include <QTimer>

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <memory>

using namespace halvorn;
using sim::SimFault;
using usb::USBDongle;

Q_DECLARE_METATYPE(halvorn::usb::USBDongle*)

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

constexpr int DefaultSeconds = 75;
// Sanitizers slow everything down several times; the bounds grow with them.
constexpr int Slowdown = Sanitized ? 4 : 1;

// Compressed time: a silent transfer gives up after 5 ms instead of 500 ms,
// the Keymark poll runs every 100 ms instead of every 2000 ms, and the
// searches a user starts now and then start every few seconds.
constexpr int SilentTransferWaitMs = 5;
constexpr int DmxIntervalMs = 50;
constexpr int StatusIntervalMs = 50;
constexpr int KeymarkPollMs = 100;
constexpr int CommissionEveryMs = 5000;
constexpr int DiscoveryEveryMs = 3500;
constexpr int ClearLogsEveryMs = 2000;
constexpr int HeartbeatMs = 50;

constexpr int TimeoutEvery = 97;
constexpr int GarbleEvery = 89;
constexpr int ShortReplyEvery = 211;
constexpr int ShortReplyLength = 2;

// The simulator's built-in installation: four DALI gear, two drivers on the
// DMX line (the first with a daisy chain of two behind it).
constexpr int BuiltInGear = 4;
constexpr int BuiltInDriversOnTheLine = 2;

constexpr int AnnounceBoundMs = 10000 * Slowdown;
constexpr int FramesResumeBoundMs = 10000 * Slowdown;
constexpr int StartBoundMs = 30000 * Slowdown;
constexpr int TaskBoundMs = 60000 * Slowdown;
constexpr int StallBoundMs = 2000 * Slowdown;
constexpr int WarmUpCycles = 3;
// A few rounds of commissioning and discovery once the faults stop.
constexpr int RecoveryBoundMs = (4 * CommissionEveryMs + 2000) * Slowdown;

// Memory may wander a little (allocator caches, a log batch in flight);
// growth beyond this over the run is a leak.
constexpr double HeapTolerance = 1.10;
constexpr qint64 HeapSlackBytes = 1024 * 1024;
constexpr qint64 RssSlackKb = 8 * 1024;

int environmentInt(const char* name, int fallback)
{
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok && value > 0 ? value : fallback;
}

// Qt Test ends any test function after five minutes; a long soak needs its
// length plus the set-up, the calm phases and the shut-down.
[[maybe_unused]] const bool functionTimeoutSet = [] {
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT")) {
        const qint64 ms = qint64(environmentInt("TIVARO_SOAK_SECONDS", DefaultSeconds)) * 1000 + 10 * 60 * 1000;
        qputenv("QTEST_FUNCTION_TIMEOUT", QByteArray::number(ms));
    }
    return true;
}();

struct Sample {
    qint64 rssKb = 0;
    qint64 peakRssKb = 0;
    qint64 heapBytes = -1; // -1 under sanitizers, whose allocator mallinfo2 cannot see
    int threads = 0;
    int nodes = 0;
};

qint64 statusField(const QByteArray& status, const char* field)
{
    for (const QByteArray& line : status.split('\n')) {
        if (line.startsWith(field))
            return line.mid(qsizetype(qstrlen(field))).trimmed().split(' ').value(0).toLongLong();
    }
    return -1;
}

// The level at DMX address 1, −1 before any frame.
int firstSlot(const QByteArray& frame)
{
    return frame.isEmpty() ? -1 : quint8(frame.at(0));
}

int countNodes(const general::TreeNode* node)
{
    int count = 1;
    for (const general::TreeNode* child : node->childNodes())
        count += countNodes(child);
    return count;
}

Sample takeSample(const general::TreeNode* root)
{
    QFile file(QStringLiteral("/proc/self/status"));
    const QByteArray status = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    Sample sample;
    sample.rssKb = statusField(status, "VmRSS:");
    sample.peakRssKb = statusField(status, "VmHWM:");
    sample.threads = int(statusField(status, "Threads:"));
    if (!Sanitized) {
        const struct mallinfo2 info = mallinfo2();
        sample.heapBytes = qint64(info.uordblks) + qint64(info.hblkhd);
    }
    sample.nodes = countNodes(root);
    return sample;
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT

private:
    // The session.
    std::shared_ptr<sim::VirtualPortline> m_portline;
    std::shared_ptr<sim::SimDongle> m_sim;
    general::TreeNode* m_root = nullptr;
    usb::USBDongleManager* m_manager = nullptr;
    USBDongle* m_dongle = nullptr;
    QPointer<dali::DaliNetwork> m_dali;
    QPointer<vx::VxNetwork> m_vx;
    QPointer<km::KeymarkNetwork> m_keymark;
    QList<QTimer*> m_activities;
    QRandomGenerator m_random;
    QElapsedTimer m_clock;

    // What happened, recorded in the test's thread.
    QList<USBDongle*> m_announced;
    int m_withdrawn = 0;
    int m_tasksDone = 0;
    qint64 m_taskStartedMs = -1;
    qint64 m_longestTaskMs = 0;
    qint64 m_lastHeartbeatMs = 0;
    qint64 m_longestStallMs = 0;
    int m_unplugsSurvived = 0;
    std::atomic<int> m_gearCommissioned{0};
    std::atomic<int> m_driversDiscovered{0};
    int m_unplugsByMoment[3] = {};
    quint8 m_level = 0;

    void clearLogs()
    {
        general::mainLog()->clear();
        for (general::Network* network : {static_cast<general::Network*>(m_dali.data()),
                                          static_cast<general::Network*>(m_vx.data()),
                                          static_cast<general::Network*>(m_keymark.data())}) {
            if (network && network->log())
                network->log()->clear();
        }
        for (dali::DaliNetwork* network : {m_dali.data(), static_cast<dali::DaliNetwork*>(m_keymark.data())}) {
            if (network && network->simpleLog())
                network->simpleLog()->clear();
        }
    }

    void every(int intervalMs, const std::function<void()>& action)
    {
        auto* timer = new QTimer(this);
        connect(timer, &QTimer::timeout, this, action);
        timer->start(intervalMs);
        m_activities.append(timer);
    }

    void watchTasksAndHeartbeat()
    {
        general::TaskScheduler* scheduler = general::TaskScheduler::instance();
        connect(scheduler, &general::TaskScheduler::taskStarted, this,
                [this](general::Task*) { m_taskStartedMs = m_clock.elapsed(); });
        connect(scheduler, &general::TaskScheduler::taskDone, this, [this] {
            if (m_taskStartedMs >= 0)
                m_longestTaskMs = std::max(m_longestTaskMs, m_clock.elapsed() - m_taskStartedMs);
            m_taskStartedMs = -1;
            ++m_tasksDone;
        });
        m_lastHeartbeatMs = m_clock.elapsed();
        every(HeartbeatMs, [this] {
            const qint64 now = m_clock.elapsed();
            m_longestStallMs = std::max(m_longestStallMs, now - m_lastHeartbeatMs - HeartbeatMs);
            m_lastHeartbeatMs = now;
        });
    }

    // Every 50 ms: DMX frames, DALI status ticks with auto-updated
    // parameters; every 100 ms the Keymark poll; now and then commissioning
    // and discovery; the logs cleared as a user would.
    void startTraffic()
    {
        m_vx->setDMXTimerInterval(DmxIntervalMs);
        m_vx->startDMXOutput();
        m_keymark->startPolling(KeymarkPollMs);
        m_dali->setStatusTimerInterval(StatusIntervalMs);
        m_dali->startStatusTimer();

        int commissioning = 0;
        every(CommissionEveryMs, [this, commissioning]() mutable {
            const int kind = commissioning++ % 2 == 0 ? dali::DaliNetwork::SearchAllDevices
                                                      : dali::DaliNetwork::SearchShortAddresses;
            general::TaskScheduler::instance()->addTask(m_dali->searchTask(kind));
        });
        every(DiscoveryEveryMs, [this] { m_vx->rdmSearchAll(); });
        every(ClearLogsEveryMs, [this] { clearLogs(); });
    }

    void stopTraffic()
    {
        qDeleteAll(m_activities);
        m_activities.clear();
        m_vx->stopDMXOutput();
        m_keymark->stopPolling();
        m_dali->stopStatusTimer();
    }

    // Commissioned gear gets its level parameter refreshed by the status
    // timer; devices found are counted (searches run in the task thread).
    void watchSearches()
    {
        connect(m_dali, &general::Network::deviceFound, m_dali, [this](general::Device* device) {
            if (general::Parameter* level = device->findParameter(0))
                level->setAutoUpdate(true);
            ++m_gearCommissioned;
        }, Qt::DirectConnection);
        connect(m_vx, &general::Network::deviceFound, m_vx, [this] { ++m_driversDiscovered; },
                Qt::DirectConnection);
    }

    void injectFaults()
    {
        m_sim->injectFault(SimFault::timeout().everyNth(TimeoutEvery));
        m_sim->injectFault(SimFault::garbled().everyNth(GarbleEvery));
        m_sim->injectFault(SimFault::reply(ShortReplyLength).everyNth(ShortReplyEvery));
    }

    // At most `most` devices below the network, no two with one address.
    static bool devicesAreDistinct(general::Network* network, int most)
    {
        QList<uint> addresses;
        for (int i = 0; i < network->deviceCount(); ++i) {
            if (general::Device* device = network->deviceAt(i))
                addresses.append(device->address());
        }
        const int count = int(addresses.size());
        std::sort(addresses.begin(), addresses.end());
        const bool distinct = std::adjacent_find(addresses.begin(), addresses.end()) == addresses.end();
        if (count > most || !distinct)
            qWarning("soak: %s has %d devices (at most %d expected), addresses distinct: %d",
                     qPrintable(network->name()), count, most, int(distinct));
        return count <= most && distinct;
    }

    bool waitForIdleTasks(int timeoutMs)
    {
        general::TaskScheduler* scheduler = general::TaskScheduler::instance();
        return QTest::qWaitFor([scheduler] { return !scheduler->currentTask() && scheduler->queuedCount() == 0; },
                               timeoutMs);
    }

    // Memory and threads, measured in the same state each time: no search
    // running (they add and remove devices), logs just cleared.
    Sample quietSample()
    {
        const QList<QTimer*> activities = m_activities;
        for (QTimer* timer : activities)
            timer->blockSignals(true);
        if (!waitForIdleTasks(TaskBoundMs))
            qWarning("soak: a task is still running after %d ms", TaskBoundMs);
        clearLogs();
        {
            // The simulator's own records of the frames it carried (up to
            // 4096 each) are the test's, not the tool's memory.
            auto guard = m_sim->lock();
            m_sim->daliBus().clearForwardFrames();
            m_sim->keymarkPort().clearFrames();
        }
        QTest::qWait(300);
        const Sample sample = takeSample(m_root);
        for (QTimer* timer : activities)
            timer->blockSignals(false);
        return sample;
    }

    // The storm stops: the same session commissions every gear and discovers
    // every driver again, whatever the faults left behind; then memory and
    // threads are measured, with the same equipment in the tree each time.
    Sample calmSample()
    {
        m_sim->clearFaults();
        m_gearCommissioned = 0;
        m_driversDiscovered = 0;
        [this] {
            QTRY_VERIFY_WITH_TIMEOUT(
                m_gearCommissioned >= BuiltInGear && m_driversDiscovered >= BuiltInDriversOnTheLine, RecoveryBoundMs);
        }();
        return quietSample();
    }

    // Traffic for a while, then the dongle goes — between transfers, or
    // during the next request or reply — and comes back.
    void unplugAndReplug()
    {
        QTest::qWait(m_random.bounded(500, 2500));
        m_level = quint8(m_level + 37);
        m_vx->getSetpoint()->setByte(1, m_level);

        const int announced = m_announced.size();
        const int withdrawn = m_withdrawn;
        const int moment = m_random.bounded(3);
        switch (moment) {
        case 0:
            QVERIFY(m_portline->unplug(m_sim));
            break;
        case 1:
            m_sim->injectFault(SimFault::unplug(SimFault::Out).next(1));
            break;
        case 2:
            m_sim->injectFault(SimFault::unplug(SimFault::In).next(1));
            break;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!m_portline->isPlugged(m_sim), AnnounceBoundMs);
        QTRY_VERIFY_WITH_TIMEOUT(m_withdrawn > withdrawn, AnnounceBoundMs);
        QVERIFY(!m_dongle->isEnabled());

        QTest::qWait(m_random.bounded(20, 800));
        m_portline->plug(m_sim);
        if (m_random.bounded(2))
            emit m_manager->triggerDeviceCheck(); // as the Simulator menu does; else the poll finds it
        QTRY_VERIFY_WITH_TIMEOUT(m_announced.size() > announced, AnnounceBoundMs);
        QCOMPARE(m_announced.last(), m_dongle);

        const int frames = m_sim->dmxFrameCount();
        QTRY_VERIFY_WITH_TIMEOUT(m_sim->dmxFrameCount() > frames && firstSlot(m_sim->lastDmxFrame()) == m_level,
                                 FramesResumeBoundMs);
        ++m_unplugsSurvived;
        ++m_unplugsByMoment[moment];

        QVERIFY2(m_taskStartedMs < 0 || m_clock.elapsed() - m_taskStartedMs < TaskBoundMs,
                 "a task has been running for longer than the bound");
        QVERIFY2(m_longestStallMs < StallBoundMs, "the main thread stalled");
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<USBDongle*>();
        for (const char* file : {"/dali_device.json", "/dmx_device.json"})
            QVERIFY(general::ConfigStore::importFile(QStringLiteral(TIVARO_SOURCE_SETTINGS_DIR) + QLatin1String(file)));
    }

    void survivesAFaultySessionOfHours()
    {
        const int seconds = environmentInt("TIVARO_SOAK_SECONDS", DefaultSeconds);
        const quint32 seed = quint32(environmentInt("TIVARO_SOAK_SEED", int(QDateTime::currentMSecsSinceEpoch() & 0x7FFFFFFF)));
        m_random.seed(seed);
        qInfo("soak: %d s, seed %u (TIVARO_SOAK_SEED=%u repeats the random moments)", seconds, seed, seed);
        m_clock.start();

        m_portline = std::make_shared<sim::VirtualPortline>();
        QString error;
        QVERIFY2(m_portline->loadInstallation(sim::SimInstallation::builtIn(), &error), qPrintable(error));
        m_sim = m_portline->pluggedDongles().value(0);
        QVERIFY(m_sim);
        m_portline->setTimeoutWaitMs(SilentTransferWaitMs);

        m_root = new general::TreeNode;
        m_root->setName(QStringLiteral("Root"));
        auto portline = m_portline;
        m_manager = new usb::USBDongleManager([portline] { return portline; });
        connect(m_manager, &usb::USBDongleManager::dongleConnect, this, [this](USBDongle* dongle) {
            m_announced.append(dongle);
            dongle->queueInitialize(); // as the main window does
        });
        connect(m_manager, &usb::USBDongleManager::dongleDisconnect, this, [this] { ++m_withdrawn; });
        watchTasksAndHeartbeat();
        m_manager->start(m_root);

        QTRY_VERIFY_WITH_TIMEOUT(!m_announced.isEmpty(), StartBoundMs);
        m_dongle = m_announced.first();
        QTRY_VERIFY_WITH_TIMEOUT(m_dongle->daliNetwork() && m_dongle->vxNetwork() && m_dongle->keymarkNetwork(),
                                 StartBoundMs);
        m_dali = qobject_cast<dali::DaliNetwork*>(m_dongle->daliNetwork());
        m_vx = qobject_cast<vx::VxNetwork*>(m_dongle->vxNetwork());
        m_keymark = qobject_cast<km::KeymarkNetwork*>(m_dongle->keymarkNetwork());
        QVERIFY(m_dali && m_vx && m_keymark);
        QTRY_VERIFY_WITH_TIMEOUT(m_dali->searchTask(0) && m_vx->isInitialized() && m_keymark->tagDevice(), StartBoundMs);

        watchSearches();
        startTraffic();
        injectFaults();

        // Warm-up: every kind of work has run and every thread exists.
        for (int cycle = 0; cycle < WarmUpCycles; ++cycle) {
            unplugAndReplug();
            if (QTest::currentTestFailed())
                return;
        }
        const Sample start = calmSample();
        if (QTest::currentTestFailed())
            return;
        injectFaults();
        while (m_clock.elapsed() < qint64(seconds) * 1000) {
            unplugAndReplug();
            if (QTest::currentTestFailed())
                return;
        }
        const Sample finish = calmSample();
        if (QTest::currentTestFailed())
            return;

        stopTraffic();
        QVERIFY2(waitForIdleTasks(TaskBoundMs), "the last task did not end");
        const int transfers = m_sim->transferCount(SimFault::In) + m_sim->transferCount(SimFault::Out);
        const int timeouts = m_sim->firedFaultCount(SimFault::Timeout);
        const int garbled = m_sim->firedFaultCount(SimFault::Garble);
        const int shortened = m_sim->firedFaultCount(SimFault::Resize);
        qInfo("soak: %lld s, %d transfers, faults injected: %d time-outs, %d garbled, %d short replies; "
              "%d unplugs survived (%d between transfers, %d in a request, %d in a reply), "
              "%d dongle announcements, %d tasks completed, longest task %lld ms, longest main-thread stall %lld ms",
              m_clock.elapsed() / 1000, transfers, timeouts, garbled, shortened, m_unplugsSurvived,
              m_unplugsByMoment[0], m_unplugsByMoment[1], m_unplugsByMoment[2], int(m_announced.size()),
              m_tasksDone, m_longestTaskMs, m_longestStallMs);
        qInfo("soak: after warm-up / at the end: RSS %lld / %lld kB (peak %lld kB), heap in use %lld / %lld bytes, "
              "threads %d / %d, tree nodes %d / %d",
              start.rssKb, finish.rssKb, finish.peakRssKb, start.heapBytes, finish.heapBytes, start.threads,
              finish.threads, start.nodes, finish.nodes);

        QVERIFY(m_unplugsSurvived >= WarmUpCycles + 1);

        QVERIFY(timeouts > 0 && garbled > 0 && shortened > 0);
        QVERIFY(m_tasksDone > m_unplugsSurvived); // an initialisation per replug, and the searches
        QVERIFY2(m_longestTaskMs < TaskBoundMs, "a task took longer than the bound");
        QVERIFY2(m_longestStallMs < StallBoundMs, "the main thread stalled");
        // Searches again and again find the same equipment, never more.
        QVERIFY(devicesAreDistinct(m_dali, BuiltInGear + 1));
        QVERIFY(devicesAreDistinct(m_vx, BuiltInDriversOnTheLine + 1));
        QVERIFY2(finish.threads <= start.threads,
                 qPrintable(QStringLiteral("threads grew from %1 to %2").arg(start.threads).arg(finish.threads)));
        if (!Sanitized) {
            QVERIFY2(finish.heapBytes <= qint64(double(start.heapBytes) * HeapTolerance) + HeapSlackBytes,
                     qPrintable(QStringLiteral("heap grew from %1 to %2 bytes").arg(start.heapBytes).arg(finish.heapBytes)));
            QVERIFY2(finish.rssKb <= start.rssKb + RssSlackKb,
                     qPrintable(QStringLiteral("RSS grew from %1 to %2 kB").arg(start.rssKb).arg(finish.rssKb)));
        }
    }

    void cleanupTestCase()
    {
        if (m_vx)
            stopTraffic();
        waitForIdleTasks(TaskBoundMs);
        if (m_manager) {
            QVERIFY(m_manager->stop(usb::USBDongleManager::ShutdownWaitMs));
            delete m_manager;
        }
        delete m_root;
        m_portline.reset();
    }
};

QTEST_GUILESS_MAIN(TestSoak)
#include "tst_soak.moc"
