#include "sim/simdriver.h"

#include <QJsonArray>
#include <QRandomGenerator>
#include <QSet>

namespace halvorn::sim {

namespace {

struct DefaultParameter {
    quint8 number;
    quint16 type;
    quint16 value;
};

// The table of a Halvorn four-channel driver as it leaves the factory.
constexpr DefaultParameter HalvornTable[] = {
    {2, 0x0600, 1},    // Network start address, 1..512
    {4, 0x4000, 1},    // Network resolution, flag bit 0: 1 = 8 bits, 0 = 16 bits
    {5, 0x4000, 0},    // Show running (0) or stopped (1), flag bit 0
    {9, 0x03FF, 1023}, // Master dimmer value, 0..1023
    {52, 0x0404, 4},   // Group count, 1..4: the DMX channels the driver listens to
    {53, 0x0001, 0},   // Dimming curve: linear / gamma
    {55, 0x000F, 0},   // Interpolation, 0..15
    {56, 0x00FF, 0},   // Minimum dimming level, 0..255
    {57, 0x4005, 0},   // DMX termination, flag bit 5
    {59, 0x0003, 0},   // Daisy-chain mode, 0..3
    {68, 0x0001, 0},   // Gamma correction: logarithmic / square
    {74, 0x80FF, 0},   // Cell count, read-only: drivers behind this one
    {150, 0x8000, 0x0031}, // Hardware type, read-only
    {151, 0x8000, 0x0102}, // Hardware version, read-only
    {152, 0x8004, 4},  // Number of LED groups, read-only
    {157, 0x0096, 85}, // Thermal throttling temperature, 0..150 degrees C
    {161, 0x0000, 0},  // Device Local ID, 0..65535
    {167, 0x0064, 100},// Power scaling, 0..100 %
    {170, 0x03E8, 70}, // Current setting output 1, x 10 mA, 0..1000
    {171, 0x03E8, 70},
    {172, 0x03E8, 70},
    {173, 0x03E8, 70},
    {230, 0x0000, 0},  // UI status parameter
};

constexpr int MaxParameterNumber = 255;
constexpr int DefaultChannelCount = 4;

bool isFlagKind(quint16 type)
{
    return (type & SimDriver::FlagKindBit) != 0;
}

quint16 flagMask(quint16 type)
{
    return quint16(1u << (type & 0x7));
}

int typeMinimum(quint16 type)
{
    return (type & SimDriver::MinimumOneBit) ? 1 : 0;
}

int typeMaximum(quint16 type)
{
    const int maximum = type & SimDriver::MaximumMask;
    return maximum == 0 ? 0xFFFF : maximum;
}

quint8 low(unsigned value)
{
    return quint8(value & 0xFF);
}

quint8 high(unsigned value)
{
    return quint8((value >> 8) & 0xFF);
}

struct BehaviourName {
    SimDriver::Behaviour behaviour;
    const char* name;
};

constexpr BehaviourName BehaviourNames[] = {
    {SimDriver::Behaviour::Normal, "normal"},
    {SimDriver::Behaviour::NonMuting, "non-muting"},
    {SimDriver::Behaviour::Garbage, "garbage"},
    {SimDriver::Behaviour::FlakeyMuting, "flakey-muting"},
    {SimDriver::Behaviour::Silent, "silent"},
};

QString hexText(quint64 value, int digits)
{
    return QStringLiteral("0x") + QString::number(value, 16).rightJustified(digits, QLatin1Char('0')).toUpper();
}

} // namespace

std::optional<quint64> SimDriver::readNumber(const QJsonValue& value, quint64 maximum)
{
    quint64 number = 0;
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (!(d >= 0) || d > double(maximum) || d != double(quint64(d)))
            return std::nullopt;
        number = quint64(d);
    } else if (value.isString()) {
        const QString text = value.toString().trimmed();
        const bool hexadecimal = text.startsWith(QLatin1String("0x"), Qt::CaseInsensitive);
        bool ok = false;
        number = hexadecimal ? text.mid(2).toULongLong(&ok, 16) : text.toULongLong(&ok, 10);
        if (!ok)
            return std::nullopt;
    } else {
        return std::nullopt;
    }
    if (number > maximum)
        return std::nullopt;
    return number;
}

