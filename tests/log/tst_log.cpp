// Logging: message texts and labels, batched announcements under concurrent
// logging, clearing while views hold messages, saving, and the log file tee.

#include "general/log.h"
#include "general/logfilewriter.h"
#include "general/logmessage.h"
#include "general/networklog.h"
#include "general/threadnames.h"
#include "tests/support/testthreads.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QMutex>
#include <QPointer>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <atomic>
#include <csignal>
#include <functional>
#include <memory>
#include <sys/resource.h>
#include <vector>

using namespace halvorn::general;
using halvorn::test::runInThread;
using halvorn::test::runInThreads;

namespace {

constexpr int kBatchDelayMs = 200;
// Timers may be late but never early; this leaves room for clock rounding.
constexpr qint64 kMinBatchGapNs = 190'000'000;

QString expectedTime(const LogMessage& message)
{
    return QDateTime::fromMSecsSinceEpoch(message.msecsSinceEpoch()).toString(QStringLiteral("HH:mm:ss.zzz"));
}

// A message that counts its destructions, to see when a log lets go of it.
class CountingMessage : public LogMessage
{
public:
    explicit CountingMessage(const QString& text)
        : LogMessage(text, TEST, INFO, QThread::currentThread())
    {
    }
    ~CountingMessage() override { destroyed.fetch_add(1); }

    static inline std::atomic<int> destroyed{0};
};

// Records every announcement of a log in the order the log emitted them,
// with the time of emission (connected directly, so it runs in the emitting
// thread while the log still holds its announcement lock).
class AnnouncementRecorder
{
public:
    struct Announcement
    {
        bool added;
        int first;
        int last;
        qint64 nanoseconds;
    };

    explicit AnnouncementRecorder(Log* log)
    {
        m_clock.start();
        QObject::connect(log, &Log::addedMessages, &m_context,
                         [this](int first, int last) { record(true, first, last); }, Qt::DirectConnection);
        QObject::connect(log, &Log::removedMessages, &m_context,
                         [this](int first, int last) { record(false, first, last); }, Qt::DirectConnection);
    }

    std::vector<Announcement> announcements() const
    {
        QMutexLocker locker(&m_mutex);
        return m_announcements;
    }

    int announcedCount() const
    {
        int total = 0;
        for (const Announcement& a : announcements())
            if (a.added)
                total += a.last - a.first + 1;
        return total;
    }

private:
    void record(bool added, int first, int last)
    {
        QMutexLocker locker(&m_mutex);
        m_announcements.push_back({added, first, last, m_clock.nsecsElapsed()});
    }

    QObject m_context;
    QElapsedTimer m_clock;
    mutable QMutex m_mutex;
    std::vector<Announcement> m_announcements; // guarded by m_mutex
};

// A log running in a thread of its own, as a network's log does.
struct ThreadedLog
{
    explicit ThreadedLog(const QString& name)
        : log(new NetworkLog(name))
    {
        thread.start();
        log->moveToThread(&thread);
    }
    ~ThreadedLog()
    {
        QObject::connect(&thread, &QThread::finished, log, &QObject::deleteLater);
        thread.quit();
        thread.wait(5000);
    }

