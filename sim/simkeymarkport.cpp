#include "sim/simkeymarkport.h"

#include "sim/simdriver.h"

#include <QJsonArray>
#include <QJsonValue>

#include <algorithm>
#include <optional>

namespace halvorn::sim {

namespace {

constexpr quint8 ChorusStart = 0xD0;
constexpr quint8 ReadParameter = 0x0D;
constexpr quint8 WriteParameter = 0x0E;
constexpr int ChorusFrameLength = 9;
constexpr int FirstTagParameter = 0x0A00;
constexpr int LastTagParameter = 0x0BFF;
constexpr int MaxRecordedFrames = 4096;
constexpr int ShortFrameLength = 5;
constexpr int LongFrameNoise = 12;
constexpr int FirstBank1Location = 2;
constexpr int LastBank1Location = 0xFF;

struct FaultName
{
    const char* name;
    SimKeymarkPort::ReplyFault fault;
};
constexpr FaultName FaultNames[] = {
    {"normal", SimKeymarkPort::ReplyFault::None},
    {"silent", SimKeymarkPort::ReplyFault::Silent},
    {"badChecksum", SimKeymarkPort::ReplyFault::BadChecksum},
    {"shortFrame", SimKeymarkPort::ReplyFault::ShortFrame},
    {"longFrame", SimKeymarkPort::ReplyFault::LongFrame},
};

const QString PresentKey = QStringLiteral("present");
const QString RepliesKey = QStringLiteral("replies");
const QString CurrentsKey = QStringLiteral("currents");
const QString CurveKey = QStringLiteral("dimmingCurve");
const QString MinLevelKey = QStringLiteral("minLevel");
const QString PhysicalMinimumKey = QStringLiteral("physicalMinimum");
const QString NtcKey = QStringLiteral("ntcTemperature");
const QString AmpwiseKey = QStringLiteral("ampwise");
const QString MakerParametersKey = QStringLiteral("makerParameters");
const QString Bank1Key = QStringLiteral("bank1");
const QString Logarithmic = QStringLiteral("logarithmic");
const QString Linear = QStringLiteral("linear");

QString hexText(quint64 value, int digits)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}

// Reads the section into a configuration; the first problem ends it.
class SectionReader
{
public:
    explicit SectionReader(const QJsonObject& section)
        : m_section(section)
    {
    }

    QString error() const { return m_error; }
    bool failed() const { return !m_error.isEmpty(); }

    template <typename T>
    void number(const QString& key, quint64 minimum, quint64 maximum, T& target)
    {
        const QJsonValue value = m_section.value(key);
        if (failed() || value.isUndefined())
            return;
        const std::optional<quint64> parsed = SimDriver::readNumber(value, maximum);
        if (!parsed || *parsed < minimum)
            fail(QStringLiteral("\"%1\" must be a number from %2 to %3").arg(key).arg(minimum).arg(maximum));
        else
            target = T(*parsed);
    }

    void flag(const QString& key, bool& target)
    {
        const QJsonValue value = m_section.value(key);
        if (failed() || value.isUndefined())
            return;
        if (!value.isBool())
            fail(QStringLiteral("\"%1\" must be true or false").arg(key));
        else
            target = value.toBool();
    }

    void words(const QString& key, int count, int maximumCount, QList<uint16_t>& target)
    {
        const QJsonValue value = m_section.value(key);
        if (failed() || value.isUndefined())
            return;
        const QJsonArray list = value.toArray();
        const bool sized = count < 0 ? list.size() <= maximumCount : list.size() == count;
        QList<uint16_t> read;
        for (const auto& item : list) {
            const std::optional<quint64> parsed = SimDriver::readNumber(item, 0xFFFF);
            if (!parsed)
                break;
            read.append(uint16_t(*parsed));
        }
        if (!value.isArray() || !sized || read.size() != list.size()) {
            fail(count < 0 ? QStringLiteral("\"%1\" must be a list of at most %2 numbers from 0 to 65535")
                                 .arg(key)
                                 .arg(maximumCount)
                           : QStringLiteral("\"%1\" must be a list of %2 numbers from 0 to 65535")
                                 .arg(key)
                                 .arg(count));
            return;
        }
        target = read;
    }