std::array<int, SimDriver::MaxChannels> SimDriver::filledLevels()
{
    std::array<int, MaxChannels> levels;
    levels.fill(NoLevel);
    return levels;
}

SimDriver SimDriver::halvorn(quint32 guid, quint64 uid, quint16 lid)
{
    SimDriver driver;
    driver.setGuid(guid);
    driver.setUid(uid);
    driver.addDefaultTable();
    driver.setLid(lid);
    return driver;
}

void SimDriver::addDefaultTable()
{
    for (const DefaultParameter& p : HalvornTable)
        defineParameter(p.number, p.type, p.value);
}

QList<SimDriver> SimDriver::randomDrivers(int count, quint32 seed, quint16 manufacturerId)
{
    QList<SimDriver> drivers;
    if (count <= 0)
        return drivers;
    QRandomGenerator random(seed);
    QSet<quint32> guids;
    QSet<quint64> uids;
    drivers.reserve(count);
    while (drivers.size() < count) {
        const quint32 guid = random.generate();
        const quint16 manufacturer =
            manufacturerId != 0 ? manufacturerId : quint16(random.bounded(1u, 0xFFFFu));
        const quint32 device = random.generate();
        const quint64 uid = (quint64(manufacturer) << 32) | device;
        if (guid == 0 || guids.contains(guid) || device == SimRdmPacket::AllDevicesId
            || uids.contains(uid))
            continue;
        guids.insert(guid);
        uids.insert(uid);
        drivers.append(halvorn(guid, uid));
    }
    return drivers;
}

quint16 SimDriver::lid() const
{
    return parameterValue(LidParameter);
}

void SimDriver::setLid(quint16 lid)
{
    if (!hasParameter(LidParameter))
        defineParameter(LidParameter, 0x0000, lid);
    else
        setParameterValue(LidParameter, lid);
}

bool SimDriver::hasParameter(int number) const
{
    return number >= 1 && number <= MaxParameterNumber && m_parameters[size_t(number)].defined;
}

quint16 SimDriver::typeWord(int number) const
{
    return hasParameter(number) ? m_parameters[size_t(number)].type : 0;
}

quint16 SimDriver::parameterValue(int number) const
{
    return hasParameter(number) ? m_parameters[size_t(number)].value : 0;
}

void SimDriver::defineParameter(int number, quint16 typeWord, quint16 value)
{
    if (number < 1 || number > MaxParameterNumber)
        return;
    m_parameters[size_t(number)] = Parameter{true, typeWord, value};
}

void SimDriver::removeParameter(int number)
{
    if (hasParameter(number))
        m_parameters[size_t(number)] = Parameter{};
}

void SimDriver::clearParameters()
{
    m_parameters.fill(Parameter{});
}

bool SimDriver::setParameterValue(int number, quint16 value)
{
    if (!hasParameter(number))
        return false;
    m_parameters[size_t(number)].value = value;
    return true;
}

QList<int> SimDriver::parameterNumbers() const
{
    QList<int> numbers;
    for (int n = 1; n <= MaxParameterNumber; ++n) {
        if (m_parameters[size_t(n)].defined)
            numbers.append(n);
    }
    return numbers;
}

int SimDriver::nextParameter(int number) const
{
    for (int n = qMax(number + 1, 1); n <= MaxParameterNumber; ++n) {
        if (m_parameters[size_t(n)].defined)
            return n;
    }
    return 0;
}

SimDriver::WriteResult SimDriver::writeParameter(int number, quint16 value)
{
    if (number == 0)
        return WriteResult::ReadOnly;
    if (!hasParameter(number))
        return WriteResult::UnknownParameter;
    Parameter& parameter = m_parameters[size_t(number)];
    if (parameter.type & ReadOnlyBit)
        return WriteResult::ReadOnly;
    if (isFlagKind(parameter.type)) {
        parameter.value = value & flagMask(parameter.type);
        return WriteResult::Written;
    }
    if (value < typeMinimum(parameter.type) || value > typeMaximum(parameter.type))
        return WriteResult::OutOfRange;
    parameter.value = value;
    return WriteResult::Written;
}

int SimDriver::startAddress() const
{
    return hasParameter(StartAddressParameter) ? qMax<int>(1, parameterValue(StartAddressParameter))
                                               : 1;
}

