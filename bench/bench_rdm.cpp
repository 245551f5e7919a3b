// RDM discovery of 1, 20 and 100 simulated drivers on the virtual Portline
// with a 1 ms USB round trip: our RDMBinSearch against OLA's DiscoveryAgent
// on the same responders and the same network (both send their requests
// through VxNetwork). Prints DISC_UNIQUE_BRANCH requests per driver, wall
// time and the ratio of the request counts.
//
//   bench_rdm [populations per size, default 3] [sizes, default 1 20 100]

#include "general/log.h"
#include "sim/simdmxline.h"
#include "sim/simdongle.h"
#include "sim/virtualportline.h"
#include "tests/vx/oladiscovery.h"
#include "tests/vx/vxportline.h"
#include "vx/rdmbinsearch.h"
#include "vx/rdmpacket.h"
#include "vx/vxnetwork.h"

#include <QCoreApplication>
#include <QTest>

#include <chrono>
#include <cstdio>
#include <vector>

using namespace halvorn;

namespace {

constexpr int LatencyUs = 1000;

struct Run {
    int uniqueBranches = 0;
    int found = 0;
    double seconds = 0;
};

Run runOurs(vx::VxNetwork* network)
{
    vx::RDMBinSearch* search = network->rdmSearch();
    search->setTraceEnabled(false);
    const auto start = std::chrono::steady_clock::now();
    search->execute();
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.uniqueBranches = search->uniqueBranchCount();
    run.found = search->foundCount();
    return run;
}

Run runOla(vx::VxNetwork* network)
{
    OlaDiscovery ola;
    ola.unmuteAll = [network] {
        vx::VxNetwork::BusLocker lock(network);
        network->rdmDiscUnMute(vx::RDMPacket::BroadcastUid);
        network->sendInternalPacket();
    };
    ola.mute = [network](quint64 uid) {
        vx::VxNetwork::BusLocker lock(network);
        network->rdmDiscMute(uid);
        network->sendInternalPacket();
        return network->status() == vx::VxNetwork::StatusAnswer;
    };
    ola.branch = [network](quint64 lower, quint64 upper) {
        vx::VxNetwork::BusLocker lock(network);
        network->rdmDiscUniqueBranch(lower, upper);
        network->sendInternalPacket();
        const int status = network->status();
        if (status == vx::VxNetwork::StatusAnswer || status == vx::VxNetwork::StatusReceptionError) {
            // OLA needs bytes to see a collision: a reception error brings what was heard, or one byte.
            const QByteArray heard = network->answerBytes();
            return heard.isEmpty() ? QByteArray(1, '\0') : heard;
        }
        return QByteArray();
    };
    const auto start = std::chrono::steady_clock::now();
    const std::set<quint64> found = ola.run();
    Run run;
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    run.uniqueBranches = ola.branchCount();
    run.found = int(found.size());
    return run;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int populations = argc > 1 ? std::max(1, atoi(argv[1])) : 3;
    std::vector<int> sizes;
    for (int i = 2; i < argc; ++i)
        sizes.push_back(std::max(1, atoi(argv[i])));
    if (sizes.empty())
        sizes = {1, 20, 100};
    // The discovery lines of the main log are not what is measured here.
    general::mainLog()->setDisabled(true);

    std::printf("RDM discovery, %d us USB round trip, %d population(s) of random UIDs per size (mean)\n\n", LatencyUs,
                populations);
    std::printf("| drivers | ours: DUB requests | per driver | wall time | OLA: DUB requests | per driver | wall time | "
                "ratio ours/OLA | found (ours, OLA) |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (int size : sizes) {
        double ourBranches = 0, ourSeconds = 0, olaBranches = 0, olaSeconds = 0;
        int ourFound = 0, olaFound = 0;
        for (int p = 0; p < populations; ++p) {
            VxPortline portline;
            portline.line().addRandomDrivers(size, quint32(1000 + 17 * p + size), 0);
            if (!portline.start()) {
                std::fprintf(stderr, "the virtual Portline did not start\n");
                return 1;
            }
            portline.portline().setLatencyUs(LatencyUs);
            const Run ours = runOurs(portline.network());
            const Run theirs = runOla(portline.network());
            ourBranches += ours.uniqueBranches;
            ourSeconds += ours.seconds;
            ourFound += ours.found;
            olaBranches += theirs.uniqueBranches;
            olaSeconds += theirs.seconds;
            olaFound += theirs.found;
        }
        ourBranches /= populations;
        ourSeconds /= populations;
        olaBranches /= populations;
        olaSeconds /= populations;
        std::printf("| %d | %.0f | %.1f | %.2f s | %.0f | %.1f | %.2f s | %.2f | %d, %d of %d |\n", size, ourBranches,
                    ourBranches / size, ourSeconds, olaBranches, olaBranches / size, olaSeconds,
                    ourBranches / olaBranches, ourFound, olaFound, size * populations);
        std::fflush(stdout);
    }
    return 0;
}
