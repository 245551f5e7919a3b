#include "km/keymarknetwork.h"

#include "dali/dalicommands.h"
#include "general/networklog.h"
#include "general/threadnames.h"
#include "km/keymarkdevice.h"
#include "usb/usbdongle.h"
#include "vx/chorusframe.h"
#include "vx/vxnetworklogmessage.h"

#include <QMutexLocker>
#include <QThread>
#include <QTimer>

#include <algorithm>
#include <cstring>

namespace halvorn::km {

using general::MessageType;
using vx::ChorusFrame;

namespace {

constexpr uint8_t CommandReplyCode = 0x02;
constexpr uint8_t CommandReplyAnswer = 0x82;
constexpr int ReplyHeaderLength = 3;
constexpr int RequestLength = 2 + ChorusFrame::Length;
// The dongle's status byte in a command/reply answer.
constexpr int DongleAnswered = 0;
constexpr int DongleReceptionError = 3;
constexpr int DongleNoAnswer = 5;
// Reply-frame bytes of the value.
constexpr int ValueLowIndex = 6;
constexpr int ValueHighIndex = 7;
constexpr int CommandIndex = 1;

} // namespace

KeymarkNetwork::KeymarkNetwork(usb::USBDongle* dongle)
    : dali::DaliNetwork(dongle)
{
    setName(QStringLiteral("Keymark Network"));
    general::setThreadName(networkThread(), QStringLiteral("KeymarkNetwork"));
    setLog(new general::NetworkLog(QStringLiteral("Keymark Network log")));

    m_pollTimer = new QTimer;
    m_pollTimer->moveToThread(networkThread());
    // Deleted in its own thread as that thread finishes (~KeymarkNetwork).
    connect(networkThread(), &QThread::finished, m_pollTimer, &QObject::deleteLater);
    connect(m_pollTimer, &QTimer::timeout, this, &KeymarkNetwork::pollDevice);
    connect(this, &KeymarkNetwork::singlePoll, this, &KeymarkNetwork::pollDevice);
    connect(this, &KeymarkNetwork::startPollTimer, m_pollTimer, qOverload<int>(&QTimer::start));
    connect(this, &KeymarkNetwork::stopPollTimer, m_pollTimer, &QTimer::stop);
}

KeymarkNetwork::~KeymarkNetwork()
{
    // From inside the network's thread the timer goes at once (the thread
    // cannot be joined from there); otherwise the join below stops the
    // thread and the timer is deleted in it as it finishes.
    if (QThread::currentThread() == networkThread())
        delete m_pollTimer;
    stopNetworkThread();
    m_pollTimer = nullptr;
}

// ---------------------------------------------------------------------------
// Presence

void KeymarkNetwork::startPolling(int intervalMs)
{
    emit startPollTimer(std::max(intervalMs, 1));
    emit singlePoll();
}

void KeymarkNetwork::stopPolling()
{
    emit stopPollTimer();
}

KeymarkDevice* KeymarkNetwork::tagDevice() const
{
    return qobject_cast<KeymarkDevice*>(findDevice(BroadcastDeviceAddress));
}

bool KeymarkNetwork::canReadTag() const
{
    const usb::USBDongle* target = dongle();
    return target && target->isKeymarkReadSupported();
}

void KeymarkNetwork::pollDevice()
{
    // A dongle that cannot read learns whether the tag is there only by
    // sending it something.
    if (!canReadTag())
        writeMemoryBank1(BroadcastDeviceAddress, ProbeLocation, 0x00, true);
    for (int check = 0; check < PresenceChecks; ++check) {
        usb::USBDongle* target = dongle();
        if (!target)
            break;
        if (target->isKeymarkMessageOk()) {
            tagFound();
            return;
        }
    }
    tagLost();
}

void KeymarkNetwork::tagFound()
{
    if (m_connected.load())
        return;
    m_connected = true;
    writeMemoryBank1(BroadcastDeviceAddress, SessionLocation, SessionValue, true);
    if (KeymarkDevice* device = tagDevice())
        device->setConnected();
    emit OnKeymarkConnect();
}

void KeymarkNetwork::tagLost()
{
    if (!m_connected.load())
        return;
    m_connected = false;
    if (KeymarkDevice* device = tagDevice())
        device->setDisconnected();
    emit OnKeymarkDisconnect();
}

general::Device* KeymarkNetwork::createDevice(uint address, const QString& name)
{
    auto* device = new KeymarkDevice(this, address, name);
    addChild(device, true);
    emit deviceFound(device);
    return device;
}

// ---------------------------------------------------------------------------
// Tag frames

void KeymarkNetwork::logFrame(MessageType type, const quint8* bytes, int length)
{
    log(new vx::VxNetworkLogMessage(general::KEYMARK, type, QThread::currentThread(), bytes, length));
}

void KeymarkNetwork::logReply(MessageType type)
{
    logFrame(type, m_replyFrame.data(), m_replyFrameLength);
}

int KeymarkNetwork::lastReplyStatus()
{
    QMutexLocker locker(&mutex());
    return m_replyStatus;
}

QByteArray KeymarkNetwork::lastReplyFrame()
{
    QMutexLocker locker(&mutex());
    return QByteArray(reinterpret_cast<const char*>(m_replyFrame.data()), m_replyFrameLength);
}

uint16_t KeymarkNetwork::replyValue() const
{
    const quint8 low = m_replyFrameLength > ValueLowIndex ? m_replyFrame[ValueLowIndex] : 0;
    const quint8 high = m_replyFrameLength > ValueHighIndex ? m_replyFrame[ValueHighIndex] : 0;
    return uint16_t(low | high << 8);
}

ChorusFrame KeymarkNetwork::memoryFrame(uint8_t command, uint8_t location, bool eightBit, uint16_t value)
{
    const uint16_t number = uint16_t(TagMemoryParameter | location | (eightBit ? 0 : WideAccessBit));
    return ChorusFrame::command(command, 0, 0, number, value);
}

KeymarkNetwork::ReplyKind KeymarkNetwork::exchangeFrame(const ChorusFrame& frame)
{
    logFrame(general::SEND, frame.data(), ChorusFrame::Length);
    request[0] = CommandReplyCode;
    request[1] = ChorusFrame::Length;
    std::memcpy(request + 2, frame.data(), ChorusFrame::Length);
    const int received = exchange(RequestLength);

    m_replyFrameLength = 0;
    m_replyStatus = NoAnswerStatus;
    if (received < ReplyHeaderLength || reply[0] != CommandReplyAnswer)
        return ReplyKind::None;
    // Only the bytes that arrived, whatever count the reply claims.
    const int count = std::min({int(reply[2]), received - ReplyHeaderLength,
                                int(m_replyFrame.size()), PacketLength - ReplyHeaderLength});
    if (count <= 0 || reply[1] == DongleNoAnswer)
        return ReplyKind::None;
    m_replyStatus = reply[1];
    m_replyFrameLength = count;
    std::memcpy(m_replyFrame.data(), reply + ReplyHeaderLength, size_t(count));

    if (m_replyStatus == DongleReceptionError)
        return ReplyKind::ReceptionError;
    if (!ChorusFrame::isValid(m_replyFrame.data(), m_replyFrameLength))
        return ReplyKind::Malformed;
    if (m_replyFrame[CommandIndex] & ChorusFrame::ErrorBit)
        return ReplyKind::Refused;
    return ReplyKind::Answer;
}

void KeymarkNetwork::sendForward(uint8_t address, uint8_t data)
{
    QMutexLocker locker(&mutex());
    setAnswer(false, 0, false);
    if (!dongle())
        return;

    const bool expected = dali::DaliCommands::answerExpected(address, data, deviceType());
    // Through a dongle that cannot read, no reply ever comes: a frame sent
    // again would reach the gear again (a second STEP UP, a DTR moved on).
    const int attempts = canReadTag() ? Attempts : 1;
    const ChorusFrame frame = ChorusFrame::command(
        expected ? ChorusFrame::ReadParameter : ChorusFrame::WriteParameter, 0, 0, PassThroughParameter,
        uint16_t(address << 8 | data));
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const ReplyKind kind = exchangeFrame(frame);
        if (kind == ReplyKind::None) {
            logFrame(general::NOREPLY, nullptr, 0);
            continue;
        }
        if (kind == ReplyKind::ReceptionError) {
            logReply(general::FAILURE);
            continue;
        }
        // A frame that does not decode carries no answer byte to trust; the
        // log message marks it (checksum, length).
        logReply(general::REPLY);
        if (kind == ReplyKind::Malformed)
            continue;
        // A refusal: the tag could not deliver the frame or got no answer.
        if (kind == ReplyKind::Answer)
            setAnswer(expected, uint8_t(replyValue() & 0xFF), false);
        break;
    }
    // The tag needs this long before it takes the next frame.
    QThread::msleep(PauseMs);
}

