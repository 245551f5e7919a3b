// Makes the synchronisation inside Qt visible to ThreadSanitizer.
//
// Debian's Qt is not built with ThreadSanitizer. Whatever Qt does inside
// libQt6Core to order two threads — the lock of a QRecursiveMutex, the
// relocking in QWaitCondition::wait, the mutex of a thread's event queue
// between posting an event and delivering it, the end of a QThread before
// wait() returns — is invisible to it, and it reports a race on data that Qt
// orders correctly (typically: an object written by one thread, handed over
// by a queued signal, read by another). Suppressing those reports would hide
// real races in the same code, so instead this file, linked into every test
// executable of a ThreadSanitizer build, tells ThreadSanitizer about the
// orderings Qt guarantees, at the points where our code calls into Qt:
//
//  - QRecursiveMutex lock/unlock: annotated as the mutex it is (QMutex
//    annotates itself in its inline code since Qt 6.4). QWaitCondition and
//    QSemaphore: a wake or release happens before the wait it ends.
//  - QThread: start(), quit() and exit() happen before the thread's end;
//    the thread's end (after Qt's clean-up) happens before wait() returns.
//  - Signals: every emission and every connect() releases the sender; every
//    slot invoked through a connection made by our code acquires it first,
//    whether it runs directly or as a queued event in another thread.
//  - invokeMethod(), QTimer::singleShot() with a functor, QThreadPool::start()
//    with a function: the call happens before the functor runs; a
//    BlockingQueuedConnection's functor happens before the call returns.
//  - postEvent(), deleteLater(), moveToThread(): happen before every later
//    event delivered to that object (QInternal's event-notify callback).
//
// Each hook is a definition of the Qt function in the executable, which our
// code (compiled against Qt's headers) calls instead of Qt's; it does the
// bookkeeping and forwards to Qt's own definition (dlsym(RTLD_NEXT)). Calls
// inside libQt6Core are not affected. Nothing here changes what Qt does.
//
// What stays invisible is ordering that Qt makes on its own without our
// code calling in (signals Qt emits internally, such as QTimer::timeout).
// tools/sanitizers/tsan.supp lists the few reports that remain, each with
// the reason it is a false positive.

#include <QCoreApplication>
#include <QMutex>
#include <QObject>
#include <QRecursiveMutex>
#include <QSemaphore>
#include <QThread>
#include <QThreadPool>
#include <QTimer>
#include <QVariant>
#include <QWaitCondition>

#include <sanitizer/tsan_interface.h>

#include <dlfcn.h>

#include <cstdio>
#include <cstdlib>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <unordered_map>

namespace {

// Qt's own definition of a function this file replaces.
template <typename Function>
Function qtFunction(const char* mangledName)
{
    void* address = dlvsym(RTLD_NEXT, mangledName, "Qt_6");
    if (!address)
        address = dlsym(RTLD_NEXT, mangledName);
    if (!address) {
        std::fprintf(stderr, "tsanqtsync: %s not found in Qt\n", mangledName);
        std::abort();
    }
    return reinterpret_cast<Function>(address);
}

extern "C" void AnnotateIgnoreReadsBegin(const char* file, int line);
extern "C" void AnnotateIgnoreReadsEnd(const char* file, int line);

// The hooks' own bookkeeping (a wrapper's fields, read in the other thread
// before it can acquire anything) is not the program's data: its accesses
// are hidden from ThreadSanitizer while this object lives.
class IgnoreAccesses
{
public:
    IgnoreAccesses() { AnnotateIgnoreReadsBegin(__FILE__, __LINE__); }
    ~IgnoreAccesses() { AnnotateIgnoreReadsEnd(__FILE__, __LINE__); }
    IgnoreAccesses(const IgnoreAccesses&) = delete;
    IgnoreAccesses& operator=(const IgnoreAccesses&) = delete;
};

void release(const void* address)
{
    __tsan_release(const_cast<void*>(address));
}

void acquire(const void* address)
{
    __tsan_acquire(const_cast<void*>(address));
}

// A synchronisation point shared between a caller and the functor it hands
// to Qt; it lives as long as either needs it.
using Token = std::shared_ptr<char>;

Token makeToken()
{
    return std::make_shared<char>(0);
}

// Wraps the slot object of a connection or a queued call: calling it
// acquires `sync` first (and releases `done` afterwards, when set), so that
// what the other side released happens before the slot runs. Destruction
// and comparison (disconnect(), Qt::UniqueConnection) go to the wrapped one.
class SynchronisedSlot : public QtPrivate::QSlotObjectBase
{
public:
    SynchronisedSlot(QtPrivate::QSlotObjectBase* inner, const void* sync, Token token = {}, Token done = {})
        : QSlotObjectBase(&impl)
        , m_inner(inner)
        , m_sync(sync)
        , m_token(std::move(token))
        , m_done(std::move(done))
    {
    }

private:
    static void impl(int which, QSlotObjectBase* self, QObject* receiver, void** args, bool* ret)
    {
        auto* that = static_cast<SynchronisedSlot*>(self);
        QtPrivate::QSlotObjectBase* inner;
        const void* sync;
        const void* done;
        {
            IgnoreAccesses ignore;
            inner = that->m_inner;
            sync = that->m_sync;
            done = that->m_done.get();
        }
        switch (which) {
        case Destroy: {
            // Qt orders a connection's end after its making and its calls
            // with its own locks: both happen before its destruction,
            // whichever thread that is.
            acquire(sync);
            acquire(that);
            inner->destroyIfLastRef();
            IgnoreAccesses ignore;
            delete that;
            break;
        }
        case Call:
            acquire(sync);
            inner->call(receiver, args);
            release(that);
            if (done)
                release(done);
            break;
        case Compare:
            *ret = inner->compare(args);
            break;
        }
    }