    QThread thread;
    NetworkLog* log;
};

bool writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

QByteArray readBytes(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QStringList fileLines(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QStringList lines = QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

} // namespace

class TestLog : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void labels_data();
    void labels();
    void viewColumns();
    void timeStampFollowsTheClockAcrossSeconds();
    void messagesKeepTheThreadNameOfTheirTime();

    void quickMessagesMakeOneBatch();
    void concurrentMessagesAreAnnouncedOnceInOrder();
    void catchUpMarksEverythingAnnounced();
    void disabledLogDropsMessages();

    void clearRemovesEverythingAndRestartsNumbering_data();
    void clearRemovesEverythingAndRestartsNumbering();
    void clearWhileLoggingKeepsAnnouncementsConsistent();
    void removedMessagesOutliveViews_data();
    void removedMessagesOutliveViews();
    void slotsMayReadTheLogWhileItAnnounces();

    void saveWritesOneLinePerMessage();
    void failedSaveKeepsExistingFile_data();
    void failedSaveKeepsExistingFile();

    void fileWriterTeesEveryLogWithItsName();
    void fileWriterKeepsLinesWholeAcrossThreads();
    void fileWriterReportsUnopenableFile();
};

void TestLog::labels_data()
{
    QTest::addColumn<int>("msgClass");
    QTest::addColumn<int>("type");
    QTest::addColumn<QString>("classLabel");
    QTest::addColumn<QString>("typeLabel");
    //                                       class         type              class label  type label
    QTest::newRow("dali reply")          << int(DALI)     << int(REPLY)      << "DALI"     << "[REPLY] ";
    QTest::newRow("general error")       << int(GENERAL)  << int(ERROR)      << "GENERAL"  << "[ERROR] ";
    QTest::newRow("rdm send")            << int(RDM)      << int(SEND)       << "RDM"      << "[SEND ] ";
    QTest::newRow("rdm desc, ok")        << int(RDM_DESC) << int(OK)         << "RDM DESC" << "[ OK  ] ";
    QTest::newRow("virtual dali, info")  << int(VIRTDALI) << int(INFO)       << "VIRTDALI" << "[INFO ] ";
    QTest::newRow("chorus, python out")  << int(CHORUS)   << int(PYTHON_OUT) << "CHORUS"   << "[PYTHO] ";
    QTest::newRow("test, no reply")      << int(TEST)     << int(NOREPLY)    << "TEST"     << "[NOREP] ";
    QTest::newRow("usb, failure")        << int(USB)      << int(FAILURE)    << "USB"      << "[ERROR] ";
    QTest::newRow("keymark, checksum")   << int(KEYMARK)  << int(ERRCS)      << "KEYMARK"  << "[ERRCS] ";
    QTest::newRow("class 15, debug")     << 15            << int(DEBUG)      << "UNKNOWN"  << "[DEBUG] ";
    QTest::newRow("negative, type 12")   << -1            << 12              << "UNKNOWN"  << "";
    QTest::newRow("large, negative")     << 1000          << -3              << "UNKNOWN"  << "";
}

void TestLog::labels()
{
    QFETCH(int, msgClass);
    QFETCH(int, type);
    QFETCH(QString, classLabel);
    QFETCH(QString, typeLabel);
    const LogMessage message(QStringLiteral("Frame 12 34"), MessageClass(msgClass), MessageType(type), nullptr);
    QCOMPARE(messageClassLabel(msgClass), classLabel);
    QCOMPARE(message.data(1).toString(), classLabel);
    QCOMPARE(messageTypeLabel(type), typeLabel);
    QCOMPARE(message.toString(), '[' + expectedTime(message) + "]   " + typeLabel + "Frame 12 34");
}

void TestLog::viewColumns()
{
    Log log(QStringLiteral("columns"));
    QCOMPARE((QStringList{log.columnName(0), log.columnName(3), log.columnName(4)}), (QStringList{"Time", "Message", ""}));
    QCOMPARE(log.columnCount(), 4);

    QThread named;
    setThreadName(&named, QStringLiteral("DaliNetwork"));
    const LogMessage message(QStringLiteral("QUERY STATUS"), DALI, SEND, &named);
    QStringList cells;
    for (int column = 0; column < 4; ++column)
        cells << message.data(column).toString();
    QCOMPARE(cells, (QStringList{expectedTime(message), "DALI", "DaliNetwork", "QUERY STATUS"}));
    QVERIFY(!message.data(4).isValid() && !message.data(-1).isValid());
    QCOMPARE(message.toolTip(), QStringLiteral("QUERY STATUS"));
}

void TestLog::timeStampFollowsTheClockAcrossSeconds()
{
    const LogMessage before(QStringLiteral("a"), GENERAL, INFO, nullptr);
    (void)before.toString();
    const qint64 second = before.msecsSinceEpoch() / 1000;
    QTRY_VERIFY_WITH_TIMEOUT(QDateTime::currentMSecsSinceEpoch() / 1000 > second, 2000);
    const LogMessage after(QStringLiteral("b"), GENERAL, INFO, nullptr);
    QCOMPARE(after.toString().mid(1, 12), expectedTime(after));
    QCOMPARE(before.toString().mid(1, 12), expectedTime(before));
    QCOMPARE(after.time(), QDateTime::fromMSecsSinceEpoch(after.msecsSinceEpoch()));
}

void TestLog::messagesKeepTheThreadNameOfTheirTime()
{
    QThread pool;
    setThreadName(&pool, QStringLiteral("Search daisy"));
    const LogMessage first(QStringLiteral("one"), GENERAL, INFO, &pool);
    setThreadName(&pool, QStringLiteral("Parameter search"));
    const LogMessage second(QStringLiteral("two"), GENERAL, INFO, &pool);
    QThread unnamed;
    const LogMessage anonymous(QStringLiteral("three"), GENERAL, INFO, &unnamed);
    // A thread object that is gone takes its name along; its messages keep it.
    auto* network = new QThread;
    setThreadName(network, QStringLiteral("VxNetwork"));
    const LogMessage fromNetwork(QStringLiteral("frame"), CHORUS, SEND, network);
    const quintptr address = reinterpret_cast<quintptr>(network);
    delete network;
    QCOMPARE((QStringList{first.data(2).toString(), second.data(2).toString(), anonymous.data(2).toString(),
                          fromNetwork.data(2).toString(), threadName(reinterpret_cast<QThread*>(address))}), // NOLINT(performance-no-int-to-ptr): a gone thread's address
             (QStringList{"Search daisy", "Parameter search", QString::number(reinterpret_cast<quintptr>(&unnamed)),
                          "VxNetwork", QString::number(address)}));

    // A name given in another thread is seen by a thread that cached the old one.
    QString seenByWorker;
    QVERIFY(runInThread([&] {
        (void)currentThreadNameId(&pool);
        setThreadName(&pool, QStringLiteral("Update"));
        seenByWorker = LogMessage(QStringLiteral("four"), GENERAL, INFO, &pool).threadName();
    }));
    QCOMPARE(seenByWorker, QStringLiteral("Update"));
}

void TestLog::quickMessagesMakeOneBatch()
{
    Log log(QStringLiteral("batches"));
    QSignalSpy added(&log, &Log::addedMessages);
    QElapsedTimer clock;
    clock.start();
    for (int i = 0; i < 10; ++i)
        log.logMessage(GENERAL, QStringLiteral("message %1").arg(i), INFO, QThread::currentThread());
    if (clock.elapsed() >= 50)
        QSKIP("the machine was too busy to log ten messages within 50 ms");

    QVERIFY(added.wait(2000));
    QVERIFY(clock.elapsed() >= kBatchDelayMs - 10);
    QCOMPARE(added.count(), 1);
    QCOMPARE(added.at(0), (QList<QVariant>{0, 9}));

    QTest::qWait(int(300 - clock.elapsed()));
    log.logMessage(GENERAL, QStringLiteral("eleventh"), INFO, QThread::currentThread());
    QVERIFY(added.wait(2000));
    QCOMPARE(added.count(), 2);
    QCOMPARE(added.at(1), (QList<QVariant>{10, 10}));

    QTest::qWait(300);
    QCOMPARE(added.count(), 2);
    QCOMPARE(log.count(), 11);
}

void TestLog::concurrentMessagesAreAnnouncedOnceInOrder()
{
    constexpr int kThreads = 4;
    constexpr int kBursts = 60;
    constexpr int kBurstSize = 250;
    constexpr int kTotal = kThreads * kBursts * kBurstSize;

    ThreadedLog threaded(QStringLiteral("concurrent"));
    Log* log = threaded.log;
    AnnouncementRecorder recorder(log);

    QVERIFY(runInThreads(kThreads, [log](int t) {
        int sequence = 0;
        for (int burst = 0; burst < kBursts; ++burst) {
            for (int i = 0; i < kBurstSize; ++i)
                log->logMessage(TEST, QStringLiteral("%1 %2").arg(t).arg(sequence++), INFO, QThread::currentThread());
            QThread::msleep(5); // spread the logging over several batches
        }
    }));

    QTRY_COMPARE_WITH_TIMEOUT(recorder.announcedCount(), kTotal, 10000);
    QCOMPARE(log->count(), kTotal);

    const auto announcements = recorder.announcements();
    QVERIFY2(announcements.size() >= 2, "the logging should span several batches");
    int next = 0;
    for (size_t i = 0; i < announcements.size(); ++i) {
        const auto& a = announcements[i];
        QVERIFY(a.added);
        QCOMPARE(a.first, next);
        QVERIFY(a.last >= a.first);
        next = a.last + 1;
        if (i > 0) {
            const qint64 gap = a.nanoseconds - announcements[i - 1].nanoseconds;
            QVERIFY2(gap >= kMinBatchGapNs, qPrintable(QStringLiteral("batches %1 ns apart").arg(gap)));
        }
    }
    QCOMPARE(next, kTotal);

    // Every message exactly once, each thread's messages in their order.
    std::vector<int> expectedSequence(kThreads, 0);
    for (int i = 0; i < kTotal; ++i) {
        const QStringList parts = log->message(i)->text().split(QLatin1Char(' '));
        QCOMPARE(parts.size(), 2);
        const int thread = parts[0].toInt();
        QCOMPARE(parts[1].toInt(), expectedSequence[size_t(thread)]);
        ++expectedSequence[size_t(thread)];
    }
}

void TestLog::catchUpMarksEverythingAnnounced()
{
    Log log(QStringLiteral("catch up"));
    QSignalSpy added(&log, &Log::addedMessages);
    for (int i = 0; i < 3; ++i)
        log.logMessage(GENERAL, QStringLiteral("read by the view"), INFO, nullptr);
    log.catchUp();
    QVERIFY(!added.wait(kBatchDelayMs * 2));

    log.logMessage(GENERAL, QStringLiteral("new"), INFO, nullptr);
    QVERIFY(added.wait(2000));
    QCOMPARE(added.count(), 1);
    QCOMPARE(added.at(0), (QList<QVariant>{3, 3}));
}

void TestLog::disabledLogDropsMessages()
{
    Log log(QStringLiteral("disabled"));
    log.setDisabled(true);
    QVERIFY(log.isDisabled());
    const int destroyedBefore = CountingMessage::destroyed.load();
    log.logMessage(GENERAL, QStringLiteral("dropped"), INFO, nullptr);
    log.logMessage(new CountingMessage(QStringLiteral("dropped too")));
    QCOMPARE(log.count(), 0);
    QCOMPARE(CountingMessage::destroyed.load(), destroyedBefore + 1);

    log.setDisabled(false);
    log.logMessage(GENERAL, QStringLiteral("kept"), INFO, nullptr);
    QCOMPARE(log.count(), 1);
    QCOMPARE(log.message(0)->text(), QStringLiteral("kept"));
    QCOMPARE(log.message(1), nullptr);
    QCOMPARE(log.message(-1), nullptr);
}

void TestLog::clearRemovesEverythingAndRestartsNumbering_data()
{
    QTest::addColumn<int>("messages");
    QTest::addColumn<bool>("announced");
    QTest::newRow("empty log: nothing to announce") << 0 << false;
    QTest::newRow("announced messages") << 5 << true;
    QTest::newRow("pending batch is dropped") << 3 << false;
}

void TestLog::clearRemovesEverythingAndRestartsNumbering()
{
    QFETCH(int, messages);
    QFETCH(bool, announced);
    Log log(QStringLiteral("cleared"));
    QSignalSpy added(&log, &Log::addedMessages);
    QSignalSpy removed(&log, &Log::removedMessages);
    for (int i = 0; i < messages; ++i)
        log.logMessage(GENERAL, QStringLiteral("m%1").arg(i), INFO, nullptr);
    if (announced) {
        QVERIFY(added.wait(2000));
        added.clear();
    }

    log.clear();
    QCOMPARE(log.count(), 0);
    QCOMPARE(removed.count(), messages ? 1 : 0);
    if (messages)
        QCOMPARE(removed.at(0), (QVariantList{0, messages - 1}));
    if (!announced)
        QVERIFY(!added.wait(kBatchDelayMs * 2));

    log.logMessage(GENERAL, QStringLiteral("after"), INFO, nullptr);
    QVERIFY(added.wait(2000));
    QCOMPARE(added.count(), 1);
    QCOMPARE(added.at(0), (QVariantList{0, 0}));
    QCOMPARE(log.message(0)->text(), QStringLiteral("after"));
}

void TestLog::clearWhileLoggingKeepsAnnouncementsConsistent()
{
    ThreadedLog threaded(QStringLiteral("clear race"));
    Log* log = threaded.log;
    AnnouncementRecorder recorder(log);

    std::atomic<bool> stop{false};
    halvorn::test::ThreadGroup producers(3, [log, &stop](int) {
        while (!stop.load()) {
            for (int i = 0; i < 50; ++i)
                log->logMessage(TEST, QStringLiteral("busy"), INFO, nullptr);
            QThread::msleep(1);
        }
    });
    QElapsedTimer clock;
    clock.start();
    int clears = 0;
    while (clock.elapsed() < 1500) {
        QTest::qWait(37 + 53 * (clears % 5));
        log->clear();
        ++clears;
    }
    stop = true;
    QVERIFY(producers.join(10000));
    QTest::qWait(kBatchDelayMs * 2);

    // Replay the announcements as a view would: additions continue where the
    // view's rows end, a removal takes away every row, nothing is empty.
    int rows = 0;
    int removals = 0;
    for (const auto& a : recorder.announcements()) {
        QVERIFY(a.first <= a.last);
        if (a.added) {
            QCOMPARE(a.first, rows);
            rows = a.last + 1;
        } else {
            QCOMPARE(a.first, 0);
            QVERIFY(a.last + 1 >= rows);
            rows = 0;
            ++removals;
        }
    }
    QVERIFY(removals > 0);
    QCOMPARE(rows, log->count());
}

void TestLog::removedMessagesOutliveViews_data()
{
    QTest::addColumn<bool>("clearInWorker");
    QTest::addColumn<int>("connection");
    QTest::newRow("cleared in GUI thread, queued view") << false << int(Qt::QueuedConnection);
    QTest::newRow("cleared in GUI thread, direct view") << false << int(Qt::AutoConnection);
    QTest::newRow("cleared in a worker, GUI view") << true << int(Qt::AutoConnection);
}

void TestLog::removedMessagesOutliveViews()
{
    QFETCH(bool, clearInWorker);
    QFETCH(int, connection);

    Log log(QStringLiteral("held"));
    QStringList texts;
    for (int i = 0; i < 20; ++i) {
        texts.append(QStringLiteral("held message %1").arg(i));
        log.logMessage(new CountingMessage(texts.last()));
    }
    const int destroyedBefore = CountingMessage::destroyed.load();
    CountingMessage::destroyed.store(0);
    // A view in this thread holds the message pointers until it has
    // processed removedMessages(), as a table model does.
    QList<LogMessage*> held;
    for (int i = 0; i < log.count(); ++i)
        held << log.message(i);
    int destroyedWhenProcessed = -1;
    QStringList textsWhenProcessed;
    QObject view;
    connect(&log, &Log::removedMessages, &view, [&] {
        destroyedWhenProcessed = CountingMessage::destroyed.load();
        for (LogMessage* message : std::exchange(held, {}))
            textsWhenProcessed << message->text();
    }, Qt::ConnectionType(connection));

    if (clearInWorker)
        QVERIFY(runInThread([&log] { log.clear(); }));
    else
        log.clear();
    QCOMPARE(log.count(), 0);
    QTRY_COMPARE_WITH_TIMEOUT(textsWhenProcessed, texts, 5000);
    QCOMPARE(destroyedWhenProcessed, 0);
    // Once the views have let go, the messages are freed.
    QTRY_COMPARE_WITH_TIMEOUT(CountingMessage::destroyed.load(), 20, 5000);
    CountingMessage::destroyed.fetch_add(destroyedBefore);
}

void TestLog::slotsMayReadTheLogWhileItAnnounces()
{
    ThreadedLog threaded(QStringLiteral("reentrant"));
    Log* log = threaded.log;
    QObject context;
    std::atomic<int> countSeenOnAdd{-1};
    std::atomic<int> countSeenOnRemove{-1};
    std::atomic<bool> messageReadOnAdd{false};
    QObject::connect(log, &Log::addedMessages, &context, [&](int first, int) {
        messageReadOnAdd = log->message(first) != nullptr;
        countSeenOnAdd = log->count();
    }, Qt::DirectConnection);
    QObject::connect(log, &Log::removedMessages, &context, [&](int, int) {
        countSeenOnRemove = log->count();
        log->clear(); // nothing left: no second removal
    }, Qt::DirectConnection);

    for (int i = 0; i < 4; ++i)
        log->logMessage(GENERAL, QStringLiteral("m"), INFO, nullptr);
    // The announcement runs in the log's thread; a deadlock there stops the log.
    QTRY_COMPARE_WITH_TIMEOUT(countSeenOnAdd.load(), 4, 5000);
    QVERIFY(messageReadOnAdd);

    QVERIFY2(runInThread([log] { log->clear(); }), "clear() deadlocked in its own slot");
    QCOMPARE(countSeenOnRemove.load(), 0);
}

void TestLog::saveWritesOneLinePerMessage()
{
    Log log(QStringLiteral("save"));
    log.logMessage(GENERAL, QStringLiteral("Tivaro Started"), INFO, nullptr);
    log.logMessage(GENERAL, QStringLiteral("Version"), BANNER, nullptr);
    log.logMessage(KEYMARK, QStringLiteral("Strom 350 µA, 25 °C"), WARN, nullptr);
    log.logMessage(DALI, QStringLiteral("no label"), MessageType(12), nullptr);
    log.logMessage(DALI, QString(), FAILURE, nullptr);

    const QStringList labels = {QStringLiteral("[INFO ] "), QString(), QStringLiteral("[WARN ] "), QString(),
                                QStringLiteral("[ERROR] ")};
    QByteArray expected;
    for (int i = 0; i < log.count(); ++i) {
        const LogMessage* message = log.message(i);
        if (message->type() == BANNER) {
            expected += QByteArray(80, '=') + '\n' + QByteArray(22, ' ') + "Version\n" + QByteArray(80, '=');
        } else {
            expected += '[' + expectedTime(*message).toUtf8() + "]   " + labels[i].toUtf8()
                        + message->text().toUtf8();
        }
        expected += '\n';
    }

    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    QVERIFY(writeBytes(path, "an older, longer log that must be replaced entirely" + QByteArray(600, '\n')));
    QVERIFY(log.saveToFile(path));
    QCOMPARE(readBytes(path), expected);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("log.txt")});
}

