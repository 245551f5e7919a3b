#pragma once

#include <QDateTime>
#include <QMetaType>
#include <QString>
#include <QVariant>

class QThread;

namespace halvorn::general {

// The area a log message comes from, shown in the Class column.
enum MessageClass : int {
    GENERAL = 0,
    UI = 1,
    SCRIPT = 2,
    PYTHON = 3,
    USB = 4,
    DALI = 5,
    VIRTDALI = 6,
    DMX = 7,
    KEYMARK = 8,
    CHORUS = 9,
    RDM = 10,
    ARTNET = 11,
    MIDI = 12,
    TEST = 13,
    RDM_DESC = 14
};

// The kind of a log message; protocol frames use SEND/REPLY/NOREPLY/FAILURE/ERRCS.
enum MessageType : int {
    DEBUG = 0,
    INFO = 1,
    WARN = 2,
    ERROR = 3,
    OK = 4,
    BANNER = 5,
    PYTHON_OUT = 6,
    SEND = 7,
    REPLY = 8,
    NOREPLY = 9,
    FAILURE = 10,
    ERRCS = 11
};

// "GENERAL", "UI", … "RDM DESC"; "UNKNOWN" for any other value.
QString messageClassLabel(int msgClass);
// The eight-character label put in front of the text ("[INFO ] ", "[ OK  ] ");
// empty for BANNER and for values without a label.
QString messageTypeLabel(int msgType);

// One line of a log. Protocol messages derive from it and compute their text
// from the frame they carry. Never changed after it has been appended to a log.
class LogMessage
{
public:
    LogMessage(const QString& text, MessageClass msgClass, MessageType type, QThread* thread,
               quint32 word1 = 0, quint32 word2 = 0);
    // For subclasses that compute their text.
    LogMessage(MessageClass msgClass, MessageType type, QThread* thread,
               quint32 word1 = 0, quint32 word2 = 0);
    virtual ~LogMessage();

    LogMessage(const LogMessage&) = delete;
    LogMessage& operator=(const LogMessage&) = delete;

    // The one-line form used when saving: "[HH:mm:ss.zzz]   [TYPE ] text";
    // a BANNER is framed by two lines of 80 '=' and has no time stamp.
    virtual QString toString() const;
    virtual QString text() const;
    virtual QString toolTip() const;
    // 0 time "HH:mm:ss.zzz", 1 class label, 2 thread name, 3 text.
    virtual QVariant data(int column) const;

    MessageType type() const { return MessageType(m_type); }
    void setType(MessageType type) { m_type = type; }
    MessageClass msgClass() const { return MessageClass(m_class); }
    QDateTime time() const;
    qint64 msecsSinceEpoch() const { return m_msecsSinceEpoch; }
    QThread* thread() const { return m_thread; }
    // The display name the producing thread had when the message was made.
    QString threadName() const;
    quint32 word1() const { return m_word1; }
    quint32 word2() const { return m_word2; }

protected:
    QString m_text;

private:
    qint64 m_msecsSinceEpoch;
    QThread* m_thread;
    quint32 m_word1;
    quint32 m_word2;
    qint32 m_threadNameId;
    qint16 m_class;
    qint16 m_type;
};

} // namespace halvorn::general

Q_DECLARE_METATYPE(halvorn::general::MessageClass)
Q_DECLARE_METATYPE(halvorn::general::MessageType)
Q_DECLARE_METATYPE(halvorn::general::LogMessage*)