    QtPrivate::QSlotObjectBase* const m_inner;
    const void* const m_sync;
    const Token m_token; // keeps m_sync alive when it is a token
    const Token m_done;
};

// Every event delivered to an object happens after the posts, deleteLater()
// and moveToThread() calls made for it before.
bool onEventDelivery(void** data)
{
    acquire(data[0]);
    return false; // the event goes on as usual
}

// Registered before main(); QInternal keeps the callback table in a global static.
[[maybe_unused]] const bool eventHookRegistered = QInternal::registerCallback(QInternal::EventNotifyCallback, onEventDelivery);

} // namespace

// ---------------------------------------------------------------------------
// Locks

bool QRecursiveMutex::tryLock(int timeout) QT_MUTEX_LOCK_NOEXCEPT
{
    static const auto qt = qtFunction<bool (*)(QRecursiveMutex*, int)>("_ZN15QRecursiveMutex7tryLockEi");
    unsigned flags = __tsan_mutex_write_reentrant;
    if (timeout >= 0)
        flags |= __tsan_mutex_try_lock;
    __tsan_mutex_pre_lock(this, flags);
    const bool locked = qt(this, timeout);
    __tsan_mutex_post_lock(this, locked ? flags : flags | __tsan_mutex_try_lock_failed, 0);
    return locked;
}

void QRecursiveMutex::unlock() noexcept
{
    static const auto qt = qtFunction<void (*)(QRecursiveMutex*)>("_ZN15QRecursiveMutex6unlockEv");
    __tsan_mutex_pre_unlock(this, 0);
    qt(this);
    __tsan_mutex_post_unlock(this, 0);
}

// QWaitCondition: a wake happens before the wait it ends. (The mutex is
// released and taken again inside Qt; our code waits on standard condition
// variables, which ThreadSanitizer sees, so QMutex waits only come from Qt's
// own libraries, whose locking is not annotated either.)
bool QWaitCondition::wait(QMutex* lockedMutex, QDeadlineTimer deadline)
{
    static const auto qt =
        qtFunction<bool (*)(QWaitCondition*, QMutex*, QDeadlineTimer)>("_ZN14QWaitCondition4waitEP6QMutex14QDeadlineTimer");
    const bool woken = qt(this, lockedMutex, deadline);
    acquire(this);
    return woken;
}

bool QWaitCondition::wait(QMutex* lockedMutex, unsigned long time)
{
    static const auto qt = qtFunction<bool (*)(QWaitCondition*, QMutex*, unsigned long)>("_ZN14QWaitCondition4waitEP6QMutexm");
    const bool woken = qt(this, lockedMutex, time);
    acquire(this);
    return woken;
}

void QWaitCondition::wakeOne()
{
    static const auto qt = qtFunction<void (*)(QWaitCondition*)>("_ZN14QWaitCondition7wakeOneEv");
    release(this);
    qt(this);
}

void QWaitCondition::wakeAll()
{
    static const auto qt = qtFunction<void (*)(QWaitCondition*)>("_ZN14QWaitCondition7wakeAllEv");
    release(this);
    qt(this);
}

