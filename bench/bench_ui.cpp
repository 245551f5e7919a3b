// What the GUI thread pays for the two busiest views of the tool.
//
//   bench_ui [seconds per phase] [log|tree]     (default: 5 s, both)
//
// Prints figures; it is not a test. Runs with the offscreen platform when no
// display is set.
//
// 1. A LogWidget on a log of 1 000 000 messages that receives 10 000 more per
//    second from another thread: the time until the widget is shown, the
//    time the GUI thread spends on each batch the log announces (the model's
//    rows and the view's reaction, measured between two connections that
//    bracket the widget's own), the GUI thread's CPU time per second
//    (painting included) and the memory the widget adds.
// 2. A tree model and an expanded tree view over 100 devices × 250
//    parameters whose values all change every 50 ms in a network thread:
//    the GUI thread's CPU time per second, and the size of its batches.

#include "general/log.h"
#include "general/parameter.h"
#include "general/parameterdevice.h"
#include "general/parametergroup.h"
#include "general/treenode.h"
#include "general/ui/logmodel.h"
#include "general/ui/logwidget.h"
#include "general/ui/treenodecontroller.h"
#include "general/ui/treenodemodel.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QHeaderView>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>
#include <QTimer>
#include <QTreeView>

#include <pthread.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

using namespace halvorn::general;

