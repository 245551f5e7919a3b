#include "vx/rdmbinsearch.h"

#include "general/log.h"
#include "vx/rdmdiscoveryresponse.h"
#include "vx/rdmpacket.h"
#include "vx/vxdevice.h"
#include "vx/vxnetwork.h"


namespace halvorn::vx {

namespace {

void logRdm(const QString& text, general::MessageType type)
{
    general::logToMain(general::RDM, text, type);
}

QString checksumText(const std::array<quint8, 4>& bytes)
{
    QString text;
    for (quint8 byte : bytes)
        text += QStringLiteral(" \"%1\"").arg(byte, 2, 16, QLatin1Char('0')).toUpper();
    return text;
}

} // namespace

RDMBinSearch::RDMBinSearch(const QString& name, VxNetwork* network)
    : general::BinSearch(name, 0, HighestUid, true)
    , m_network(network)
{
    setTarget(network);
}

QString RDMBinSearch::rangeLine(quint64 lower, quint64 upper, const QString& word)
{
    return QStringLiteral("Address range [") + RDMPacket::uidBytesText(lower) + QLatin1Char('-')
        + RDMPacket::uidBytesText(upper) + QStringLiteral("] - ") + word;
}

general::SearchNode* RDMBinSearch::singleReplyNode()
{
    m_shortcutNode = m_answeringNode;
    return m_answeringNode;
}

general::SearchNode* RDMBinSearch::nodeForUid(quint64 uid)
{
    general::SearchNode*& node = m_uidNodes[uid];
    if (!node)
        node = makeNode(uid, uid);
    return node;
}

void RDMBinSearch::prepare()
{
    m_nextLid = 0;
    RDMPacket::uidToBytes(low(), m_lowerUid.data());
    RDMPacket::uidToBytes(high(), m_upperUid.data());
    m_answeringNode = nullptr;
    m_shortcutNode = nullptr;
    m_remutes.clear();
    m_uidNodes.clear();
    m_nodeRecords.clear();
    m_progress = 0;
    m_uniqueBranchCount = 0;
    m_foundCount = 0;

    VxNetwork* net = m_network.data();
    if (!net)
        return;
    // The first device (the broadcast device) is never removed.
    for (int i = net->deviceCount() - 1; i >= 1; --i) {
        auto* device = qobject_cast<VxDevice*>(net->deviceAt(i));
        if (device && device->isDiscovered())
            net->removeVxDevice(device);
    }

    logRdm(QStringLiteral("Unmute all"), general::SEND);
    VxNetwork::BusLocker lock(net);
    net->rdmDiscUnMute(RDMPacket::BroadcastUid);
    net->sendInternalPacket();
    net->sendInternalPacket();
}

RDMBinSearch::BranchAnswer RDMBinSearch::askBranch(quint64 lower, quint64 upper)
{
    BranchAnswer outcome;
    VxNetwork* net = m_network.data();
    if (!net) {
        outcome.word = QStringLiteral("No reply");
        return outcome;
    }

    VxNetwork::BusLocker lock(net);
    net->rdmDiscUniqueBranch(lower, upper);
    net->sendInternalPacket();
    ++m_uniqueBranchCount;
    const int status = net->status();
    if (status == VxNetwork::StatusReceptionError) {
        outcome.result = MultipleReplies;
        outcome.word = QStringLiteral("Multiple");
        outcome.lineType = general::FAILURE;
        return outcome;
    }
    if (status != VxNetwork::StatusAnswer) {
        outcome.word = QStringLiteral("No reply");
        return outcome;
    }

    const RDMDiscoveryResponse::Result decoded = RDMDiscoveryResponse::decode(net->answer(), net->answerLength());
    lock.unlock();
    if (decoded.checksumCompared && traceEnabled()) {
        traceLine(QStringLiteral("Expected CS") + checksumText(decoded.expectedChecksum));
        traceLine(QStringLiteral("CS") + checksumText(decoded.receivedChecksum));
    }
    // A UID outside the range asked cannot have answered it: the bytes are
    // the product of a collision (or of a responder that answers anything).
    if (!decoded.uid || *decoded.uid < lower || *decoded.uid > upper) {
        outcome.result = MultipleReplies;
        outcome.word = QStringLiteral("Multiple (error)");
        outcome.lineType = general::FAILURE;
        return outcome;
    }
    outcome.decoded = true;
    outcome.uid = *decoded.uid;
    outcome.result = SingleReply;
    outcome.word = QStringLiteral("Single");
    outcome.lineType = general::REPLY;
    return outcome;
}

int RDMBinSearch::checkCondition(general::SearchNode* node)
{
    m_answeringNode = nullptr;
    RDMPacket::uidToBytes(node->low, m_lowerUid.data());
    RDMPacket::uidToBytes(node->high, m_upperUid.data());

    NodeRecord& record = m_nodeRecords[node];
    if (record.silenced) {
        logRdm(rangeLine(node->low, node->high, QStringLiteral("No reply")), general::NOREPLY);
        traceCheckCondition(node, NoReply);
        return NoReply;
    }

    BranchAnswer outcome = askBranch(node->low, node->high);
    if (outcome.decoded) {
        logRdm(QStringLiteral("Address found [") + RDMPacket::uidBytesText(outcome.uid) + QLatin1Char(']'),
               general::REPLY);
        if (m_remutes.value(outcome.uid, 0) >= MaxRemutes) {
            // Found, muted four times, still answering: it is left alone.
            outcome.result = NoReply;
            outcome.word = QStringLiteral("No reply");
            outcome.lineType = general::NOREPLY;
        } else if (!node->isSingle() && !answersAlone(outcome.uid)) {
            // Overlaid answers can make a clean answer of a UID that nobody
            // has (…01 and …02 give …00): it is a collision.
            logRdm(QStringLiteral("Address found [") + RDMPacket::uidBytesText(outcome.uid)
                       + QStringLiteral("] does not answer alone"),
                   general::WARN);
            outcome.result = MultipleReplies;
            outcome.word = QStringLiteral("Multiple (error)");
            outcome.lineType = general::FAILURE;
        } else {
            m_answeringNode = nodeForUid(outcome.uid);
        }
    }
    if (outcome.result != NoReply && noteAnswer(node)) {
        logRdm(rangeLine(node->low, node->high, QStringLiteral("keeps answering without a device to find; "
                                                               "taken as silent from now on")),
               general::WARN);
        outcome.result = NoReply;
        outcome.word = QStringLiteral("No reply");
        outcome.lineType = general::NOREPLY;
        m_answeringNode = nullptr;
    }

    logRdm(rangeLine(node->low, node->high, outcome.word), outcome.lineType);
    traceCheckCondition(node, outcome.result);
    return outcome.result;
}

bool RDMBinSearch::answersAlone(quint64 uid)
{
    const BranchAnswer alone = askBranch(uid, uid);
    return alone.decoded && alone.uid == uid;
}

bool RDMBinSearch::noteAnswer(general::SearchNode* node)
{
    NodeRecord& record = m_nodeRecords[node];
    if (record.progressAtLastAnswer == m_progress)
        ++record.stuckAnswers;
    else
        record.stuckAnswers = 0;
    record.progressAtLastAnswer = m_progress;
    if (record.stuckAnswers >= StuckAnswerLimit)
        record.silenced = true;
    return record.silenced;
}

bool RDMBinSearch::verify(general::SearchNode* node)
{
    traceVerify(node);
    logRdm(rangeLine(node->low, node->high, QStringLiteral("Verify")), general::SEND);

    const bool namedByAnswer = node == m_shortcutNode;
    m_shortcutNode = nullptr;
    const quint64 uid = node->low;
    if (!namedByAnswer) {
        const BranchAnswer outcome = askBranch(uid, uid);
        logRdm(rangeLine(uid, uid, outcome.word), outcome.lineType);
        if (!outcome.decoded || outcome.uid != uid)
            return false;
    }
    if (m_remutes.contains(uid)) {
        remute(uid);
        return false;
    }
    return true;
}

bool RDMBinSearch::remute(quint64 uid)
{
    int& sent = m_remutes[uid];
    if (sent >= MaxRemutes)
        return false;
    ++sent;
    logRdm(rangeLine(uid, uid, QStringLiteral("Mute")), general::SEND);
    sendDiscMute(uid);
    return true;
}

void RDMBinSearch::mute(general::SearchNode* node)
{
    traceMute(node);
    RDMPacket::uidToBytes(node->low, m_lowerUid.data());
    RDMPacket::uidToBytes(node->high, m_upperUid.data());
    logRdm(rangeLine(node->low, node->high, QStringLiteral("Mute")), general::SEND);

    const quint64 uid = node->low;
    sendDiscMute(uid);
    m_remutes.insert(uid, 0);
    ++m_progress;

    VxNetwork* net = m_network.data();
    if (!net)
        return;
    VxDevice* device = net->makeDevice(0, QStringLiteral("name"));
    device->setUid(uid);
    device->setDiscovered(true);
    device->setName(RDMPacket::uidName(uid));
    net->attachDevice(device);
    ++m_foundCount;

    const quint16 lid = ++m_nextLid;
    assignLid(uid, lid);
    device->setLid(lid);
}

void RDMBinSearch::sendDiscMute(quint64 uid)
{
    VxNetwork* net = m_network.data();
    if (!net)
        return;
    VxNetwork::BusLocker lock(net);
    net->rdmDiscMute(uid);
    net->sendInternalPacket();
}

void RDMBinSearch::assignLid(quint64 uid, quint16 lid)
{
    VxNetwork* net = m_network.data();
    if (!net)
        return;
    const char data[4] = {char(LidParameterNumber >> 8), char(LidParameterNumber & 0xFF), char(lid >> 8),
                          char(lid & 0xFF)};
    VxNetwork::BusLocker lock(net);
    net->rdmRequest(uid, RDMPacket::SetCommand, RDMPacket::DriverParameter, QByteArray(data, 4));
    net->sendInternalPacket();
}

} // namespace halvorn::vx