void QSemaphore::acquire(int n)
{
    static const auto qt = qtFunction<void (*)(QSemaphore*, int)>("_ZN10QSemaphore7acquireEi");
    qt(this, n);
    ::acquire(this);
}

bool QSemaphore::tryAcquire(int n)
{
    static const auto qt = qtFunction<bool (*)(QSemaphore*, int)>("_ZN10QSemaphore10tryAcquireEi");
    const bool acquired = qt(this, n);
    if (acquired)
        ::acquire(this);
    return acquired;
}

bool QSemaphore::tryAcquire(int n, int timeout)
{
    static const auto qt = qtFunction<bool (*)(QSemaphore*, int, int)>("_ZN10QSemaphore10tryAcquireEii");
    const bool acquired = qt(this, n, timeout);
    if (acquired)
        ::acquire(this);
    return acquired;
}

void QSemaphore::release(int n)
{
    static const auto qt = qtFunction<void (*)(QSemaphore*, int)>("_ZN10QSemaphore7releaseEi");
    ::release(this);
    qt(this, n);
}

// ---------------------------------------------------------------------------
// Threads

namespace {

// The end of a QThread's thread. Qt's wait() returns once the thread has
// finished its own clean-up (deferred deletes after finished(), the event
// dispatcher), ordered by a lock inside Qt; ThreadSanitizer sees neither.
// A thread-local marker made during finished() is destroyed when the
// thread exits, after all of that, and releases the thread's end; wait()
// waits (briefly) for it and acquires it.
struct ThreadEnd {
    std::atomic<bool> ended{false};
};

std::mutex threadEndsMutex;
std::unordered_map<const QThread*, std::shared_ptr<ThreadEnd>> threadEnds; // guarded by threadEndsMutex

std::shared_ptr<ThreadEnd> threadEndOf(const QThread* thread)
{
    std::lock_guard locker(threadEndsMutex);
    std::shared_ptr<ThreadEnd>& end = threadEnds[thread];
    if (!end)
        end = std::make_shared<ThreadEnd>();
    return end;
}

struct ThreadEndMarker {
    std::shared_ptr<ThreadEnd> end;
    ~ThreadEndMarker()
    {
        if (!end)
            return;
        release(end.get());
        end->ended.store(true, std::memory_order_release);
    }
};

thread_local ThreadEndMarker threadEndMarker;

constexpr int ThreadExitWaitMs = 2000;

} // namespace

void QThread::start(Priority priority)
{
    static const auto qt = qtFunction<void (*)(QThread*, Priority)>("_ZN7QThread5startENS_8PriorityE");
    // finished() is emitted in the thread itself; a direct connection runs
    // there and leaves the marker of the thread's end. One per thread object.
    static const char* const Hooked = "tivaro.tsanThreadEndHook";
    if (!property(Hooked).toBool()) {
        setProperty(Hooked, true);
        connect(this, &QThread::finished, this, [this] {
            release(this);
            threadEndMarker.end = threadEndOf(this);
        }, Qt::DirectConnection);
    }
    {
        std::lock_guard locker(threadEndsMutex);
        threadEnds.erase(this); // a restarted thread ends anew
    }
    release(this);
    qt(this, priority);
}

bool QThread::wait(QDeadlineTimer deadline)
{
    static const auto qt = qtFunction<bool (*)(QThread*, QDeadlineTimer)>("_ZN7QThread4waitE14QDeadlineTimer");
    const bool finished = qt(this, deadline);
    if (finished) {
        std::shared_ptr<ThreadEnd> end;
        {
            std::lock_guard locker(threadEndsMutex);
            const auto found = threadEnds.find(this);
            if (found != threadEnds.end())
                end = found->second;
        }
        if (end) {
            const QDeadlineTimer exit(ThreadExitWaitMs);
            while (!end->ended.load(std::memory_order_acquire) && !exit.hasExpired())
                std::this_thread::yield();
            acquire(end.get());
        }
        acquire(this);
    }
    return finished;
}

// Asking a thread's event loop to stop happens before the thread's end.
void QThread::quit()
{
    static const auto qt = qtFunction<void (*)(QThread*)>("_ZN7QThread4quitEv");
    release(this);
    qt(this);
}

void QThread::exit(int returnCode)
{
    static const auto qt = qtFunction<void (*)(QThread*, int)>("_ZN7QThread4exitEi");
    release(this);
    qt(this, returnCode);
}

