#include "sim/simdalibus.h"

#include <QJsonValue>

namespace halvorn::sim {

namespace {

constexpr quint8 ReceiverFinished = 0x04;

QByteArray bytes(std::initializer_list<quint8> values)
{
    QByteArray out;
    out.reserve(int(values.size()));
    for (quint8 value : values)
        out.append(char(value));
    return out;
}

} // namespace

SimDaliBus::SimDaliBus() = default;

QByteArray SimDaliBus::handle(const QByteArray& request)
{
    if (request.isEmpty())
        return {};
    switch (quint8(request.at(0))) {
    case 0x0A:
        return forwardFrame(request);
    case 0x0B:
        return backwardFrame();
    case 0x0C:
        return receiverStatus();
    default:
        return {};
    }
}

QByteArray SimDaliBus::forwardFrame(const QByteArray& request)
{
    if (request.size() < 4)
        return {}; // a frame without its data byte is not sent
    const quint8 address = quint8(request.at(2));
    const quint8 data = quint8(request.at(3));
    if (m_forwardFrames.size() >= MaxRecordedFrames)
        m_forwardFrames.removeFirst();
    m_forwardFrames.append(quint16(address << 8 | data));

    // Without bus voltage no gear can see the frame.
    m_pendingAnswer = isPowered() ? answerFor(address, data) : std::nullopt;
    m_counter = 0;
    return bytes({0x8A});
}

QByteArray SimDaliBus::receiverStatus()
{
    const bool finished = m_pendingAnswer.has_value();
    const quint8 status = finished ? ReceiverFinished : 0;
    m_counter = m_counter > 255 - CounterStep ? 255 : quint8(m_counter + CounterStep);
    return bytes({0x8C, status, m_counter});
}

QByteArray SimDaliBus::backwardFrame()
{
    const quint8 answer = m_pendingAnswer.value_or(0);
    const quint8 delay = m_pendingAnswer ? AnswerDelay : 0;
    return bytes({0x8B, 0x00, 0x00, answer, delay});
}

std::optional<quint8> SimDaliBus::answerFor(quint8 address, quint8 data)
{
    Q_UNUSED(address);
    Q_UNUSED(data);
    return std::nullopt;
}

bool SimDaliBus::load(const QJsonObject& section, QString* error)
{
    const QJsonValue powered = section.value(QStringLiteral("powered"));
    if (!powered.isUndefined() && !powered.isBool()) {
        if (error)
            *error = QStringLiteral("\"dali\": \"powered\" must be true or false");
        return false;
    }
    m_externalSupply = powered.toBool(false);
    return true;
}

QJsonObject SimDaliBus::save() const
{
    QJsonObject section;
    section.insert(QStringLiteral("powered"), m_externalSupply);
    return section;
}

void SimDaliBus::powerUp()
{
    m_donglePower = false;
    m_pendingAnswer.reset();
    m_counter = 255;
}

} // namespace halvorn::sim
