// DMX output timing on the virtual Portline with a 1 ms USB round trip:
// the "DMX" thread sends frames at the set interval while another thread
// runs Chorus transactions back to back and the network's log receives
// 10 000 messages per second. Prints the interval between frames (the time
// between the last packets of consecutive frames) and the frame rate.
//
//   bench_dmx [seconds per interval, default 10] [intervals in ms, default 50 20]

#include "general/networklog.h"
#include "sim/simdmxline.h"
#include "sim/simdongle.h"
#include "sim/simdriver.h"
#include "sim/virtualportline.h"
#include "tests/vx/vxportline.h"
#include "vx/vxnetwork.h"
#include "vx/vxnetworklogmessage.h"

#include <QCoreApplication>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <vector>

using namespace halvorn;

namespace {

constexpr int LatencyUs = 1000;
constexpr int LogMessagesPerSecond = 10000;

struct Figures {
    double startMedianMs = 0;
    double startP99Ms = 0;
    double medianMs = 0;
    double p99Ms = 0;
    double minMs = 0;
    double maxMs = 0;
    double framesPerSecond = 0;
    int frames = 0;
    long transactions = 0;
    long failedTransactions = 0;
    long logged = 0;
};

double percentile(std::vector<double> values, double fraction)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index = size_t(fraction * double(values.size() - 1) + 0.5);
    return values[std::min(index, values.size() - 1)];
}

Figures measure(VxPortline& portline, int intervalMs, int seconds, bool loaded)
{
    vx::VxNetwork* network = portline.network();
    network->setDMXTimerInterval(intervalMs);
    portline.recorder().clear();

    std::atomic<bool> stop{false};
    std::atomic<long> transactions{0};
    std::atomic<long> failed{0};
    std::atomic<long> logged{0};

    std::thread chorus([&] {
        while (!stop && loaded) {
            quint16 value = 0;
            if (network->readParameter(0, 1, 9, value) != vx::VxNetwork::StatusAnswer)
                ++failed;
            ++transactions;
        }
    });
    std::thread logger([&] {
        // Ten messages every millisecond, each a decoded Chorus frame.
        const quint8 frame[9] = {0xD0, 0x0D, 0x01, 0x00, 0x09, 0x00, 0x00, 0x00, 0xE7};
        auto next = std::chrono::steady_clock::now();
        while (!stop && loaded) {
            for (int i = 0; i < LogMessagesPerSecond / 1000; ++i) {
                network->log()->logMessage(
                    new vx::VxNetworkLogMessage(general::CHORUS, general::SEND, QThread::currentThread(), frame, 9));
                ++logged;
            }
            next += std::chrono::milliseconds(1);
            std::this_thread::sleep_until(next);
        }
    });

    network->startDMXOutput();
    const auto start = std::chrono::steady_clock::now();
    QTest::qWait(seconds * 1000);
    network->stopDMXOutput();
    const auto elapsed = std::chrono::steady_clock::now() - start;
    stop = true;
    chorus.join();
    logger.join();
    QTest::qWait(2 * intervalMs);

    const auto intervalsOf = [](const std::vector<qint64>& times) {
        std::vector<double> intervals;
        for (size_t i = 1; i < times.size(); ++i)
            intervals.push_back(double(times[i] - times[i - 1]) / 1e6);
        return intervals;
    };
    const std::vector<qint64> times = portline.recorder().frameTimes();
    const std::vector<double> intervals = intervalsOf(times);
    const std::vector<double> startIntervals = intervalsOf(portline.recorder().frameStartTimes());

    Figures figures;
    figures.frames = int(times.size());
    figures.startMedianMs = percentile(startIntervals, 0.5);
    figures.startP99Ms = percentile(startIntervals, 0.99);
    figures.medianMs = percentile(intervals, 0.5);
    figures.p99Ms = percentile(intervals, 0.99);
    figures.minMs = intervals.empty() ? 0 : *std::min_element(intervals.begin(), intervals.end());
    figures.maxMs = intervals.empty() ? 0 : *std::max_element(intervals.begin(), intervals.end());
    figures.framesPerSecond =
        double(times.size()) / std::chrono::duration<double>(elapsed).count();
    figures.transactions = transactions;
    figures.failedTransactions = failed;
    figures.logged = logged;
    return figures;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, atoi(argv[1])) : 10;
    std::vector<int> intervals;
    for (int i = 2; i < argc; ++i)
        intervals.push_back(std::max(1, atoi(argv[i])));
    if (intervals.empty())
        intervals = {50, 20};

    VxPortline portline;
    portline.line().addDriver(sim::SimDriver::halvorn(0x1234, 0x485600001234ull, 1));
    if (!portline.start()) {
        std::fprintf(stderr, "the virtual Portline did not start\n");
        return 1;
    }
    portline.portline().setLatencyUs(LatencyUs);

    std::printf("DMX output, 512 slots (9 packets per frame), %d us USB round trip, Chorus reads back to back,\n"
                "%d log messages/s, %d s per interval\n\n",
                LatencyUs, LogMessagesPerSecond, seconds);
    std::printf("Interval between frame ends (last packet); in brackets between frame starts (first packet).\n\n");
    std::printf("| set interval | traffic | frames | median | 99th percentile | min | max | frames/s | Chorus reads/s | log messages/s |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    for (int interval : intervals) {
        for (bool loaded : {false, true}) {
            const Figures f = measure(portline, interval, seconds, loaded);
            std::printf("| %d ms | %s | %d | %.3f ms (%.3f) | %.3f ms (%.3f) | %.3f ms | %.3f ms | %.2f | %.0f | %.0f |\n",
                        interval, loaded ? "Chorus + log" : "none", f.frames, f.medianMs, f.startMedianMs, f.p99Ms,
                        f.startP99Ms, f.minMs, f.maxMs, f.framesPerSecond, double(f.transactions) / seconds,
                        double(f.logged) / seconds);
            if (f.failedTransactions > 0)
                std::printf("  (%ld Chorus reads failed)\n", f.failedTransactions);
            std::fflush(stdout);
        }
    }
    return 0;
}
