#include "dali/dalinetworklogmessage.h"

#include "dali/dalicommands.h"

namespace halvorn::dali {

namespace {

constexpr int KindWidth = 8;
constexpr int BytesWidth = 8;
constexpr int AddressWidth = 10;
constexpr int NameWidth = 40;
// One unit of the dongle's answer delay, in microseconds.
constexpr int DelayUnitUs = 104;

QString hexByte(uint8_t value)
{
    return QStringLiteral("%1").arg(value, 2, 16, QLatin1Char('0')).toUpper();
}

QString decimalAndHex(uint8_t value)
{
    return QStringLiteral("%1 (%2)").arg(value).arg(hexByte(value));
}

} // namespace

DaliNetworkLogMessage::DaliNetworkLogMessage(general::MessageType type, QThread* thread)
    : LogMessage(general::DALI, type, thread)
{
}

DaliNetworkLogMessage* DaliNetworkLogMessage::forward(uint8_t address, uint8_t data, int deviceType,
                                                      QThread* thread)
{
    auto* message = new DaliNetworkLogMessage(general::SEND, thread);
    message->m_address = address;
    message->m_data = data;
    message->m_deviceType = deviceType;
    return message;
}

DaliNetworkLogMessage* DaliNetworkLogMessage::answer(uint8_t answer, uint8_t delay, QThread* thread)
{
    auto* message = new DaliNetworkLogMessage(general::REPLY, thread);
    message->m_answer = answer;
    message->m_delay = delay;
    return message;
}

DaliNetworkLogMessage* DaliNetworkLogMessage::noAnswer(QThread* thread)
{
    return new DaliNetworkLogMessage(general::NOREPLY, thread);
}

DaliNetworkLogMessage* DaliNetworkLogMessage::failure(QThread* thread)
{
    return new DaliNetworkLogMessage(general::FAILURE, thread);
}

QString DaliNetworkLogMessage::kindColumn() const
{
    switch (type()) {
    case general::SEND:
        return DaliCommands::isSpecial(m_address) ? QStringLiteral("SPECIAL")
                                                  : QStringLiteral("COMMAND");
    case general::REPLY:
        return QStringLiteral("ANSWER");
    default:
        return QString();
    }
}

QString DaliNetworkLogMessage::bytesColumn() const
{
    switch (type()) {
    case general::SEND:
        return hexByte(m_address) + QLatin1Char(' ') + hexByte(m_data);
    case general::REPLY:
        return hexByte(m_answer);
    default:
        return QString();
    }
}

QString DaliNetworkLogMessage::addressColumn() const
{
    if (type() != general::SEND)
        return QString();
    switch (DaliCommands::addressKind(m_address)) {
    case DaliAddressKind::Broadcast:
        return QStringLiteral("BROADCAST");
    case DaliAddressKind::Group:
        return QStringLiteral("GROUP%1").arg(DaliCommands::addressNumber(m_address) & 0x0F);
    case DaliAddressKind::Short:
        return QStringLiteral("SHORT%1").arg(DaliCommands::addressNumber(m_address));
    case DaliAddressKind::Special:
        break;
    }
    return QString();
}

QString DaliNetworkLogMessage::nameColumn() const
{
    if (type() == general::SEND) {
        if (DaliCommands::isArcPower(m_address))
            return QStringLiteral("ARC POWER");
        return DaliCommands::commandName(m_address, m_data, m_deviceType);
    }
    if (type() == general::REPLY && m_delay != 0)
        return QStringLiteral("(%1 ms)").arg(m_delay * DelayUnitUs / 1000.0, 0, 'f', 3);
    return QString();
}

QString DaliNetworkLogMessage::valueColumn() const
{
    switch (type()) {
    case general::NOREPLY:
        return QStringLiteral("No answer");
    case general::FAILURE:
        return QStringLiteral("Error");
    case general::REPLY:
        return decimalAndHex(m_answer);
    case general::SEND:
        if (DaliCommands::isSpecial(m_address) || DaliCommands::isArcPower(m_address))
            return decimalAndHex(m_data);
        return QString();
    default:
        return QString();
    }
}

QString DaliNetworkLogMessage::text() const
{
    QString line = kindColumn().leftJustified(KindWidth) + bytesColumn().leftJustified(BytesWidth)
        + addressColumn().leftJustified(AddressWidth);
    const QString value = valueColumn();
    if (value.isEmpty())
        return line + nameColumn();
    return line + nameColumn().leftJustified(NameWidth) + value;
}

QString DaliNetworkLogMessage::toolTip() const
{
    return QString();
}

} // namespace halvorn::dali
