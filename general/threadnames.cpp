#include "general/threadnames.h"

#include <QHash>
#include <QThread>

#include <atomic>
#include <mutex>
#include <shared_mutex>
#include <vector>

namespace halvorn::general {

namespace {

// Names are interned: a thread renamed for every task (the pool thread) only
// adds an entry per distinct name, so the table stays small.
struct ThreadNameTable
{
    std::shared_mutex lock;
    std::vector<QString> names;           // by name id; guarded by lock
    QHash<QString, int> idByName;         // guarded by lock
    QHash<const QThread*, int> idByThread; // guarded by lock
    // Bumped on every change, so that readers can trust a cached id.
    std::atomic<quint64> generation{1};
};

// Never destroyed: threads may log while static objects are torn down.
ThreadNameTable& table()
{
    static ThreadNameTable* const instance = new ThreadNameTable;
    return *instance;
}

// The last lookup made by the calling thread: logging threads ask for the
// same thread again and again, so this avoids the lock on almost every message.
struct CachedLookup
{
    const QThread* thread = nullptr;
    quint64 generation = 0;
    int nameId = -1;
};
thread_local CachedLookup t_cache;

QString pointerText(QThread* thread)
{
    return QString::number(reinterpret_cast<quintptr>(thread));
}

// A QThread object that is gone takes its name with it, so that a new
// thread created at the same address does not show the old name.
void forgetThread(const QThread* thread)
{
    ThreadNameTable& t = table();
    std::unique_lock locker(t.lock);
    if (t.idByThread.remove(thread))
        t.generation.fetch_add(1, std::memory_order_release);
}

} // namespace

void setThreadName(QThread* thread, const QString& name)
{
    ThreadNameTable& t = table();
    std::unique_lock locker(t.lock);
    if (thread && !t.idByThread.contains(thread))
        QObject::connect(thread, &QObject::destroyed, [thread] { forgetThread(thread); });
    auto found = t.idByName.constFind(name);
    int id;
    if (found != t.idByName.constEnd()) {
        id = found.value();
    } else {
        id = int(t.names.size());
        t.names.push_back(name);
        t.idByName.insert(name, id);
    }
    t.idByThread.insert(thread, id);
    t.generation.fetch_add(1, std::memory_order_release);
}

QString threadName(QThread* thread)
{
    return threadNameForId(currentThreadNameId(thread), thread);
}

int currentThreadNameId(QThread* thread)
{
    ThreadNameTable& t = table();
    const quint64 generation = t.generation.load(std::memory_order_acquire);
    if (t_cache.thread == thread && t_cache.generation == generation)
        return t_cache.nameId;

    std::shared_lock locker(t.lock);
    const quint64 lockedGeneration = t.generation.load(std::memory_order_relaxed);
    const int id = t.idByThread.value(thread, -1);
    t_cache = CachedLookup{thread, lockedGeneration, id};
    return id;
}

QString threadNameForId(int nameId, QThread* thread)
{
    if (nameId >= 0) {
        ThreadNameTable& t = table();
        std::shared_lock locker(t.lock);
        if (size_t(nameId) < t.names.size())
            return t.names[size_t(nameId)];
    }
    return pointerText(thread);
}

} // namespace halvorn::general
