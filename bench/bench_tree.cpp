// Memory of a device tree and the cost of a status tick that has nothing
// to read.
//
//   bench_tree [devices] [parameters per device]     (default 100 × 250)
//
// Prints figures; it is not a test. Builds a network with its devices and
// their parameters (not auto-updated, as parameters are unless the user
// ticks them), then times Network::update(false), the work of one status
// tick: it visits every device, which finds no parameter to read.

#include "general/device.h"
#include "general/network.h"
#include "general/parameter.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>

#include <malloc.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

using namespace halvorn::general;

namespace {

size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

size_t residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? size_t(fields.at(1).toULongLong()) * size_t(sysconf(_SC_PAGESIZE)) : 0;
}

struct Timing
{
    double min = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
};

template<typename Work>
Timing time(int runs, Work work)
{
    std::vector<double> micros;
    micros.reserve(size_t(runs));
    QElapsedTimer clock;
    for (int i = 0; i < runs; ++i) {
        clock.start();
        work();
        micros.push_back(clock.nsecsElapsed() / 1e3);
    }
    std::sort(micros.begin(), micros.end());
    return {micros.front(), micros[micros.size() / 2], micros[micros.size() * 99 / 100], micros.back()};
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int deviceCount = argc > 1 ? std::max(1, atoi(argv[1])) : 100;
    const int parameterCount = argc > 2 ? std::max(1, atoi(argv[2])) : 250;

    auto* network = new Network;
    network->emitNetworkCreated();
    QMetaObject::invokeMethod(network, [] {}, Qt::BlockingQueuedConnection); // init done

    const size_t heapBefore = heapInUse();
    const size_t rssBefore = residentBytes();
    QElapsedTimer clock;
    clock.start();
    for (int d = 0; d < deviceCount; ++d) {
        Device* device = network->createDevice(uint(d), QStringLiteral("Device %1").arg(d));
        for (int p = 0; p < parameterCount; ++p) {
            auto* param = new Parameter(device, uint(p), QStringLiteral("Parameter %1").arg(p),
                                        QString(), 0, 1000, -1, false, false, Parameter::Decimal);
            device->addParameter(device, param);
        }
    }
    const double buildMs = clock.nsecsElapsed() / 1e6;
    const size_t heapGrowth = heapInUse() - heapBefore;
    const size_t rssGrowth = residentBytes() - rssBefore;
    const double nodes = double(deviceCount) * (parameterCount + 1);

    std::printf("Tree: %d devices x %d parameters (%.0f nodes), built in %.1f ms from the main thread\n",
                deviceCount, parameterCount, nodes, buildMs);
    std::printf("  heap growth   %8.2f MB  (%.0f bytes per node)\n", heapGrowth / 1e6,
                heapGrowth / nodes);
    std::printf("  RSS growth    %8.2f MB\n", rssGrowth / 1e6);

    const Timing direct = time(2000, [network] { network->update(false); });
    std::printf("update(false), nothing to read, called directly:\n"
                "  min %.1f us, median %.1f us, 99th percentile %.1f us, max %.1f us\n",
                direct.min, direct.median, direct.p99, direct.max);

    const Timing inThread = time(2000, [network] {
        QMetaObject::invokeMethod(network, [network] { network->deviceStatusUpdate(); },
                                  Qt::BlockingQueuedConnection);
    });
    std::printf("one status tick in the network's thread (queued round trip included):\n"
                "  min %.1f us, median %.1f us, 99th percentile %.1f us, max %.1f us\n",
                inThread.min, inThread.median, inThread.p99, inThread.max);

    clock.start();
    delete network;
    std::printf("deleting the network (thread joined, tree freed): %.1f ms\n",
                clock.nsecsElapsed() / 1e6);
    return 0;
}
