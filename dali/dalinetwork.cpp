#include "dali/dalinetwork.h"

#include "dali/dalibinsearch.h"
#include "dali/dalicommands.h"
#include "dali/dalidevice.h"
#include "dali/dalinetworklogmessage.h"
#include "dali/daliregisternames.h"
#include "dali/dalishortsearch.h"
#include "general/input.h"
#include "general/iomanager.h"
#include "general/log.h"
#include "general/menubuilder.h"
#include "general/networklog.h"
#include "general/taskscheduler.h"
#include "general/threadnames.h"
#include "usb/usbdongle.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QMutexLocker>
#include <QThread>

#include <cmath>

namespace halvorn::dali {

using general::MessageType;

namespace {

constexpr uint8_t ForwardCode = 0x0A;
constexpr uint8_t BackwardCode = 0x0B;
constexpr uint8_t ReceiverCode = 0x0C;
constexpr uint8_t ReplyBit = 0x80;
constexpr uint8_t BusyBit = 0x20;
constexpr uint8_t BusyReason = 2;
constexpr uint8_t ReceiverFinished = 0x04;
constexpr uint8_t ReceiverFaulty = 0x08;
// Receiver counter limits: the answer window when an answer is expected,
// the settling time when none is, and the end of a faulty frame.
constexpr int AnswerTimeoutCount = 255;
constexpr int NoAnswerSettledCount = 88;
constexpr int FaultyFrameEndCount = 87;
// 0x0B reply: 0x8B, status, 0, answer, delay.
constexpr int BackwardReplyLength = 5;
constexpr int ReceiverReplyLength = 3;

// A real dongle takes about a millisecond per exchange, which paces the busy
// resends and the receiver polls. On a link that answers faster than the bus
// moves (the virtual Portline without latency), a tight loop would spend its
// attempts before the bus had done anything: when the bus showed no progress
// (still busy, receiver counter unchanged), pause a little instead.
constexpr qint64 FastLinkExchangeNs = 100'000;
constexpr unsigned long FastLinkPauseUs = 100;

void paceFastLink(qint64 exchangeNs)
{
    if (exchangeNs < FastLinkExchangeNs)
        QThread::usleep(FastLinkPauseUs);
}

QString hexByte(uint8_t value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

} // namespace

DaliNetwork::DaliNetwork(usb::USBDongle* dongle)
    : general::Network(dongle)
{
    setName(QStringLiteral("DALI Network"));
    general::setThreadName(networkThread(), QStringLiteral("DaliNetwork"));
    setLog(new general::NetworkLog(QStringLiteral("DALI Network log")));

    // The simple log runs in a thread of its own, like the network log: its
    // announcement timer must not wait for bus traffic.
    m_simpleLog = new general::NetworkLog(QStringLiteral("Simple DALI Network log"));
    m_simpleLogThread = new QThread;
    m_simpleLogThread->setObjectName(m_simpleLog->name());
    m_simpleLog->moveToThread(m_simpleLogThread);
    connect(m_simpleLogThread, &QThread::finished, m_simpleLog, &QObject::deleteLater);
    m_simpleLogThread->start(QThread::InheritPriority);

    setDongle(dongle);
}

DaliNetwork::~DaliNetwork()
{
    stopNetworkThread();
    // Tasks still queued leave the scheduler's queue as they are deleted.
    delete m_searchAll;
    delete m_searchNew;
    delete m_searchShort;
    m_simpleLogThread->quit();
    m_simpleLogThread->wait();
    delete m_simpleLogThread;
}

// ---------------------------------------------------------------------------
// Packet layer

bool DaliNetwork::dongleUsable() const
{
    const usb::USBDongle* target = dongle();
    return target && target->isEnabled();
}

bool DaliNetwork::exchangePacket(int length, uint8_t replyCode, int minimumReplyLength)
{
    return exchange(length) >= minimumReplyLength && reply[0] == replyCode;
}

bool DaliNetwork::hasAnswer() const
{
    return m_answerPresent.load();
}

uint8_t DaliNetwork::answerValue() const
{
    return m_answerPresent.load() ? m_answerValue.load() : 0;
}

void DaliNetwork::setAnswer(bool present, uint8_t value, bool failed, uint8_t delay)
{
    m_answerPresent = present;
    m_answerValue = value;
    m_answerFailed = failed;
    m_answerDelay = delay;
}

void DaliNetwork::sendForward(uint8_t address, uint8_t data)
{
    QMutexLocker locker(&mutex());
    m_forwardSent = false;
    if (!dongle())
        return;

    // A busy dongle is still sending the previous frame or waiting for the
    // bus to settle: send again, but not for ever: the dongle may go, or sit
    // on a shorted bus that never gets free.
    QElapsedTimer waited;
    waited.start();
    QElapsedTimer exchangeTime;
    bool busySeen = false;
    for (int attempt = 0; attempt <= MaxBusyResends; ++attempt) {
        if (!dongleUsable())
            return;
        exchangeTime.start();
        request[0] = ForwardCode;
        request[1] = 0x00;
        request[2] = address;
        request[3] = data;
        request[4] = 0x00;
        const int received = exchange(5);
        if (received > 0 && reply[0] == (ForwardCode | ReplyBit)) {
            m_forwardSent = true;
            return;
        }
        const bool busy = received > 1 && (reply[0] & BusyBit) && reply[1] == BusyReason;
        busySeen = busySeen || busy;
        if (!busySeen || waited.elapsed() > MaxBusyWaitMs)
            break;
        paceFastLink(exchangeTime.nsecsElapsed());
    }
    if (busySeen)
        log(general::DALI,
            QStringLiteral("DALI bus busy: frame %1 %2 not sent").arg(hexByte(address), hexByte(data)),
            general::ERROR);
}

void DaliNetwork::readAnswer(bool answerExpected)
{
    QMutexLocker locker(&mutex());
    m_answerFailed = false;
    if (!dongleUsable() || !m_forwardSent) {
        setAnswer(false, 0, false);
        return;
    }

    // Poll the receiver until it has a backward frame, a faulty one, or the
    // answer window is over. The counter must rise; one that reaches or
    // passes the limit, goes down (a wrapping counter), or a receiver that
    // never ends (a stuck counter) means no answer.
    enum class Phase { Waiting, Faulty };
    Phase phase = Phase::Waiting;
    bool lastStatusFinished = false;
    int lastCounter = -1;
    QElapsedTimer waited;
    waited.start();
    QElapsedTimer exchangeTime;
    bool counterMoved = true;
    for (int poll = 0; poll < MaxReceiverPolls && waited.elapsed() <= MaxReceiverWaitMs; ++poll) {
        if (poll > 0 && !counterMoved)
            paceFastLink(exchangeTime.nsecsElapsed());
        exchangeTime.start();
        request[0] = ReceiverCode;
        if (!exchangePacket(1, ReceiverCode | ReplyBit, ReceiverReplyLength))
            break;
        const uint8_t status = reply[1];
        const int counter = reply[2];
        if (counter < lastCounter) {
            lastStatusFinished = false;
            break;
        }
        counterMoved = counter > lastCounter;
        lastCounter = counter;
        lastStatusFinished = status & ReceiverFinished;

        if (phase == Phase::Waiting) {
            if (status & ReceiverFaulty) {
                m_answerPresent = true;
                m_answerFailed = true;
                phase = Phase::Faulty;
                if (lastStatusFinished || counter > FaultyFrameEndCount)
                    break;
                continue;
            }
            if (lastStatusFinished)
                break;
            if (answerExpected && counter >= AnswerTimeoutCount)
                break;
            if (!answerExpected && counter > NoAnswerSettledCount) {
                setAnswer(false, 0, false);
                return;
            }
        } else if (lastStatusFinished || counter > FaultyFrameEndCount) {
            break;
        }
        if (poll + 1 == MaxReceiverPolls)
            lastStatusFinished = false;
    }

    m_answerDelay = 0;
    if (lastStatusFinished) {
        request[0] = BackwardCode;
        if (exchangePacket(1, BackwardCode | ReplyBit, BackwardReplyLength)) {
            m_answerPresent = true;
            m_answerValue = reply[3];
            m_answerDelay = reply[4];
            return;
        }
        // The receiver had a frame but it could not be fetched.
        m_answerFailed = true;
    }
    m_answerPresent = false;
    m_answerValue = 0;
}

// ---------------------------------------------------------------------------
// Transactions

void DaliNetwork::logFrame(general::LogMessage* message)
{
    if (m_loggingEnabled.load())
        log(message);
    else
        delete message;
}

void DaliNetwork::sendFrame(uint8_t address, uint8_t data, uint8_t repeat)
{
    QMutexLocker locker(&mutex());
    if (interferenceRobustness())
        repeat = uint8_t(repeat * retryCount());
    if (repeat == 0)
        return;

    const int type = m_deviceType.load();
    const bool expected = DaliCommands::answerExpected(address, data, type);
    QThread* const here = QThread::currentThread();
    bool anyOutcome = false;
    bool anyFailed = false;
    uint8_t lastAnswer = 0;
    for (int i = 0; i < repeat; ++i) {
        logFrame(DaliNetworkLogMessage::forward(address, data, type, here));
        sendForward(address, data);
        readAnswer(expected);

        const bool failed = answerFailed();
        if (hasAnswer()) {
            const uint8_t value = m_answerValue.load();
            if (failed) {
                logFrame(DaliNetworkLogMessage::failure(here));
                emit answerError();
            } else {
                logFrame(DaliNetworkLogMessage::answer(value, m_answerDelay.load(), here));
                emit answerReceived(value);
            }
            lastAnswer = value;
        } else if (failed) {
            if (expected)
                logFrame(DaliNetworkLogMessage::failure(here));
            emit answerError();
        } else if (expected) {
            logFrame(DaliNetworkLogMessage::noAnswer(here));
            emit answerNoReply();
        }
        anyOutcome = anyOutcome || hasAnswer() || failed;
        anyFailed = anyFailed || failed;
    }
    // After a repeated frame hasAnswer() reports all repetitions together.
    if (anyOutcome)
        setAnswer(true, lastAnswer, anyFailed, m_answerDelay.load());
}

void DaliNetwork::setShortLevel(int n, uint8_t level)
{
    sendFrame(uint8_t((n & 0x3F) << 1), level, 1);
}

void DaliNetwork::setGroupLevel(int g, uint8_t level)
{
    sendFrame(uint8_t(0x80 + ((g & 0x0F) << 1)), level, 1);
}

void DaliNetwork::setBroadcastLevel(uint8_t level)
{
    sendFrame(0xFE, level, 1);
}

void DaliNetwork::send(uint8_t address, uint8_t data)
{
    sendFrame(address, data, 1);
}

void DaliNetwork::sendCommand(uint8_t address, uint8_t command, uint8_t repeat)
{
    sendFrame(address | 1, command, repeat);
}

void DaliNetwork::sendShortCommand(int n, uint8_t command, uint8_t repeat)
{
    sendFrame(uint8_t(((n & 0x3F) << 1) + 1), command, repeat);
}

void DaliNetwork::sendGroupCommand(int g, uint8_t command)
{
    sendFrame(uint8_t(0x81 + ((g & 0x0F) << 1)), command, 1);
}

void DaliNetwork::sendBroadcastCommand(uint8_t command, uint8_t repeat)
{
    sendFrame(0xFF, command, repeat);
}

void DaliNetwork::sendSpecial(uint8_t address, uint8_t data, uint8_t repeat)
{
    QMutexLocker locker(&mutex());
    if (address == DataTransferRegister1)
        m_lastDTR1 = data;
    else if (address == EnableDeviceType)
        m_deviceType = data;
    recordSearchAddressByte(address, data);
    sendFrame(address, data, repeat);
}

void DaliNetwork::recordSearchAddressByte(uint8_t address, uint8_t data)
{
    int shift = -1;
    if (address == SearchAddrH)
        shift = 16;
    else if (address == SearchAddrM)
        shift = 8;
    else if (address == SearchAddrL)
        shift = 0;
    if (shift < 0)
        return;
    const uint32_t old = m_lastSearchAddress.load();
    m_lastSearchAddress = (old & ~(0xFFu << shift)) | (uint32_t(data) << shift);
}

// ---------------------------------------------------------------------------
// DTR and memory banks

void DaliNetwork::setDTR16(uint16_t value)
{
    QMutexLocker locker(&mutex());
    sendSpecial(DataTransferRegister, uint8_t(value & 0xFF), 1);
    sendSpecial(DataTransferRegister1, uint8_t(value >> 8), 1);
}

uint DaliNetwork::readMemory(uint8_t address, uint8_t bank, uint8_t location, bool eightBit, bool& ok)
{
    QMutexLocker locker(&mutex());
    sendSpecial(DataTransferRegister1, bank, 1);
    sendSpecial(DataTransferRegister, location, 1);
    sendCommand(address, ReadMemoryLocation, 1);
    ok = hasAnswer() && !answerFailed();
    if (!ok)
        return 0;
    const uint first = answerValue();
    if (eightBit)
        return first;
    // The gear has moved its DTR on to the next location.
    sendCommand(address, ReadMemoryLocation, 1);
    if (!hasAnswer() || answerFailed()) {
        ok = false;
        return 0;
    }
    return first * 256 + answerValue();
}

uint DaliNetwork::readMemoryBank1(uint8_t address, uint8_t location, bool eightBit, bool& ok)
{
    return readMemory(address, 1, location, eightBit, ok);
}

bool DaliNetwork::writeMemory(uint8_t address, uint8_t bank, uint8_t location, uint16_t value,
                              bool eightBit)
{
    QMutexLocker locker(&mutex());
    sendSpecial(DataTransferRegister1, bank, 1);
    sendSpecial(DataTransferRegister, location, 1);
    sendCommand(address, EnableWriteMemory, 1);
    sendCommand(address, EnableWriteMemory, 1);
    if (!eightBit) {
        sendSpecial(WriteMemoryLocation, uint8_t(value >> 8), 1);
        if (!hasAnswer() || answerFailed())
            return false;
    }
    sendSpecial(WriteMemoryLocation, uint8_t(value & 0xFF), 1);
    return hasAnswer() && !answerFailed();
}

bool DaliNetwork::writeMemoryBank1(uint8_t address, uint8_t location, uint16_t value, bool eightBit)
{
    return writeMemory(address, 1, location, value, eightBit);
}

// ---------------------------------------------------------------------------
// Network, devices, inputs, tasks

void DaliNetwork::dongleAttached()
{
    emit networkConnected();
}

void DaliNetwork::dongleDetached()
{
    emit networkDisconnected();
}

void DaliNetwork::cycle()
{
}

void DaliNetwork::init()
{
    general::Network::init();
    if (!findDevice(BroadcastDeviceAddress))
        createDevice(BroadcastDeviceAddress, QStringLiteral("Broadcast Device"));
    createInputs();
    createSearchTasks();
    emit networkInitialized();
}

general::Device* DaliNetwork::createDevice(uint address, const QString& name)
{
    auto* device = new DaliDevice(this, address, name);
    addChild(device, true);
    emit deviceFound(device);
    return device;
}

namespace {

struct InputDefinition
{
    const char* name;
    int levelSlot;   // index of the last level, −1 for a command input
    uint8_t target;  // arc-power address byte, or the broadcast command
};

constexpr InputDefinition inputDefinitions[] = {
    {"Broadcast Setpoint", 0, 0xFE},
    {"Broadcast UP", -1, DaliNetwork::Up},
    {"Broadcast DOWN", -1, DaliNetwork::Down},
    {"Broadcast STEP UP", -1, DaliNetwork::StepUp},
    {"Broadcast STEP DOWN", -1, DaliNetwork::StepDown},
    {"Broadcast RECALL MAX LEVEL", -1, DaliNetwork::RecallMaxLevel},
    {"Broadcast RECALL MIN LEVEL", -1, DaliNetwork::RecallMinLevel},
    {"Broadcast OFF", -1, DaliNetwork::Off},
    {"Group 0 Setpoint", 1, 0x80},
    {"Group 1 Setpoint", 2, 0x82},
    {"Group 2 Setpoint", 3, 0x84},
    {"Group 3 Setpoint", 4, 0x86},
};
static_assert(std::size(inputDefinitions) == 12);

} // namespace

void DaliNetwork::createInputs()
{
    if (!m_inputs.isEmpty())
        return;
    for (const InputDefinition& definition : inputDefinitions) {
        general::Input* input = ioManager()->input(QString::fromLatin1(definition.name));
        if (definition.levelSlot >= 0)
            input->setMaximumValue(1.0);
        connect(input, &general::Input::inputValueChanged, this, &DaliNetwork::inputValueChanged);
        m_inputs.append(input);
    }
}

void DaliNetwork::inputValueChanged(general::Input* input)
{
    const int index = int(m_inputs.indexOf(input));
    if (index < 0)
        return;
    const InputDefinition& definition = inputDefinitions[index];
    if (definition.levelSlot < 0) {
        sendBroadcastCommand(definition.target, 1);
        return;
    }
    int& last = m_lastLevels[size_t(definition.levelSlot)];
    const double scaled = input->value() * 254.0;
    if (std::isnan(scaled) || int(scaled - last) == 0)
        return;
    // 255 is MASK (no change) on the bus, so levels stop at 254.
    const int level = std::clamp(int(scaled), 0, 254);
    last = level;
    sendFrame(definition.target, uint8_t(level), 1);
}

void DaliNetwork::createSearchTasks()
{
    if (m_searchAll)
        return;
    m_searchShort = new DaliShortSearch(QStringLiteral("Search short addresses"), this);
    m_searchAll = new DaliBinSearch(QStringLiteral("Search all devices"), this, DaliBinSearch::AllDevices);
    m_searchNew = new DaliBinSearch(QStringLiteral("Search new devices"), this, DaliBinSearch::NewDevices);
}

general::Task* DaliNetwork::searchTask(int kind) const
{
    switch (kind) {
    case SearchAllDevices:
        return m_searchAll;
    case SearchNewDevices:
        return m_searchNew;
    case SearchShortAddresses:
        return m_searchShort;
    default:
        return nullptr;
    }
}

void DaliNetwork::daliSearch(int i)
{
    if (general::Task* task = searchTask(i))
        general::TaskScheduler::instance()->addTask(task);
}

void DaliNetwork::populateMenu(general::MenuBuilder& menu)
{
    general::Network::populateMenu(menu);
    menu.addSeparator();
    for (int kind : {SearchAllDevices, SearchNewDevices, SearchShortAddresses})
        if (general::Task* task = searchTask(kind))
            menu.addTask(task);
}

void DaliNetwork::logSimple(const QString& text, MessageType type)
{
    m_simpleLog->logMessage(general::DALI, text, type, QThread::currentThread());
}

void DaliNetwork::removeShortAddressDevices()
{
    // 63 too: a scan finds gear that was given it by another tool.
    auto removeAll = [this] {
        for (int n = 0; n <= HighestShortAddress; ++n) {
            while (general::Device* device = findDevice(uint(n)))
                removeDevice(device);
        }
    };
    // Devices are taken out of the tree in the network's thread; wait for
    // it, so that the next free short address is computed on the new tree.
    if (QThread::currentThread() == thread())
        removeAll();
    else
        QMetaObject::invokeMethod(this, removeAll, Qt::BlockingQueuedConnection);
}

int DaliNetwork::firstFreeShortAddress() const
{
    for (int n = 0; n <= HighestAssignableShortAddress; ++n)
        if (!findDevice(uint(n)))
            return n;
    return -1;
}

} // namespace halvorn::dali

// ---------------------------------------------------------------------------
// The parameter number map of DaliDevice

namespace halvorn::dali {

namespace {

enum class ReadKind { Query, LowNibble, HighNibble, ShortAddress };
enum class WriteKind { None, ArcPower, DtrStore, Groups, SpecialValue, LedDtrStore };

// One standard or device-type-6 variable (numbers 0x00..0x28 outside the scenes).
struct VariableEntry
{
    uint8_t number;
    uint8_t query;       // command that reads it
    bool led;            // device type 6: ENABLE DEVICE TYPE X 6 first
    ReadKind read;
    WriteKind write;
    uint8_t writeByte;   // store command, special command or first group
    const char* readName;  // nullptr: the query's name from the command tables
    const char* writeName; // nullptr: the store command's name
};

constexpr uint8_t LedDeviceType = 6;

constexpr VariableEntry variables[] = {
    {0x00, 0xA0, false, ReadKind::Query, WriteKind::ArcPower, 0, nullptr, "ACTUAL LEVEL"},
    {0x01, 0xA3, false, ReadKind::Query, WriteKind::DtrStore, 0x2D, nullptr, nullptr},
    {0x02, 0xA4, false, ReadKind::Query, WriteKind::DtrStore, 0x2C, nullptr, nullptr},
    {0x03, 0xA2, false, ReadKind::Query, WriteKind::DtrStore, 0x2B, nullptr, nullptr},
    {0x04, 0xA1, false, ReadKind::Query, WriteKind::DtrStore, 0x2A, nullptr, nullptr},
    {0x05, 0xA5, false, ReadKind::LowNibble, WriteKind::DtrStore, 0x2F, "QUERY FADE (RATE)", nullptr},
    {0x06, 0xA5, false, ReadKind::HighNibble, WriteKind::DtrStore, 0x2E, "QUERY FADE (TIME)", nullptr},
    {0x07, 0x00, false, ReadKind::ShortAddress, WriteKind::DtrStore, 0x80, "QUERY_SHORT_ADDRESS", nullptr},
    {0x08, 0xC0, false, ReadKind::Query, WriteKind::Groups, 0, nullptr, nullptr},
    {0x09, 0xC1, false, ReadKind::Query, WriteKind::Groups, 8, nullptr, nullptr},
    {0x1A, 0x90, false, ReadKind::Query, WriteKind::None, 0, nullptr, nullptr},
    {0x1B, 0x98, false, ReadKind::Query, WriteKind::SpecialValue, DaliNetwork::DataTransferRegister, nullptr, "DTR"},
    {0x1C, 0x9C, false, ReadKind::Query, WriteKind::SpecialValue, DaliNetwork::DataTransferRegister1, nullptr, "DTR1"},
    {0x1D, 0x9D, false, ReadKind::Query, WriteKind::SpecialValue, DaliNetwork::DataTransferRegister2, nullptr, "DTR2"},
    {0x1E, 0x97, false, ReadKind::Query, WriteKind::None, 0, nullptr, nullptr},
    {0x1F, 0x9A, false, ReadKind::Query, WriteKind::None, 0, nullptr, nullptr},
    {0x20, 0xFE, true, ReadKind::Query, WriteKind::None, 0, nullptr, nullptr},
    {0x21, 0xFD, true, ReadKind::Query, WriteKind::LedDtrStore, 0xE4, nullptr, nullptr},
    {0x22, 0xED, true, ReadKind::Query, WriteKind::None, 0, nullptr, nullptr},
    {0x23, 0xEF, true, ReadKind::Query, WriteKind::None, 0, nullptr, nullptr},
    {0x24, 0xF0, true, ReadKind::Query, WriteKind::None, 0, nullptr, nullptr},
    {0x25, 0xF1, true, ReadKind::Query, WriteKind::None, 0, nullptr, nullptr},
    {0x26, 0xFC, true, ReadKind::Query, WriteKind::None, 0, nullptr, nullptr},
    {0x27, 0xEE, true, ReadKind::Query, WriteKind::LedDtrStore, 0xE3, nullptr, nullptr},
    {0x28, 0x99, false, ReadKind::Query, WriteKind::None, 0, nullptr, nullptr},
};

constexpr uint FirstScene = 0x0A;
constexpr uint LastScene = 0x19;
constexpr uint Bank0First = 0x200;
constexpr uint Bank1First = 0x220;
constexpr uint BankByteCount = 0x20;
constexpr uint Bank1Range = 0x1000;
constexpr uint MakerParameterRange = 0x2000;
constexpr uint BridgeRange = 0x3000;
constexpr uint MakerValueRange = 0x4000;
constexpr uint RangeSize = 0x1000;
constexpr uint BridgeRegisterCount = 0x100;
constexpr uint Bank1LocationCount = 0x100;

// The bank-1 mailbox.
constexpr uint8_t MailboxParameter = 0x70;
constexpr uint8_t MailboxValue = 0x72;
constexpr uint8_t MailboxRequest = 0x74;
constexpr uint8_t MailboxFailed = 0x04;
constexpr uint8_t ReadMakerValueRequest = 0x01;
constexpr uint8_t BridgeRequest = 0x21;
constexpr uint8_t ReadMakerParameterRequest = 0x41;
constexpr uint8_t WriteMakerParameterRequest = 0xC1;
constexpr uint16_t BridgeReadKey = 0x2E6A;
constexpr uint16_t BridgeWriteKey = 0x5D19;
constexpr uint8_t FirstNamedBank1Register = 0x10;
constexpr uint8_t LastNamedBank1Register = 0x7F;

constexpr uint8_t AddToGroup = 0x60;
constexpr uint8_t RemoveFromGroup = 0x70;
constexpr uint8_t QuerySceneLevel = 0xB0;
constexpr uint8_t StoreDtrAsScene = 0x40;
constexpr uint8_t QueryRandomAddressH = 0xC2;
constexpr uint8_t NoShortAddress = 0xFF;

const VariableEntry* findVariable(uint number)
{
    for (const VariableEntry& entry : variables)
        if (entry.number == number)
            return &entry;
    return nullptr;
}

QString queryName(const VariableEntry& entry)
{
    if (entry.readName)
        return QString::fromLatin1(entry.readName);
    const DaliCommandTable& table = entry.led ? DaliCommands::deviceType6Table() : DaliCommands::standardTable();
    return QString::fromLatin1(table[entry.query].name);
}

QString storeName(const VariableEntry& entry)
{
    if (entry.writeName)
        return QString::fromLatin1(entry.writeName);
    const DaliCommandTable& table =
        entry.write == WriteKind::LedDtrStore ? DaliCommands::deviceType6Table() : DaliCommands::standardTable();
    return QString::fromLatin1(table[entry.writeByte].name);
}

QString bank1Name(uint location)
{
    if (location >= FirstNamedBank1Register && location <= LastNamedBank1Register)
        return QStringLiteral("VelaLogic %1 %2")
            .arg(location)
            .arg(QString::fromLatin1(DaliRegisterNames::bank1Register(uint8_t(location))));
    return QStringLiteral("Memory bank 1 byte %1").arg(location);
}

QString bridgeName(uint reg, bool ok)
{
    const QString name = QStringLiteral("Keymark %1 %2")
                             .arg(reg)
                             .arg(QString::fromLatin1(DaliRegisterNames::bridgeRegister(uint8_t(reg))));
    return ok ? name : QStringLiteral("(KM ERROR) ") + name;
}

uint16_t swapBytes(uint value)
{
    return uint16_t(((value & 0xFF) << 8) | ((value >> 8) & 0xFF));
}

bool inRange(uint number, uint first, uint count)
{
    return number >= first && number < first + count;
}

} // namespace

void DaliNetwork::logParameter(bool read, const QString& name, uint value, bool ok)
{
    const QString text = QStringLiteral("%1%2: %3 (%4)")
                             .arg(read ? QStringLiteral("GET ") : QStringLiteral("SET "), name)
                             .arg(value)
                             .arg(QString::number(value, 16).toUpper());
    logSimple(text, !ok ? general::FAILURE : read ? general::SEND : general::REPLY);
}

uint DaliNetwork::readParameter(uint8_t address, uint number, bool eightBit, bool& ok)
{
    QMutexLocker locker(&mutex());
    ok = false;
    const uint8_t commandAddress = address | 1;

    auto query = [&](uint8_t command, bool led) -> uint {
        if (led)
            sendSpecial(EnableDeviceType, LedDeviceType, 1);
        sendCommand(commandAddress, command, 1);
        ok = hasAnswer() && !answerFailed();
        return ok ? answerValue() : 0;
    };

    if (const VariableEntry* entry = findVariable(number)) {
        uint value = 0;
        switch (entry->read) {
        case ReadKind::Query:
            value = query(entry->query, entry->led);
            break;
        case ReadKind::LowNibble:
            value = query(entry->query, false) & 0x0F;
            break;
        case ReadKind::HighNibble:
            value = (query(entry->query, false) >> 4) & 0x0F;
            break;
        case ReadKind::ShortAddress:
            value = readShortAddress(commandAddress, ok);
            break;
        }
        logParameter(true, queryName(*entry), value, ok);
        return value;
    }
    if (number >= FirstScene && number <= LastScene) {
        const uint scene = number - FirstScene;
        const uint value = query(uint8_t(QuerySceneLevel + scene), false);
        logParameter(true, QStringLiteral("QUERY SCENE %1").arg(scene), value, ok);
        return value;
    }
    if (inRange(number, Bank0First, BankByteCount)) {
        const uint location = number - Bank0First;
        const uint value = readMemory(commandAddress, 0, uint8_t(location), true, ok);
        logParameter(true, QStringLiteral("Memory bank 0 byte %1").arg(location), value, ok);
        return value;
    }
    if (inRange(number, Bank1First, BankByteCount) || inRange(number, Bank1Range, Bank1LocationCount)) {
        const bool bankByte = inRange(number, Bank1First, BankByteCount);
        const uint location = number - (bankByte ? Bank1First : Bank1Range);
        const uint value = readMemoryBank1(commandAddress, uint8_t(location), bankByte || eightBit, ok);
        logParameter(true, bank1Name(location), value, ok);
        return ok ? value : 0;
    }
    if (inRange(number, MakerParameterRange, RangeSize)) {
        const uint parameter = number - MakerParameterRange;
        const uint value = readMailbox(commandAddress, parameter, ReadMakerParameterRequest, eightBit, true, ok);
        logParameter(true, QStringLiteral("VelaLogic parameter %1").arg(parameter), value, ok);
        return value;
    }
    if (inRange(number, MakerValueRange, RangeSize)) {
        const uint parameter = number - MakerValueRange;
        const uint value = readMailbox(commandAddress, parameter, ReadMakerValueRequest, eightBit, false, ok);
        logParameter(true, QStringLiteral("VelaLogic value %1").arg(parameter), value, ok);
        return value;
    }
    if (inRange(number, BridgeRange, BridgeRegisterCount)) {
        const uint reg = number - BridgeRange;
        const uint value = readBridgeRegister(commandAddress, uint8_t(reg), ok);
        logParameter(true, bridgeName(reg, ok), value, ok);
        return value;
    }
    return 0;
}

bool DaliNetwork::writeParameter(uint8_t address, uint number, bool eightBit, uint value)
{
    QMutexLocker locker(&mutex());
    const uint8_t arcAddress = address == 0xFF ? 0xFE : address & 0xFE;
    const uint8_t commandAddress = address | 1;
    const uint8_t byte = uint8_t(value & 0xFF);

    if (const VariableEntry* entry = findVariable(number)) {
        switch (entry->write) {
        case WriteKind::None:
            return false;
        case WriteKind::ArcPower:
            sendFrame(arcAddress, byte, 1);
            break;
        case WriteKind::DtrStore:
            if (entry->read == ReadKind::ShortAddress) {
                // Read as n, so written as n: the gear wants 2n + 1, or MASK to delete it.
                if (value > uint(HighestShortAddress) && value != NoShortAddress)
                    return false;
                sendSpecial(DataTransferRegister, value == NoShortAddress ? NoShortAddress : uint8_t((value << 1) | 1), 1);
            } else {
                sendSpecial(DataTransferRegister, byte, 1);
            }
            storeTwice(commandAddress, entry->writeByte);
            break;
        case WriteKind::LedDtrStore:
            sendSpecial(DataTransferRegister, byte, 1);
            sendSpecial(EnableDeviceType, LedDeviceType, 1);
            storeTwice(commandAddress, entry->writeByte);
            break;
        case WriteKind::SpecialValue:
            sendSpecial(entry->writeByte, byte, 1);
            break;
        case WriteKind::Groups:
            return writeGroups(commandAddress, entry->writeByte, value);
        }
        logParameter(false, storeName(*entry), value, true);
        return true;
    }
    if (number >= FirstScene && number <= LastScene) {
        const uint scene = number - FirstScene;
        sendSpecial(DataTransferRegister, byte, 1);
        storeTwice(commandAddress, uint8_t(StoreDtrAsScene + scene));
        logParameter(false, QStringLiteral("STORE THE DTR AS SCENE %1").arg(scene), value, true);
        return true;
    }
    if (inRange(number, Bank1First, BankByteCount) || inRange(number, Bank1Range, Bank1LocationCount)) {
        const bool bankByte = inRange(number, Bank1First, BankByteCount);
        const uint location = number - (bankByte ? Bank1First : Bank1Range);
        const bool ok = writeMemoryBank1(commandAddress, uint8_t(location), uint16_t(value), bankByte || eightBit);
        logParameter(false, bank1Name(location), value, ok);
        return ok;
    }
    if (inRange(number, MakerParameterRange, RangeSize)) {
        const uint parameter = number - MakerParameterRange;
        const bool ok = writeMailbox(commandAddress, parameter, value);
        logParameter(false, QStringLiteral("VelaLogic parameter %1").arg(parameter), value, ok);
        return ok;
    }
    if (inRange(number, BridgeRange, BridgeRegisterCount)) {
        const uint reg = number - BridgeRange;
        const bool ok = writeBridgeRegister(commandAddress, uint8_t(reg), byte);
        logParameter(false, bridgeName(reg, ok), value, ok);
        return ok;
    }
    return false;
}

void DaliNetwork::storeTwice(uint8_t address, uint8_t command)
{
    // Configuration commands take effect only when received twice in a row.
    sendCommand(address, command, 1);
    sendCommand(address, command, 1);
}

bool DaliNetwork::writeGroups(uint8_t address, int firstGroup, uint value)
{
    for (int i = 0; i < 8; ++i) {
        const int group = firstGroup + i;
        const bool member = (value >> i) & 1;
        storeTwice(address, uint8_t((member ? AddToGroup : RemoveFromGroup) + group));
        logParameter(false,
                     QStringLiteral("%1%2").arg(member ? QStringLiteral("ADD TO GROUP ")
                                                       : QStringLiteral("REMOVE FROM GROUP "))
                         .arg(group),
                     value, true);
    }
    return true;
}

uint DaliNetwork::readShortAddress(uint8_t address, bool& ok)
{
    // Put the gear's own random address into the search address, then ask
    // who is there. The gear stays initialised: no TERMINATE follows.
    sendSpecial(Initialise, 0, 1);
    sendSpecial(Initialise, 0, 1);
    const uint8_t searchBytes[] = {SearchAddrH, SearchAddrM, SearchAddrL};
    for (int i = 0; i < 3; ++i) {
        sendCommand(address, uint8_t(QueryRandomAddressH + i), 1);
        if (!hasAnswer() || answerFailed()) {
            ok = false;
            return 0;
        }
        sendSpecial(searchBytes[i], answerValue(), 1);
    }
    sendSpecial(QueryShortAddress, 0, 1);
    ok = hasAnswer() && !answerFailed();
    if (!ok)
        return 0;
    const uint8_t answer = answerValue();
    return answer == NoShortAddress ? 255 : answer >> 1;
}

uint DaliNetwork::readMailbox(uint8_t address, uint parameter, uint8_t request, bool eightBit, bool swapped,
                              bool& ok)
{
    ok = false;
    if (!writeMemoryBank1(address, MailboxParameter, uint16_t(parameter), false)
        || !writeMemoryBank1(address, MailboxRequest, request, true))
        return 0;
    const uint raw = readMemoryBank1(address, MailboxValue, eightBit, ok);
    if (!ok)
        return 0;
    // An 8-bit value is the register's high byte, the one at 0x72.
    if (eightBit)
        return raw & 0xFF;
    return swapped ? swapBytes(raw) : raw & 0xFFFF;
}

bool DaliNetwork::writeMailbox(uint8_t address, uint parameter, uint value)
{
    // The gear takes the values of parameters 0x..00 and 0x..02 low byte first.
    const uint8_t low = uint8_t(parameter & 0xFF);
    const uint16_t word = (low == 0x00 || low == 0x02) ? swapBytes(value) : uint16_t(value);
    return writeMemoryBank1(address, MailboxParameter, uint16_t(parameter), false)
        && writeMemoryBank1(address, MailboxValue, word, false)
        && writeMemoryBank1(address, MailboxRequest, WriteMakerParameterRequest, true);
}

uint DaliNetwork::readBridgeRegister(uint8_t address, uint8_t reg, bool& ok)
{
    ok = false;
    if (!writeMemoryBank1(address, MailboxParameter, BridgeReadKey, false)
        || !writeMemoryBank1(address, MailboxValue, uint16_t(reg << 8), false)
        || !writeMemoryBank1(address, MailboxRequest, BridgeRequest, true))
        return 0;
    const uint status = readMemoryBank1(address, MailboxRequest, true, ok);
    if (!ok || (status & MailboxFailed)) {
        ok = false;
        return 0;
    }
    const uint word = readMemoryBank1(address, MailboxValue, false, ok);
    return ok ? (word >> 8) & 0xFF : 0;
}

bool DaliNetwork::writeBridgeRegister(uint8_t address, uint8_t reg, uint8_t value)
{
    if (!writeMemoryBank1(address, MailboxParameter, BridgeWriteKey, false)
        || !writeMemoryBank1(address, MailboxValue, uint16_t((reg << 8) | value), false)
        || !writeMemoryBank1(address, MailboxRequest, BridgeRequest, true))
        return false;
    bool ok = false;
    const uint status = readMemoryBank1(address, MailboxRequest, true, ok);
    return ok && !(status & MailboxFailed);
}

} // namespace halvorn::dali
