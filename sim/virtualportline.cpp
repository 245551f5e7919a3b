#include "sim/virtualportline.h"

#include "sim/siminstallation.h"
#include "sim/simdongle.h"

#include <QJsonValue>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <thread>

namespace halvorn::sim {

using namespace usb;

namespace {

constexpr unsigned char EndpointOut = 0x01;
constexpr unsigned char EndpointIn = 0x81;
constexpr quint8 GarbleMask = 0xA5;
constexpr char PaddingByte = char(0xEE);

qint64 nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Sleeps most of the way and spins the rest: a plain sleep overshoots by
// tens of microseconds, too much for a 1 ms round trip.
void waitUntilNs(qint64 deadlineNs)
{
    constexpr qint64 SpinNs = 200000;
    const qint64 remaining = deadlineNs - nowNs();
    if (remaining > SpinNs)
        std::this_thread::sleep_for(std::chrono::nanoseconds(remaining - SpinNs));
    while (nowNs() < deadlineNs) {
    }
}

int parameterOf(const unsigned char* data, int length)
{
    if (length < 3 || (data[0] != 0x0D && data[0] != 0x0E))
        return SimFault::AnyParameter;
    return data[1] << 8 | data[2];
}

void applyReplyFault(const SimFault& fault, QByteArray& bytes)
{
    if (fault.kind == SimFault::Resize) {
        const int oldSize = int(bytes.size());
        bytes.resize(std::max(fault.length, 0));
        if (bytes.size() > oldSize)
            std::fill(bytes.begin() + oldSize, bytes.end(), PaddingByte);
    } else if (fault.kind == SimFault::Garble) {
        for (char& byte : bytes)
            byte = char(quint8(byte) ^ GarbleMask);
    }
}

} // namespace

struct VirtualPortline::Device {
    std::shared_ptr<SimDongle> dongle;
    bool plugged = true;
};

struct VirtualPortline::Handle {
    Device* device = nullptr;
    bool claimed = false;
    // The firmware's reply waiting in the IN endpoint.
    bool hasReply = false;
    QByteArray reply;
    int requestCode = SimFault::AnyCode;
    int requestParameter = SimFault::AnyParameter;
    qint64 replyReadyNs = 0;
};

VirtualPortline::VirtualPortline() = default;

VirtualPortline::~VirtualPortline() = default;

std::shared_ptr<SimDongle> VirtualPortline::plug(std::shared_ptr<SimDongle> dongle)
{
    if (!dongle)
        dongle = std::make_shared<SimDongle>();
    std::unique_lock<std::mutex> locker(m_mutex);
    for (const auto& device : m_devices) {
        if (device->plugged && device->dongle == dongle)
            return dongle;
    }
    dongle->powerUp();
    auto device = std::make_unique<Device>();
    device->dongle = dongle;
    m_devices.push_back(std::move(device));
    return dongle;
}

bool VirtualPortline::unplug(const std::shared_ptr<SimDongle>& dongle)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    for (const auto& device : m_devices) {
        if (device->plugged && device->dongle == dongle) {
            unplugLocked(device.get());
            return true;
        }
    }
    return false;
}

void VirtualPortline::unplugLocked(Device* device)
{
    device->plugged = false;
    for (const auto& handle : m_handles) {
        if (handle->device == device) {
            handle->hasReply = false;
            handle->reply.clear();
        }
    }
    m_unplugged.notify_all();
}

bool VirtualPortline::isPlugged(const std::shared_ptr<SimDongle>& dongle) const
{
    std::unique_lock<std::mutex> locker(m_mutex);
    return std::any_of(m_devices.begin(), m_devices.end(), [&](const auto& device) {
        return device->plugged && device->dongle == dongle;
    });
}

QList<std::shared_ptr<SimDongle>> VirtualPortline::pluggedDongles() const
{
    std::unique_lock<std::mutex> locker(m_mutex);
    QList<std::shared_ptr<SimDongle>> dongles;
    for (const auto& device : m_devices) {
        if (device->plugged)
            dongles.append(device->dongle);
    }
    return dongles;
}

