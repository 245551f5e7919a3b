#include "general/log.h"

#include <QCoreApplication>
#include <QSaveFile>
#include <QThread>
#include <QTimer>

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace halvorn::general {

namespace {

constexpr int kAnnounceDelayMs = 200;
constexpr int kChunkShift = 12;
constexpr int kChunkSize = 1 << kChunkShift; // message pointers per chunk
constexpr int kChunkMask = kChunkSize - 1;
constexpr qsizetype kSaveBufferBytes = 1 << 20;

// The messages of a log in arrival order, kept in fixed-size chunks: a long
// log grows without ever copying the pointers it already holds, and a reader
// that copied the chunk list may read every slot below the count it saw.
class MessageStore
{
public:
    MessageStore() = default;
    MessageStore(const MessageStore&) = delete;
    MessageStore& operator=(const MessageStore&) = delete;

    ~MessageStore()
    {
        for (int i = 0; i < m_count; ++i)
            delete at(i);
        for (LogMessage** chunk : m_chunks)
            delete[] chunk;
    }

    int count() const { return m_count; }
    LogMessage* at(int index) const { return m_chunks[size_t(index >> kChunkShift)][index & kChunkMask]; }
    const std::vector<LogMessage**>& chunks() const { return m_chunks; }

    void append(LogMessage* message)
    {
        if ((m_count & kChunkMask) == 0 && size_t(m_count >> kChunkShift) == m_chunks.size())
            m_chunks.push_back(new LogMessage*[kChunkSize]);
        m_chunks[size_t(m_count >> kChunkShift)][m_count & kChunkMask] = message;
        ++m_count;
    }

private:
    std::vector<LogMessage**> m_chunks;
    int m_count = 0;
};

// The first `count` messages of a store, readable without the log's lock.
// Holding the store keeps the messages alive even if the log is cleared.
struct Snapshot
{
    std::shared_ptr<MessageStore> store;
    std::vector<LogMessage**> chunks;
    int count = 0;

    LogMessage* at(int index) const { return chunks[size_t(index >> kChunkShift)][index & kChunkMask]; }
};

// Messages removed by clear() may still be held by views in the GUI thread
// until they have processed removedMessages(). The removed store is therefore
// released by an event queued on the main thread after the signal, which runs
// after the views' queued slots; directly connected slots have already run.
void releaseRemovedMessages(std::shared_ptr<MessageStore> removed)
{
    QCoreApplication* app = QCoreApplication::instance();
    if (!app || removed->count() == 0)
        return;
    QMetaObject::invokeMethod(app, [batch = std::move(removed)]() mutable { batch.reset(); },
                              Qt::QueuedConnection);
}

struct TapRegistry
{
    std::shared_mutex lock;
    std::vector<LogTap*> taps; // guarded by lock
    std::atomic<int> count{0}; // number of taps, read without the lock
};

// Never destroyed: threads may log while static objects are torn down.
TapRegistry& tapRegistry()
{
    static TapRegistry* const registry = new TapRegistry;
    return *registry;
}

void notifyTaps(const Log& log, const LogMessage& message)
{
    TapRegistry& registry = tapRegistry();
    if (registry.count.load(std::memory_order_acquire) == 0)
        return;
    std::shared_lock locker(registry.lock);
    for (LogTap* tap : registry.taps)
        tap->messageAppended(log, message);
}

void registerLogMetaTypes()
{
    static const bool registered = [] {
        qRegisterMetaType<halvorn::general::MessageClass>();
        qRegisterMetaType<halvorn::general::MessageType>();
        qRegisterMetaType<halvorn::general::LogMessage*>();
        return true;
    }();
    Q_UNUSED(registered);
}

} // namespace

class Log::Private
{
public:
    // Standard mutexes rather than Qt ones, so that thread sanitizer builds
    // see the synchronisation.
    mutable std::mutex mutex;
    std::shared_ptr<MessageStore> store = std::make_shared<MessageStore>(); // guarded by mutex
    int firstUnannounced = 0;                                             // guarded by mutex
    // Set when startDelayTimer() has been emitted for the current batch, so
    // that appenders never look at the timer, which lives in the log's thread.
    // Changed only under mutex, together with the start and stop signals, so
    // that queued starts and stops reach the timer in the order they were made.
    bool timerPending = false; // guarded by mutex

    // Held while a change announcement is worked out and emitted, so that
    // addedMessages() and removedMessages() go out in the order of the changes
    // they describe. Never held by appenders; recursive so that a directly
    // connected slot may clear the log again.
    std::recursive_mutex announceMutex;

    std::atomic<bool> disabled{false};
    std::atomic<bool> autoScroll{true};
    std::atomic<int> rowHeight{16}; // pixels

    QTimer* delayTimer = nullptr;
};

Log::Log(const QString& name, QObject* parent)
    : QObject(parent)
    , d(new Private)
    , m_name(name)
{
    registerLogMetaTypes();
    d->delayTimer = new QTimer(this);
    d->delayTimer->setSingleShot(true);
    d->delayTimer->setTimerType(Qt::PreciseTimer);
    connect(d->delayTimer, &QTimer::timeout, this, &Log::timerTriggered);
    connect(this, &Log::startDelayTimer, d->delayTimer, qOverload<int>(&QTimer::start));
    connect(this, &Log::stopDelayTimer, d->delayTimer, &QTimer::stop);
}

Log::~Log()
{
    delete d;
}

int Log::count() const
{
    std::lock_guard locker(d->mutex);
    return d->store->count();
}

LogMessage* Log::message(int index) const
{
    std::lock_guard locker(d->mutex);
    if (index < 0 || index >= d->store->count())
        return nullptr;
    return d->store->at(index);
}

QString Log::columnName(int column) const
{
    switch (column) {
    case 0:
        return tr("Time");
    case 1:
        return tr("Class");
    case 2:
        return tr("Thread");
    case 3:
        return tr("Message");
    default:
        return QString();
    }
}

void Log::setDisabled(bool disabled)
{
    d->disabled.store(disabled);
}

bool Log::isDisabled() const
{
    return d->disabled.load();
}

void Log::setAutoScroll(bool enable)
{
    d->autoScroll.store(enable);
}

bool Log::autoScroll() const
{
    return d->autoScroll.load();
}

int Log::rowHeight() const
{
    return d->rowHeight.load();
}

void Log::setRowHeight(int pixels)
{
    d->rowHeight.store(pixels);
}

void Log::logMessage(MessageClass msgClass, const QString& msg, MessageType msgType, QThread* thread)
{
    if (d->disabled.load(std::memory_order_relaxed))
        return;
    logMessage(new LogMessage(msg, msgClass, msgType, thread, 0, 0));
}

void Log::logMessage(LogMessage* msg)
{
    if (!msg)
        return;
    if (d->disabled.load(std::memory_order_relaxed)) {
        delete msg;
        return;
    }
    // Before appending: until then nobody else can clear the message away.
    notifyTaps(*this, *msg);

    std::lock_guard locker(d->mutex);
    d->store->append(msg);
    // Without an application there is no event loop to run the timer; the
    // first message after the application exists starts the batch.
    if (!d->timerPending && QCoreApplication::instance()) {
        d->timerPending = true;
        emit startDelayTimer(kAnnounceDelayMs);
    }
}

void Log::timerTriggered()
{
    std::unique_lock announcing(d->announceMutex);
    int first;
    int last;
    {
        std::lock_guard locker(d->mutex);
        first = d->firstUnannounced;
        last = d->store->count() - 1;
        d->firstUnannounced = d->store->count();
        d->timerPending = false;
    }
    if (first <= last)
        emit addedMessages(first, last);
}

void Log::catchUp()
{
    std::unique_lock announcing(d->announceMutex);
    std::lock_guard locker(d->mutex);
    d->firstUnannounced = d->store->count();
    if (d->timerPending) {
        d->timerPending = false;
        emit stopDelayTimer();
    }
}

void Log::clear()
{
    std::unique_lock announcing(d->announceMutex);
    std::shared_ptr<MessageStore> removed;
    {
        std::lock_guard locker(d->mutex);
        removed = std::exchange(d->store, std::make_shared<MessageStore>());
        d->firstUnannounced = 0;
        if (d->timerPending) {
            d->timerPending = false;
            emit stopDelayTimer();
        }
    }
    const int removedCount = removed->count();
    if (removedCount > 0)
        emit removedMessages(0, removedCount - 1);
    announcing.unlock();
    releaseRemovedMessages(std::move(removed));
}

bool Log::saveToFile(const QString& path) const
{
    Snapshot snapshot;
    {
        std::lock_guard locker(d->mutex);
        snapshot.store = d->store;
        snapshot.chunks = d->store->chunks();
        snapshot.count = d->store->count();
    }

    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return false;
    QByteArray buffer;
    buffer.reserve(kSaveBufferBytes + 4096);
    for (int i = 0; i < snapshot.count; ++i) {
        buffer += snapshot.at(i)->toString().toLocal8Bit();
        buffer += '\n';
        if (buffer.size() >= kSaveBufferBytes) {
            if (file.write(buffer) != buffer.size())
                return false;
            buffer.clear();
        }
    }
    if (!buffer.isEmpty() && file.write(buffer) != buffer.size())
        return false;
    return file.commit();
}

void Log::addTap(LogTap* tap)
{
    if (!tap)
        return;
    TapRegistry& registry = tapRegistry();
    std::unique_lock locker(registry.lock);
    registry.taps.push_back(tap);
    registry.count.store(int(registry.taps.size()), std::memory_order_release);
}

void Log::removeTap(LogTap* tap)
{
    TapRegistry& registry = tapRegistry();
    std::unique_lock locker(registry.lock);
    std::erase(registry.taps, tap);
    registry.count.store(int(registry.taps.size()), std::memory_order_release);
}

Log* mainLog()
{
    // Never destroyed: threads and static objects may log until the very end.
    static Log* const log = new Log(QStringLiteral("Main log"));
    return log;
}

namespace {
// Created during static initialisation, so that it lives in the main thread
// whichever thread logs first.
[[maybe_unused]] Log* const s_mainLogCreatedBeforeMain = mainLog();
} // namespace

void logToMain(MessageClass msgClass, const QString& text, MessageType type)
{
    mainLog()->logMessage(msgClass, text, type, QThread::currentThread());
}

} // namespace halvorn::general

// Compiled here rather than in the folder's shared moc unit, so that the log
// classes link on their own.
#include "moc_log.cpp" // NOLINT(bugprone-suspicious-include): moc output, included as Qt does
