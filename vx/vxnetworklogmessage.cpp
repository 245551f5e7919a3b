#include "vx/vxnetworklogmessage.h"

#include "vx/choruscommandtable.h"
#include "vx/chorusframe.h"
#include "vx/rdmpacket.h"

namespace halvorn::vx {

namespace {

// Pads `text` with spaces to `width`; a longer text is left as it is.
void appendPadded(QString& line, const QString& text, int width)
{
    line += text;
    for (qsizetype i = text.size(); i < width; ++i)
        line += QLatin1Char(' ');
}

QString hexDigits(const quint8* bytes, int length)
{
    static constexpr char kDigits[] = "0123456789ABCDEF";
    QString text;
    text.reserve(length * 3);
    for (int i = 0; i < length; ++i) {
        text += QLatin1Char(kDigits[bytes[i] >> 4]);
        text += QLatin1Char(kDigits[bytes[i] & 0x0F]);
        text += QLatin1Char(' ');
    }
    return text;
}

} // namespace

VxNetworkLogMessage::VxNetworkLogMessage(general::MessageClass msgClass, general::MessageType type,
                                         QThread* thread)
    : general::LogMessage(msgClass, type, thread)
{
    classify();
}

VxNetworkLogMessage::VxNetworkLogMessage(general::MessageClass msgClass, general::MessageType type,
                                         QThread* thread, const quint8* frame, int length)
    : general::LogMessage(msgClass, type, thread)
{
    if (frame && length > 0) {
        m_frameLength = quint8(qMin(length, MaxFrameLength));
        std::copy(frame, frame + m_frameLength, m_frame.begin());
    }
    classify();
}

QByteArray VxNetworkLogMessage::frame() const
{
    return QByteArray(reinterpret_cast<const char*>(m_frame.data()), m_frameLength);
}

void VxNetworkLogMessage::classify()
{
    if (type() != general::FAILURE && m_frameLength > 0) {
        if (m_frame[0] == ChorusFrame::StartByte)
            classifyChorus();
        else if (m_frame[0] == RDMPacket::StartCode)
            classifyRdm();
    }
    composeTexts();
    m_classified = true;
}

void VxNetworkLogMessage::classifyChorus()
{
    m_protocol = ChorusProtocol;
    if (m_frameLength != ChorusFrame::Length) {
        setType(general::FAILURE);
        return;
    }
    const quint8 code = m_frame[1];
    if (ChorusFrame::isErrorReply(code))
        setType(general::WARN);
    else if ((code & 0x88) == 0x88)
        setType(general::REPLY);
    if (ChorusFrame::checksum(m_frame.data()) != m_frame[8])
        setType(general::ERRCS);
}

void VxNetworkLogMessage::classifyRdm()
{
    m_protocol = RdmProtocol;
    m_rdmKind = RdmOther;
    // Nothing can be read from a frame shorter than a header and a checksum.
    if (m_frameLength < RDMPacket::HeaderLength + RDMPacket::ChecksumLength) {
        setType(general::FAILURE);
        return;
    }
    const quint8 commandClass = m_frame[RDMPacket::CommandClassOffset];
    switch (commandClass) {
    case RDMPacket::DiscoveryCommand:
    case RDMPacket::DiscoveryCommandResponse:
        m_rdmKind = RdmDisc;
        break;
    case RDMPacket::GetCommand:
    case RDMPacket::GetCommandResponse:
        m_rdmKind = RdmGet;
        break;
    case RDMPacket::SetCommand:
    case RDMPacket::SetCommandResponse:
        m_rdmKind = RdmSet;
        break;
    default:
        break;
    }
    if (commandClass & 0x01)
        setType(general::REPLY);
    const int summed = m_frameLength - RDMPacket::ChecksumLength;
    const quint16 sum = RDMPacket::checksum(m_frame.data(), summed);
    if (m_frame[size_t(summed)] != quint8(sum >> 8) || m_frame[size_t(summed) + 1] != quint8(sum & 0xFF))
        setType(general::ERRCS);
}

void VxNetworkLogMessage::composeTexts()
{
    m_hexText = hexDigits(m_frame.data(), m_frameLength);
    if (m_protocol == RdmProtocol) {
        static const QString kKinds[] = {QStringLiteral("DISC"), QStringLiteral("GET"), QStringLiteral("SET")};
        m_protocolText = QStringLiteral("RDM ");
        if (m_rdmKind <= RdmSet)
            m_protocolText += kKinds[m_rdmKind];
        return;
    }
    if (m_protocol != ChorusProtocol)
        return;

    m_protocolText = QStringLiteral("CHORUS");
    if (m_frameLength >= 2)
        m_commandText = ChorusCommandTable::name(m_frame[1]);
    if (m_frameLength >= 4) {
        const quint16 address = quint16(m_frame[2] | (m_frame[3] << 8));
        if (address == 0)
            m_addressText = QStringLiteral("BROADCAST");
        else if (ChorusFrame::isSkipCode(m_frame[1]))
            m_addressText = QStringLiteral("SKIP %1").arg(m_frame[2]);
        else
            m_addressText = QString::number(address);
    }
}

QString VxNetworkLogMessage::text() const
{
    QString line;
    line.reserve(96);
    appendPadded(line, m_protocolText, 8);
    appendPadded(line, m_hexText, 8);
    appendPadded(line, m_addressText, 10);
    switch (type()) {
    case general::NOREPLY:
        appendPadded(line, m_commandText, 40);
        line += QLatin1String("No answer");
        break;
    case general::FAILURE:
        appendPadded(line, m_commandText, 40);
        line += QLatin1String("Error");
        break;
    case general::ERRCS:
        appendPadded(line, m_commandText, 40);
        line += QLatin1String("Checksum error");
        break;
    default:
        line += m_commandText;
        break;
    }
    return line;
}

} // namespace halvorn::vx
