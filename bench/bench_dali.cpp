// DALI commissioning against the 1200 baud bus: how much time the tool adds
// to what the frames themselves need on the wire.
//
// A DaliNetwork runs on the virtual Portline with realistic bus timing (the
// gear answer and the bus settles as IEC 62386-101 allows) and a 1 ms USB
// round trip. For each run the bus reports the frames it carried and the
// shortest time those frames need (forward frames, backward frames and the
// settling times between them); the tool's wall time is compared with it.

#include "dali/dalinetwork.h"
#include "general/binsearch.h"
#include "general/task.h"
#include "general/treenode.h"
#include "sim/simdongle.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "usb/usbhandler.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QSignalSpy>

#include <cstdio>
#include <memory>

using namespace halvorn;

namespace {

struct Rig
{
    std::shared_ptr<sim::VirtualPortline> portline = std::make_shared<sim::VirtualPortline>();
    std::shared_ptr<sim::SimDongle> dongle;
    std::shared_ptr<usb::USBHandler> handler;
    general::TreeNode* root = new general::TreeNode;
    dali::DaliNetwork* network = nullptr;

    Rig(int gearCount, bool addressed)
    {
        portline->setLatencyUs(1000);
        dongle = portline->plug();
        {
            auto guard = dongle->lock();
            sim::SimDaliBus& bus = dongle->daliBus();
            bus.setExternalSupply(true);
            bus.setRealisticTiming(true);
            for (int i = 0; i < gearCount; ++i) {
                sim::SimDaliGearConfig config;
                config.seed = 1000u + uint32_t(i) * 7919u;
                config.shortAddress = addressed ? uint8_t(i) : 0xFF;
                bus.addGear(config);
            }
        }
        handler = std::make_shared<usb::USBHandler>(portline);
        handler->checkForDevices();
        auto* usbDongle = new usb::USBDongle(handler, 1, root);
        network = new dali::DaliNetwork(usbDongle);
        usbDongle->addChild(network, false);
        QSignalSpy initialised(network, &general::Network::networkInitialized);
        network->emitNetworkCreated();
        if (initialised.isEmpty())
            initialised.wait(10000);
    }
    ~Rig() { delete root; }
};

void measure(const char* what, int gearCount, bool addressed, int searchKind)
{
    Rig rig(gearCount, addressed);
    general::Task* task = rig.network->searchTask(searchKind);
    if (auto* search = qobject_cast<general::BinSearch*>(task))
        search->setTraceEnabled(false);
    {
        auto guard = rig.dongle->lock();
        rig.dongle->daliBus().resetStatistics();
    }
    const int exchangesBefore = rig.dongle->totalRequestCount();
    QElapsedTimer timer;
    timer.start();
    task->execute();
    const double wallMs = timer.nsecsElapsed() / 1e6;

    sim::SimDaliBus::Statistics stats;
    int commissioned = 0;
    {
        auto guard = rig.dongle->lock();
        stats = rig.dongle->daliBus().statistics();
        for (int i = 0; i < rig.dongle->daliBus().gearCount(); ++i)
            commissioned += rig.dongle->daliBus().gear(i).hasShortAddress();
    }
    const double limitMs = stats.minimumBusTimeUs / 1000.0;
    std::printf("| %s | %d | %d | %lld | %lld | %d | %.0f | %.0f | %+.1f %% |\n", what, gearCount, commissioned,
                static_cast<long long>(stats.forwardFrames), static_cast<long long>(stats.busyReplies),
                rig.dongle->totalRequestCount() - exchangesBefore, wallMs, limitMs,
                100.0 * (wallMs - limitMs) / limitMs);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const bool quick = argc > 1 && QByteArray(argv[1]) == "quick";
    std::printf("| run | gear | gear with a short address after | DALI frames | busy replies | USB exchanges "
                "| wall time (ms) | 1200 baud limit (ms) | tool adds |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    measure("Search short addresses", 16, true, dali::DaliNetwork::SearchShortAddresses);
    measure("Search all devices", 16, false, dali::DaliNetwork::SearchAllDevices);
    if (!quick)
        measure("Search all devices", 63, false, dali::DaliNetwork::SearchAllDevices);
    return 0;
}