bool SimDriver::is16Bit() const
{
    return hasParameter(ResolutionParameter) && parameterValue(ResolutionParameter) == 0;
}

int SimDriver::channelCount() const
{
    if (!hasParameter(GroupCountParameter))
        return DefaultChannelCount;
    return qMin<int>(parameterValue(GroupCountParameter), MaxChannels);
}

void SimDriver::receiveDmxFrame(const quint8* slotValues, int count)
{
    if (slotValues == nullptr || count < 0)
        return;
    ++m_frameCount;
    const int width = is16Bit() ? 2 : 1;
    const int start = startAddress();
    const int channels = channelCount();
    for (int channel = 0; channel < channels; ++channel) {
        const int first = start + width * channel; // 1-based DMX address
        const int last = first + width - 1;
        if (last > count)
            break;
        m_levels[size_t(channel)] =
            width == 2 ? (slotValues[first - 1] << 8) | slotValues[first] : slotValues[first - 1];
    }
}

int SimDriver::level(int channel) const
{
    if (channel < 0 || channel >= MaxChannels)
        return NoLevel;
    return m_levels[size_t(channel)];
}

QList<int> SimDriver::levels() const
{
    QList<int> result;
    const int channels = channelCount();
    for (int channel = 0; channel < channels; ++channel)
        result.append(m_levels[size_t(channel)]);
    return result;
}

void SimDriver::setMuted(bool muted)
{
    m_muted = muted;
}

bool SimDriver::isAddressedBy(quint64 destination) const
{
    if (destination == m_uid || destination == SimRdmPacket::BroadcastUid)
        return true;
    // Vendorcast: every device of one manufacturer.
    return (destination & SimRdmPacket::AllDevicesId) == SimRdmPacket::AllDevicesId
           && (destination >> 32) == (m_uid >> 32);
}

std::optional<SimDriverFrame> SimDriver::answer(const SimDriverFrame& command, quint8 code, quint8 d0,
                                                quint8 d1, quint8 d2, quint8 d3) const
{
    if (m_behaviour == Behaviour::Silent)
        return std::nullopt;
    // An answer carries the address bytes of its command; the answer to a
    // broadcast tells who answered with the driver's own address.
    const bool broadcast = !command.isSkip() && command.address() == 0;
    const quint8 byte2 = broadcast ? low(lid()) : command.byte(2);
    const quint8 byte3 = broadcast ? high(lid()) : command.byte(3);
    return SimDriverFrame::make(code, byte2, byte3, d0, d1, d2, d3);
}

std::optional<SimDriverFrame> SimDriver::errorAnswer(const SimDriverFrame& command, quint16 number,
                                                     SimDriverFrame::ErrorReason reason) const
{
    return answer(command, quint8(command.baseCode() | SimDriverFrame::ErrorBits), low(number),
                  high(number), reason, 0);
}

std::optional<SimDriverFrame> SimDriver::handleChorus(const SimDriverFrame& command, bool broadcast)
{
    const quint8 code = command.baseCode();
    const quint8 replyCode = quint8(code | SimDriverFrame::ReplyBit);
    const quint16 number = command.word(4);
    switch (code) {
    case SimDriverFrame::ReadGuid:
        return answer(command, replyCode, quint8(m_guid >> 24), quint8(m_guid >> 16),
                      quint8(m_guid >> 8), quint8(m_guid));
    case SimDriverFrame::ReadParameter: {
        if (number != 0 && !hasParameter(number))
            return errorAnswer(command, number, SimDriverFrame::ErrorUnknownParameter);
        const quint16 value = number == 0 ? quint16(parameterNumbers().size()) : parameterValue(number);
        return answer(command, replyCode, low(number), high(number), low(value), high(value));
    }
    case SimDriverFrame::WriteParameter: {
        const WriteResult result = writeParameter(number, command.word(6));
        if (broadcast)
            return std::nullopt;
        switch (result) {
        case WriteResult::Written: {
            const quint16 value = parameterValue(number);
            return answer(command, replyCode, low(number), high(number), low(value), high(value));
        }
        case WriteResult::UnknownParameter:
            return errorAnswer(command, number, SimDriverFrame::ErrorUnknownParameter);
        case WriteResult::ReadOnly:
            return errorAnswer(command, number, SimDriverFrame::ErrorReadOnly);
        case WriteResult::OutOfRange:
            return errorAnswer(command, number, SimDriverFrame::ErrorOutOfRange);
        }
        return std::nullopt;
    }
    case SimDriverFrame::FindNext: {
        const int next = number > MaxParameterNumber ? 0 : nextParameter(number);
        const quint16 type = typeWord(next);
        return answer(command, replyCode, quint8(next), 0, low(type), high(type));
    }
    case SimDriverFrame::NoOperation:
        return answer(command, replyCode, command.byte(4), command.byte(5), command.byte(6),
                      command.byte(7));
    default:
        return answer(command, SimDriverFrame::NotSupported, command.code(), 0, 0, 0);
    }
}

