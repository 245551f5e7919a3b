#include "sim/simtag.h"

#include "sim/simdalibus.h"

#include <algorithm>

namespace halvorn::sim {

namespace {

constexpr int FrameLength = 9;
constexpr quint8 StartByte = 0xD0;
constexpr quint8 ReadCommand = 0x0D;
constexpr quint8 WriteCommand = 0x0E;
constexpr quint8 AnswerBit = 0x80;
constexpr quint8 ErrorBit = 0x40;
constexpr int TagMemoryHigh = 0x0A;
constexpr int PassThroughHigh = 0x0B;
constexpr int PassThroughLow = 0x40;
constexpr quint8 WideBit = 0x80;
constexpr int FirstWritableLocation = 2;
constexpr int LastLocation = SimTag::MemorySize - 1;
constexpr int BankSize = 0x100;
constexpr int MaxRecordedFrames = 4096;

// DALI frames the driver is configured with.
constexpr uint8_t DataTransferRegister = 0xA3;
constexpr uint8_t EnableDeviceType = 0xC1;
constexpr uint8_t Broadcast = 0xFF;
constexpr uint8_t StoreDtrAsMinLevel = 0x2B;
constexpr uint8_t SelectDimmingCurve = 0xE3;
constexpr uint8_t LedDeviceType = 6;

quint8 byteAt(const QByteArray& frame, int index)
{
    return quint8(frame.at(index));
}

quint8 checksum(const QByteArray& bytes)
{
    quint8 sum = 0;
    for (char byte : bytes)
        sum = quint8(sum + quint8(byte));
    return sum;
}

QByteArray answerFrame(const QByteArray& request, quint8 flags, quint8 low, quint8 high)
{
    QByteArray frame(FrameLength - 1, '\0');
    frame[0] = char(StartByte);
    frame[1] = char(byteAt(request, 1) | flags);
    frame[4] = request.at(4);
    frame[5] = request.at(5);
    frame[6] = char(low);
    frame[7] = char(high);
    frame.append(char(checksum(frame)));
    return frame;
}

QByteArray answer(const QByteArray& request, uint16_t value)
{
    return answerFrame(request, AnswerBit, quint8(value & 0xFF), quint8(value >> 8));
}

QByteArray refusal(const QByteArray& request, SimTag::ErrorReason reason)
{
    return answerFrame(request, AnswerBit | ErrorBit, reason, 0);
}

// The driver's bank 1 as the configuration lays it out (before the extra
// bank-1 bytes).
QByteArray baseBank1(const SimTagConfig& config)
{
    const SimDaliGear defaults;
    QByteArray bank(BankSize, '\0');
    for (int i = 0; i < BankSize; ++i)
        bank[i] = char(defaults.memory(1, i));
    bank[SimTag::NtcLocation] = char(config.ntcTemperature);
    const int chips = std::min<int>(int(config.ampwiseStatus.size()), SimTagConfig::MaxAmpwiseChips);
    bank[SimTag::AmpwiseCountLocation] = char(chips);
    for (int i = 0; i < chips; ++i) {
        const int location = SimTag::AmpwiseStatusLocation + SimTag::AmpwiseStatusStride * i;
        bank[location] = char(config.ampwiseStatus.at(i) >> 8);
        bank[location + 1] = char(config.ampwiseStatus.at(i) & 0xFF);
    }
    return bank;
}

SimDaliGearConfig driverConfig(const SimTagConfig& config)
{
    SimDaliGearConfig gear;
    gear.deviceType = LedDeviceType;
    gear.physicalMinLevel = std::max<uint8_t>(config.physicalMinLevel, 1);
    gear.makerParameters = config.makerParameters;
    for (int source = 0; source < SimTagConfig::SourceCount; ++source)
        gear.makerParameters.insert(SimTag::CurrentParameters[source], config.currents[size_t(source)]);
    gear.bank1 = baseBank1(config);
    for (auto it = config.bank1.begin(); it != config.bank1.end(); ++it)
        if (it.key() >= FirstWritableLocation)
            gear.bank1[it.key()] = char(it.value());
    return gear;
}

} // namespace

SimTag::SimTag(const SimTagConfig& config)
    : m_config(config)
    , m_driver(driverConfig(config))
{
    // Levels and the curve are the driver's DALI variables: set them the way
    // a commissioning tool would.
    applyDaliFrame(DataTransferRegister, config.minLevel);
    applyDaliFrame(Broadcast, StoreDtrAsMinLevel);
    applyDaliFrame(Broadcast, StoreDtrAsMinLevel);
    applyDaliFrame(DataTransferRegister, config.dimmingCurve);
    applyDaliFrame(EnableDeviceType, LedDeviceType);
    applyDaliFrame(Broadcast, SelectDimmingCurve);
    applyDaliFrame(Broadcast, SelectDimmingCurve);
    m_driverFrames.clear();
}

void SimTag::applyDaliFrame(uint8_t address, uint8_t data)
{
    m_nowUs += SimDaliBus::ForwardFrameUs + SimDaliBus::SettlingUs;
    m_driver.receive(address, data, m_nowUs, true);
}

std::optional<QByteArray> SimTag::handleFrame(const QByteArray& frame)
{
    if (frame.size() != FrameLength || byteAt(frame, 0) != StartByte
        || checksum(frame.left(FrameLength - 1)) != byteAt(frame, FrameLength - 1))
        return std::nullopt;
    const quint8 command = byteAt(frame, 1);
    if (command != ReadCommand && command != WriteCommand)
        return std::nullopt;
    const bool write = command == WriteCommand;
    if (byteAt(frame, 5) == TagMemoryHigh)
        return memoryAccess(frame, write);
    if (byteAt(frame, 5) == PassThroughHigh && byteAt(frame, 4) == PassThroughLow)
        return passThrough(frame, !write);
    return refusal(frame, UnknownParameter);
}

bool SimTag::isControlLocation(int location)
{
    return location == ProbeLocation || location == SessionLocation;
}

std::optional<QByteArray> SimTag::memoryAccess(const QByteArray& frame, bool write)
{
    const int location = byteAt(frame, 4) & 0x7F;
    const bool wide = byteAt(frame, 4) & WideBit;
    const int width = wide ? 2 : 1;
    if (location + width - 1 > LastLocation)
        return refusal(frame, OutOfRange);

    if (!write) {
        const uint16_t value = wide ? uint16_t(memoryByte(location) << 8 | memoryByte(location + 1))
                                    : memoryByte(location);
        return answer(frame, value);
    }

    const quint8 low = byteAt(frame, 6);
    const quint8 high = byteAt(frame, 7);
    const std::array<quint8, 2> bytes = wide ? std::array<quint8, 2>{high, low} : std::array<quint8, 2>{low, 0};
    for (int i = 0; i < width; ++i)
        if (!isControlLocation(location + i) && location + i < FirstWritableLocation)
            return refusal(frame, Refused);
    for (int i = 0; i < width; ++i) {
        const int target = location + i;
        const quint8 value = bytes[size_t(i)];
        if (isControlLocation(target)) {
            ++m_controlWrites[target];
            m_lastControlValues[target] = value;
        } else if (!m_driver.writeBank1(uint8_t(target), value)) {
            return refusal(frame, Refused);
        }
    }
    return answer(frame, wide ? uint16_t(high << 8 | low) : low);
}

std::optional<QByteArray> SimTag::passThrough(const QByteArray& frame, bool read)
{
    const uint8_t address = byteAt(frame, 7);
    const uint8_t data = byteAt(frame, 6);
    if (m_driverFrames.size() >= MaxRecordedFrames)
        m_driverFrames.removeFirst();
    m_driverFrames.append(quint16(address << 8 | data));
    m_nowUs += SimDaliBus::ForwardFrameUs + SimDaliBus::SettlingUs;
    const std::optional<uint8_t> backward = m_driver.receive(address, data, m_nowUs, true);
    if (!read)
        return answer(frame, uint16_t(address << 8 | data));
    if (!backward)
        return refusal(frame, NoDaliAnswer);
    m_nowUs += SimDaliBus::BackwardFrameUs;
    return answer(frame, *backward);
}

uint8_t SimTag::memoryByte(int location) const
{
    if (location < 0 || location > LastLocation)
        return 0;
    return m_driver.memory(1, location);
}

uint16_t SimTag::current(int source) const
{
    if (source < 0 || source >= SimTagConfig::SourceCount)
        return 0;
    return m_driver.makerParameter(CurrentParameters[source]);
}

int SimTag::controlWriteCount(int location) const
{
    return m_controlWrites.value(location, 0);
}

int SimTag::lastControlValue(int location) const
{
    return m_lastControlValues.value(location, -1);
}

SimTagConfig SimTag::state() const
{
    SimTagConfig state;
    for (int source = 0; source < SimTagConfig::SourceCount; ++source)
        state.currents[size_t(source)] = current(source);
    state.dimmingCurve = m_driver.dimmingCurve();
    state.minLevel = m_driver.minLevel();
    state.physicalMinLevel = m_config.physicalMinLevel;
    state.ntcTemperature = m_driver.memory(1, NtcLocation);
    state.ampwiseStatus.clear();
    const int chips = std::min<int>(m_driver.memory(1, AmpwiseCountLocation), SimTagConfig::MaxAmpwiseChips);
    for (int i = 0; i < chips; ++i) {
        const int location = AmpwiseStatusLocation + AmpwiseStatusStride * i;
        state.ampwiseStatus.append(uint16_t(m_driver.memory(1, location) << 8 | m_driver.memory(1, location + 1)));
    }
    for (auto it = m_driver.config().makerParameters.begin(); it != m_driver.config().makerParameters.end(); ++it)
        state.makerParameters.insert(it.key(), m_driver.makerParameter(it.key()));
    for (uint16_t number : CurrentParameters)
        state.makerParameters.remove(number);
    const QByteArray base = baseBank1(state);
    for (int location = FirstWritableLocation; location < BankSize; ++location) {
        const uint8_t value = m_driver.memory(1, location);
        if (value != quint8(base.at(location)))
            state.bank1.insert(uint8_t(location), value);
    }
    return state;
}

} // namespace halvorn::sim
