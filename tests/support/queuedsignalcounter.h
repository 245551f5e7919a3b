#pragma once

// Counts a signal that may be emitted in another thread. QSignalSpy appends
// in the emitting thread while the test reads it in its own, a data race;
// this counter is told through queued calls into the thread that made it,
// where the test reads it.

#include <QObject>

namespace halvorn::test {

class QueuedSignalCounter : public QObject
{
public:
    template <typename Sender, typename Signal>
    QueuedSignalCounter(const Sender* sender, Signal signal)
    {
        connect(sender, signal, this, [this] { ++m_count; }, Qt::QueuedConnection);
    }

    int count() const { return m_count; }

private:
    int m_count = 0;
};

} // namespace halvorn::test
