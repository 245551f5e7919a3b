#include "general/logmessage.h"

#include "general/threadnames.h"

#include <QThread>

#include <algorithm>
#include <array>
#include <cstring>
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

constexpr int kTimeLength = 12; // "HH:mm:ss.zzz"

// Formatting the local time is the slow part of saving a long log. Messages
// come in runs within the same second, so each thread keeps the text of the
// last second it formatted and only adds the milliseconds.
void writeTimeOfDay(qint64 msecsSinceEpoch, QChar* out)
{
    struct LastSecond
    {
        qint64 second = std::numeric_limits<qint64>::min();
        char text[8] = {};
    };
    thread_local LastSecond last;

    qint64 second = msecsSinceEpoch / 1000;
    int millis = int(msecsSinceEpoch % 1000);
    if (millis < 0) {
        millis += 1000;
        --second;
    }
    if (last.second != second) {
        const QByteArray text =
            QDateTime::fromMSecsSinceEpoch(second * 1000).toString(QStringLiteral("HH:mm:ss")).toLatin1();
        std::memset(last.text, '0', sizeof last.text);
        std::memcpy(last.text, text.constData(), std::min(size_t(text.size()), sizeof last.text));
        last.second = second;
    }
    for (char c : last.text)
        *out++ = QLatin1Char(c);
    *out++ = QLatin1Char('.');
    *out++ = QLatin1Char(char('0' + millis / 100));
    *out++ = QLatin1Char(char('0' + millis / 10 % 10));
    *out = QLatin1Char(char('0' + millis % 10));
}

QString timeOfDayText(qint64 msecsSinceEpoch)
{
    QString text(kTimeLength, Qt::Uninitialized);
    writeTimeOfDay(msecsSinceEpoch, text.data());
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
    // Written in place: this runs for every line of a saved log.
    const QString body = text();
    const char* label = (m_type >= 0 && size_t(m_type) < kTypeLabels.size()) ? kTypeLabels[size_t(m_type)] : "";
    const qsizetype labelLength = qsizetype(std::strlen(label));
    static constexpr char kAfterTime[] = "]   ";
    constexpr qsizetype kAfterTimeLength = sizeof kAfterTime - 1;

    QString line(1 + kTimeLength + kAfterTimeLength + labelLength + body.size(), Qt::Uninitialized);
    QChar* out = line.data();
    *out++ = QLatin1Char('[');
    writeTimeOfDay(m_msecsSinceEpoch, out);
    out += kTimeLength;
    for (qsizetype i = 0; i < kAfterTimeLength; ++i)
        *out++ = QLatin1Char(kAfterTime[i]);
    for (qsizetype i = 0; i < labelLength; ++i)
        *out++ = QLatin1Char(label[i]);
    std::copy(body.constBegin(), body.constEnd(), out);
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
