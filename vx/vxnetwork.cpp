#include "vx/vxnetwork.h"

#include "dmx/dmxsetpoint.h"
#include "dmx/dmxsetpointblock.h"
#include "general/bytedata.h"
#include "general/menubuilder.h"
#include "general/networklog.h"
#include "general/parameter.h"
#include "general/parametergroup.h"
#include "general/taskscheduler.h"
#include "general/threadnames.h"
#include "usb/usbdongle.h"
#include "vx/chbinsearch.h"
#include "vx/rdmbinsearch.h"
#include "vx/rdmpacket.h"
#include "vx/vxdevice.h"
#include "vx/vxnetworklogmessage.h"

#include <QDeadlineTimer>
#include <QPointer>
#include <QThread>

#include <chrono>
#include <cstdio>
#include <cstring>

namespace halvorn::vx {

using general::MessageClass;
using general::MessageType;

namespace {

// A search still running when the network goes is asked to stop; each of
// its steps is one bounded exchange.
constexpr int SearchStopWaitMs = 20000;

general::MessageClass classOfFrame(const quint8* frame)
{
    if (frame[0] == ChorusFrame::StartByte)
        return general::CHORUS;
    if (frame[0] == RDMPacket::StartCode)
        return general::RDM;
    return general::DMX;
}

} // namespace

VxNetwork::VxNetwork(usb::USBDongle* dongle)
    : dmx::DMXNetwork(dongle)
{
    setName(QStringLiteral("DMX Network"));
    general::setThreadName(networkThread(), QStringLiteral("VxNetwork"));
    m_internalPacket = new general::ByteData(0);
    setLog(new general::NetworkLog(QStringLiteral("Vela Network Log")));
    connect(this, &general::Network::deviceFound, this, &VxNetwork::deviceOnConnect);
    setDongle(dongle);
}

VxNetwork::~VxNetwork()
{
    // Nothing may run on members that are going: the discovery, a frame,
    // or anything queued in the network's thread.
    stopRdmSearch();
    shutdownOutput();
    stopNetworkThread();
    delete m_rdmSearch;
    m_rdmSearch = nullptr;
    delete m_internalPacket;
    m_internalPacket = nullptr;
}

void VxNetwork::stopRdmSearch()
{
    if (!m_rdmSearch || m_rdmSearch->state() != general::Task::Running)
        return;
    m_rdmSearch->abort();
    QDeadlineTimer deadline(SearchStopWaitMs);
    while (m_rdmSearch->state() == general::Task::Running && !deadline.hasExpired())
        QThread::msleep(5);
}

VxNetwork::BusLocker::BusLocker(VxNetwork* network)
    : m_network(network)
{
    m_network->lockBus(true);
    m_locked = true;
}

VxNetwork::BusLocker::~BusLocker()
{
    unlock();
}

void VxNetwork::BusLocker::unlock()
{
    if (m_locked) {
        m_locked = false;
        m_network->unlockBus();
    }
}

void VxNetwork::lockBus(bool yieldToFrames)
{
    const Qt::HANDLE me = QThread::currentThreadId();
    if (yieldToFrames && m_busOwner.load() != me && m_framesWaiting.load() > 0) {
        std::unique_lock<std::mutex> gate(m_frameGateMutex);
        m_framesGone.wait_for(gate, std::chrono::milliseconds(FrameWaitMs),
                              [this] { return m_framesWaiting.load() == 0; });
    }
    mutex().lock();
    if (m_busDepth++ == 0)
        m_busOwner = me;
}

void VxNetwork::unlockBus()
{
    if (--m_busDepth == 0)
        m_busOwner = nullptr;
    mutex().unlock();
}

QByteArray VxNetwork::answerBytes() const
{
    return QByteArray(reinterpret_cast<const char*>(m_answer.data()), m_answerLength);
}

void VxNetwork::logFrame(MessageClass msgClass, MessageType type, const quint8* frame, int length)
{
    log(new VxNetworkLogMessage(msgClass, type, QThread::currentThread(), frame, length));
}

int VxNetwork::transaction(const quint8* frame, int length)
{
    BusLocker lock(this);
    m_answerLength = 0;
    if (!dongle()) {
        m_status = StatusNoDongle;
        return m_status;
    }
    if (!frame || length <= 0 || length > MaxFrameLength) {
        // Nothing this long fits into one packet; it is not sent.
        logFrame(general::DMX, general::FAILURE, frame, frame ? length : 0);
        m_status = StatusNoAnswer;
        return m_status;
    }

    const MessageClass msgClass = classOfFrame(frame);
    logFrame(msgClass, general::SEND, frame, length);

    request[0] = CommandReplyCode;
    request[1] = quint8(length);
    std::memcpy(request + 2, frame, size_t(length));
    const int received = exchange(length + 2);

    const bool isOurReply = received >= 3 && reply[0] == (CommandReplyCode | 0x80);
    // A reply that announces answer bytes but brings none has no answer either.
    if (!isOurReply || reply[2] == 0 || received == 3) {
        m_status = StatusNoAnswer;
        if (received > 0 && reply[0] != 0 && reply[0] != (CommandReplyCode | 0x80))
            logFrame(msgClass, general::FAILURE, reply, received); // not a reply to this request
        else
            logFrame(msgClass, general::NOREPLY, nullptr, 0);
        return m_status;
    }

    const int dongleStatus = reply[1];
    if (dongleStatus == DongleStatusNoAnswer) {
        m_status = StatusNoAnswer;
        logFrame(msgClass, general::NOREPLY, nullptr, 0);
        return m_status;
    }

    // Only the bytes that actually arrived are kept, whatever length the
    // reply claims.
    m_answerLength = qMin(qMin(int(reply[2]), received - 3), MaxAnswerLength);
    std::memcpy(m_answer.data(), reply + 3, size_t(m_answerLength));
    std::memset(m_answer.data() + m_answerLength, 0, size_t(MaxAnswerLength - m_answerLength));

    switch (dongleStatus) {
    case 0:
        m_status = StatusAnswer;
        if (msgClass == general::CHORUS && m_answerLength >= 2 && (m_answer[1] & ChorusFrame::ErrorBit))
            m_status = StatusErrorReply;
        logFrame(msgClass, general::REPLY, m_answer.data(), m_answerLength);
        break;
    case DongleStatusReceptionError:
        m_status = StatusReceptionError;
        logFrame(msgClass, general::FAILURE, m_answer.data(), m_answerLength);
        break;
    default:
        m_status = dongleStatus;
        logFrame(msgClass, general::REPLY, m_answer.data(), m_answerLength);
        break;
    }
    return m_status;
}

int VxNetwork::chorus(const ChorusFrame& frame, bool readsAnswer)
{
    BusLocker lock(this);
    int result = transaction(frame.data(), ChorusFrame::Length);
    if (result == StatusAnswer && readsAnswer) {
        if (m_answerLength != ChorusFrame::Length || m_answer[0] != ChorusFrame::StartByte)
            result = StatusMalformedAnswer;
        else if (!ChorusFrame::isValid(m_answer.data(), m_answerLength))
            result = StatusBadChecksum;
        m_status = result;
    }
    return result;
}

int VxNetwork::readGuid(quint16 skip, quint16 address, quint32& guid)
{
    BusLocker lock(this);
    const int result = chorus(ChorusFrame::command(ChorusFrame::ReadGuid, skip, address), true);
    if (result == StatusAnswer)
        guid = quint32(m_answer[4]) << 24 | quint32(m_answer[5]) << 16 | quint32(m_answer[6]) << 8 | m_answer[7];
    return result;
}

int VxNetwork::readParameter(quint16 skip, quint16 address, quint16 number, quint16& value)
{
    BusLocker lock(this);
    const int result = chorus(ChorusFrame::command(ChorusFrame::ReadParameter, skip, address, number, 0), true);
    if (result == StatusAnswer)
        value = quint16(m_answer[6] | (m_answer[7] << 8));
    return result;
}

int VxNetwork::writeParameter(quint16 skip, quint16 address, quint16 number, quint16 value)
{
    return chorus(ChorusFrame::command(ChorusFrame::WriteParameter, skip, address, number, value), false);
}

int VxNetwork::findNextParameter(quint16 skip, quint16 address, quint16 number, quint16& next, quint16& type)
{
    BusLocker lock(this);
    const int result = chorus(ChorusFrame::command(ChorusFrame::FindNext, skip, address, number, 0), true);
    if (result == StatusAnswer) {
        next = m_answer[4];
        type = quint16(m_answer[6] | (m_answer[7] << 8));
    }
    return result;
}

int VxNetwork::probeParameterZero(quint16 skip, quint16 address)
{
    return chorus(ChorusFrame::command(ChorusFrame::ReadParameter, skip, address), false);
}

void VxNetwork::buildRdm(quint64 destination, quint8 commandClass, quint16 pid, const quint8* data,
                         int dataLength)
{
    RDMPacket::Header header;
    header.destination = destination;
    header.source = SourceUid;
    header.transactionNumber = ++m_transactionNumber;
    header.portId = m_portId;
    header.messageCount = m_messageCount;
    header.subDevice = 0;
    header.commandClass = commandClass;
    header.pid = pid;

    quint8 packet[MaxFrameLength];
    const int length = RDMPacket::build(header, data, dataLength, packet, MaxFrameLength);
    m_internalPacket->resize(length);
    for (int i = 0; i < length; ++i)
        m_internalPacket->setByte(i, packet[i]);
}

void VxNetwork::rdmDiscUniqueBranch(quint64 lowerUid, quint64 upperUid)
{
    quint8 data[12];
    RDMPacket::uidToBytes(lowerUid, data);
    RDMPacket::uidToBytes(upperUid, data + 6);
    buildRdm(RDMPacket::BroadcastUid, RDMPacket::DiscoveryCommand, RDMPacket::DiscUniqueBranch, data, 12);
}

void VxNetwork::rdmDiscMute(quint64 uid)
{
    buildRdm(uid, RDMPacket::DiscoveryCommand, RDMPacket::DiscMute, nullptr, 0);
}

void VxNetwork::rdmDiscUnMute(quint64 uid)
{
    buildRdm(uid, RDMPacket::DiscoveryCommand, RDMPacket::DiscUnMute, nullptr, 0);
}

void VxNetwork::rdmRequest(quint64 uid, quint8 commandClass, quint16 pid, const QByteArray& data)
{
    // What does not fit into one packet with the header and checksum is not built.
    const int room = MaxFrameLength - RDMPacket::HeaderLength - RDMPacket::ChecksumLength;
    if (data.size() > room) {
        log(general::RDM, QStringLiteral("RDM request with %1 data bytes not sent: at most %2 fit")
                              .arg(data.size())
                              .arg(room),
            general::ERROR);
        m_internalPacket->resize(0);
        return;
    }
    buildRdm(uid, commandClass, pid, reinterpret_cast<const quint8*>(data.constData()), int(data.size()));
}

void VxNetwork::sendInternalPacket()
{
    BusLocker lock(this);
    const QByteArray packet = m_internalPacket->bytes();
    if (packet.isEmpty())
        return;
    transaction(reinterpret_cast<const quint8*>(packet.constData()), int(packet.size()));
}

void VxNetwork::retrieveParameterList(quint16 skip, quint16 address)
{
    BusLocker lock(this);
    const QString where = QStringLiteral("(%1,%2)").arg(skip).arg(address);
    log(general::CHORUS, QStringLiteral("Starting parameter list retrieval ") + where, general::INFO);

    int result = probeParameterZero(skip, address);
    if (result != StatusAnswer)
        result = probeParameterZero(skip, address);
    if (result == StatusAnswer) {
        quint16 number = 0;
        for (int step = 0; step < MaxRetrievalSteps; ++step) {
            quint16 next = 0;
            quint16 type = 0;
            if (findNextParameter(skip, address, number, next, type) != StatusAnswer)
                break;
            // A number that does not go up would make the walk go round for ever.
            if (next == 0 || next <= number)
                break;
            emit parameterFound(skip, address, next, type, 0);
            number = next;
        }
    }

    log(general::CHORUS, QStringLiteral("Done with parameter list retrieval ") + where, general::INFO);
}

void VxNetwork::rdmSearchAll()
{
    if (m_rdmSearch)
        general::TaskScheduler::instance()->addTask(m_rdmSearch);
}

void VxNetwork::DMX_sendSetpoint()
{
    if (!dongle())
        return;
    // The frame announces itself, so that transactions of other threads
    // let it have the bus next.
    ++m_framesWaiting;
    lockBus(false);
    {
        std::lock_guard<std::mutex> gate(m_frameGateMutex);
        --m_framesWaiting;
    }
    m_framesGone.notify_all();
    sendFrame();
    unlockBus();
}

void VxNetwork::sendFrame()
{
    const dmx::DMXSetpoint* universe0 = getSetpoint(0);
    if (!universe0)
        return;
    // The whole frame goes out with the channel count it started with.
    const int channelCount = universe0->channelCount();
    const int lastBlock = dmx::DMXSetpointBlock::lastBlock(channelCount);
    for (int block = 1; block <= lastBlock; ++block) {
        dmx::DMXSetpointBlock::build(*universe0, channelCount, block, request);
        exchange(dmx::DMXSetpointBlock::PacketLength);
    }
    dmx::DMXSetpointBlock::build(*universe0, channelCount, 0, request);
    exchange(dmx::DMXSetpointBlock::PacketLength);
}

void VxNetwork::init()
{
    if (m_initialized.exchange(true)) {
        emit networkInitialized();
        return;
    }
    dmx::DMXNetwork::init();
    std::printf("Vx Network init %s\n", qPrintable(general::threadName(QThread::currentThread())));
    std::fflush(stdout);

    m_broadcastDevice = qobject_cast<VxDevice*>(createDevice(0, QStringLiteral("Broadcast Device")));
    createBreakLengthParameters();
    m_rdmSearch = new RDMBinSearch(QStringLiteral("RDM Search all"), this);
    emit networkInitialized();
}

void VxNetwork::createBreakLengthParameters()
{
    general::ParameterGroup* parameters = group(QStringLiteral("Parameters"));
    const QString chorusText = QStringLiteral("Break length for Chorus messages (in multiples of 666 us)");
    struct Definition {
        uint number;
        QString name;
        QString description;
        general::Parameter** member;
    };
    const Definition definitions[] = {
        {DmxBreakLengthParameter, QStringLiteral("DMX break length"),
         QStringLiteral("Break length for DMX packages (in multiples of 666 us)"), &m_dmxBreakLength},
        {ChorusBreakLengthParameter, QStringLiteral("Chorus command/reply break length"), chorusText,
         &m_chorusBreakLength},
        {RdmBreakLengthParameter, QStringLiteral("RDM command/reply break length"), chorusText, &m_rdmBreakLength},
    };
    for (const Definition& definition : definitions) {
        auto* param = new general::Parameter(this, definition.number, definition.name, definition.description, -1,
                                             -1, -1, false, false, general::Parameter::ScaledMultiply,
                                             0.6666666666666666);
        param->setAutoUpdateCheckable(false);
        parameters->addChild(param, true);
        *definition.member = param;
    }
}

uint VxNetwork::downloadParameter(general::Parameter* param, bool& ok)
{
    if (param && param->number() < 10000) {
        usb::USBDongle* target = dongle();
        if (!target) {
            ok = false;
            return 0;
        }
        return target->downloadParameter(param, ok);
    }
    return dmx::DMXNetwork::downloadParameter(param, ok);
}

void VxNetwork::uploadParameter(general::Parameter* param, bool& ok)
{
    if (param && param->number() < 10000) {
        usb::USBDongle* target = dongle();
        if (!target) {
            ok = false;
            return;
        }
        target->uploadParameter(param, ok);
        return;
    }
    dmx::DMXNetwork::uploadParameter(param, ok);
}

general::Device* VxNetwork::createDevice(uint address, const QString& name)
{
    VxDevice* device = makeDevice(address, name);
    attachDevice(device);
    return device;
}

VxDevice* VxNetwork::makeDevice(uint address, const QString& name)
{
    auto* device = new VxDevice(this, address, name);
    device->buildGroups();
    return device;
}

void VxNetwork::attachDevice(VxDevice* device)
{
    if (!device)
        return;
    addDevice(device);
    emit deviceFound(device);
}

void VxNetwork::removeVxDevice(VxDevice* device)
{
    if (!device)
        return;
    if (QThread::currentThread() != thread()) {
        QPointer<VxDevice> guarded(device);
        QMetaObject::invokeMethod(
            this, [this, guarded] { removeVxDevice(guarded.data()); }, Qt::QueuedConnection);
        return;
    }
    if (indexOfChild(device) >= 0) {
        removeDevice(device);
        return;
    }
    // A daisy-chain cell hangs below the device it stands behind.
    if (!device->parentNode() || device->network() != this)
        return;
    device->retire();
    emit deviceRemoved(device);
}

QString VxNetwork::toString() const
{
    return QStringLiteral("VxNetwork (%1)").arg(id());
}

void VxNetwork::populateMenu(general::MenuBuilder& menu)
{
    dmx::DMXNetwork::populateMenu(menu);
    menu.addSeparator();
    if (m_rdmSearch)
        menu.addTask(m_rdmSearch);
    auto* chorusSearch = new CHBinSearch(QStringLiteral("Chorus Search all"), this);
    chorusSearch->setParent(menu.owner());
    menu.addTask(chorusSearch);
}

void VxNetwork::dongleAttached()
{
    emit networkConnected();
}

void VxNetwork::dongleDetached()
{
    emit networkDisconnected();
}

void VxNetwork::deviceOnConnect(general::Device*)
{
}

} // namespace halvorn::vx
