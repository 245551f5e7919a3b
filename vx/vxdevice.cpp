#include "vx/vxdevice.h"

#include "general/parameter.h"
#include "general/parametergroup.h"
#include "general/taskscheduler.h"
#include "vx/chdaisysearch.h"
#include "vx/rdmpacket.h"
#include "vx/vxnetwork.h"
#include "vx/vxparameter.h"

#include <QList>
#include <QSemaphore>
#include <QThread>

#include <memory>

namespace halvorn::vx {

namespace {

constexpr uint LastZeroToolNumber = 24575;
constexpr uint LastFailingNumber = 28671;

} // namespace

VxDevice::VxDevice(VxNetwork* network, uint address, const QString& name)
    : dmx::DMXDevice(network, address, name)
{
    setConfigKey(QStringLiteral("DMX Device"));
}

VxNetwork* VxDevice::vxNetwork() const
{
    return qobject_cast<VxNetwork*>(network());
}

general::Parameter* VxDevice::addToolParameter(uint number, const QString& name, int max, bool is8Bit)
{
    auto* param = new general::Parameter(this, number, name, QString(), 0, max, 0, is8Bit, false,
                                         general::Parameter::Decimal, 1.0);
    param->setAutoUpdateCheckable(false);
    general::Parameter* inTree = addParameter(m_toolGroup, param);
    if (inTree != param)
        delete param;
    inTree->update(true);
    return inTree;
}

void VxDevice::buildGroups()
{
    m_toolGroup = group(QStringLiteral("Tool parameters"));
    m_toolGroup->setAutoUpdateCheckable(false);
    m_velaGroup = group(QStringLiteral("VelaLogic parameters"));
    addToolParameter(SkipCountParameter, QStringLiteral("Skip count"), 255, true);
    addToolParameter(LidParameter, QStringLiteral("Chorus ID (LID)"), 65535, false);
    if (VxNetwork* net = vxNetwork())
        connect(net, &VxNetwork::parameterFound, this, &VxDevice::parameterFound, Qt::UniqueConnection);
}

void VxDevice::refreshToolParameter(uint number)
{
    if (!m_toolGroup)
        return;
    if (general::Parameter* param = m_toolGroup->findParameter(number))
        param->update(true);
}

void VxDevice::setSkipCount(quint16 skipCount)
{
    m_skipCount = skipCount;
    refreshToolParameter(SkipCountParameter);
}

void VxDevice::setLid(quint16 lid)
{
    setAddress(lid);
    refreshToolParameter(LidParameter);
}

std::array<quint8, 6> VxDevice::uidBytes() const
{
    std::array<quint8, 6> bytes{};
    RDMPacket::uidToBytes(uid(), bytes.data());
    return bytes;
}

void VxDevice::setUid(quint64 uid)
{
    m_uid = uid & RDMPacket::UidMask;
}

bool VxDevice::acceptsParameterResult(quint16 skip, quint16 address) const
{
    return skip == skipCount() && address == quint16(this->address());
}

void VxDevice::setStartAddress(quint16 startOffset)
{
    if (startOffset != 0)
        dmx::DMXDevice::setStartAddress(startOffset);
}

void VxDevice::setChannelCount(uint n)
{
    if (n != 0)
        dmx::DMXDevice::setChannelCount(n);
}

QString VxDevice::toString() const
{
    return QStringLiteral("VxDevice (%1)").arg(id());
}

void VxDevice::searchParameters()
{
    addParameters();
    if (VxNetwork* net = vxNetwork())
        net->retrieveParameterList(skipCount(), quint16(address()));
    waitForFoundParameters();
    emit parameterSearchFinished();
}

void VxDevice::waitForFoundParameters()
{
    // The retrieval reports each parameter through a queued call into this
    // device's thread, so that the parameter is created there. A marker
    // queued behind those calls tells when they have all been handled: the
    // search then ends with every parameter in the tree, and an update
    // started right after reads them. Bounded, in case the thread is gone.
    if (thread() == QThread::currentThread())
        return;
    auto handled = std::make_shared<QSemaphore>();
    QMetaObject::invokeMethod(this, [handled] { handled->release(); }, Qt::QueuedConnection);
    handled->tryAcquire(1, FoundParametersWaitMs);
}

uint VxDevice::downloadParameter(general::Parameter* param, bool& ok)
{
    ok = false;
    if (!param)
        return 0;
    const uint number = param->number();
    if (number <= LastDriverParameter) {
        VxNetwork* net = vxNetwork();
        quint16 value = 0;
        ok = net && net->readParameter(skipCount(), quint16(address()), quint16(number), value)
                == VxNetwork::StatusAnswer;
        return ok ? value : 0;
    }
    if (number > LastZeroToolNumber && number <= LastFailingNumber)
        return 0;
    ok = true;
    if (number == SkipCountParameter)
        return skipCount();
    if (number == LidParameter)
        return address();
    return 0;
}

void VxDevice::uploadParameter(general::Parameter* param, bool& ok)
{
    ok = false;
    if (!param)
        return;
    const uint number = param->number();
    const int value = param->storedValue();
    if (number <= LastDriverParameter) {
        VxNetwork* net = vxNetwork();
        if (!net || value < 0)
            return; // no network, or a value never set: nothing to write
        quint16 word = quint16(value);
        if (param->type() == general::Parameter::BooleanType)
            word = value != 0 ? 0xFFFF : 0;
        ok = net->writeParameter(skipCount(), quint16(address()), quint16(number), word)
            == VxNetwork::StatusAnswer;
        return;
    }
    ok = true;
    if (number == SkipCountParameter && value >= 0)
        m_skipCount = quint16(value);
    else if (number == LidParameter && value >= 0)
        setAddress(uint(value));
}

void VxDevice::parameterFound(unsigned short skpCount, unsigned short devIndex, unsigned short paramNum,
                              unsigned short paramType, unsigned short paramVal)
{
    if (!acceptsParameterResult(skpCount, devIndex) || !m_velaGroup)
        return;
    if (m_velaGroup->findParameter(paramNum))
        return;
    auto* param = new VxParameter(this, paramNum, paramType, paramVal);
    if (addParameter(m_velaGroup, param) != param)
        delete param;
}

void VxDevice::searchDaisyChildren()
{
    auto* task = new CHDaisySearch(QStringLiteral("Search daisy"), this, true);
    connect(task, &QObject::destroyed, this, &general::Device::daisySearchFinished);
    general::TaskScheduler::instance()->addTask(task);
}

void VxDevice::removeDaisyChildren()
{
    QList<dmx::DMXDevice*> chain;
    const int length = daisyChildCount();
    for (dmx::DMXDevice* next = outputDevice(); next && chain.size() < length; next = next->outputDevice())
        chain.append(next);
    VxNetwork* net = vxNetwork();
    if (!net)
        return;
    for (qsizetype i = chain.size() - 1; i >= 0; --i) {
        if (auto* vxDevice = qobject_cast<VxDevice*>(chain[i]))
            net->removeVxDevice(vxDevice);
        else
            net->removeDevice(chain[i]);
    }
}

void VxDevice::parameterChanged(general::Parameter*)
{
}

} // namespace halvorn::vx
