#pragma once

#include "general/log.h"
#include "general/logmessage.h"

#include <QList>
#include <QMutex>
#include <QStringList>

// Records every message appended to any log while it exists (taps are called
// on the appending thread, hence the lock).
class LogRecorder : public halvorn::general::LogTap
{
public:
    struct Entry {
        QString text;
        int msgClass = -1;
        int type = -1;
        QString threadName;
    };

    LogRecorder() { halvorn::general::Log::addTap(this); }
    ~LogRecorder() override { halvorn::general::Log::removeTap(this); }

    void messageAppended(const halvorn::general::Log&, const halvorn::general::LogMessage& message) override
    {
        QMutexLocker locker(&m_mutex);
        m_entries.append({message.text(), int(message.msgClass()), int(message.type()), message.threadName()});
    }

    QList<Entry> entries() const
    {
        QMutexLocker locker(&m_mutex);
        return m_entries;
    }

    QStringList texts() const
    {
        QStringList result;
        for (const Entry& entry : entries())
            result.append(entry.text);
        return result;
    }

    // Messages with exactly this text (and, when given, this class and type).
    int count(const QString& text, int msgClass = -1, int type = -1) const
    {
        int n = 0;
        for (const Entry& entry : entries())
            n += entry.text == text && (msgClass < 0 || entry.msgClass == msgClass) && (type < 0 || entry.type == type);
        return n;
    }
    bool contains(const QString& text) const { return count(text) > 0; }
    bool containsPart(const QString& part) const { return !texts().filter(part).isEmpty(); }

    // The first message with this text, or an empty entry.
    Entry find(const QString& text) const
    {
        for (const Entry& entry : entries()) {
            if (entry.text == text)
                return entry;
        }
        return {};
    }

private:
    mutable QMutex m_mutex;
    QList<Entry> m_entries;
};