void TestLog::failedSaveKeepsExistingFile_data()
{
    QTest::addColumn<bool>("diskFull");
    QTest::newRow("folder missing") << false;
    QTest::newRow("disk full half way over an earlier log") << true;
}

void TestLog::failedSaveKeepsExistingFile()
{
    QFETCH(bool, diskFull);
    QTemporaryDir dir;
    const QString path = dir.filePath(diskFull ? QStringLiteral("log.txt") : QStringLiteral("missing/log.txt"));
    const QByteArray precious = "the user's earlier log\n";
    if (diskFull)
        QVERIFY(writeBytes(path, precious));
    Log log(QStringLiteral("big"));
    for (int i = 0; i < 500; ++i)
        log.logMessage(GENERAL, QStringLiteral("a line long enough to fill the allowed size %1").arg(i), INFO, nullptr);

    // A file size limit makes writes fail part way, as a full disk does
    // (and works for root, which ignores file permissions).
    rlimit saved{};
    QCOMPARE(getrlimit(RLIMIT_FSIZE, &saved), 0);
    rlimit limited = saved;
    limited.rlim_cur = diskFull ? 4096 : saved.rlim_cur;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    QCOMPARE(setrlimit(RLIMIT_FSIZE, &limited), 0);
    const bool ok = log.saveToFile(path);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);

    QVERIFY(!ok);
    QCOMPARE(readBytes(path), diskFull ? precious : QByteArray());
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), diskFull ? QStringList{"log.txt"} : QStringList{});
}

