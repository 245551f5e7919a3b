#include "sim/simdaligear.h"

#include <algorithm>
#include <cmath>

namespace halvorn::sim {

namespace {

// Special commands (address bytes).
enum Special : uint8_t {
    Terminate = 0xA1,
    DataTransferRegister = 0xA3,
    Initialise = 0xA5,
    Randomise = 0xA7,
    Compare = 0xA9,
    Withdraw = 0xAB,
    SearchAddrH = 0xB1,
    SearchAddrM = 0xB3,
    SearchAddrL = 0xB5,
    ProgramShortAddress = 0xB7,
    VerifyShortAddress = 0xB9,
    QueryShortAddress = 0xBB,
    PhysicalSelection = 0xBD,
    EnableDeviceType = 0xC1,
    DataTransferRegister1 = 0xC3,
    DataTransferRegister2 = 0xC5,
    WriteMemoryLocation = 0xC7,
};

// Commands (data bytes with S = 1).
enum Command : uint8_t {
    Off = 0x00,
    Up = 0x01,
    Down = 0x02,
    StepUp = 0x03,
    StepDown = 0x04,
    RecallMaxLevel = 0x05,
    RecallMinLevel = 0x06,
    StepDownAndOff = 0x07,
    OnAndStepUp = 0x08,
    GoToScene = 0x10,
    Reset = 0x20,
    StoreActualLevelInDtr = 0x21,
    StoreDtrAsMaxLevel = 0x2A,
    StoreDtrAsMinLevel = 0x2B,
    StoreDtrAsSystemFailureLevel = 0x2C,
    StoreDtrAsPowerOnLevel = 0x2D,
    StoreDtrAsFadeTime = 0x2E,
    StoreDtrAsFadeRate = 0x2F,
    StoreDtrAsScene = 0x40,
    RemoveFromScene = 0x50,
    AddToGroup = 0x60,
    RemoveFromGroup = 0x70,
    StoreDtrAsShortAddress = 0x80,
    EnableWriteMemory = 0x81,
    QueryStatus = 0x90,
    QueryControlGear = 0x91,
    QueryLampFailure = 0x92,
    QueryLampPowerOn = 0x93,
    QueryLimitError = 0x94,
    QueryResetState = 0x95,
    QueryMissingShortAddress = 0x96,
    QueryVersionNumber = 0x97,
    QueryContentDtr = 0x98,
    QueryDeviceType = 0x99,
    QueryPhysicalMinimumLevel = 0x9A,
    QueryPowerFailure = 0x9B,
    QueryContentDtr1 = 0x9C,
    QueryContentDtr2 = 0x9D,
    QueryActualLevel = 0xA0,
    QueryMaxLevel = 0xA1,
    QueryMinLevel = 0xA2,
    QueryPowerOnLevel = 0xA3,
    QuerySystemFailureLevel = 0xA4,
    QueryFadeTimeFadeRate = 0xA5,
    QuerySceneLevel = 0xB0,
    QueryGroups0To7 = 0xC0,
    QueryGroups8To15 = 0xC1,
    QueryRandomAddressH = 0xC2,
    QueryRandomAddressM = 0xC3,
    QueryRandomAddressL = 0xC4,
    ReadMemoryLocation = 0xC5,
    QueryExtendedVersionNumber = 0xFF,
};

// Device type 6 application extended commands (IEC 62386-207).
enum LedCommand : uint8_t {
    ReferenceSystemPower = 0xE0,
    EnableCurrentProtector = 0xE1,
    DisableCurrentProtector = 0xE2,
    SelectDimmingCurve = 0xE3,
    StoreDtrAsFastFadeTime = 0xE4,
    QueryGearType = 0xED,
    QueryDimmingCurve = 0xEE,
    QueryPossibleOperatingModes = 0xEF,
    QueryFeatures = 0xF0,
    QueryFailureStatus = 0xF1,
    QueryShortCircuit = 0xF2,
    QueryCurrentProtectorActive = 0xF6,
    QueryReferenceRunning = 0xF9,
    QueryReferenceMeasurementFailed = 0xFA,
    QueryCurrentProtectorEnabled = 0xFB,
    QueryOperatingMode = 0xFC,
    QueryFastFadeTime = 0xFD,
    QueryMinFastFadeTime = 0xFE,
};

// Mailbox requests written to bank 1 location 0x74.
enum MailboxRequest : uint8_t {
    ReadMakerValue = 0x01,
    BridgeAccess = 0x21,
    ReadMakerParameter = 0x41,
    WriteMakerParameter = 0xC1,
};

constexpr int LastBridgeRegister = 30;
constexpr uint8_t LedDeviceType = 6;

// Memory bank 0 as the standard lays it out: last location, checksum, last
// bank, GTIN (6 bytes), firmware version, serial number (8 bytes), hardware
// version, 101 version.
QByteArray defaultBank0(uint32_t seed)
{
    QByteArray bank(0x1B, '\0');
    bank[0] = char(0x1A);
    bank[2] = char(1);
    const uint8_t gtin[6] = {0x08, 0x71, 0x95, 0x00, 0x12, 0x34};
    for (int i = 0; i < 6; ++i)
        bank[3 + i] = char(gtin[i]);
    bank[9] = char(1);
    for (int i = 0; i < 4; ++i)
        bank[0x0F + i] = char((seed >> (24 - 8 * i)) & 0xFF);
    bank[0x13] = char(1);
    bank[0x1A] = char(0x08);
    return bank;
}

// Memory bank 1: locations 0x10..0xFF hold the maker's registers.
QByteArray defaultBank1()
{
    QByteArray bank(0x100, '\0');
    bank[0] = char(0xFF);
    bank[2] = char(0xFF);
    bank[0x11] = char(0x42);
    bank[0x12] = char(0x01);
    return bank;
}

} // namespace

SimDaliGear::SimDaliGear(const SimDaliGearConfig& config)
    : m_shortAddress(config.shortAddress <= 63 ? config.shortAddress : Mask)
    , m_randomAddress(config.randomAddress & 0xFFFFFF)
    , m_minLevel(config.physicalMinLevel)
    , m_physicalMinLevel(config.physicalMinLevel)
    , m_deviceType(config.deviceType)
    , m_versionNumber(config.versionNumber)
    , m_makerParameters(config.makerParameters)
    , m_makerValues(config.makerValues)
    , m_config(config)
    , m_fixedRandomAddress(config.fixedRandomAddress)
    , m_random(config.seed)
    , m_fault(config.fault)
{
    std::fill(std::begin(m_scenes), std::end(m_scenes), Mask);
    m_banks[0] = config.bank0.isEmpty() ? defaultBank0(config.seed) : config.bank0;
    m_banks[1] = defaultBank1();
    for (int i = 0; i < config.bank1.size() && i < m_banks[1].size(); ++i)
        m_banks[1][i] = config.bank1[i];
    for (int reg = 0; reg <= LastBridgeRegister; ++reg)
        m_bridgeRegisters[uint8_t(reg)] = config.bridgeRegisters.value(uint8_t(reg), 0);
    // Power-up: the lamp goes to the power-on level.
    m_fadeFrom = m_fadeTo = m_powerOnLevel;
}

bool SimDaliGear::isInitialised(qint64 nowUs) const
{
    return m_initialised && nowUs - m_initialiseStartUs < InitialiseWindowUs;
}

bool SimDaliGear::isAddressed(uint8_t address) const
{
    if (address >= 0xFE)
        return true;
    if ((address & 0xE0) == 0x80)
        return (m_groups >> ((address >> 1) & 0x0F)) & 1;
    if ((address & 0x80) == 0)
        return hasShortAddress() && (address >> 1) == m_shortAddress;
    return false;
}

bool SimDaliGear::isConfigurationFrame(uint8_t address, uint8_t data, bool extended) const
{
    if (address == Initialise || address == Randomise)
        return true;
    if (address >= 0xA0 && address <= 0xFD && (address & 0xE0) != 0x80)
        return false;
    if ((address & 1) == 0 || !isAddressed(address))
        return false;
    if (extended)
        return m_deviceType == LedDeviceType && data >= ReferenceSystemPower
            && data <= StoreDtrAsFastFadeTime;
    return data >= Reset && data <= EnableWriteMemory;
}

bool SimDaliGear::confirmsPending(const Frame& frame, qint64 nowUs, bool sameFrameWindowOnly) const
{
    if (!m_pendingConfiguration || !(*m_pendingConfiguration == frame))
        return false;
    return sameFrameWindowOnly || nowUs - m_pendingConfigurationUs <= ConfigWindowUs;
}

std::optional<uint8_t> SimDaliGear::receive(uint8_t address, uint8_t data, qint64 nowUs,
                                            bool sameFrameWindowOnly)
{
    const Frame frame{address, data};
    const bool confirmed = confirmsPending(frame, nowUs, sameFrameWindowOnly);
    const bool isSpecialFrame = address >= 0xA0 && address <= 0xFD;
    const bool extendedFrame = !isSpecialFrame && (address & 1) && data >= 0xE0
        && m_deviceTypeEnabled;
    const bool configuration = isConfigurationFrame(address, data, extendedFrame);

    std::optional<uint8_t> answer;
    if (isSpecialFrame) {
        answer = special(address, data, nowUs);
        if (confirmed && address == Initialise) {
            const bool selected = data == 0x00 || (data == 0xFF && !hasShortAddress())
                || ((data & 0x81) == 0x01 && hasShortAddress() && (data >> 1) == m_shortAddress);
            if (selected) {
                m_initialised = true;
                m_initialiseStartUs = nowUs;
                m_withdrawn = false;
            }
        } else if (confirmed && address == Randomise && isInitialised(nowUs)) {
            m_randomAddress = m_fixedRandomAddress ? *m_fixedRandomAddress & 0xFFFFFF
                                                   : uint32_t(m_random()) & 0xFFFFFF;
        }
    } else if (isAddressed(address)) {
        if ((address & 1) == 0)
            setArcPower(data, nowUs, true);
        else if (extendedFrame)
            answer = extended(data, nowUs, confirmed);
        else if (configuration)
            answer = confirmed ? configure(data, nowUs) : std::nullopt;
        else
            answer = command(data, nowUs);
    }

    // A configuration frame waits for its repetition; any other frame ends
    // the wait. ENABLE DEVICE TYPE X covers the next command and, for a
    // configuration command, its repetition.
    const bool waitsForRepetition = configuration && !confirmed;
    if (waitsForRepetition) {
        m_pendingConfiguration = frame;
        m_pendingConfigurationUs = nowUs;
    } else {
        m_pendingConfiguration.reset();
    }
    m_deviceTypeEnabled = (address == EnableDeviceType && data == m_deviceType)
        || (extendedFrame && waitsForRepetition);

    const bool keepsWriteEnabled = address == DataTransferRegister || address == DataTransferRegister1
        || address == DataTransferRegister2 || address == WriteMemoryLocation
        || (!isSpecialFrame && (address & 1)
            && (data == EnableWriteMemory || (data >= QueryStatus && data <= ReadMemoryLocation)));
    if (!keepsWriteEnabled)
        m_writeEnabled = false;

    if (m_fault == SimGearFault::NeverAnswers)
        return std::nullopt;
    return answer;
}

std::optional<uint8_t> SimDaliGear::special(uint8_t address, uint8_t data, qint64 nowUs)
{
    const bool initialised = isInitialised(nowUs);
    switch (address) {
    case Terminate:
        m_initialised = false;
        m_withdrawn = false;
        return std::nullopt;
    case DataTransferRegister:
        m_dtr = data;
        return std::nullopt;
    case DataTransferRegister1:
        m_dtr1 = data;
        return std::nullopt;
    case DataTransferRegister2:
        m_dtr2 = data;
        return std::nullopt;
    case Compare:
        if (initialised && !m_withdrawn && m_randomAddress <= m_searchAddress)
            return Yes;
        return std::nullopt;
    case Withdraw:
        if (initialised && m_randomAddress == m_searchAddress)
            m_withdrawn = true;
        return std::nullopt;
    case SearchAddrH:
    case SearchAddrM:
    case SearchAddrL:
        if (initialised) {
            const int shift = address == SearchAddrH ? 16 : address == SearchAddrM ? 8 : 0;
            m_searchAddress = (m_searchAddress & ~(0xFFu << shift)) | (uint32_t(data) << shift);
        }
        return std::nullopt;
    case ProgramShortAddress:
        if (initialised && m_randomAddress == m_searchAddress) {
            if (data == Mask)
                m_shortAddress = Mask;
            else if ((data & 0x81) == 0x01)
                m_shortAddress = data >> 1;
        }
        return std::nullopt;
    case VerifyShortAddress:
        if (initialised && hasShortAddress() && (data & 0x81) == 0x01 && (data >> 1) == m_shortAddress)
            return Yes;
        return std::nullopt;
    case QueryShortAddress:
        if (!initialised || m_randomAddress != m_searchAddress)
            return std::nullopt;
        if (!hasShortAddress())
            return Mask;
        if (m_fault == SimGearFault::WrongShortAddress)
            return uint8_t((((m_shortAddress + 1) & 0x3F) << 1) | 1);
        return uint8_t((m_shortAddress << 1) | 1);
    case WriteMemoryLocation:
        return m_writeEnabled ? writeMemory(data) : std::nullopt;
    case PhysicalSelection:
    case EnableDeviceType:
    default:
        return std::nullopt;
    }
}

std::optional<uint8_t> SimDaliGear::command(uint8_t data, qint64 nowUs)
{
    const uint8_t level = actualLevel(nowUs);
    switch (data) {
    case Off:
        setLevelNow(0, nowUs);
        return std::nullopt;
    case Up:
        if (level != 0)
            setLevelNow(uint8_t(std::min<int>(level + fadeStepsPer200Ms(), m_maxLevel)), nowUs);
        return std::nullopt;
    case Down:
        if (level != 0)
            setLevelNow(uint8_t(std::max<int>(level - fadeStepsPer200Ms(), m_minLevel)), nowUs);
        return std::nullopt;
    case StepUp:
        if (level != 0 && level < m_maxLevel)
            setLevelNow(level + 1, nowUs);
        return std::nullopt;
    case StepDown:
        if (level > m_minLevel)
            setLevelNow(level - 1, nowUs);
        return std::nullopt;
    case RecallMaxLevel:
        setLevelNow(m_maxLevel, nowUs);
        return std::nullopt;
    case RecallMinLevel:
        setLevelNow(m_minLevel, nowUs);
        return std::nullopt;
    case StepDownAndOff:
        setLevelNow(level <= m_minLevel ? 0 : level - 1, nowUs);
        return std::nullopt;
    case OnAndStepUp:
        setLevelNow(level == 0 ? m_minLevel : std::min<uint8_t>(level + 1, m_maxLevel), nowUs);
        return std::nullopt;
    default:
        break;
    }
    if (data >= GoToScene && data < GoToScene + 16) {
        setArcPower(m_scenes[data - GoToScene], nowUs, true);
        return std::nullopt;
    }
    return query(data, nowUs);
}

std::optional<uint8_t> SimDaliGear::configure(uint8_t data, qint64 nowUs)
{
    switch (data) {
    case Reset:
        reset();
        return std::nullopt;
    case StoreActualLevelInDtr:
        m_dtr = actualLevel(nowUs);
        return std::nullopt;
    case StoreDtrAsMaxLevel:
        m_maxLevel = std::clamp<uint8_t>(m_dtr, m_minLevel, 254);
        return std::nullopt;
    case StoreDtrAsMinLevel:
        m_minLevel = std::clamp<uint8_t>(m_dtr, m_physicalMinLevel, m_maxLevel);
        return std::nullopt;
    case StoreDtrAsSystemFailureLevel:
        m_systemFailureLevel = m_dtr;
        return std::nullopt;
    case StoreDtrAsPowerOnLevel:
        m_powerOnLevel = m_dtr;
        return std::nullopt;
    case StoreDtrAsFadeTime:
        m_fadeTime = std::min<uint8_t>(m_dtr, 15);
        return std::nullopt;
    case StoreDtrAsFadeRate:
        m_fadeRate = std::clamp<uint8_t>(m_dtr, 1, 15);
        return std::nullopt;
    case StoreDtrAsShortAddress:
        if (m_dtr == Mask)
            m_shortAddress = Mask;
        else if ((m_dtr & 0x81) == 0x01)
            m_shortAddress = m_dtr >> 1;
        return std::nullopt;
    case EnableWriteMemory:
        m_writeEnabled = true;
        return std::nullopt;
    default:
        break;
    }
    if (data >= StoreDtrAsScene && data < StoreDtrAsScene + 16)
        m_scenes[data - StoreDtrAsScene] = m_dtr;
    else if (data >= RemoveFromScene && data < RemoveFromScene + 16)
        m_scenes[data - RemoveFromScene] = Mask;
    else if (data >= AddToGroup && data < AddToGroup + 16)
        m_groups |= uint16_t(1u << (data - AddToGroup));
    else if (data >= RemoveFromGroup && data < RemoveFromGroup + 16)
        m_groups &= uint16_t(~(1u << (data - RemoveFromGroup)));
    return std::nullopt;
}

std::optional<uint8_t> SimDaliGear::query(uint8_t data, qint64 nowUs)
{
    auto yesNo = [](bool condition) -> std::optional<uint8_t> {
        return condition ? std::optional<uint8_t>(Yes) : std::nullopt;
    };
    switch (data) {
    case QueryStatus:
        return status(nowUs);
    case QueryControlGear:
        return Yes;
    case QueryLampFailure:
        return yesNo(m_failureStatus != 0);
    case QueryLampPowerOn:
        return yesNo(actualLevel(nowUs) != 0);
    case QueryLimitError:
        return yesNo(m_limitError);
    case QueryResetState:
        return yesNo(inResetState());
    case QueryMissingShortAddress:
        return yesNo(!hasShortAddress());
    case QueryVersionNumber:
        return m_versionNumber;
    case QueryContentDtr:
        return m_dtr;
    case QueryDeviceType:
        return m_deviceType;
    case QueryPhysicalMinimumLevel:
        return m_physicalMinLevel;
    case QueryPowerFailure:
        return yesNo(m_powerFailure);
    case QueryContentDtr1:
        return m_dtr1;
    case QueryContentDtr2:
        return m_dtr2;
    case QueryActualLevel:
        return actualLevel(nowUs);
    case QueryMaxLevel:
        return m_maxLevel;
    case QueryMinLevel:
        return m_minLevel;
    case QueryPowerOnLevel:
        return m_powerOnLevel;
    case QuerySystemFailureLevel:
        return m_systemFailureLevel;
    case QueryFadeTimeFadeRate:
        return uint8_t((m_fadeTime << 4) | m_fadeRate);
    case QueryGroups0To7:
        return uint8_t(m_groups & 0xFF);
    case QueryGroups8To15:
        return uint8_t(m_groups >> 8);
    case QueryRandomAddressH:
        return uint8_t(m_randomAddress >> 16);
    case QueryRandomAddressM:
        return uint8_t(m_randomAddress >> 8);
    case QueryRandomAddressL:
        return uint8_t(m_randomAddress);
    case ReadMemoryLocation:
        return readMemory();
    default:
        break;
    }
    if (data >= QuerySceneLevel && data < QuerySceneLevel + 16)
        return m_scenes[data - QuerySceneLevel];
    return std::nullopt;
}

std::optional<uint8_t> SimDaliGear::extended(uint8_t data, qint64 nowUs, bool confirmed)
{
    Q_UNUSED(nowUs);
    if (m_deviceType != LedDeviceType)
        return std::nullopt;
    auto yesNo = [](bool condition) -> std::optional<uint8_t> {
        return condition ? std::optional<uint8_t>(Yes) : std::nullopt;
    };
    switch (data) {
    case ReferenceSystemPower:
        return std::nullopt;
    case EnableCurrentProtector:
    case DisableCurrentProtector:
        if (confirmed)
            m_currentProtectorEnabled = data == EnableCurrentProtector;
        return std::nullopt;
    case SelectDimmingCurve:
        if (confirmed && m_dtr <= 1)
            m_dimmingCurve = m_dtr;
        return std::nullopt;
    case StoreDtrAsFastFadeTime:
        if (confirmed && m_dtr <= 27)
            m_fastFadeTime = m_dtr == 0 ? 0 : std::max(m_dtr, m_minFastFadeTime);
        return std::nullopt;
    case QueryDimmingCurve:
        return m_dimmingCurve;
    case QueryGearType:
    case QueryPossibleOperatingModes:
    case QueryFeatures:
        return uint8_t(0x01);
    case QueryFailureStatus:
        return m_failureStatus;
    case QueryCurrentProtectorActive:
    case QueryReferenceRunning:
        return yesNo(false);
    case QueryReferenceMeasurementFailed:
        return yesNo(m_failureStatus & 0x80);
    case QueryCurrentProtectorEnabled:
        return yesNo(m_currentProtectorEnabled);
    case QueryOperatingMode:
        return m_operatingMode;
    case QueryFastFadeTime:
        return m_fastFadeTime;
    case QueryMinFastFadeTime:
        return m_minFastFadeTime;
    case QueryExtendedVersionNumber:
        return uint8_t(1);
    default:
        break;
    }
    // QUERY SHORT CIRCUIT .. QUERY THERMAL OVERLOAD: one failure-status bit each.
    if (data >= QueryShortCircuit && data <= QueryShortCircuit + 6)
        return yesNo((m_failureStatus >> (data - QueryShortCircuit)) & 1);
    return std::nullopt;
}

uint8_t SimDaliGear::actualLevel(qint64 nowUs) const
{
    if (nowUs >= m_fadeEndUs || m_fadeEndUs <= m_fadeStartUs)
        return m_fadeTo;
    const double progress = double(nowUs - m_fadeStartUs) / double(m_fadeEndUs - m_fadeStartUs);
    return uint8_t(std::lround(m_fadeFrom + (int(m_fadeTo) - int(m_fadeFrom)) * progress));
}

void SimDaliGear::setLevelNow(uint8_t level, qint64 nowUs)
{
    m_powerFailure = false;
    m_fadeFrom = m_fadeTo = level;
    m_fadeStartUs = m_fadeEndUs = nowUs;
}

void SimDaliGear::setArcPower(uint8_t level, qint64 nowUs, bool fade)
{
    if (level == Mask)
        return;
    m_powerFailure = false;
    uint8_t target = level;
    m_limitError = false;
    if (level != 0) {
        target = std::clamp(level, m_minLevel, m_maxLevel);
        m_limitError = target != level;
    }
    const uint8_t from = actualLevel(nowUs);
    const qint64 duration = fade ? fadeDurationUs() : 0;
    m_fadeFrom = from;
    m_fadeTo = target;
    m_fadeStartUs = nowUs;
    m_fadeEndUs = nowUs + duration;
}

int SimDaliGear::fadeStepsPer200Ms() const
{
    // Fade rate X: 506 / sqrt(2^X) steps per second.
    return std::max(1, int(std::lround(0.2 * 506.0 / std::sqrt(std::pow(2.0, m_fadeRate)))));
}

qint64 SimDaliGear::fadeDurationUs() const
{
    // Fade time X: 0.5 * sqrt(2^X) seconds; 0 means no fade.
    if (m_fadeTime == 0)
        return 0;
    return qint64(0.5e6 * std::sqrt(std::pow(2.0, m_fadeTime)));
}

uint8_t SimDaliGear::status(qint64 nowUs) const
{
    uint8_t bits = 0;
    if (m_failureStatus != 0)
        bits |= 0x02;
    if (actualLevel(nowUs) != 0)
        bits |= 0x04;
    if (m_limitError)
        bits |= 0x08;
    if (nowUs < m_fadeEndUs)
        bits |= 0x10;
    if (inResetState())
        bits |= 0x20;
    if (!hasShortAddress())
        bits |= 0x40;
    if (m_powerFailure)
        bits |= 0x80;
    return bits;
}

bool SimDaliGear::inResetState() const
{
    const bool scenesMasked = std::all_of(std::begin(m_scenes), std::end(m_scenes),
                                          [](uint8_t level) { return level == Mask; });
    return m_maxLevel == 254 && m_minLevel == m_physicalMinLevel && m_powerOnLevel == 254
        && m_systemFailureLevel == 254 && m_fadeTime == 0 && m_fadeRate == 7 && m_groups == 0
        && scenesMasked && m_searchAddress == 0xFFFFFF && m_randomAddress == 0xFFFFFF;
}

void SimDaliGear::reset()
{
    m_maxLevel = 254;
    m_minLevel = m_physicalMinLevel;
    m_powerOnLevel = 254;
    m_systemFailureLevel = 254;
    m_fadeTime = 0;
    m_fadeRate = 7;
    m_groups = 0;
    std::fill(std::begin(m_scenes), std::end(m_scenes), Mask);
    m_searchAddress = 0xFFFFFF;
    m_randomAddress = 0xFFFFFF;
    m_fadeFrom = m_fadeTo = 254;
    m_fadeStartUs = m_fadeEndUs = 0;
    m_limitError = false;
}

uint8_t SimDaliGear::memory(int bank, int location) const
{
    if (bank < 0 || bank > 1 || location < 0 || location >= m_banks[bank].size())
        return 0;
    return uint8_t(m_banks[bank][location]);
}

std::optional<uint8_t> SimDaliGear::readMemory()
{
    if (m_dtr1 > 1)
        return std::nullopt;
    const QByteArray& bank = m_banks[m_dtr1];
    const int lastLocation = bank.isEmpty() ? -1 : uint8_t(bank[0]);
    if (m_dtr > lastLocation || m_dtr >= bank.size())
        return std::nullopt;
    const uint8_t value = uint8_t(bank[m_dtr]);
    if (m_dtr < 0xFF)
        ++m_dtr;
    return value;
}

bool SimDaliGear::isWritable(int bank, int location) const
{
    return bank == 1 && location >= 2 && location <= uint8_t(m_banks[1][0])
        && location < m_banks[1].size();
}

std::optional<uint8_t> SimDaliGear::writeMemory(uint8_t value)
{
    if (!isWritable(m_dtr1, m_dtr))
        return std::nullopt;
    const uint8_t location = m_dtr;
    m_banks[1][location] = char(value);
    if (m_dtr < 0xFF)
        ++m_dtr;
    if (location == MailboxRequest)
        runMailboxRequest(value);
    return value;
}

bool SimDaliGear::writeBank1(uint8_t location, uint8_t value)
{
    if (!isWritable(1, location))
        return false;
    m_banks[1][location] = char(value);
    if (location == MailboxRequest)
        runMailboxRequest(value);
    return true;
}

uint16_t SimDaliGear::mailboxWord(uint8_t location) const
{
    return uint16_t((memory(1, location) << 8) | memory(1, location + 1));
}

void SimDaliGear::setMailboxWord(uint8_t location, uint16_t value)
{
    m_banks[1][location] = char(value >> 8);
    m_banks[1][location + 1] = char(value & 0xFF);
}

void SimDaliGear::runMailboxRequest(uint8_t request)
{
    const uint16_t number = mailboxWord(MailboxParameter);
    const uint16_t value = mailboxWord(MailboxValue);
    bool ok = false;
    switch (request) {
    case ReadMakerParameter:
        if (m_makerParameters.contains(number)) {
            const uint16_t stored = m_makerParameters.value(number);
            // The maker's parameters are stored low byte first.
            setMailboxWord(MailboxValue, uint16_t((stored << 8) | (stored >> 8)));
            ok = true;
        }
        break;
    case ReadMakerValue:
        if (m_makerValues.contains(number)) {
            setMailboxWord(MailboxValue, m_makerValues.value(number));
            ok = true;
        }
        break;
    case WriteMakerParameter:
        if (m_makerParameters.contains(number)) {
            // Parameters whose number ends in 0x00 or 0x02 take their value low byte first.
            const bool lowByteFirst = (number & 0xFF) == 0x00 || (number & 0xFF) == 0x02;
            m_makerParameters[number] = lowByteFirst ? uint16_t((value << 8) | (value >> 8)) : value;
            ok = true;
        }
        break;
    case BridgeAccess: {
        const uint8_t reg = uint8_t(value >> 8);
        if (reg > LastBridgeRegister)
            break;
        if (number == BridgeReadKey) {
            setMailboxWord(MailboxValue, uint16_t(m_bridgeRegisters.value(reg) << 8));
            ok = true;
        } else if (number == BridgeWriteKey) {
            m_bridgeRegisters[reg] = uint8_t(value & 0xFF);
            ok = true;
        }
        break;
    }
    default:
        break;
    }
    m_banks[1][MailboxRequest] = char(ok ? 0x00 : MailboxFailed);
}

} // namespace halvorn::sim