int VirtualPortline::openHandleCount() const
{
    std::unique_lock<std::mutex> locker(m_mutex);
    return int(m_handles.size());
}

void VirtualPortline::setLatencyUs(int microseconds)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    m_latencyUs = std::max(microseconds, 0);
}

int VirtualPortline::latencyUs() const
{
    std::unique_lock<std::mutex> locker(m_mutex);
    return m_latencyUs;
}

void VirtualPortline::setEnumerationDelayMs(int milliseconds)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    m_enumerationDelayMs = std::max(milliseconds, 0);
}

int VirtualPortline::enumerationCount() const
{
    std::unique_lock<std::mutex> locker(m_mutex);
    return m_enumerationCount;
}

void VirtualPortline::setTimeoutWaitMs(int milliseconds)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    m_timeoutWaitMs = milliseconds;
}

bool VirtualPortline::loadInstallation(const QJsonObject& installation, QString* error)
{
    // The USB round trip: with "realistic" DALI timing a bench needs the
    // real dongle's (about 1000 µs), or the tool's resends outrun the bus.
    const QJsonValue latency = installation.value(LatencyKey);
    if (!latency.isUndefined()
        && (!latency.isDouble() || latency.toDouble() < 0 || latency.toDouble() > MaxInstallationLatencyUs
            || latency.toDouble() != double(qint64(latency.toDouble())))) {
        if (error)
            *error = QStringLiteral("\"%1\" must be a number of microseconds from 0 to %2")
                         .arg(LatencyKey)
                         .arg(MaxInstallationLatencyUs);
        return false;
    }
    QList<std::shared_ptr<SimDongle>> dongles;
    if (!SimInstallation::parse(installation, dongles, error))
        return false;
    if (!latency.isUndefined())
        setLatencyUs(latency.toInt());
    for (const auto& dongle : std::as_const(dongles))
        plug(dongle);
    return true;
}

QJsonObject VirtualPortline::installation() const
{
    QJsonObject installation = SimInstallation::toJson(pluggedDongles());
    if (const int latency = latencyUs(); latency > 0)
        installation.insert(LatencyKey, latency);
    return installation;
}

std::shared_ptr<VirtualPortline> VirtualPortline::fromInstallationFile(const QString& path, QString* error)
{
    QJsonObject installation = SimInstallation::builtIn();
    if (!path.isEmpty() && !SimInstallation::readFile(path, installation, error))
        return nullptr;
    auto portline = std::make_shared<VirtualPortline>();
    if (!portline->loadInstallation(installation, error))
        return nullptr;
    return portline;
}

int VirtualPortline::getDeviceList(QList<UsbDevice>& devices)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    ++m_enumerationCount;
    if (m_enumerationDelayMs > 0) {
        // A slow bus: the wait is not cut short by unplugging.
        const int delayMs = m_enumerationDelayMs;
        locker.unlock();
        std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        locker.lock();
    }
    devices.clear();
    for (const auto& device : m_devices) {
        if (device->plugged)
            devices.append(device.get());
    }
    return int(devices.size());
}

void VirtualPortline::freeDeviceList(QList<UsbDevice>& devices)
{
    devices.clear();
}

int VirtualPortline::getDeviceDescriptor(UsbDevice device, UsbDeviceDescriptor& descriptor)
{
    std::shared_ptr<SimDongle> dongle;
    {
        std::unique_lock<std::mutex> locker(m_mutex);
        const Device* record = findDeviceLocked(device);
        if (!record)
            return UsbErrorInvalidParam;
        dongle = record->dongle;
    }
    descriptor.idVendor = dongle->vendorId();
    descriptor.idProduct = dongle->productId();
    descriptor.bcdDevice = quint16(dongle->firmwareVersion() << 8);
    return UsbSuccess;
}

