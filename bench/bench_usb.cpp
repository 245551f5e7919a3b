// Request/reply exchanges per second through USBDongle::transfer on the
// virtual Portline: with no latency (the tool's own overhead: dongle,
// handler with its lock and checks, backend) and with the 1 ms round trip
// of full-speed USB (the physical limit is 1000 exchanges per second).
//
//   bench_usb [exchanges without latency] [exchanges with latency]

#include "general/treenode.h"
#include "sim/simdongle.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "usb/usbhandler.h"

#include <QCoreApplication>

#include <chrono>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

using namespace halvorn;

namespace {

struct Rig {
    std::shared_ptr<sim::VirtualPortline> portline = std::make_shared<sim::VirtualPortline>();
    std::shared_ptr<usb::USBHandler> handler;
    general::TreeNode root;
    usb::USBDongle* dongle = nullptr;

    Rig()
    {
        portline->plug();
        handler = std::make_shared<usb::USBHandler>(portline);
        handler->checkForDevices();
        dongle = new usb::USBDongle(handler, 1, &root);
        dongle->setConnected();
    }
};

// Runs `count` parameter reads on each of `threads` threads; returns
// exchanges per second and counts the replies that failed.
double run(usb::USBDongle* dongle, long count, int threads, long& failures)
{
    std::atomic<long> failed{0};
    const auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
        workers.emplace_back([&] {
            unsigned char request[64] = {0x0D, 0x00, 37};
            unsigned char reply[64];
            for (long i = 0; i < count; ++i) {
                int replyLength = 64;
                reply[0] = 0;
                dongle->transfer(request, 64, reply, &replyLength);
                if (replyLength < 5 || reply[0] != 0x8D)
                    ++failed;
            }
        });
    }
    for (std::thread& worker : workers)
        worker.join();
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    failures = failed.load();
    return double(count) * threads / seconds;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const long fastCount = argc > 1 ? std::atol(argv[1]) : 2000000;
    const long slowCount = argc > 2 ? std::atol(argv[2]) : 5000;

    Rig rig;
    long failures = 0;
    run(rig.dongle, fastCount / 10, 1, failures); // warm-up
    for (int round = 0; round < 3; ++round) {
        const double rate = run(rig.dongle, fastCount, 1, failures);
        std::printf("no latency, 1 thread:   %10.0f exchanges/s (%.2f us each), %ld failed\n", rate,
                    1e6 / rate, failures);
    }
    const double shared = run(rig.dongle, fastCount / 2, 2, failures);
    std::printf("no latency, 2 threads:  %10.0f exchanges/s in all, %ld failed\n", shared, failures);

    rig.portline->setLatencyUs(1000);
    for (int round = 0; round < 3; ++round) {
        const double rate = run(rig.dongle, slowCount, 1, failures);
        std::printf("1 ms latency, 1 thread: %10.1f exchanges/s (%.1f %% of 1000), %ld failed\n", rate,
                    rate / 10.0, failures);
    }
    return 0;
}
