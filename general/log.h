#pragma once

#include "general/logmessage.h"

#include <QObject>
#include <QString>

class QThread;
class QTimer;

namespace halvorn::general {

class LogTap;

// A log: an ordered list of messages with batched change announcements.
//
// logMessage() may be called from any thread: it appends under the log's
// mutex. Views are told about new messages by addedMessages(), emitted from
// the log's own thread at most once per 200 ms, whatever the rate of
// appends; the delay timer lives in the log's thread and is started only
// through the queued startDelayTimer() signal.
//
// Messages removed by clear() stay alive until views in the GUI thread have
// processed removedMessages(), so a view may still hold their pointers.
class Log : public QObject
{
    Q_OBJECT

public:
    explicit Log(const QString& name, QObject* parent = nullptr);
    ~Log() override;

    QString name() const { return m_name; }

    // Both may be called from slots connected directly to addedMessages()
    // and removedMessages(): the log emits them without holding its lock.
    int count() const;
    // The message at `index`, or nullptr when the index is out of range (a
    // view whose queued addedMessages() arrives after a clear() sees that).
    LogMessage* message(int index) const;

    // "Time", "Class", "Thread", "Message" for columns 0..3.
    virtual QString columnName(int column) const;
    int columnCount() const { return 4; }

    void setDisabled(bool disabled);
    bool isDisabled() const;
    void setAutoScroll(bool enable);
    bool autoScroll() const;
    int rowHeight() const;
    void setRowHeight(int pixels);

    // Marks every message as announced (a view that has just read the whole log).
    void catchUp();
    // Removes all messages; emits removedMessages(0, n - 1) when there were any.
    void clear();
    // Writes one toString() line per message (LF endings, local 8-bit encoding).
    // Goes through a temporary file, so a failed save leaves an existing
    // file untouched. Returns whether the file was written.
    bool saveToFile(const QString& path) const;

    // Observers that see every message of every log as it is appended
    // (the --log-file and --verbose writers). Called on the appending thread,
    // without any log lock held, just before the message is stored; a tap
    // must not log itself. removeTap() returns once no call to the tap runs.
    static void addTap(LogTap* tap);
    static void removeTap(LogTap* tap);

public Q_SLOTS:
    void logMessage(halvorn::general::MessageClass msgClass, const QString& msg,
                    halvorn::general::MessageType msgType, QThread* thread);
    // Appends a message built by the caller; the log takes ownership
    // (and deletes it at once when the log is disabled).
    void logMessage(halvorn::general::LogMessage* msg);
    void timerTriggered();

Q_SIGNALS:
    void addedMessages(int firstMsg, int lastMsg);
    void removedMessages(int firstMsg, int lastMsg);
    // Internal: start and stop the delay timer in the log's own thread. They
    // are emitted under the log's lock; connect nothing else to them.
    void startDelayTimer(int delayTimer);
    void stopDelayTimer();

private:
    class Private;
    Private* const d;
    const QString m_name;
};

// Sees every appended message of every log (see Log::addTap).
class LogTap
{
public:
    virtual ~LogTap() = default;
    virtual void messageAppended(const Log& log, const LogMessage& message) = 0;
};

// The process-wide "Main log", living in the main thread.
Log* mainLog();

// Shorthand for mainLog()->logMessage(msgClass, text, type, QThread::currentThread()).
void logToMain(MessageClass msgClass, const QString& text, MessageType type = INFO);

} // namespace halvorn::general
