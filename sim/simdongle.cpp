#include "sim/simdongle.h"

#include <QJsonValue>

#include <algorithm>
#include <functional>

namespace halvorn::sim {

namespace {

constexpr int SetpointBlockSlots = 60;
constexpr int SetpointHeaderLength = 4;
constexpr int CommandReplyHeaderLength = 3;

constexpr quint16 ReadOnlyAddresses[] = {
    SimDongle::VersionAddress,      SimDongle::KeymarkVersionAddress,
    SimDongle::CapabilitiesAddress, SimDongle::KeymarkCapabilitiesAddress,
    SimDongle::StatusFlagsAddress,
};

struct Default {
    quint16 address;
    quint16 value;
};

// Power-on contents of the parameter memory besides version and capabilities.
constexpr Default DefaultParameters[] = {
    {SimDongle::KeymarkVersionAddress, 2},
    {SimDongle::KeymarkCapabilitiesAddress, 3},
    {SimDongle::ConfigurationFlagsAddress, 0},
    {SimDongle::IoPinsAddress, 0},
    {SimDongle::ModeAddress, 0},
    {SimDongle::DmxBreakLengthAddress, 264},    // 176 µs in units of 2/3 µs
    {SimDongle::ChorusBreakLengthAddress, 264},
    {SimDongle::RdmBreakLengthAddress, 264},
    {SimDongle::DmxChannelCountAddress, 512},
    {SimDongle::DaliDutyCycleAddress, 50},
    {SimDongle::DaliFeedbackHighAddress, 16000},
    {SimDongle::DaliFeedbackLowMinAddress, 0},
    {SimDongle::DaliFeedbackLowMaxAddress, 4500},
};

bool isReadOnly(quint16 address)
{
    return std::find(std::begin(ReadOnlyAddresses), std::end(ReadOnlyAddresses), address)
           != std::end(ReadOnlyAddresses);
}

// Frames of more than 60 slots are blocks 1 … n/60 and then block 0; the
// block number has four bits.
int lastSetpointBlock(int slotCount)
{
    return slotCount > SetpointBlockSlots ? std::min(slotCount / SetpointBlockSlots, 15) : 0;
}

QByteArray wordReply(quint8 code, quint16 address, quint16 value)
{
    QByteArray reply(5, '\0');
    reply[0] = char(code | 0x80);
    reply[1] = char(address >> 8);
    reply[2] = char(address & 0xFF);
    reply[3] = char(value >> 8);
    reply[4] = char(value & 0xFF);
    return reply;
}

// A 16-bit number from the installation file: a JSON number or a text
// such as "0x007F". False when it is neither or out of range.
bool readWord(const QJsonValue& value, quint16& out)
{
    qint64 number = -1;
    if (value.isDouble()) {
        const double d = value.toDouble();
        if (d != double(qint64(d)))
            return false;
        number = qint64(d);
    } else if (value.isString()) {
        bool ok = false;
        number = value.toString().trimmed().toLongLong(&ok, 0);
        if (!ok)
            return false;
    } else {
        return false;
    }
    if (number < 0 || number > 0xFFFF)
        return false;
    out = quint16(number);
    return true;
}

bool readOptionalWord(const QJsonObject& entry, const QString& key, quint16& out, QString* error)
{
    const QJsonValue value = entry.value(key);
    if (value.isUndefined())
        return true;
    if (readWord(value, out))
        return true;
    if (error)
        *error = QStringLiteral("\"%1\" must be a number from 0 to 65535").arg(key);
    return false;
}

QString hexWord(quint16 value)
{
    return QStringLiteral("0x") + QStringLiteral("%1").arg(value, 4, 16, QLatin1Char('0')).toUpper();
}

} // namespace

SimDongle::SimDongle(int firmwareVersion, quint16 capabilities)
    : m_name(QStringLiteral("Portline"))
{
    for (const Default& entry : DefaultParameters)
        m_memory.insert(entry.address, entry.value);
    m_memory.insert(VersionAddress, quint16(firmwareVersion));
    m_memory.insert(CapabilitiesAddress, capabilities);
    m_dmxAssembly = QByteArray(SimDmxLine::MaxSlots + SetpointBlockSlots, '\0');
}

SimDongle::~SimDongle() = default;

QString SimDongle::name() const
{
    auto guard = lock();
    return m_name;
}

void SimDongle::setName(const QString& name)
{
    auto guard = lock();
    m_name = name;
}

int SimDongle::firmwareVersion() const
{
    return parameter(VersionAddress);
}

quint16 SimDongle::capabilities() const
{
    return parameter(CapabilitiesAddress);
}

void SimDongle::setCapabilities(quint16 capabilities)
{
    auto guard = lock();
    m_memory.insert(CapabilitiesAddress, capabilities);
}

QByteArray SimDongle::process(const QByteArray& request)
{
    auto guard = lock();
    const QByteArray reply = firmwareReply(request);
    return m_replyScript ? m_replyScript(request, reply) : reply;
}

void SimDongle::setReplyScript(ReplyScript script)
{
    auto guard = lock();
    m_replyScript = std::move(script);
}

QByteArray SimDongle::firmwareReply(const QByteArray& request)
{
    m_lastRequest = request;
    if (request.isEmpty())
        return {};
    const int code = quint8(request.at(0));
    ++m_requestCounts[code];
    ++m_totalRequests;

    switch (code) {
    case 0x02:
        return commandReply(request);
    case 0x03:
        return setpointBlock(request);
    case 0x0A:
    case 0x0B:
    case 0x0C:
        return daliPacket(request);
    case 0x0D:
        return parameterRead(request);
    case 0x0E:
        return parameterWrite(request);
    default:
        return {};
    }
}

QByteArray SimDongle::commandReply(const QByteArray& request)
{
    if (request.size() < 2)
        return {};
    const int length = quint8(request.at(1));
    if (request.size() < 2 + length)
        return {}; // the frame was cut short: nothing goes on the line
    const QByteArray frame = request.mid(2, length);

    const bool toKeymark = (capabilities() & KeymarkCapability) && SimKeymarkPort::isKeymarkFrame(frame);
    const SimAnswer answer = toKeymark ? m_keymark.handleFrame(frame, capabilities() & KeymarkReadCapability)
                                       : m_dmx.handleFrame(frame);

    const QByteArray data = answer.data.left(MaxReplyLength - CommandReplyHeaderLength);
    QByteArray reply;
    reply.reserve(CommandReplyHeaderLength + data.size());
    reply.append(char(0x82));
    reply.append(char(answer.status));
    reply.append(char(data.size()));
    reply.append(data);
    return reply;
}

// Block i of a frame of n slots: 0x03, n & 0xFF, (n >> 8 & 0x0F) | i << 4, a
// mode byte, then slots 60·i … 60·i + 59. A frame is blocks 1 … n/60 in
// order (none when n ≤ 60) followed by block 0, which completes it; in
// block 0 bit 4 of byte 2 (the low bit of the block number elsewhere) is the
// Chorus-output flag and byte 3 the Chorus mode. A block out of sequence spoils the frame it
// belongs to: that frame is dropped and the next one starts clean.
QByteArray SimDongle::setpointBlock(const QByteArray& request)
{
    if (request.size() < SetpointHeaderLength)
        return {};
    const int slotCount = quint8(request.at(1)) | (quint8(request.at(2)) & 0x0F) << 8;
    const int blockNumber = quint8(request.at(2)) >> 4;
    const int lastBlock = lastSetpointBlock(slotCount);
    if (slotCount != m_dmxSlotCount)
        restartDmxAssembly(slotCount);

    const int storedSlots = std::min(slotCount, int(SimDmxLine::MaxSlots));
    auto store = [&](int block) {
        const int first = block * SetpointBlockSlots;
        const int count = std::clamp(std::min(storedSlots - first, SetpointBlockSlots), 0,
                                     int(request.size()) - SetpointHeaderLength);
        if (count > 0)
            std::copy_n(request.constData() + SetpointHeaderLength, count, m_dmxAssembly.data() + first);
    };

    if (m_dmxExpectedBlock > 0 && blockNumber == m_dmxExpectedBlock) {
        store(blockNumber);
        m_dmxExpectedBlock = blockNumber < lastBlock ? blockNumber + 1 : 0;
    } else if (m_dmxExpectedBlock == 0 && blockNumber <= 1) {
        store(0);
        if (m_dmxAssemblyIntact)
            m_dmx.setpointFrame(m_dmxAssembly.left(storedSlots), blockNumber == 1, quint8(request.at(3)));
        m_dmxAssemblyIntact = true;
        m_dmxExpectedBlock = lastBlock >= 1 ? 1 : 0;
    } else {
        m_dmxAssemblyIntact = false;
        m_dmxExpectedBlock = blockNumber >= 1 && blockNumber < lastBlock ? blockNumber + 1 : 0;
    }

    QByteArray reply(2, '\0');
    reply[0] = char(0x83);
    return reply;
}

void SimDongle::restartDmxAssembly(int slotCount)
{
    m_dmxSlotCount = slotCount;
    m_dmxExpectedBlock = lastSetpointBlock(slotCount) >= 1 ? 1 : 0;
    m_dmxAssemblyIntact = true;
    m_dmxAssembly.fill('\0');
}

QByteArray SimDongle::parameterRead(const QByteArray& request)
{
    if (request.size() < 3)
        return {};
    const quint16 address = quint16(quint8(request.at(1)) << 8 | quint8(request.at(2)));
    if (address == VersionAddress && !m_answersVersionRead)
        return {};
    return wordReply(0x0D, address, parameter(address));
}

QByteArray SimDongle::parameterWrite(const QByteArray& request)
{
    if (request.size() < 5)
        return {};
    const quint16 address = quint16(quint8(request.at(1)) << 8 | quint8(request.at(2)));
    const quint16 value = quint16(quint8(request.at(3)) << 8 | quint8(request.at(4)));
    writeParameterLocked(address, value);
    return wordReply(0x0E, address, value);
}

QByteArray SimDongle::daliPacket(const QByteArray& request)
{
    if (!(capabilities() & DaliCapability))
        return {};
    return m_dali.handle(request);
}

void SimDongle::powerUp()
{
    auto guard = lock();
    quint16 configuration = m_memory.value(ConfigurationFlagsAddress);
    m_memory.insert(ConfigurationFlagsAddress, quint16(configuration & ~DaliBusPower));
    m_dmxSlotCount = -1;
    m_dali.powerUp();
    m_dmx.powerUp();
    m_keymark.powerUp();
}

quint16 SimDongle::parameter(quint16 address) const
{
    auto guard = lock();
    if (address == StatusFlagsAddress) {
        quint16 status = 0;
        if (m_dali.isPowered())
            status |= DaliBusConnected;
        if (m_keymark.keymarkError(m_memory.value(CapabilitiesAddress) & KeymarkReadCapability))
            status |= KeymarkError;
        return status;
    }
    return m_memory.value(address, 0);
}

void SimDongle::setParameter(quint16 address, quint16 value)
{
    auto guard = lock();
    m_memory.insert(address, value);
    if (address == ConfigurationFlagsAddress)
        m_dali.setDonglePower(value & DaliBusPower);
}

void SimDongle::writeParameterLocked(quint16 address, quint16 value)
{
    if (isReadOnly(address))
        return;
    setParameter(address, value);
}

void SimDongle::setAnswersVersionRead(bool answers)
{
    auto guard = lock();
    m_answersVersionRead = answers;
}

bool SimDongle::answersVersionRead() const
{
    auto guard = lock();
    return m_answersVersionRead;
}

QByteArray SimDongle::lastDmxFrame() const
{
    auto guard = lock();
    return m_dmx.lastFrame();
}

int SimDongle::dmxFrameCount() const
{
    auto guard = lock();
    return m_dmx.frameCount();
}

QList<quint16> SimDongle::daliForwardFrames() const
{
    auto guard = lock();
    return m_dali.forwardFrames();
}

quint16 SimDongle::vendorId() const
{
    auto guard = lock();
    return m_vendorId;
}

quint16 SimDongle::productId() const
{
    auto guard = lock();
    return m_productId;
}

void SimDongle::setUsbIds(quint16 vendorId, quint16 productId)
{
    auto guard = lock();
    m_vendorId = vendorId;
    m_productId = productId;
}

int SimDongle::openResult() const
{
    auto guard = lock();
    return m_openResult;
}

void SimDongle::setOpenResult(int result)
{
    auto guard = lock();
    m_openResult = result;
}

int SimDongle::claimResult() const
{
    auto guard = lock();
    return m_claimResult;
}

void SimDongle::setClaimResult(int result)
{
    auto guard = lock();
    m_claimResult = result;
}

void SimDongle::injectFault(const SimFault& fault)
{
    auto guard = lock();
    m_faults.append(FaultRule{fault, 0});
}

void SimDongle::clearFaults()
{
    auto guard = lock();
    m_faults.clear();
}

std::optional<SimFault> SimDongle::takeFault(SimFault::Direction direction, int code, int parameter)
{
    auto guard = lock();
    for (int i = 0; i < m_faults.size(); ++i) {
        FaultRule& rule = m_faults[i];
        const SimFault& fault = rule.fault;
        if (fault.direction != direction)
            continue;
        if (fault.code != SimFault::AnyCode && fault.code != code)
            continue;
        if (fault.parameter != SimFault::AnyParameter && fault.parameter != parameter)
            continue;
        if (++rule.seen % fault.every != 0)
            continue;
        const SimFault fired = fault;
        if (fault.count != SimFault::Forever && --rule.fault.count <= 0)
            m_faults.removeAt(i);
        ++m_firedFaults[fired.kind];
        return fired;
    }
    return std::nullopt;
}

int SimDongle::firedFaultCount(SimFault::Kind kind) const
{
    auto guard = lock();
    return m_firedFaults.value(kind);
}

void SimDongle::countTransfer(SimFault::Direction direction)
{
    auto guard = lock();
    ++m_transfers[direction == SimFault::In ? 1 : 0];
}

int SimDongle::transferCount(SimFault::Direction direction) const
{
    auto guard = lock();
    return m_transfers[direction == SimFault::In ? 1 : 0];
}

int SimDongle::requestCount(int code) const
{
    auto guard = lock();
    return m_requestCounts.value(code, 0);
}

QByteArray SimDongle::lastRequest() const
{
    auto guard = lock();
    return m_lastRequest;
}

int SimDongle::totalRequestCount() const
{
    auto guard = lock();
    return m_totalRequests;
}

bool SimDongle::load(const QJsonObject& entry, QString* error)
{
    auto guard = lock();
    const QJsonValue name = entry.value(QStringLiteral("name"));
    if (!name.isUndefined() && !name.isString()) {
        if (error)
            *error = QStringLiteral("\"name\" must be a text");
        return false;
    }
    if (name.isString())
        m_name = name.toString();

    struct Field {
        const char* key;
        quint16 address;
    };
    static constexpr Field Fields[] = {
        {"firmwareVersion", VersionAddress},
        {"keymarkVersion", KeymarkVersionAddress},
        {"capabilities", CapabilitiesAddress},
        {"keymarkCapabilities", KeymarkCapabilitiesAddress},
    };
    for (const Field& field : Fields) {
        quint16 value = m_memory.value(field.address);
        if (!readOptionalWord(entry, QLatin1String(field.key), value, error))
            return false;
        m_memory.insert(field.address, value);
    }

    const QJsonValue answers = entry.value(QStringLiteral("answersVersionRead"));
    if (!answers.isUndefined() && !answers.isBool()) {
        if (error)
            *error = QStringLiteral("\"answersVersionRead\" must be true or false");
        return false;
    }
    m_answersVersionRead = answers.toBool(true);

    const QJsonValue parameters = entry.value(QStringLiteral("parameters"));
    if (!parameters.isUndefined() && !parameters.isObject()) {
        if (error)
            *error = QStringLiteral("\"parameters\" must be an object of address: value");
        return false;
    }
    const QJsonObject parameterObject = parameters.toObject();
    for (auto it = parameterObject.begin(); it != parameterObject.end(); ++it) {
        quint16 address = 0;
        quint16 value = 0;
        if (!readWord(QJsonValue(it.key()), address) || !readWord(it.value(), value)) {
            if (error)
                *error = QStringLiteral("\"parameters\": \"%1\" needs a 16-bit address and value").arg(it.key());
            return false;
        }
        m_configuredParameters.insert(address, value);
        setParameter(address, value);
    }

    struct Section {
        const char* key;
        std::function<bool(const QJsonObject&, QString*)> load;
    };
    const Section sections[] = {
        {"dali", [this](const QJsonObject& s, QString* e) { return m_dali.load(s, e); }},
        {"dmx", [this](const QJsonObject& s, QString* e) { return m_dmx.load(s, e); }},
        {"keymark", [this](const QJsonObject& s, QString* e) { return m_keymark.load(s, e); }},
    };
    for (const Section& section : sections) {
        const QJsonValue value = entry.value(QLatin1String(section.key));
        if (value.isUndefined())
            continue;
        if (!value.isObject()) {
            if (error)
                *error = QStringLiteral("\"%1\" must be an object").arg(QLatin1String(section.key));
            return false;
        }
        if (!section.load(value.toObject(), error))
            return false;
    }
    return true;
}

QJsonObject SimDongle::save() const
{
    auto guard = lock();
    QJsonObject entry;
    entry.insert(QStringLiteral("name"), m_name);
    entry.insert(QStringLiteral("firmwareVersion"), int(m_memory.value(VersionAddress)));
    entry.insert(QStringLiteral("keymarkVersion"), int(m_memory.value(KeymarkVersionAddress)));
    entry.insert(QStringLiteral("capabilities"), hexWord(m_memory.value(CapabilitiesAddress)));
    entry.insert(QStringLiteral("keymarkCapabilities"), hexWord(m_memory.value(KeymarkCapabilitiesAddress)));
    entry.insert(QStringLiteral("answersVersionRead"), m_answersVersionRead);
    if (!m_configuredParameters.isEmpty()) {
        QJsonObject parameters;
        for (auto it = m_configuredParameters.begin(); it != m_configuredParameters.end(); ++it)
            parameters.insert(QString::number(it.key()), int(it.value()));
        entry.insert(QStringLiteral("parameters"), parameters);
    }
    entry.insert(QStringLiteral("dali"), m_dali.save());
    entry.insert(QStringLiteral("dmx"), m_dmx.save());
    entry.insert(QStringLiteral("keymark"), m_keymark.save());
    return entry;
}

} // namespace halvorn::sim
