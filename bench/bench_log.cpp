// Throughput and memory of Log::logMessage, and how a long log behaves.
//
//   bench_log [messages]      (default 10000000)
//
// Prints figures; it is not a test. Four threads append concurrently, first
// texts they built beforehand (the append alone), then texts they format as
// they go (what a caller pays in all).

#include "general/log.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRandomGenerator>
#include <QThread>

#include <malloc.h>

#include <atomic>
#include <cstdio>
#include <memory>
#include <vector>

using namespace halvorn::general;

namespace {

constexpr int kThreads = 4;

size_t heapInUse()
{
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

QString messageText(int thread, int index)
{
    return QStringLiteral("Frame %1 from thread %2").arg(index).arg(thread);
}

// Runs `work(thread)` on kThreads threads started together; returns seconds.
template <typename Work>
double runConcurrently(Work work)
{
    std::atomic<int> ready{0};
    std::atomic<bool> go{false};
    std::vector<std::unique_ptr<QThread>> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back(QThread::create([&, t] {
            ready.fetch_add(1);
            while (!go.load())
                QThread::yieldCurrentThread();
            work(t);
        }));
        threads.back()->start();
    }
    while (ready.load() < kThreads)
        QThread::yieldCurrentThread();
    QElapsedTimer clock;
    clock.start();
    go = true;
    for (auto& thread : threads)
        thread->wait();
    return double(clock.nsecsElapsed()) / 1e9;
}

void report(const char* what, double value, const char* unit)
{
    std::printf("%-58s %14.1f %s\n", what, value, unit);
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int total = argc > 1 ? QString::fromLocal8Bit(argv[1]).toInt() : 10'000'000;
    const int perThread = total / kThreads;
    const int count = perThread * kThreads;
    std::printf("Log benchmark: %d messages from %d threads on %d cores\n\n", count, kThreads,
                QThread::idealThreadCount());

    // 1. Appending texts built beforehand, with the memory it takes.
    {
        const size_t heapBefore = heapInUse();
        std::vector<std::vector<QString>> texts(kThreads);
        qint64 characterBytes = 0;
        for (int t = 0; t < kThreads; ++t) {
            texts[size_t(t)].reserve(size_t(perThread));
            for (int i = 0; i < perThread; ++i) {
                texts[size_t(t)].push_back(messageText(t, i));
                characterBytes += texts[size_t(t)].back().size() * qint64(sizeof(QChar));
            }
        }
        auto log = std::make_unique<Log>(QStringLiteral("bench"));
        const double seconds = runConcurrently([&](int t) {
            for (const QString& text : texts[size_t(t)])
                log->logMessage(TEST, text, INFO, nullptr);
        });
        texts.clear();
        texts.shrink_to_fit();
        malloc_trim(0);
        const double bytesPerMessage = double(heapInUse() - heapBefore) / count;
        report("append, texts built beforehand", count / seconds, "messages/s");
        report("heap per stored message", bytesPerMessage, "bytes");
        report("  of which text characters", double(characterBytes) / count, "bytes");
        report("  beyond the characters", bytesPerMessage - double(characterBytes) / count, "bytes");

        // 2. A long log stays usable.
        QElapsedTimer clock;
        clock.start();
        int seen = 0;
        for (int i = 0; i < 1000; ++i)
            seen += log->count();
        report("count()", double(clock.nsecsElapsed()) / 1000, "ns per call");
        Q_UNUSED(seen);

        clock.restart();
        qint64 checksum = 0;
        QRandomGenerator random(42);
        for (int i = 0; i < 1'000'000; ++i)
            checksum += log->message(int(random.bounded(count)))->msgClass();
        report("message(random index)", double(clock.nsecsElapsed()) / 1e6, "ns per call");
        Q_UNUSED(checksum);

        const QString path = QDir::temp().filePath(QStringLiteral("bench_log.txt"));
        clock.restart();
        const bool saved = log->saveToFile(path);
        const double saveSeconds = double(clock.nsecsElapsed()) / 1e9;
        report(saved ? "saveToFile" : "saveToFile FAILED", saveSeconds, "s");
        report("  file size", double(QFileInfo(path).size()) / 1e6, "MB");
        QFile::remove(path);

        clock.restart();
        log->clear();
        report("clear() (the caller's part)", double(clock.nsecsElapsed()) / 1e6, "ms");
        clock.restart();
        QCoreApplication::processEvents();
        report("freeing the cleared messages (main thread)", double(clock.nsecsElapsed()) / 1e6, "ms");
    }

    // 3. Appending texts formatted in the logging threads.
    {
        auto log = std::make_unique<Log>(QStringLiteral("bench"));
        const double seconds = runConcurrently([&](int t) {
            for (int i = 0; i < perThread; ++i)
                log->logMessage(TEST, messageText(t, i), INFO, nullptr);
        });
        report("append, texts formatted while logging", count / seconds, "messages/s");
    }
    return 0;
}