int VirtualPortline::open(UsbDevice device, UsbHandle& handle)
{
    handle = nullptr;
    std::unique_lock<std::mutex> locker(m_mutex);
    Device* record = findDeviceLocked(device);
    if (!record)
        return UsbErrorInvalidParam;
    if (!record->plugged)
        return UsbErrorNoDevice;
    const int result = record->dongle->openResult();
    if (result != UsbSuccess)
        return result;
    auto opened = std::make_unique<Handle>();
    opened->device = record;
    handle = opened.get();
    m_handles.push_back(std::move(opened));
    return UsbSuccess;
}

void VirtualPortline::close(UsbHandle handle)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    const auto found = std::find_if(m_handles.begin(), m_handles.end(),
                                    [&](const auto& entry) { return entry.get() == handle; });
    if (found != m_handles.end())
        m_handles.erase(found);
}

UsbDevice VirtualPortline::deviceOf(UsbHandle handle)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    const Handle* record = findHandleLocked(handle);
    return record ? record->device : nullptr;
}

int VirtualPortline::claimInterface(UsbHandle handle, int interfaceNumber)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    Handle* record = findHandleLocked(handle);
    if (!record)
        return UsbErrorInvalidParam;
    if (!record->device->plugged)
        return UsbErrorNoDevice;
    if (interfaceNumber != 0)
        return UsbErrorNotFound;
    const int result = record->device->dongle->claimResult();
    if (result != UsbSuccess)
        return result;
    record->claimed = true;
    return UsbSuccess;
}

int VirtualPortline::releaseInterface(UsbHandle handle, int interfaceNumber)
{
    std::unique_lock<std::mutex> locker(m_mutex);
    Handle* record = findHandleLocked(handle);
    if (!record)
        return UsbErrorInvalidParam;
    if (!record->device->plugged)
        return UsbErrorNoDevice;
    if (interfaceNumber != 0 || !record->claimed)
        return UsbErrorNotFound;
    record->claimed = false;
    return UsbSuccess;
}

int VirtualPortline::resetDevice(UsbHandle handle)
{
    std::shared_ptr<SimDongle> dongle;
    {
        std::unique_lock<std::mutex> locker(m_mutex);
        Handle* record = findHandleLocked(handle);
        if (!record)
            return UsbErrorInvalidParam;
        if (!record->device->plugged)
            return UsbErrorNoDevice;
        record->hasReply = false;
        record->reply.clear();
        dongle = record->device->dongle;
    }
    dongle->powerUp();
    return UsbSuccess;
}

int VirtualPortline::bulkTransfer(UsbHandle handle, unsigned char endpoint, unsigned char* data,
                                  int length, int* transferred, unsigned int timeoutMs)
{
    if (transferred)
        *transferred = 0;
    if (length < 0 || (length > 0 && !data) || !transferred)
        return UsbErrorInvalidParam;

    Handle* record;
    std::shared_ptr<SimDongle> dongle;
    {
        std::unique_lock<std::mutex> locker(m_mutex);
        record = findHandleLocked(handle);
        if (!record)
            return UsbErrorInvalidParam;
        if (!record->device->plugged)
            return UsbErrorNoDevice;
        if (!record->claimed)
            return UsbErrorIo;
        dongle = record->device->dongle;
    }

    if (endpoint == EndpointOut)
        return transferOut(record, dongle, data, length, transferred, timeoutMs);
    if (endpoint == EndpointIn)
        return transferIn(record, dongle, data, length, transferred, timeoutMs);
    return UsbErrorNotFound;
}