void QThreadPool::start(std::function<void()> functionToRun, int priority)
{
    static const auto qt =
        qtFunction<void (*)(QThreadPool*, std::function<void()>, int)>("_ZN11QThreadPool5startESt8functionIFvvEEi");
    const Token token = makeToken();
    std::function<void()> synchronised = [token, pool = this, function = std::move(functionToRun)] {
        const void* sync;
        {
            IgnoreAccesses ignore;
            sync = token.get();
        }
        acquire(sync);
        function();
        release(pool);
    };
    release(token.get());
    qt(this, std::move(synchronised), priority);
}

bool QThreadPool::waitForDone(int msecs)
{
    static const auto qt = qtFunction<bool (*)(QThreadPool*, int)>("_ZN11QThreadPool11waitForDoneEi");
    const bool done = qt(this, msecs);
    acquire(this);
    return done;
}

// ---------------------------------------------------------------------------
// Signals, queued calls and events

void QMetaObject::activate(QObject* sender, const QMetaObject* metaObject, int localSignalIndex, void** argv)
{
    static const auto qt = qtFunction<void (*)(QObject*, const QMetaObject*, int, void**)>(
        "_ZN11QMetaObject8activateEP7QObjectPKS_iPPv");
    release(sender);
    qt(sender, metaObject, localSignalIndex, argv);
}

QMetaObject::Connection QObject::connectImpl(const QObject* sender, void** signal, const QObject* receiver,
                                             void** slotPtr, QtPrivate::QSlotObjectBase* slot,
                                             Qt::ConnectionType type, const int* types,
                                             const QMetaObject* senderMetaObject)
{
    static const auto qt = qtFunction<QMetaObject::Connection (*)(
        const QObject*, void**, const QObject*, void**, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, const int*,
        const QMetaObject*)>("_ZN7QObject11connectImplEPKS_PPvS1_S3_PN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPKiPK11QMetaObject");
    if (slot)
        slot = new SynchronisedSlot(slot, sender);
    QMetaObject::Connection connection = qt(sender, signal, receiver, slotPtr, slot, type, types, senderMetaObject);
    release(sender);
    return connection;
}

bool QMetaObject::invokeMethodImpl(QObject* object, QtPrivate::QSlotObjectBase* slot, Qt::ConnectionType type,
                                   void* ret)
{
    static const auto qt = qtFunction<bool (*)(QObject*, QtPrivate::QSlotObjectBase*, Qt::ConnectionType, void*)>(
        "_ZN11QMetaObject16invokeMethodImplEP7QObjectPN9QtPrivate15QSlotObjectBaseEN2Qt14ConnectionTypeEPv");
    const Token token = makeToken();
    const Token done = type == Qt::BlockingQueuedConnection ? makeToken() : Token();
    if (slot)
        slot = new SynchronisedSlot(slot, token.get(), token, done);
    release(token.get());
    const bool invoked = qt(object, slot, type, ret);
    if (done)
        acquire(done.get());
    return invoked;
}

void QTimer::singleShotImpl(int msec, Qt::TimerType timerType, const QObject* receiver,
                            QtPrivate::QSlotObjectBase* slotObj)
{
    static const auto qt = qtFunction<void (*)(int, Qt::TimerType, const QObject*, QtPrivate::QSlotObjectBase*)>(
        "_ZN6QTimer14singleShotImplEiN2Qt9TimerTypeEPK7QObjectPN9QtPrivate15QSlotObjectBaseE");
    const Token token = makeToken();
    if (slotObj)
        slotObj = new SynchronisedSlot(slotObj, token.get(), token);
    release(token.get());
    qt(msec, timerType, receiver, slotObj);
}

void QCoreApplication::postEvent(QObject* receiver, QEvent* event, int priority)
{
    static const auto qt =
        qtFunction<void (*)(QObject*, QEvent*, int)>("_ZN16QCoreApplication9postEventEP7QObjectP6QEventi");
    release(receiver);
    qt(receiver, event, priority);
}

void QObject::deleteLater()
{
    static const auto qt = qtFunction<void (*)(QObject*)>("_ZN7QObject11deleteLaterEv");
    release(this);
    qt(this);
}

void QObject::moveToThread(QThread* targetThread)
{
    static const auto qt = qtFunction<void (*)(QObject*, QThread*)>("_ZN7QObject12moveToThreadEP7QThread");
    release(this);
    qt(this, targetThread);
}