    template <typename Key, typename Value>
    void map(const QString& key, quint64 firstKey, quint64 lastKey, quint64 maximumValue, QMap<Key, Value>& target)
    {
        const QJsonValue value = m_section.value(key);
        if (failed() || value.isUndefined())
            return;
        QMap<Key, Value> read;
        const QJsonObject object = value.toObject();
        for (auto it = object.begin(); it != object.end(); ++it) {
            const auto location = SimDriver::readNumber(QJsonValue(it.key()), lastKey);
            const auto content = SimDriver::readNumber(it.value(), maximumValue);
            if (!location || *location < firstKey || !content) {
                fail(QStringLiteral("\"%1\": \"%2\" needs a key from %3 to %4 and a value from 0 to %5")
                         .arg(key, it.key())
                         .arg(firstKey)
                         .arg(lastKey)
                         .arg(maximumValue));
                return;
            }
            read.insert(Key(*location), Value(*content));
        }
        if (!value.isObject())
            fail(QStringLiteral("\"%1\" must be an object of number: value").arg(key));
        else
            target = read;
    }

    void curve(uint8_t& target)
    {
        const QJsonValue value = m_section.value(CurveKey);
        if (failed() || value.isUndefined())
            return;
        if (value.toString() == Logarithmic)
            target = 0;
        else if (value.toString() == Linear)
            target = 1;
        else
            fail(QStringLiteral("\"dimmingCurve\" must be \"logarithmic\" or \"linear\""));
    }

    void replies(SimKeymarkPort::ReplyFault& target)
    {
        const QJsonValue value = m_section.value(RepliesKey);
        if (failed() || value.isUndefined())
            return;
        const auto* found = std::find_if(std::begin(FaultNames), std::end(FaultNames), [&](const FaultName& f) {
            return value.toString() == QLatin1String(f.name);
        });
        if (found == std::end(FaultNames))
            fail(QStringLiteral("unknown \"replies\""));
        else
            target = found->fault;
    }

private:
    void fail(const QString& text) { m_error = QStringLiteral("\"keymark\": ") + text; }

    const QJsonObject m_section;
    QString m_error;
};

} // namespace

SimKeymarkPort::SimKeymarkPort() = default;

bool SimKeymarkPort::isKeymarkFrame(const QByteArray& frame)
{
    if (frame.size() < ChorusFrameLength || quint8(frame.at(0)) != ChorusStart)
        return false;
    const quint8 command = quint8(frame.at(1));
    if (command != ReadParameter && command != WriteParameter)
        return false;
    const int address = quint8(frame.at(2)) | quint8(frame.at(3)) << 8;
    const int parameter = quint8(frame.at(4)) | quint8(frame.at(5)) << 8;
    return address == 0 && parameter >= FirstTagParameter && parameter <= LastTagParameter;
}

SimAnswer SimKeymarkPort::handleFrame(const QByteArray& frame, bool canRead)
{
    ++m_frameCount;
    if (m_frames.size() >= MaxRecordedFrames)
        m_frames.removeFirst();
    m_frames.append(frame);
    if (!m_present) {
        m_lastMessageFailed = true;
        return SimAnswer::none();
    }

    const std::optional<QByteArray> answer = m_tag->handleFrame(frame);
    if (m_pullOutAfter > 0 && --m_pullOutAfter == 0)
        m_present = false;
    m_lastMessageFailed = !answer || m_replyFault == ReplyFault::Silent;
    if (m_lastMessageFailed || !canRead)
        return SimAnswer::none();
    return SimAnswer::answered(damaged(*answer));
}

