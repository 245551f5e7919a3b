#include "sim/simkeymarkport.h"

namespace halvorn::sim {

namespace {

constexpr quint8 ChorusStart = 0xD0;
constexpr quint8 ReadParameter = 0x0D;
constexpr quint8 WriteParameter = 0x0E;
constexpr int ChorusFrameLength = 9;

} // namespace

SimKeymarkPort::SimKeymarkPort() = default;

bool SimKeymarkPort::isKeymarkFrame(const QByteArray& frame)
{
    if (frame.size() < ChorusFrameLength || quint8(frame.at(0)) != ChorusStart)
        return false;
    const quint8 command = quint8(frame.at(1));
    if (command != ReadParameter && command != WriteParameter)
        return false;
    const int address = quint8(frame.at(2)) | quint8(frame.at(3)) << 8;
    const int parameter = quint8(frame.at(4)) | quint8(frame.at(5)) << 8;
    return address == 0 && parameter >= 0x0A00 && parameter <= 0x0BFF;
}

SimAnswer SimKeymarkPort::handleFrame(const QByteArray& frame)
{
    Q_UNUSED(frame);
    ++m_frameCount;
    m_lastMessageFailed = true;
    return SimAnswer::none();
}

bool SimKeymarkPort::load(const QJsonObject& section, QString* error)
{
    Q_UNUSED(section);
    Q_UNUSED(error);
    return true;
}

QJsonObject SimKeymarkPort::save() const
{
    return QJsonObject();
}

void SimKeymarkPort::powerUp()
{
    m_lastMessageFailed = false;
}

} // namespace halvorn::sim