void TestLog::fileWriterTeesEveryLogWithItsName()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("tivaro.log"));
    QVERIFY(writeBytes(path, "earlier session\n"));
    ThreadedLog network(QStringLiteral("DALI Network log"));
    auto writer = std::make_unique<LogFileWriter>(path);
    QVERIFY(writer->isOpen());

    logToMain(GENERAL, QStringLiteral("Tivaro Started"));
    // Written as the message is appended, not when it is announced.
    QCOMPARE(fileLines(path).size(), 2);
    QVERIFY(runInThread([&network] {
        network.log->logMessage(DALI, QStringLiteral("BROADCAST   OFF"), SEND, QThread::currentThread());
    }));
    network.log->logMessage(DALI, QStringLiteral("Commissioning"), BANNER, nullptr);

    writer.reset();
    logToMain(GENERAL, QStringLiteral("after the writer is gone"));

    Log* main = mainLog();
    const LogMessage* started = main->message(main->count() - 2);
    QCOMPARE(started->text(), QStringLiteral("Tivaro Started"));
    const QStringList banner = network.log->message(1)->toString().split(QLatin1Char('\n'));
    const QStringList expected = {"earlier session", "Main log: " + started->toString(),
                                  "DALI Network log: " + network.log->message(0)->toString(),
                                  "DALI Network log: " + banner[0], banner[1], banner[2]};
    QCOMPARE(fileLines(path), expected);
    QVERIFY(expected[2].contains(QStringLiteral("[SEND ] BROADCAST   OFF")));
}

