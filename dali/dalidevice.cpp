#include "dali/dalidevice.h"

#include "dali/dalinetwork.h"
#include "general/parameter.h"
#include "general/parameterdefinitionreader.h"

#include <QTextStream>

namespace halvorn::dali {

namespace {
const QString ConfigKey = QStringLiteral("DALI Device");
}

DaliDevice::DaliDevice(DaliNetwork* network, uint address, const QString& name)
    : general::Device(network, address, QStringLiteral("DaliDevice"))
    , m_daliNetwork(network)
{
    setName(name);
    setConfigKey(ConfigKey);
    DaliDevice::searchParameters();
}

uint8_t DaliDevice::arcPowerAddress() const
{
    const uint n = address();
    return n == BroadcastAddress ? uint8_t(BroadcastAddress) : uint8_t((n & 0x3F) << 1);
}

uint8_t DaliDevice::commandAddress() const
{
    const uint n = address();
    return n == BroadcastAddress ? uint8_t(BroadcastAddress) : uint8_t(((n & 0x3F) << 1) | 1);
}

void DaliDevice::printInfo()
{
    QTextStream out(stdout);
    out << ">> DaliDevice \"" << name() << "\"\n";
    out.flush();
}

void DaliDevice::searchParameters()
{
    general::ParameterDefinitionReader::readDevice(this, ConfigKey);
    emit parameterSearchFinished();
}

void DaliDevice::uploadParameter(general::Parameter* param, bool& ok)
{
    ok = false;
    if (!m_daliNetwork || !param)
        return;
    m_daliNetwork->writeParameter(arcPowerAddress(), param->number(), param->is8Bit(),
                                  uint(param->storedValue()));
    // A write is reported as done: most stores get no answer to confirm them.
    ok = true;
}

uint DaliDevice::downloadParameter(general::Parameter* param, bool& ok)
{
    ok = false;
    if (!m_daliNetwork || !param)
        return 0;
    return m_daliNetwork->readParameter(arcPowerAddress(), param->number(), param->is8Bit(), ok);
}

} // namespace halvorn::dali
