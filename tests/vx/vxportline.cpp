#include "tests/vx/vxportline.h"

#include "general/treenode.h"
#include "sim/simdongle.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "usb/usbhandler.h"
#include "vx/vxnetwork.h"

#include <QMutexLocker>
#include <QSignalSpy>
#include <QTest>

#include <chrono>

using namespace halvorn;

namespace {

constexpr int SilentTransferWaitMs = 20;
constexpr unsigned char OutEndpoint = 0x01;
constexpr unsigned char SetpointCode = 0x03;

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

RecordingBackend::RecordingBackend(std::shared_ptr<sim::VirtualPortline> portline)
    : m_portline(std::move(portline))
{
    m_frameTimes.reserve(1 << 16);
    m_frameStartTimes.reserve(1 << 16);
}

void RecordingBackend::setRecordPackets(bool record)
{
    QMutexLocker lock(&m_mutex);
    m_recordPackets = record;
}

QList<QByteArray> RecordingBackend::requests(int code) const
{
    QMutexLocker lock(&m_mutex);
    QList<QByteArray> matching;
    for (const QByteArray& request : m_requests) {
        if (!request.isEmpty() && (code == AnyCode || quint8(request[0]) == code))
            matching.append(request);
    }
    return matching;
}

std::vector<qint64> RecordingBackend::frameTimes() const
{
    QMutexLocker lock(&m_mutex);
    return m_frameTimes;
}

std::vector<qint64> RecordingBackend::frameStartTimes() const
{
    QMutexLocker lock(&m_mutex);
    return m_frameStartTimes;
}

int RecordingBackend::frameCount() const
{
    QMutexLocker lock(&m_mutex);
    return int(m_frameTimes.size());
}

void RecordingBackend::clear()
{
    QMutexLocker lock(&m_mutex);
    m_requests.clear();
    m_frameTimes.clear();
    m_frameStartTimes.clear();
}

void RecordingBackend::setReplyRewriter(std::function<QByteArray(const QByteArray&)> rewriter)
{
    QMutexLocker lock(&m_mutex);
    m_rewriter = std::move(rewriter);
}

bool RecordingBackend::isLastBlockOfFrame(int channelCount, int blockNibble)
{
    // Block 0 comes last. Its high nibble is 0, or 1 with Chorus output on:
    // then it is the packet after the last numbered block (or the only one).
    const int lastNumbered = channelCount > 60 ? channelCount / 60 : 0;
    bool last = blockNibble == 0;
    if (blockNibble == 1)
        last = lastNumbered == 0 || m_previousBlock == lastNumbered;
    m_previousBlock = last ? 0 : blockNibble;
    return last;
}

int RecordingBackend::getDeviceList(QList<usb::UsbDevice>& devices)
{
    return m_portline->getDeviceList(devices);
}

void RecordingBackend::freeDeviceList(QList<usb::UsbDevice>& devices)
{
    m_portline->freeDeviceList(devices);
}

int RecordingBackend::getDeviceDescriptor(usb::UsbDevice device, usb::UsbDeviceDescriptor& descriptor)
{
    return m_portline->getDeviceDescriptor(device, descriptor);
}

int RecordingBackend::open(usb::UsbDevice device, usb::UsbHandle& handle)
{
    return m_portline->open(device, handle);
}

void RecordingBackend::close(usb::UsbHandle handle)
{
    m_portline->close(handle);
}

usb::UsbDevice RecordingBackend::deviceOf(usb::UsbHandle handle)
{
    return m_portline->deviceOf(handle);
}

int RecordingBackend::claimInterface(usb::UsbHandle handle, int interfaceNumber)
{
    return m_portline->claimInterface(handle, interfaceNumber);
}

int RecordingBackend::releaseInterface(usb::UsbHandle handle, int interfaceNumber)
{
    return m_portline->releaseInterface(handle, interfaceNumber);
}

int RecordingBackend::resetDevice(usb::UsbHandle handle)
{
    return m_portline->resetDevice(handle);
}

int RecordingBackend::bulkTransfer(usb::UsbHandle handle, unsigned char endpoint, unsigned char* data,
                                   int length, int* transferred, unsigned int timeoutMs)
{
    if (endpoint == OutEndpoint && length > 0) {
        QMutexLocker lock(&m_mutex);
        if (data[0] == SetpointCode && length > 2) {
            const qint64 now = nowNs();
            if (!m_inFrame)
                m_frameStartTimes.push_back(now);
            m_inFrame = true;
            if (isLastBlockOfFrame(data[1] | (data[2] & 0x0F) << 8, data[2] >> 4)) {
                m_frameTimes.push_back(now);
                m_inFrame = false;
            }
        }
        if (m_recordPackets)
            m_requests.append(QByteArray(reinterpret_cast<const char*>(data), length));
    }
    const int result = m_portline->bulkTransfer(handle, endpoint, data, length, transferred, timeoutMs);
    if (endpoint & 0x80) {
        std::function<QByteArray(const QByteArray&)> rewriter;
        {
            QMutexLocker lock(&m_mutex);
            rewriter = m_rewriter;
        }
        if (rewriter && result == usb::UsbSuccess) {
            const QByteArray rewritten = rewriter(QByteArray(reinterpret_cast<const char*>(data), *transferred));
            *transferred = int(qMin<qsizetype>(rewritten.size(), length));
            std::copy(rewritten.cbegin(), rewritten.cbegin() + *transferred, data);
        }
    }
    return result;
}

VxPortline::VxPortline()
{
    m_portline = std::make_shared<sim::VirtualPortline>();
    m_portline->setTimeoutWaitMs(SilentTransferWaitMs);
    m_simDongle = m_portline->plug();
    m_recorder = std::make_shared<RecordingBackend>(m_portline);
    m_handler = std::make_shared<usb::USBHandler>(m_recorder);
    m_root = new general::TreeNode;
    m_root->setName(QStringLiteral("Root"));
}

VxPortline::~VxPortline()
{
    if (m_network) {
        m_network->stopDMXOutput();
        m_network->setDongle(nullptr);
    }
    if (m_dongle)
        m_dongle->shutdown();
    delete m_root;
    m_handler.reset();
    m_recorder.reset();
    m_portline.reset();
}

sim::SimDmxLine& VxPortline::line() const
{
    return m_simDongle->dmxLine();
}

bool VxPortline::start(int timeoutMs)
{
    QSignalSpy connected(m_handler.get(), &usb::USBHandler::dongleConnect);
    m_handler->checkForDevices();
    if (connected.count() != 1) {
        qWarning("VxPortline: the dongle could not be opened");
        return false;
    }
    const int index = connected.first().first().toInt();
    m_dongle = new usb::USBDongle(m_handler, index, m_root);
    m_dongle->setConnected();

    m_network = new vx::VxNetwork(m_dongle);
    QSignalSpy initialized(m_network, &general::Network::networkInitialized);
    m_dongle->addChild(m_network, false);
    m_network->emitNetworkCreated();
    if (!initialized.wait(timeoutMs) && initialized.isEmpty()) {
        qWarning("VxPortline: the network was not initialised within %d ms", timeoutMs);
        return false;
    }
    return true;
}
