#include "general/logmessage.h"

#include "general/threadnames.h"

#include <QThread>

#include <array>
#include <limits>

namespace halvorn::general {

namespace {

constexpr std::array<const char*, 15> kClassLabels = {
    "GENERAL", "UI", "SCRIPT", "PYTHON", "USB", "DALI", "VIRTDALI", "DMX",
    "KEYMARK", "CHORUS", "RDM", "ARTNET", "MIDI", "TEST", "RDM DESC"};

// By MessageType; a BANNER is framed instead of labelled.
constexpr std::array<const char*, 12> kTypeLabels = {
    "[DEBUG] ", "[INFO ] ", "[WARN ] ", "[ERROR] ", "[ OK  ] ", "",
    "[PYTHO] ", "[SEND ] ", "[REPLY] ", "[NOREP] ", "[ERROR] ", "[ERRCS] "};

constexpr int kBannerWidth = 80;
constexpr int kBannerIndent = 22;

// Formatting the local time is the slow part of saving a long log. Messages
// come in runs within the same second, so each thread keeps the text of the
// last second it formatted and only appends the milliseconds.
QString timeOfDayText(qint64 msecsSinceEpoch)
{
    struct LastSecond
    {
        qint64 second = std::numeric_limits<qint64>::min();
        QString text;
    };
    thread_local LastSecond last;

    qint64 second = msecsSinceEpoch / 1000;
    int millis = int(msecsSinceEpoch % 1000);
    if (millis < 0) {
        millis += 1000;
        --second;
    }
    if (last.second != second) {
        last.second = second;
        last.text = QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("HH:mm:ss"));
    }
    QString text;
    text.reserve(last.text.size() + 4);
    text += last.text;
    text += QLatin1Char('.');
    text += QLatin1Char(char('0' + millis / 100));
    text += QLatin1Char(char('0' + millis / 10 % 10));
    text += QLatin1Char(char('0' + millis % 10));
    return text;
}

} // namespace

QString messageClassLabel(int msgClass)
{
    if (msgClass >= 0 && size_t(msgClass) < kClassLabels.size())
        return QString::fromLatin1(kClassLabels[size_t(msgClass)]);
    return QStringLiteral("UNKNOWN");
}

QString messageTypeLabel(int msgType)
{
    if (msgType >= 0 && size_t(msgType) < kTypeLabels.size())
        return QString::fromLatin1(kTypeLabels[size_t(msgType)]);
    return QString();
}

LogMessage::LogMessage(const QString& text, MessageClass msgClass, MessageType type, QThread* thread,
                       quint32 word1, quint32 word2)
    : m_text(text)
    , m_msecsSinceEpoch(QDateTime::currentMSecsSinceEpoch())
    , m_thread(thread)
    , m_word1(word1)
    , m_word2(word2)
    , m_threadNameId(currentThreadNameId(thread))
    , m_class(qint16(msgClass))
    , m_type(qint16(type))
{
}

LogMessage::LogMessage(MessageClass msgClass, MessageType type, QThread* thread,
                       quint32 word1, quint32 word2)
    : LogMessage(QString(), msgClass, type, thread, word1, word2)
{
}

LogMessage::~LogMessage() = default;

QString LogMessage::toString() const
{
    if (type() == BANNER) {
        const QString rule(kBannerWidth, QLatin1Char('='));
        return rule + QLatin1Char('\n') + QString(kBannerIndent, QLatin1Char(' ')) + text()
               + QLatin1Char('\n') + rule;
    }
    const QString body = text();
    const QString label = messageTypeLabel(type());
    QString line;
    line.reserve(17 + label.size() + body.size());
    line += QLatin1Char('[');
    line += timeOfDayText(m_msecsSinceEpoch);
    line += QLatin1String("]   ");
    line += label;
    line += body;
    return line;
}

QString LogMessage::text() const
{
    return m_text;
}

QString LogMessage::toolTip() const
{
    return m_text;
}

QVariant LogMessage::data(int column) const
{
    switch (column) {
    case 0:
        return timeOfDayText(m_msecsSinceEpoch);
    case 1:
        return messageClassLabel(msgClass());
    case 2:
        return threadName();
    case 3:
        return text();
    default:
        return QVariant();
    }
}

QDateTime LogMessage::time() const
{
    return QDateTime::fromMSecsSinceEpoch(m_msecsSinceEpoch);
}

QString LogMessage::threadName() const
{
    return threadNameForId(m_threadNameId, m_thread);
}

} // namespace halvorn::general
