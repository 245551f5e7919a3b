// Range questions that BinSearch needs per device found, against the
// information-theoretic minimum.
//
//   bench_binsearch [trials]      (default 20 random populations per case)
//
// Prints figures; it is not a test. A scripted bus answers range questions
// from a random set of addresses as correct equipment would (no answer, one
// answer, collision). For n devices among 2^bits addresses, telling which n
// are present takes at least log2(C(2^bits, n)) bits of answers; each
// question yields at most log2(3) bits, so no search can ask fewer than
// log2(C(2^bits, n)) / log2(3) questions.

#include "general/binsearch.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QRandomGenerator>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <set>

using namespace halvorn::general;

namespace {

class ScriptedBus : public BinSearch
{
public:
    ScriptedBus(std::set<quint64> devices, quint64 high)
        : BinSearch(QStringLiteral("bench"), 0, high, false)
        , m_devices(std::move(devices))
    {
        setTraceEnabled(false);
    }

    void prepare() override {}

    int checkCondition(SearchNode* node) override
    {
        int answering = 0;
        for (auto it = m_devices.lower_bound(node->low); it != m_devices.end() && *it <= node->high;
             ++it) {
            if (!m_muted.count(*it) && ++answering == 2)
                return MultipleReplies;
        }
        return answering == 1 ? SingleReply : NoReply;
    }

    bool verify(SearchNode* node) override
    {
        const bool confirmed = m_devices.count(node->low) && !m_muted.count(node->low);
        found += confirmed ? 1 : 0;
        return confirmed;
    }

    void mute(SearchNode* node) override { m_muted.insert(node->low); }

    int found = 0;

private:
    const std::set<quint64> m_devices;
    std::set<quint64> m_muted;
};

// log2 of the binomial coefficient C(2^bits, n), summed exactly enough for
// 2^48 (lgamma would lose the difference in rounding).
double log2Binomial(int bits, int n)
{
    const double population = std::ldexp(1.0, bits);
    double sum = 0.0;
    for (int i = 0; i < n; ++i)
        sum += std::log2((population - i) / (i + 1));
    return sum;
}

struct Result
{
    double meanQuestions = 0;
    quint64 maxQuestions = 0;
    double seconds = 0;
    bool allFound = true;
};

Result run(int deviceCount, int bits, int trials)
{
    Result result;
    const quint64 high = bits == 64 ? ~quint64(0) : (quint64(1) << bits) - 1;
    QRandomGenerator random(quint32(deviceCount * 100 + bits));
    QElapsedTimer clock;
    for (int trial = 0; trial < trials; ++trial) {
        std::set<quint64> devices;
        while (int(devices.size()) < deviceCount)
            devices.insert(random.generate64() & high);
        ScriptedBus bus(devices, high);
        clock.start();
        bus.execute();
        result.seconds += clock.nsecsElapsed() / 1e9;
        result.meanQuestions += double(bus.questionCount()) / trials;
        result.maxQuestions = std::max(result.maxQuestions, bus.questionCount());
        result.allFound = result.allFound && bus.found == deviceCount;
    }
    result.seconds /= trials;
    return result;
}

} // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    const int trials = argc > 1 ? std::max(1, atoi(argv[1])) : 20;

    std::printf("Range questions of BinSearch (mean of %d random populations; the\n"
                "last 11 questions of every search are the silent whole-range ones)\n\n",
                trials);
    std::printf("%5s %4s | %9s %7s %8s | %9s %6s %7s | %7s %7s | %8s\n", "n", "bits",
                "questions", "max", "per dev", "min bits", "ratio", "ratio3", "per bit", "2nb+11",
                "ms");
    for (int bits : {24, 48}) {
        for (int n : {1, 10, 64, 500}) {
            const Result r = run(n, bits, trials);
            const double minimumBits = log2Binomial(bits, n);
            const double minimumQuestions = minimumBits / std::log2(3.0);
            std::printf("%5d %4d | %9.1f %7llu %8.1f | %9.1f %6.2f %7.2f | %7.2f %7d | %8.3f%s\n",
                        n, bits, r.meanQuestions, static_cast<unsigned long long>(r.maxQuestions),
                        r.meanQuestions / n, minimumBits, r.meanQuestions / minimumBits,
                        r.meanQuestions / minimumQuestions, (r.meanQuestions - 11) / (n * bits),
                        2 * n * bits + 11, r.seconds * 1e3, r.allFound ? "" : "  (devices missed!)");
        }
    }
    std::printf("\nratio   = questions / log2(C(2^bits, n))\n"
                "ratio3  = questions / (log2(C(2^bits, n)) / log2(3)), the least any\n"
                "          three-answer search can ask\n"
                "per bit = (questions - 11) / (n * bits)\n"
                "2nb+11  = the bound n * 2 * bits + 11\n");
    return 0;
}
