#include "sim/simdalibus.h"

#include <QJsonArray>
#include <QJsonValue>

#include <algorithm>

namespace halvorn::sim {

namespace {

constexpr quint8 ReceiverFinished = 0x04;
constexpr quint8 ReceiverFaulty = 0x08;
constexpr quint8 StuckCount = 60;
constexpr quint8 WrapStep = 100;

QByteArray bytes(std::initializer_list<quint8> values)
{
    QByteArray out;
    out.reserve(int(values.size()));
    for (quint8 value : values)
        out.append(char(value));
    return out;
}

// A number from the installation file: an integer, or a string in decimal
// or with a 0x prefix.
std::optional<qint64> number(const QJsonValue& value)
{
    if (value.isDouble())
        return qint64(value.toDouble());
    if (value.isString()) {
        bool ok = false;
        const qint64 parsed = value.toString().toLongLong(&ok, 0);
        if (ok)
            return parsed;
    }
    return std::nullopt;
}

struct FaultName
{
    const char* name;
    SimGearFault fault;
};
constexpr FaultName gearFaultNames[] = {
    {"none", SimGearFault::None},
    {"neverAnswers", SimGearFault::NeverAnswers},
    {"wrongShortAddress", SimGearFault::WrongShortAddress},
};

struct ReceiverFaultName
{
    const char* name;
    SimDaliBus::ReceiverFault fault;
};
constexpr ReceiverFaultName receiverFaultNames[] = {
    {"none", SimDaliBus::ReceiverFault::None},
    {"stuckCounter", SimDaliBus::ReceiverFault::StuckCounter},
    {"wrappingCounter", SimDaliBus::ReceiverFault::WrappingCounter},
};

bool fail(QString* error, const QString& text)
{
    if (error)
        *error = QStringLiteral("\"dali\": ") + text;
    return false;
}

// Reads {"location": value, ...} maps of the gear entries.
template <typename Key, typename Value>
bool readMap(const QJsonValue& json, QMap<Key, Value>& map, qint64 maxKey, qint64 maxValue)
{
    if (json.isUndefined())
        return true;
    if (!json.isObject())
        return false;
    const QJsonObject object = json.toObject();
    for (auto it = object.begin(); it != object.end(); ++it) {
        bool ok = false;
        const qint64 key = it.key().toLongLong(&ok, 0);
        const std::optional<qint64> value = number(it.value());
        if (!ok || key < 0 || key > maxKey || !value || *value < 0 || *value > maxValue)
            return false;
        map.insert(Key(key), Value(*value));
    }
    return true;
}

// Writes the maps readMap reads; only entries other than `skipped`.
template <typename Key, typename Value>
void writeMap(QJsonObject& entry, const QString& name, const QMap<Key, Value>& map, Value skipped)
{
    QJsonObject object;
    for (auto it = map.begin(); it != map.end(); ++it)
        if (it.value() != skipped)
            object.insert(QStringLiteral("0x%1").arg(qulonglong(it.key()), 0, 16), qint64(it.value()));
    if (!object.isEmpty())
        entry.insert(name, object);
}

// What a gear's memory and mailbox hold now, beyond a new gear's, so that
// what the tool wrote survives a save.
void writeMemory(QJsonObject& entry, const SimDaliGear& gear)
{
    static const SimDaliGear newGear;
    QMap<int, int> bank1;
    for (int location = 0; location <= 0xFF; ++location)
        if (gear.memory(1, location) != newGear.memory(1, location))
            bank1.insert(location, gear.memory(1, location));
    writeMap(entry, QStringLiteral("bank1"), bank1, -1);
    writeMap(entry, QStringLiteral("makerParameters"), gear.makerParameters(), uint16_t(0));
    writeMap(entry, QStringLiteral("makerValues"), gear.config().makerValues, uint16_t(0));
    QMap<int, int> registers;
    for (int reg = 0; reg <= 30; ++reg)
        registers.insert(reg, gear.bridgeRegister(uint8_t(reg)));
    writeMap(entry, QStringLiteral("bridgeRegisters"), registers, 0);
}

bool readGear(const QJsonObject& entry, SimDaliGearConfig& config, QString* error, int index)
{
    const QString where = QStringLiteral("gear %1: ").arg(index);
    auto field = [&](const char* name, qint64 max, auto& target) {
        const QJsonValue value = entry.value(QLatin1String(name));
        if (value.isUndefined())
            return true;
        const std::optional<qint64> parsed = number(value);
        if (!parsed || *parsed < 0 || *parsed > max)
            return fail(error, where + QStringLiteral("\"%1\" is out of range").arg(QLatin1String(name)));
        target = std::remove_reference_t<decltype(target)>(*parsed);
        return true;
    };
    uint32_t fixedRandom = 0;
    const bool hasFixed = entry.contains(QStringLiteral("randomiseTo"));
    if (!field("random", 0xFFFFFF, config.randomAddress) || !field("seed", 0xFFFFFFFFLL, config.seed)
        || !field("short", 0xFF, config.shortAddress) || !field("deviceType", 0xFF, config.deviceType)
        || !field("version", 0xFF, config.versionNumber)
        || !field("physicalMinimum", 254, config.physicalMinLevel)
        || !field("randomiseTo", 0xFFFFFF, fixedRandom))
        return false;
    if (config.shortAddress > 63 && config.shortAddress != 0xFF)
        return fail(error, where + QStringLiteral("\"short\" must be 0 to 63"));
    if (hasFixed)
        config.fixedRandomAddress = fixedRandom;

    QMap<int, int> bank1;
    if (!readMap(entry.value(QStringLiteral("bank1")), bank1, 0xFF, 0xFF)
        || !readMap(entry.value(QStringLiteral("makerParameters")), config.makerParameters, 0xFFFF, 0xFFFF)
        || !readMap(entry.value(QStringLiteral("makerValues")), config.makerValues, 0xFFFF, 0xFFFF)
        || !readMap(entry.value(QStringLiteral("bridgeRegisters")), config.bridgeRegisters, 30, 0xFF))
        return fail(error, where + QStringLiteral("a memory map is malformed"));
    if (!bank1.isEmpty()) {
        SimDaliGear defaults;
        config.bank1 = QByteArray(0x100, '\0');
        for (int i = 0; i < config.bank1.size(); ++i)
            config.bank1[i] = char(defaults.memory(1, i));
        for (auto it = bank1.begin(); it != bank1.end(); ++it)
            config.bank1[it.key()] = char(it.value());
    }

    const QJsonValue fault = entry.value(QStringLiteral("fault"));
    if (!fault.isUndefined()) {
        const auto* found = std::find_if(std::begin(gearFaultNames), std::end(gearFaultNames),
                                         [&](const FaultName& f) { return fault.toString() == QLatin1String(f.name); });
        if (found == std::end(gearFaultNames))
            return fail(error, where + QStringLiteral("unknown \"fault\""));
        config.fault = found->fault;
    }
    return true;
}

} // namespace

SimDaliBus::SimDaliBus()
{
    m_wallClock.start();
}

SimDaliBus::~SimDaliBus() = default;

qint64 SimDaliBus::nowUs() const
{
    return m_realistic ? m_wallClock.nsecsElapsed() / 1000 : m_virtualNowUs;
}

void SimDaliBus::advanceVirtualClock(qint64 us)
{
    if (!m_realistic)
        m_virtualNowUs += us;
}

void SimDaliBus::setRealisticTiming(bool realistic)
{
    if (realistic == m_realistic)
        return;
    // Carry the bus time over, so the gear's windows stay consistent.
    const qint64 now = nowUs();
    m_realistic = realistic;
    if (realistic) {
        const qint64 shift = m_wallClock.nsecsElapsed() / 1000 - now;
        m_busFreeUs += shift;
        if (m_reception)
            m_reception->forwardEndUs += shift;
    } else {
        m_virtualNowUs = now;
    }
}

QByteArray SimDaliBus::handle(const QByteArray& request)
{
    if (request.isEmpty())
        return {};
    switch (quint8(request.at(0))) {
    case 0x0A:
        return forwardFrame(request);
    case 0x0B:
        return backwardFrame();
    case 0x0C:
        return receiverStatus();
    default:
        return {};
    }
}

QByteArray SimDaliBus::forwardFrame(const QByteArray& request)
{
    if (request.size() < 4)
        return {}; // a frame without its data byte is not sent
    if (m_busyRepliesLeft > 0 || m_staysBusy || (m_realistic && nowUs() < m_busFreeUs)) {
        if (m_busyRepliesLeft > 0)
            --m_busyRepliesLeft;
        ++m_statistics.busyReplies;
        return bytes({0xAA, 0x02});
    }
    const quint8 address = quint8(request.at(2));
    const quint8 data = quint8(request.at(3));
    if (m_forwardFrames.size() >= MaxRecordedFrames)
        m_forwardFrames.removeFirst();
    m_forwardFrames.append(quint16(address << 8 | data));

    if (!m_realistic)
        m_virtualNowUs = std::max(m_virtualNowUs, m_busFreeUs);
    const qint64 start = nowUs();
    const qint64 end = start + ForwardFrameUs;
    advanceVirtualClock(ForwardFrameUs);

    Reception reception;
    reception.forwardEndUs = end;
    // Without bus voltage no gear can see the frame.
    if (isPowered()) {
        for (const auto& gear : m_gear) {
            const std::optional<quint8> answer = gear->receive(address, data, end, !m_realistic);
            if (answer) {
                ++reception.answers;
                reception.answer = *answer;
            }
        }
    }
    m_reception = reception;
    m_wrapPolls = 0;

    ++m_statistics.forwardFrames;
    qint64 busy = ForwardFrameUs;
    if (reception.answers > 0) {
        ++m_statistics.backwardFrames;
        if (reception.answers > 1)
            ++m_statistics.collisions;
        busy += AnswerStartUs + BackwardFrameUs;
    }
    m_busFreeUs = start + busy + SettlingUs;
    m_statistics.minimumBusTimeUs += busy + SettlingUs;
    return bytes({0x8A});
}

qint64 SimDaliBus::elapsedCounts() const
{
    if (!m_reception)
        return 255;
    return std::max<qint64>(0, (nowUs() - m_reception->forwardEndUs) / CountUs);
}

QByteArray SimDaliBus::receiverStatus()
{
    ++m_statistics.receiverPolls;
    advanceVirtualClock(PollStep * CountUs);

    if (m_receiverFault == ReceiverFault::StuckCounter)
        return bytes({0x8C, ReceiverFaulty, StuckCount});
    if (m_receiverFault == ReceiverFault::WrappingCounter) {
        ++m_wrapPolls;
        return bytes({0x8C, 0x00, quint8((m_wrapPolls * WrapStep) % 256)});
    }

    const qint64 counts = elapsedCounts();
    const quint8 counter = quint8(std::min<qint64>(counts, 255));
    if (!m_reception || m_reception->answers == 0)
        return bytes({0x8C, 0x00, counts >= AnswerWindowCount ? quint8(255) : counter});
    quint8 status = 0;
    if (m_reception->answers > 1 && counts >= AnswerStartCount)
        status |= ReceiverFaulty;
    else if (m_reception->answers == 1 && counts >= AnswerEndCount)
        status |= ReceiverFinished;
    return bytes({0x8C, status, counter});
}

QByteArray SimDaliBus::backwardFrame()
{
    const bool clean = m_reception && m_reception->answers == 1 && elapsedCounts() >= AnswerEndCount;
    const quint8 answer = clean ? m_reception->answer : 0;
    const quint8 delay = clean ? AnswerStartCount : 0;
    return bytes({0x8B, 0x00, 0x00, answer, delay});
}

SimDaliGear& SimDaliBus::addGear(const SimDaliGearConfig& config)
{
    m_gear.push_back(std::make_unique<SimDaliGear>(config));
    return *m_gear.back();
}

void SimDaliBus::addRandomGear(int count, quint32 seed)
{
    for (int i = 0; i < count; ++i) {
        SimDaliGearConfig config;
        config.seed = seed * 7919u + quint32(i) * 104729u + 1u;
        addGear(config);
    }
}

void SimDaliBus::clearGear()
{
    m_gear.clear();
}

bool SimDaliBus::load(const QJsonObject& section, QString* error)
{
    const QJsonValue powered = section.value(QStringLiteral("powered"));
    if (!powered.isUndefined() && !powered.isBool())
        return fail(error, QStringLiteral("\"powered\" must be true or false"));

    const QJsonValue timing = section.value(QStringLiteral("timing"));
    if (!timing.isUndefined() && timing.toString() != QLatin1String("realistic")
        && timing.toString() != QLatin1String("zero"))
        return fail(error, QStringLiteral("\"timing\" must be \"zero\" or \"realistic\""));

    ReceiverFault receiverFault = ReceiverFault::None;
    const QJsonValue receiver = section.value(QStringLiteral("receiverFault"));
    if (!receiver.isUndefined()) {
        const auto* found = std::find_if(std::begin(receiverFaultNames), std::end(receiverFaultNames),
                                         [&](const ReceiverFaultName& f) {
                                             return receiver.toString() == QLatin1String(f.name);
                                         });
        if (found == std::end(receiverFaultNames))
            return fail(error, QStringLiteral("unknown \"receiverFault\""));
        receiverFault = found->fault;
    }

    std::vector<SimDaliGearConfig> configs;
    const QJsonValue gearList = section.value(QStringLiteral("gear"));
    if (!gearList.isUndefined() && !gearList.isArray())
        return fail(error, QStringLiteral("\"gear\" must be a list"));
    const QJsonArray entries = gearList.toArray();
    for (int i = 0; i < entries.size(); ++i) {
        if (!entries.at(i).isObject())
            return fail(error, QStringLiteral("gear %1 is not an object").arg(i));
        SimDaliGearConfig config;
        if (!readGear(entries.at(i).toObject(), config, error, i))
            return false;
        configs.push_back(config);
    }
    const std::optional<qint64> count = section.contains(QStringLiteral("randomGear"))
        ? number(section.value(QStringLiteral("randomGear")))
        : std::optional<qint64>(0);
    const std::optional<qint64> seed = section.contains(QStringLiteral("seed"))
        ? number(section.value(QStringLiteral("seed")))
        : std::optional<qint64>(1);
    if (!count || *count < 0 || *count > 64 || !seed || *seed < 0 || *seed > 0xFFFFFFFFLL)
        return fail(error, QStringLiteral("\"randomGear\" must be 0 to 64 and \"seed\" a 32-bit number"));

    m_externalSupply = powered.toBool(false);
    setRealisticTiming(timing.toString() == QLatin1String("realistic"));
    m_staysBusy = section.value(QStringLiteral("staysBusy")).toBool(false);
    m_receiverFault = receiverFault;
    clearGear();
    for (const SimDaliGearConfig& config : configs)
        addGear(config);
    addRandomGear(int(*count), quint32(*seed));
    return true;
}

QJsonObject SimDaliBus::save() const
{
    QJsonObject section;
    section.insert(QStringLiteral("powered"), m_externalSupply);
    if (m_realistic)
        section.insert(QStringLiteral("timing"), QStringLiteral("realistic"));
    if (m_staysBusy)
        section.insert(QStringLiteral("staysBusy"), true);
    for (const ReceiverFaultName& name : receiverFaultNames)
        if (name.fault == m_receiverFault && m_receiverFault != ReceiverFault::None)
            section.insert(QStringLiteral("receiverFault"), QLatin1String(name.name));
    QJsonArray gearList;
    for (const auto& gear : m_gear) {
        QJsonObject entry;
        entry.insert(QStringLiteral("random"), QStringLiteral("0x%1").arg(gear->randomAddress(), 6, 16, QLatin1Char('0')));
        const SimDaliGearConfig& config = gear->config();
        entry.insert(QStringLiteral("seed"), qint64(config.seed));
        if (config.fixedRandomAddress)
            entry.insert(QStringLiteral("randomiseTo"),
                         QStringLiteral("0x%1").arg(*config.fixedRandomAddress, 6, 16, QLatin1Char('0')));
        if (gear->hasShortAddress())
            entry.insert(QStringLiteral("short"), gear->shortAddress());
        if (config.deviceType != 6)
            entry.insert(QStringLiteral("deviceType"), config.deviceType);
        if (config.versionNumber != SimDaliGearConfig().versionNumber)
            entry.insert(QStringLiteral("version"), config.versionNumber);
        if (config.physicalMinLevel != SimDaliGearConfig().physicalMinLevel)
            entry.insert(QStringLiteral("physicalMinimum"), config.physicalMinLevel);
        writeMemory(entry, *gear);
        for (const FaultName& name : gearFaultNames)
            if (name.fault == gear->fault() && gear->fault() != SimGearFault::None)
                entry.insert(QStringLiteral("fault"), QLatin1String(name.name));
        gearList.append(entry);
    }
    if (!gearList.isEmpty())
        section.insert(QStringLiteral("gear"), gearList);
    return section;
}

void SimDaliBus::powerUp()
{
    m_donglePower = false;
    m_reception.reset();
    m_wrapPolls = 0;
}

} // namespace halvorn::sim