QByteArray SimKeymarkPort::damaged(QByteArray answer) const
{
    switch (m_replyFault) {
    case ReplyFault::BadChecksum:
        answer[answer.size() - 1] = char(quint8(answer.back()) ^ 0x5A);
        break;
    case ReplyFault::ShortFrame:
        answer.truncate(ShortFrameLength);
        break;
    case ReplyFault::LongFrame:
        answer.append(QByteArray(LongFrameNoise, char(0x55)));
        break;
    case ReplyFault::None:
    case ReplyFault::Silent:
        break;
    }
    return answer;
}

bool SimKeymarkPort::keymarkError(bool canRead) const
{
    return canRead ? !m_present : m_lastMessageFailed;
}

void SimKeymarkPort::setTagPresent(bool present)
{
    m_present = present;
    m_pullOutAfter = 0;
}

void SimKeymarkPort::pullOutTagAfter(int frames)
{
    m_pullOutAfter = std::max(frames, 0);
}

void SimKeymarkPort::insertTag(const SimTagConfig& config)
{
    m_tag.emplace(config);
    setTagPresent(true);
}

bool SimKeymarkPort::load(const QJsonObject& section, QString* error)
{
    SectionReader reader(section);
    bool present = true;
    ReplyFault fault = ReplyFault::None;
    SimTagConfig config;
    QList<uint16_t> currents(config.currents.begin(), config.currents.end());

    reader.flag(PresentKey, present);
    reader.replies(fault);
    reader.words(CurrentsKey, SimTagConfig::SourceCount, SimTagConfig::SourceCount, currents);
    reader.curve(config.dimmingCurve);
    reader.number(MinLevelKey, 1, 254, config.minLevel);
    reader.number(PhysicalMinimumKey, 1, 254, config.physicalMinLevel);
    reader.number(NtcKey, 0, 255, config.ntcTemperature);
    reader.words(AmpwiseKey, -1, SimTagConfig::MaxAmpwiseChips, config.ampwiseStatus);
    reader.map(MakerParametersKey, 0, 0xFFFF, 0xFFFF, config.makerParameters);
    reader.map(Bank1Key, FirstBank1Location, LastBank1Location, 0xFF, config.bank1);
    if (reader.failed()) {
        if (error)
            *error = reader.error();
        return false;
    }

    std::copy(currents.begin(), currents.end(), config.currents.begin());
    insertTag(config);
    m_present = present;
    m_replyFault = fault;
    return true;
}

QJsonObject SimKeymarkPort::save() const
{
    const SimTagConfig state = m_tag->state();
    QJsonObject section;
    section.insert(PresentKey, m_present);
    if (m_replyFault != ReplyFault::None) {
        for (const FaultName& entry : FaultNames)
            if (entry.fault == m_replyFault)
                section.insert(RepliesKey, QLatin1String(entry.name));
    }
    QJsonArray currents;
    for (uint16_t current : state.currents)
        currents.append(int(current));
    section.insert(CurrentsKey, currents);
    section.insert(CurveKey, state.dimmingCurve == 1 ? Linear : Logarithmic);
    section.insert(MinLevelKey, int(state.minLevel));
    section.insert(PhysicalMinimumKey, int(state.physicalMinLevel));
    section.insert(NtcKey, int(state.ntcTemperature));
    QJsonArray ampwise;
    for (uint16_t status : state.ampwiseStatus)
        ampwise.append(hexText(status, 4));
    section.insert(AmpwiseKey, ampwise);
    if (!state.makerParameters.isEmpty()) {
        QJsonObject parameters;
        for (auto it = state.makerParameters.begin(); it != state.makerParameters.end(); ++it)
            parameters.insert(hexText(it.key(), 4), int(it.value()));
        section.insert(MakerParametersKey, parameters);
    }
    if (!state.bank1.isEmpty()) {
        QJsonObject bank1;
        for (auto it = state.bank1.begin(); it != state.bank1.end(); ++it)
            bank1.insert(hexText(it.key(), 2), int(it.value()));
        section.insert(Bank1Key, bank1);
    }
    return section;
}

void SimKeymarkPort::powerUp()
{
    m_lastMessageFailed = false;
}

} // namespace halvorn::sim