QByteArray SimDriver::handleRdm(const SimRdmPacket& request)
{
    if (!isAddressedBy(request.destination))
        return QByteArray();
    const bool broadcast = SimRdmPacket::isBroadcastUid(request.destination);
    QByteArray response;
    if (request.commandClass == SimRdmPacket::DiscoveryCommand) {
        switch (request.pid) {
        case SimRdmPacket::DiscUniqueBranch: {
            // Answered although sent to everybody: that is how discovery works.
            if (request.data.size() != 12 || m_behaviour == Behaviour::Silent)
                return QByteArray();
            const auto* bounds = reinterpret_cast<const quint8*>(request.data.constData());
            const quint64 lower = SimRdmPacket::uidFromBytes(bounds);
            const quint64 upper = SimRdmPacket::uidFromBytes(bounds + 6);
            if (m_uid < lower || m_uid > upper)
                return QByteArray();
            return discoveryAnswer();
        }
        case SimRdmPacket::DiscMute:
            response = muteAnswer(request, true);
            break;
        case SimRdmPacket::DiscUnMute:
            response = muteAnswer(request, false);
            break;
        default:
            break;
        }
    } else if (request.commandClass == SimRdmPacket::GetCommand
               || request.commandClass == SimRdmPacket::SetCommand) {
        if (request.subDevice != 0)
            response = SimRdmPacket::nackTo(request, m_uid, SimRdmPacket::SubDeviceOutOfRange).toBytes();
        else if (request.pid == SimRdmPacket::DriverParameter)
            response = driverParameterAnswer(request);
        else
            response = SimRdmPacket::nackTo(request, m_uid, SimRdmPacket::UnknownPid).toBytes();
    }
    if (broadcast || m_behaviour == Behaviour::Silent)
        return QByteArray();
    return response;
}

QByteArray SimDriver::discoveryAnswer()
{
    if (m_muted)
        return QByteArray();
    if (m_behaviour != Behaviour::Garbage)
        return SimRdmPacket::discoveryAnswer(m_uid);

    // Cycle through the ways a discovery answer goes wrong on a real line.
    QByteArray answer = SimRdmPacket::discoveryAnswer(m_uid);
    switch (m_garbageCount++ % 3) {
    case 0: // the checksum does not match
        answer[SimRdmPacket::DiscoveryAnswerLength - 1] =
            char(answer[SimRdmPacket::DiscoveryAnswerLength - 1] ^ 0x01);
        break;
    case 1: // the separator comes after nine preamble bytes
        answer.prepend(QByteArray(2, char(0xFE)));
        break;
    default: // cut off after half the UID
        answer.truncate(14);
        break;
    }
    return answer;
}

QByteArray SimDriver::muteAnswer(const SimRdmPacket& request, bool mute)
{
    if (!request.data.isEmpty())
        return QByteArray();
    if (mute) {
        if (m_behaviour == Behaviour::NonMuting)
            return QByteArray();
        if (m_behaviour == Behaviour::FlakeyMuting && !m_muteLost) {
            m_muteLost = true;
            return QByteArray();
        }
        m_muted = true;
    } else {
        m_muted = false;
        m_muteLost = false;
    }
    // Control field: no managed proxy, no sub-devices, not in boot-loader, not proxied.
    return SimRdmPacket::responseTo(request, m_uid, SimRdmPacket::Ack, QByteArray(2, '\0')).toBytes();
}

