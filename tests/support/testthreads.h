#pragma once

// Worker threads for tests of races and deadlocks, always joined with a
// time-out: a thread that does not finish (a deadlock) is left behind and
// the test fails instead of hanging.

#include <QThread>

#include <functional>
#include <memory>
#include <vector>

namespace halvorn::test {

// Starts `count` threads running work(index) at once.
class ThreadGroup
{
public:
    ThreadGroup(int count, const std::function<void(int)>& work)
    {
        for (int i = 0; i < count; ++i) {
            m_threads.emplace_back(QThread::create(work, i));
            m_threads.back()->start();
        }
    }
    ThreadGroup(const ThreadGroup&) = delete;
    ThreadGroup& operator=(const ThreadGroup&) = delete;
    ~ThreadGroup() { join(); }

    // True when every thread finished within `timeoutMs`.
    bool join(int timeoutMs = 30000)
    {
        bool all = true;
        for (auto& thread : m_threads) {
            if (thread && !thread->wait(timeoutMs)) {
                (void)thread.release(); // still running: deleting it would abort
                all = false;
            }
        }
        return all;
    }

private:
    std::vector<std::unique_ptr<QThread>> m_threads;
};

inline bool runInThreads(int count, const std::function<void(int)>& work, int timeoutMs = 30000)
{
    return ThreadGroup(count, work).join(timeoutMs);
}

// Runs `work` in a thread of its own, as a task or a network would.
inline bool runInThread(const std::function<void()>& work, int timeoutMs = 5000)
{
    return runInThreads(1, [work](int) { work(); }, timeoutMs);
}

} // namespace halvorn::test
