#pragma once

#include "tests/support/portlinefixture.h"

#include <QByteArray>
#include <QList>
#include <QMutex>

#include <functional>
#include <memory>
#include <vector>

namespace halvorn::sim {
class SimDmxLine;
}
namespace halvorn::vx {
class VxNetwork;
}

// What the dongle's firmware received, seen through its reply script: the
// request packets (when recording is on) and the time of every DMX frame's
// first packet and of its block 0 (its last packet).
class PacketRecorder
{
public:
    PacketRecorder();

    // Off by default: a long run would keep every packet.
    void setRecordPackets(bool record);
    static constexpr int AnyCode = -1;
    // Requests with this command code (or all) since the last clear(), in order.
    QList<QByteArray> requests(int code) const;
    // Steady-clock nanoseconds at which each frame's block 0 / first packet arrived.
    std::vector<qint64> frameTimes() const;
    std::vector<qint64> frameStartTimes() const;
    int frameCount() const;
    void clear();
    // Rewrites every reply the firmware sends back (the host reads the
    // result, cut to its buffer); none by default.
    void setReplyRewriter(std::function<QByteArray(const QByteArray& reply)> rewriter);

    // The dongle's reply script (runs with the dongle's lock held).
    QByteArray onRequest(const QByteArray& request, const QByteArray& reply);

private:
    mutable QMutex m_mutex;
    int m_previousBlock = 0;
    bool m_inFrame = false;
    bool m_recordPackets = false;
    QList<QByteArray> m_requests;
    std::vector<qint64> m_frameTimes;
    std::vector<qint64> m_frameStartTimes;
    std::function<QByteArray(const QByteArray&)> m_rewriter;
};

// A virtual Portline with one dongle whose DMX line is driven by a
// VxNetwork, built like the program builds it but without the dongle
// manager and without the other buses:
//
//   VxPortline portline;
//   portline.line().addDriver(sim::SimDriver::halvorn(...));
//   QVERIFY(portline.start());
//   portline.network()->readParameter(0, 1, 161, value);
//
// Silent transfers end after 20 ms. Use it from the test's main thread.
// Tear-down waits for the task scheduler to go idle, so that no task
// outlives the tree it works on.
class VxPortline
{
public:
    VxPortline();
    ~VxPortline();

    VxPortline(const VxPortline&) = delete;
    VxPortline& operator=(const VxPortline&) = delete;

    // Opens the dongle and initialises the network; false when a step fails in time.
    bool start(int timeoutMs = 10000);

    halvorn::sim::VirtualPortline& portline() const { return m_fixture->portline(); }
    halvorn::sim::SimDongle& simDongle() const { return *m_fixture->simDongle(); }
    // The dongle's DMX line; lock simDongle() while changing equipment after start().
    halvorn::sim::SimDmxLine& line() const;
    PacketRecorder& recorder() const { return *m_recorder; }
    halvorn::usb::USBDongle* dongle() const { return m_fixture->dongle(); }
    halvorn::vx::VxNetwork* network() const { return m_network; }

private:
    std::shared_ptr<PacketRecorder> m_recorder;
    std::unique_ptr<PortlineFixture> m_fixture;
    halvorn::vx::VxNetwork* m_network = nullptr;
};

// True once the task scheduler has nothing running or queued (at most `timeoutMs`).
bool waitForIdleScheduler(int timeoutMs = 60000);