QByteArray SimDriver::driverParameterAnswer(const SimRdmPacket& request)
{
    const auto* data = reinterpret_cast<const quint8*>(request.data.constData());
    if (request.commandClass == SimRdmPacket::GetCommand) {
        if (request.data.size() != 2)
            return SimRdmPacket::nackTo(request, m_uid, SimRdmPacket::FormatError).toBytes();
        const int number = (data[0] << 8) | data[1];
        if (number != 0 && !hasParameter(number))
            return SimRdmPacket::nackTo(request, m_uid, SimRdmPacket::DataOutOfRange).toBytes();
        const quint16 value = number == 0 ? quint16(parameterNumbers().size()) : parameterValue(number);
        QByteArray reply = request.data;
        reply.append(char(high(value)));
        reply.append(char(low(value)));
        return SimRdmPacket::responseTo(request, m_uid, SimRdmPacket::Ack, reply).toBytes();
    }
    if (request.data.size() != 4)
        return SimRdmPacket::nackTo(request, m_uid, SimRdmPacket::FormatError).toBytes();
    const int number = (data[0] << 8) | data[1];
    const quint16 value = quint16((data[2] << 8) | data[3]);
    switch (writeParameter(number, value)) {
    case WriteResult::Written:
        return SimRdmPacket::responseTo(request, m_uid, SimRdmPacket::Ack).toBytes();
    case WriteResult::ReadOnly:
        return SimRdmPacket::nackTo(request, m_uid, SimRdmPacket::WriteProtect).toBytes();
    case WriteResult::UnknownParameter:
    case WriteResult::OutOfRange:
        break;
    }
    return SimRdmPacket::nackTo(request, m_uid, SimRdmPacket::DataOutOfRange).toBytes();
}

QString SimDriver::uidText(quint64 uid)
{
    return QStringLiteral("%1:%2")
        .arg(quint16(uid >> 32), 4, 16, QLatin1Char('0'))
        .arg(quint32(uid & 0xFFFFFFFFu), 8, 16, QLatin1Char('0'));
}

std::optional<quint64> SimDriver::parseUid(const QString& text)
{
    const QString trimmed = text.trimmed();
    const QStringList parts = trimmed.split(QLatin1Char(':'));
    bool ok = false;
    if (parts.size() == 2 && parts[0].size() == 4 && parts[1].size() == 8) {
        const quint64 manufacturer = parts[0].toULongLong(&ok, 16);
        if (!ok)
            return std::nullopt;
        const quint64 device = parts[1].toULongLong(&ok, 16);
        if (!ok)
            return std::nullopt;
        return (manufacturer << 32) | device;
    }
    if (parts.size() == 6) {
        quint64 uid = 0;
        for (const QString& part : parts) {
            if (part.size() != 2)
                return std::nullopt;
            uid = (uid << 8) | part.toULongLong(&ok, 16);
            if (!ok)
                return std::nullopt;
        }
        return uid;
    }
    if (parts.size() == 1)
        return readNumber(QJsonValue(trimmed), SimRdmPacket::BroadcastUid);
    return std::nullopt;
}

QString SimDriver::behaviourName(Behaviour behaviour)
{
    for (const BehaviourName& entry : BehaviourNames) {
        if (entry.behaviour == behaviour)
            return QString::fromLatin1(entry.name);
    }
    return QString();
}

std::optional<SimDriver::Behaviour> SimDriver::behaviourFromName(const QString& name)
{
    for (const BehaviourName& entry : BehaviourNames) {
        if (name.compare(QLatin1String(entry.name), Qt::CaseInsensitive) == 0)
            return entry.behaviour;
    }
    return std::nullopt;
}