void KeymarkNetwork::readAnswer(bool answerExpected)
{
    // sendForward() has stored the answer already.
    Q_UNUSED(answerExpected);
}

bool KeymarkNetwork::writeMemoryBank1(uint8_t address, uint8_t location, uint16_t value, bool eightBit)
{
    if (location > LastTagLocation)
        return DaliNetwork::writeMemoryBank1(address, location, value, eightBit);

    QMutexLocker locker(&mutex());
    setAnswer(false, 0, false);
    if (!dongle())
        return false;

    const bool canRead = canReadTag();
    const ChorusFrame frame = memoryFrame(ChorusFrame::WriteParameter, location, eightBit, value);
    bool written = false;
    for (int attempt = 0; attempt < Attempts && !written; ++attempt) {
        switch (exchangeFrame(frame)) {
        case ReplyKind::Answer:
            written = true;
            setAnswer(true, uint8_t(replyValue() & 0xFF), false);
            break;
        case ReplyKind::Refused:
            setAnswer(false, 0, true);
            logFrame(general::NOREPLY, nullptr, 0);
            break;
        case ReplyKind::ReceptionError:
            logReply(general::FAILURE);
            break;
        case ReplyKind::Malformed:
            logReply(general::REPLY);
            break;
        case ReplyKind::None:
            logFrame(general::NOREPLY, nullptr, 0);
            break;
        }
        if (!canRead) {
            // Nothing can confirm the write: send it once and count it done.
            QThread::msleep(PauseMs);
            return true;
        }
    }
    return written;
}