namespace {

size_t residentBytes()
{
    QFile statm(QStringLiteral("/proc/self/statm"));
    if (!statm.open(QIODevice::ReadOnly))
        return 0;
    const QList<QByteArray> fields = statm.readAll().split(' ');
    return fields.size() > 1 ? size_t(fields.at(1).toULongLong()) * size_t(sysconf(_SC_PAGESIZE)) : 0;
}

double megabytes(size_t bytes)
{
    return double(bytes) / (1024.0 * 1024.0);
}

// CPU time of the calling thread, in milliseconds.
double threadCpuMs()
{
    timespec ts{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
    return double(ts.tv_sec) * 1000.0 + double(ts.tv_nsec) / 1e6;
}

struct Stats {
    std::vector<double> values;
    void add(double v) { values.push_back(v); }
    double max() const { return values.empty() ? 0 : *std::max_element(values.begin(), values.end()); }
    double mean() const
    {
        double sum = 0;
        for (double v : values)
            sum += v;
        return values.empty() ? 0 : sum / double(values.size());
    }
    double percentile(double p) const
    {
        if (values.empty())
            return 0;
        std::vector<double> sorted = values;
        std::sort(sorted.begin(), sorted.end());
        return sorted[size_t(p * double(sorted.size() - 1))];
    }
};

// Runs the event loop for a while; returns the longest time a 5 ms timer
// was late, i.e. the longest the GUI thread was busy without a break.
double runEventLoop(int seconds)
{
    QEventLoop loop;
    QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
    QTimer probe;
    QElapsedTimer sinceTick;
    double longestMs = 0;
    QObject::connect(&probe, &QTimer::timeout, [&] {
        longestMs = std::max(longestMs, double(sinceTick.nsecsElapsed()) / 1e6 - 5.0);
        sinceTick.start();
    });
    sinceTick.start();
    probe.start(5);
    loop.exec();
    return longestMs;
}

void benchLogWidget(int seconds)
{
    std::printf("== LogWidget: 1 000 000 messages, then 10 000 per second for %d s\n", seconds);
    auto* log = new Log(QStringLiteral("bench"));
    QThread logThread;
    log->moveToThread(&logThread);
    logThread.start();
    for (int i = 0; i < 1000000; ++i)
        log->logMessage(CHORUS, QStringLiteral("SEND    D0 01 02 03 04 05 06 07 E3   parameter read %1").arg(i),
                        MessageType(i % 12), QThread::currentThread());
    const size_t beforeWidget = residentBytes();

    QElapsedTimer clock;
    clock.start();
    auto* widget = new LogWidget;
    widget->resize(1000, 700);
    // Brackets around the widget's own handling of each batch.
    QElapsedTimer batchClock;
    Stats batches;
    QObject::connect(log, &Log::addedMessages, widget, [&batchClock] { batchClock.start(); });
    widget->setLog(log);
    QObject::connect(log, &Log::addedMessages, widget, [&batchClock, &batches] {
        batches.add(double(batchClock.nsecsElapsed()) / 1e6);
    });
    widget->show();
    QCoreApplication::processEvents();
    const double showMs = double(clock.nsecsElapsed()) / 1e6;
    std::printf("shown in                     %8.1f ms (setLog, show and first paint)\n", showMs);
    std::printf("memory added by the widget   %8.1f MB (resident)\n", megabytes(residentBytes() - beforeWidget));

    std::atomic<bool> stop{false};
    std::unique_ptr<QThread> producer(QThread::create([log, &stop] {
        QElapsedTimer paced;
        paced.start();
        qint64 sent = 0;
        while (!stop.load()) {
            // 10 000 per second in slices of 50 every 5 ms.
            const qint64 due = paced.elapsed() * 10;
            for (; sent < due; ++sent)
                log->logMessage(DALI, QStringLiteral("ANSWER  %1").arg(sent), REPLY, QThread::currentThread());
            QThread::msleep(5);
        }
    }));
    producer->start();
    const double cpuBefore = threadCpuMs();
    clock.restart();
    const double stallMs = runEventLoop(seconds);
    const double cpuPerSecond = (threadCpuMs() - cpuBefore) / (double(clock.elapsed()) / 1000.0);
    stop = true;
    producer->wait();

    std::printf("batches handled              %8zu\n", batches.values.size());
    std::printf("per batch in the GUI thread  %8.2f ms mean, %.2f ms p99, %.2f ms max\n", batches.mean(),
                batches.percentile(0.99), batches.max());
    std::printf("GUI thread CPU               %8.1f ms per second (painting included)\n", cpuPerSecond);
    std::printf("longest busy stretch         %8.1f ms\n", stallMs);
    std::printf("rows shown at the end        %8d (log holds %d)\n", widget->logModel()->rowCount(), log->count());
    std::printf("vertical header resize mode  %8s, default section %d px\n",
                widget->verticalHeader()->sectionResizeMode(0) == QHeaderView::ResizeToContents ? "measured"
                                                                                                  : "unmeasured",
                widget->verticalHeader()->defaultSectionSize());
    std::printf("resident at the end          %8.1f MB\n\n", megabytes(residentBytes()));

    delete widget;
    QMetaObject::invokeMethod(log, [log] { log->deleteLater(); });
    logThread.quit();
    logThread.wait();
}

// Sets every parameter of the network to a new value every 50 ms.
class Updater : public QObject
{
public:
    explicit Updater(QList<Parameter*> parameters)
        : m_parameters(std::move(parameters))
    {
    }
    void start()
    {
        m_timer = new QTimer(this);
        connect(m_timer, &QTimer::timeout, this, [this] {
            const double before = threadCpuMs();
            for (Parameter* parameter : std::as_const(m_parameters))
                parameter->setValue(int(m_random.bounded(1000)), false);
            cpuMs += threadCpuMs() - before;
            ++ticks;
        });
        m_timer->start(50);
    }
    void stop() { delete m_timer; }
    std::atomic<int> ticks{0};
    std::atomic<double> cpuMs{0};

private:
    QList<Parameter*> m_parameters;
    QTimer* m_timer = nullptr;
    QRandomGenerator m_random{7};
};

void benchTree(int seconds, bool expanded)
{
    constexpr int kDevices = 100;
    constexpr int kParameters = 250;
    std::printf("== Tree model: %d devices x %d parameters, every value every 50 ms, %s view, %d s\n",
                kDevices, kParameters, expanded ? "fully expanded" : "collapsed", seconds);
    QThread networkThread;
    TreeNode root;
    auto* network = new ParameterGroup;
    network->setName(QStringLiteral("Network"));
    QList<Parameter*> parameters;
    for (int d = 0; d < kDevices; ++d) {
        auto* device = new ParameterDevice;
        device->setName(QStringLiteral("Device %1").arg(d));
        for (int p = 0; p < kParameters; ++p) {
            auto* parameter = new Parameter(device, uint(p), QStringLiteral("Parameter %1").arg(p), QString(), 0,
                                            1000, 0, false, false, Parameter::Decimal);
            device->addChild(parameter, false);
            parameters.append(parameter);
        }
        network->addChild(device, false);
    }
    root.addChild(network, false);

    TreeNodeController controller;
    root.setController(&controller);
    TreeNodeModel model(&root);
    controller.setModel(&model);
    int changedRanges = 0;
    QObject::connect(&model, &QAbstractItemModel::dataChanged, [&changedRanges] { ++changedRanges; });

    QTreeView view;
    // Rows of one height: otherwise the view measures every changed row.
    view.setUniformRowHeights(true);
    view.setModel(&model);
    view.resize(900, 800);
    view.expand(model.index(0, 0));
    if (expanded)
        view.expandAll();
    view.show();
    QCoreApplication::processEvents();

    network->moveToThread(&networkThread);
    for (TreeNode* device : network->childNodes()) {
        device->moveToThread(&networkThread);
        for (TreeNode* parameter : device->childNodes())
            parameter->moveToThread(&networkThread);
    }
    Updater updater(parameters);
    updater.moveToThread(&networkThread);
    networkThread.start();
    QMetaObject::invokeMethod(&updater, [&updater] { updater.start(); });

    const double cpuBefore = threadCpuMs();
    QElapsedTimer clock;
    clock.start();
    const double stallMs = runEventLoop(seconds);
    const double elapsedS = double(clock.elapsed()) / 1000.0;
    const double guiCpu = threadCpuMs() - cpuBefore;
    QMetaObject::invokeMethod(&updater, [&updater] { updater.stop(); }, Qt::BlockingQueuedConnection);
    const int ticks = updater.ticks.load();

    std::printf("network ticks                %8d (%.0f value changes per second)\n", ticks,
                double(ticks) * kDevices * kParameters / elapsedS);
    std::printf("network thread CPU           %8.1f ms per second (setting values, notifying)\n",
                updater.cpuMs.load() / elapsedS);
    std::printf("GUI thread CPU               %8.1f ms per second = %.1f %%\n", guiCpu / elapsedS,
                guiCpu / elapsedS / 10.0);
    std::printf("dataChanged ranges           %8.0f per second\n", double(changedRanges) / elapsedS);
    std::printf("longest busy stretch         %8.1f ms\n\n", stallMs);

    root.setController(nullptr);
    networkThread.quit();
    networkThread.wait();
    root.removeChild(network);
    // The nodes moved to the network thread; that thread has finished, so
    // deleting them here is safe.
    delete network;
}

} // namespace

int main(int argc, char* argv[])
{
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int seconds = argc > 1 ? std::max(1, QByteArray(argv[1]).toInt()) : 5;
    const QByteArray only = argc > 2 ? QByteArray(argv[2]) : QByteArray();
    if (only.isEmpty() || only == "log")
        benchLogWidget(seconds);
    if (only.isEmpty() || only == "tree") {
        benchTree(seconds, false);
        benchTree(seconds, true);
    }
    return 0;
}