void TestLog::fileWriterKeepsLinesWholeAcrossThreads()
{
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("threads.log"));
    LogFileWriter writer(path);
    QVERIFY(writer.isOpen());
    Log log(QStringLiteral("Threads"));

    constexpr int kThreads = 4;
    constexpr int kPerThread = 2000;
    QVERIFY(runInThreads(kThreads, [&log](int t) {
        for (int i = 0; i < kPerThread; ++i)
            log.logMessage(TEST, QStringLiteral("thread %1 line %2 ").arg(t).arg(i).repeated(4), INFO, nullptr);
    }));

    const QStringList lines = fileLines(path);
    QCOMPARE(lines.size(), kThreads * kPerThread);
    static const QRegularExpression format(QStringLiteral(
        R"(^Threads: \[\d\d:\d\d:\d\d\.\d\d\d\]   \[INFO \] (thread (\d) line (\d+) ){4}$)"));
    std::vector<int> next(kThreads, 0);
    for (const QString& line : lines) {
        const auto match = format.match(line);
        QVERIFY2(match.hasMatch(), qPrintable(line));
        const int thread = match.captured(2).toInt();
        QCOMPARE(match.captured(3).toInt(), next[size_t(thread)]++);
    }
}

void TestLog::fileWriterReportsUnopenableFile()
{
    QTemporaryDir dir;
    LogFileWriter writer(dir.filePath(QStringLiteral("no/such/folder/x.log")));
    QVERIFY(!writer.isOpen());
    QVERIFY(!writer.errorString().isEmpty());
    logToMain(GENERAL, QStringLiteral("still logs"));
    QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("no/such/folder/x.log"))));
}

QTEST_GUILESS_MAIN(TestLog)
#include "tst_log.moc"