int VirtualPortline::transferOut(Handle* handle, const std::shared_ptr<SimDongle>& dongle,
                                 unsigned char* data, int length, int* transferred,
                                 unsigned int timeoutMs)
{
    dongle->countTransfer(SimFault::Out);
    const int code = length > 0 ? data[0] : SimFault::AnyCode;
    const int parameter = parameterOf(data, length);
    QByteArray request(reinterpret_cast<const char*>(data), length);

    if (const auto fault = dongle->takeFault(SimFault::Out, code, parameter)) {
        std::unique_lock<std::mutex> locker(m_mutex);
        switch (fault->kind) {
        case SimFault::Timeout:
            handle->hasReply = false;
            return waitForTimeoutLocked(locker, handle->device, timeoutMs);
        case SimFault::Stall:
            handle->hasReply = false;
            return UsbErrorPipe;
        case SimFault::Unplug:
            unplugLocked(handle->device);
            return UsbErrorNoDevice;
        case SimFault::Error:
            handle->hasReply = false;
            return fault->result;
        case SimFault::Resize:
        case SimFault::Garble:
            applyReplyFault(*fault, request); // the firmware receives a damaged request
            break;
        }
    }

    const QByteArray reply = dongle->process(request);

    std::unique_lock<std::mutex> locker(m_mutex);
    if (!handle->device->plugged)
        return UsbErrorNoDevice;
    handle->hasReply = !reply.isEmpty();
    handle->reply = reply;
    handle->requestCode = code;
    handle->requestParameter = parameter;
    handle->replyReadyNs = nowNs() + qint64(m_latencyUs) * 1000;
    *transferred = length;
    return UsbSuccess;
}

int VirtualPortline::transferIn(Handle* handle, const std::shared_ptr<SimDongle>& dongle,
                                unsigned char* data, int length, int* transferred,
                                unsigned int timeoutMs)
{
    dongle->countTransfer(SimFault::In);
    int code;
    int parameter;
    {
        std::unique_lock<std::mutex> locker(m_mutex);
        code = handle->requestCode;
        parameter = handle->requestParameter;
    }
    const auto fault = dongle->takeFault(SimFault::In, code, parameter);

    QByteArray reply;
    qint64 readyNs;
    {
        std::unique_lock<std::mutex> locker(m_mutex);
        if (!handle->device->plugged)
            return UsbErrorNoDevice;
        const bool hasReply = handle->hasReply;
        reply = handle->reply;
        readyNs = handle->replyReadyNs;
        handle->hasReply = false;
        handle->reply.clear();

        if (fault && fault->kind == SimFault::Unplug) {
            unplugLocked(handle->device);
            return UsbErrorNoDevice;
        }
        if (fault && fault->kind == SimFault::Stall)
            return UsbErrorPipe;
        if (fault && fault->kind == SimFault::Error)
            return fault->result;
        if (!hasReply || (fault && fault->kind == SimFault::Timeout))
            return waitForTimeoutLocked(locker, handle->device, timeoutMs);
    }

    if (fault)
        applyReplyFault(*fault, reply);
    if (readyNs > nowNs()) {
        waitUntilNs(readyNs);
        std::unique_lock<std::mutex> locker(m_mutex);
        if (!handle->device->plugged)
            return UsbErrorNoDevice;
    }

    const int count = std::min(int(reply.size()), length);
    if (count > 0)
        std::memcpy(data, reply.constData(), size_t(count));
    *transferred = count;
    return reply.size() > length ? UsbErrorOverflow : UsbSuccess;
}

int VirtualPortline::waitForTimeoutLocked(std::unique_lock<std::mutex>& lock, const Device* device,
                                          unsigned int timeoutMs)
{
    const qint64 waitMs = m_timeoutWaitMs < 0 ? qint64(timeoutMs)
                                              : std::min<qint64>(timeoutMs, m_timeoutWaitMs);
    m_unplugged.wait_for(lock, std::chrono::milliseconds(waitMs), [device] { return !device->plugged; });
    return device->plugged ? UsbErrorTimeout : UsbErrorNoDevice;
}

VirtualPortline::Device* VirtualPortline::findDeviceLocked(UsbDevice device) const
{
    for (const auto& record : m_devices) {
        if (record.get() == device)
            return record.get();
    }
    return nullptr;
}

VirtualPortline::Handle* VirtualPortline::findHandleLocked(UsbHandle handle) const
{
    for (const auto& record : m_handles) {
        if (record.get() == handle)
            return record.get();
    }
    return nullptr;
}

} // namespace halvorn::sim