uint KeymarkNetwork::readMemoryBank1(uint8_t address, uint8_t location, bool eightBit, bool& ok)
{
    if (location > LastTagLocation)
        return DaliNetwork::readMemoryBank1(address, location, eightBit, ok);

    QMutexLocker locker(&mutex());
    ok = false;
    setAnswer(false, 0, false);
    if (!dongle())
        return 0;

    const bool canRead = canReadTag();
    const ChorusFrame frame = memoryFrame(ChorusFrame::ReadParameter, location, eightBit, 0);
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        if (attempt > 0 && !canRead)
            QThread::msleep(PauseMs);
        switch (exchangeFrame(frame)) {
        case ReplyKind::None:
            m_replyStatus = NoAnswerStatus;
            logFrame(general::NOREPLY, nullptr, 0);
            continue;
        case ReplyKind::ReceptionError:
            m_replyStatus = ReceptionErrorStatus;
            logReply(general::FAILURE);
            continue;
        case ReplyKind::Malformed:
        case ReplyKind::Refused:
            m_replyStatus = ErrorAnswerStatus;
            setAnswer(false, 0, true);
            logReply(general::REPLY);
            continue;
        case ReplyKind::Answer:
            logReply(general::REPLY);
            ok = true;
            break;
        }
        break;
    }
    if (!ok)
        return 0;
    const uint16_t value = replyValue();
    setAnswer(true, uint8_t(value & 0xFF), false);
    return value;
}

} // namespace halvorn::km
