#include "tests/vx/vxportline.h"

#include "general/taskscheduler.h"
#include "sim/simdongle.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "vx/vxnetwork.h"

#include <QDeadlineTimer>
#include <QMutexLocker>
#include <QSignalSpy>
#include <QTest>

#include <chrono>

using namespace halvorn;

namespace {

constexpr char SetpointCode = 0x03;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

PacketRecorder::PacketRecorder()
{
    m_frameTimes.reserve(1 << 16);
    m_frameStartTimes.reserve(1 << 16);
}

void PacketRecorder::setRecordPackets(bool record)
{
    QMutexLocker lock(&m_mutex);
    m_recordPackets = record;
}

QList<QByteArray> PacketRecorder::requests(int code) const
{
    QMutexLocker lock(&m_mutex);
    QList<QByteArray> matching;
    for (const QByteArray& request : m_requests) {
        if (!request.isEmpty() && (code == AnyCode || quint8(request[0]) == code))
            matching.append(request);
    }
    return matching;
}

std::vector<qint64> PacketRecorder::frameTimes() const
{
    QMutexLocker lock(&m_mutex);
    return m_frameTimes;
}

std::vector<qint64> PacketRecorder::frameStartTimes() const
{
    QMutexLocker lock(&m_mutex);
    return m_frameStartTimes;
}

int PacketRecorder::frameCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_frameTimes.size());
}

void PacketRecorder::clear()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
    m_frameTimes.clear();
    m_frameStartTimes.clear();
}

void PacketRecorder::setReplyRewriter(std::function<QByteArray(const QByteArray&)> rewriter)
{
    QMutexLocker lock(&m_mutex);
    m_rewriter = std::move(rewriter);
}

QByteArray PacketRecorder::onRequest(const QByteArray& request, const QByteArray& reply)
{
    QMutexLocker lock(&m_mutex);
    if (request.size() > 2 && request[0] == SetpointCode) {
        const qint64 now = nowNs();
        if (!m_inFrame)
            m_frameStartTimes.push_back(now);
        m_inFrame = true;
        // Block 0 comes last. Its high nibble is 0, or 1 with Chorus output
        // on: then it is the packet after the last numbered block (or the only one).
        const int channelCount = quint8(request[1]) | (quint8(request[2]) & 0x0F) << 8;
        const int block = quint8(request[2]) >> 4;
        const int lastNumbered = channelCount > 60 ? channelCount / 60 : 0;
        const bool last = block == 0 || (block == 1 && (lastNumbered == 0 || m_previousBlock == lastNumbered));
        m_previousBlock = last ? 0 : block;
        if (last) {
            m_frameTimes.push_back(now);
            m_inFrame = false;
        }
    }
    if (m_recordPackets)
        m_requests.append(request);
    return m_rewriter && !reply.isEmpty() ? m_rewriter(reply) : reply;
}

VxPortline::VxPortline()
    : m_recorder(std::make_shared<PacketRecorder>())
{
    auto dongle = std::make_shared<sim::SimDongle>();
    dongle->setReplyScript([recorder = m_recorder](const QByteArray& request, const QByteArray& reply) {
        return recorder->onRequest(request, reply);
    });
    m_fixture = std::make_unique<PortlineFixture>(std::move(dongle));
}

VxPortline::~VxPortline()
{
    if (m_network) {
        m_network->stopDMXOutput();
        m_network->setDongle(nullptr); // tasks still queued end at once
    }
    if (!waitForIdleScheduler())
        qWarning("VxPortline: tasks still running at tear-down");
}

sim::SimDmxLine& VxPortline::line() const
{
    return simDongle().dmxLine();
}

bool VxPortline::start(int timeoutMs)
{
    usb::USBDongle* dongle = m_fixture->open();
    if (!dongle)
        return false;
    m_network = new vx::VxNetwork(dongle);
    // Emitted in the network's thread: counted by a queued call in this one.
    QObject receiver;
    bool initialized = false;
    QObject::connect(m_network, &general::Network::networkInitialized, &receiver, [&initialized] { initialized = true; });
    dongle->addChild(m_network, false);
    m_network->emitNetworkCreated();
    if (!QTest::qWaitFor([&initialized] { return initialized; }, timeoutMs)) {
        qWarning("VxPortline: the network was not initialised within %d ms", timeoutMs);
        return false;
    }
    return true;
}

bool waitForIdleScheduler(int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    general::TaskScheduler* scheduler = general::TaskScheduler::instance();
    QSignalSpy emptied(scheduler, &general::TaskScheduler::taskQueueEmpty);
    // The spy's event loop hands tasks on at once (QTest::qWaitFor would
    // sleep between them); short slices catch an emission just missed.
    while (scheduler->currentTask() || scheduler->queuedCount() > 0) {
        if (deadline.hasExpired())
            return false;
        emptied.wait(20);
    }
    return true;
}