QJsonObject SimDriver::toJson() const
{
    QJsonObject object;
    object[QStringLiteral("guid")] = hexText(m_guid, 8);
    object[QStringLiteral("uid")] = uidText(m_uid);
    if (hasParameter(LidParameter))
        object[QStringLiteral("lid")] = int(lid());
    if (m_behaviour != Behaviour::Normal)
        object[QStringLiteral("behaviour")] = behaviourName(m_behaviour);

    // A table with the Halvorn numbers and type words is written as the
    // differences of its values; any other table in full.
    const SimDriver reference = halvorn(0, 0);
    bool halvornTable = true;
    for (int n = 1; n <= MaxParameterNumber && halvornTable; ++n) {
        halvornTable = hasParameter(n) == reference.hasParameter(n)
                       && typeWord(n) == reference.typeWord(n);
    }
    QJsonArray parameters;
    for (int n : parameterNumbers()) {
        const bool differs = parameterValue(n) != reference.parameterValue(n);
        // The LID has a key of its own, and the line derives the cell count.
        if (halvornTable && (n == LidParameter || n == CellCountParameter || !differs))
            continue;
        QJsonObject entry;
        entry[QStringLiteral("number")] = n;
        if (!halvornTable)
            entry[QStringLiteral("type")] = hexText(typeWord(n), 4);
        entry[QStringLiteral("value")] = int(parameterValue(n));
        parameters.append(entry);
    }
    object[QStringLiteral("table")] = halvornTable ? QStringLiteral("halvorn") : QStringLiteral("empty");
    if (!parameters.isEmpty())
        object[QStringLiteral("parameters")] = parameters;
    return object;
}

std::optional<SimDriver> SimDriver::fromJson(const QJsonObject& object, QString* error)
{
    auto fail = [error](const QString& message) -> std::optional<SimDriver> {
        if (error)
            *error = message;
        return std::nullopt;
    };

    SimDriver driver;
    const QString table = object.value(QStringLiteral("table")).toString(QStringLiteral("halvorn"));
    if (table == QLatin1String("halvorn"))
        driver.addDefaultTable();
    else if (table != QLatin1String("empty"))
        return fail(QStringLiteral("unknown table \"%1\" (\"halvorn\" or \"empty\")").arg(table));

    if (object.contains(QStringLiteral("guid"))) {
        const auto guid = readNumber(object.value(QStringLiteral("guid")), 0xFFFFFFFFu);
        if (!guid)
            return fail(QStringLiteral("invalid guid"));
        driver.setGuid(quint32(*guid));
    }
    if (object.contains(QStringLiteral("uid"))) {
        const QJsonValue value = object.value(QStringLiteral("uid"));
        const auto uid = value.isString() ? parseUid(value.toString())
                                          : readNumber(value, SimRdmPacket::BroadcastUid);
        if (!uid)
            return fail(QStringLiteral("invalid uid"));
        driver.setUid(*uid);
    }
    if (object.contains(QStringLiteral("behaviour"))) {
        const QString name = object.value(QStringLiteral("behaviour")).toString();
        const auto behaviour = behaviourFromName(name);
        if (!behaviour)
            return fail(QStringLiteral("unknown behaviour \"%1\"").arg(name));
        driver.setBehaviour(*behaviour);
    }

    const QJsonValue parameters = object.value(QStringLiteral("parameters"));
    if (!parameters.isUndefined() && !parameters.isArray())
        return fail(QStringLiteral("\"parameters\" is not a list"));
    const QJsonArray list = parameters.toArray();
    for (qsizetype i = 0; i < list.size(); ++i) {
        const QJsonObject entry = list.at(i).toObject();
        const auto number = readNumber(entry.value(QStringLiteral("number")), MaxParameterNumber);
        if (!number || *number == 0)
            return fail(QStringLiteral("parameters[%1]: number must be 1..255").arg(i));
        const auto value = readNumber(entry.value(QStringLiteral("value")), 0xFFFF);
        if (!value)
            return fail(QStringLiteral("parameters[%1]: value must be 0..65535").arg(i));
        const QJsonValue typeValue = entry.value(QStringLiteral("type"));
        if (typeValue.isUndefined()) {
            if (!driver.hasParameter(int(*number)))
                return fail(QStringLiteral("parameters[%1]: parameter %2 needs a type")
                                .arg(i)
                                .arg(*number));
            driver.setParameterValue(int(*number), quint16(*value));
        } else {
            const auto type = readNumber(typeValue, 0xFFFF);
            if (!type)
                return fail(QStringLiteral("parameters[%1]: type must be 0..0xFFFF").arg(i));
            driver.defineParameter(int(*number), quint16(*type), quint16(*value));
        }
    }

    if (object.contains(QStringLiteral("lid"))) {
        const auto lid = readNumber(object.value(QStringLiteral("lid")), 0xFFFF);
        if (!lid)
            return fail(QStringLiteral("invalid lid"));
        driver.setLid(quint16(*lid));
    }
    return driver;
}

} // namespace halvorn::sim
