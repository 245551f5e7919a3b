#include "usb/usbhandler.h"

#include "general/log.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>

namespace halvorn::usb {

using general::logToMain;

namespace {

struct ResultText {
    int result;
    const char* text;
};

constexpr ResultText ResultTexts[] = {
    {UsbErrorIo, "USB: Input/output error"},
    {UsbErrorInvalidParam, "USB: Invalid parameter"},
    {UsbErrorAccess, "USB: Access denied (insufficient permissions)"},
    {UsbErrorNoDevice, "USB: No such device (it may have been disconnected)"},
    {UsbErrorNotFound, "USB: Entity not found"},
    {UsbErrorBusy, "USB: Resource busy"},
    {UsbErrorTimeout, "USB: Operation timed out"},
    {UsbErrorOverflow, "USB: Overflow"},
    {UsbErrorPipe, "USB: Pipe error"},
    {UsbErrorInterrupted, "USB: System call interrupted (perhaps due to signal)"},
    {UsbErrorNoMem, "USB: Insufficient memory"},
    {UsbErrorNotSupported, "USB: Operation not supported or unimplemented on this platform"},
};

// Where a user without access rights finds the way out.
constexpr const char* AccessHint =
    "USB: To give the logged-in user access to the Portline, install the udev rule "
    "60-tivaro.rules (shipped in the package, or packaging/60-tivaro.rules in the sources) "
    "into /etc/udev/rules.d, run 'sudo udevadm control --reload-rules' and plug the dongle in again";

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

} // namespace

USBHandler::USBHandler(std::shared_ptr<UsbBackend> backend, QObject* parent)
    : QObject(parent)
    , m_backend(std::move(backend))
{
}

USBHandler::~USBHandler()
{
    // Handles still open belong to dongles the manager did not shut down
    // (a leaked manager, or a handler used on its own): close them quietly.
    std::lock_guard<std::mutex> locker(m_exchangeLock);
    for (UsbHandle handle : std::as_const(m_handles)) {
        m_backend->releaseInterface(handle, InterfaceNumber);
        m_backend->close(handle);
    }
    m_handles.clear();
}

QString USBHandler::resultMessage(int result)
{
    for (const ResultText& entry : ResultTexts) {
        if (entry.result == result)
            return QString::fromLatin1(entry.text);
    }
    return QString();
}

void USBHandler::transfer(int dongleIndex, const unsigned char* request, int requestLength,
                          unsigned char* reply, int* replyLength)
{
    if (!request || !reply || !replyLength || m_aborted.load())
        return;

    // Both directions go through buffers of the packet size, so neither a
    // caller's lengths nor a device that sends too much can reach past them.
    unsigned char out[MaxPacketLength] = {};
    const int outLength = std::clamp(requestLength, 0, MaxPacketLength);
    std::memcpy(out, request, size_t(outLength));
    unsigned char in[MaxPacketLength] = {};
    const int capacity = std::clamp(*replyLength, 0, MaxPacketLength);

    int closedIndex = -1;
    bool succeeded = false;
    {
        std::lock_guard<std::mutex> locker(m_exchangeLock);
        const auto found = m_handles.constFind(dongleIndex);
        if (found == m_handles.constEnd())
            return;
        UsbHandle handle = found.value();

        int written = 0;
        int result = m_backend->bulkTransfer(handle, EndpointOut, out, outLength, &written,
                                             TransferTimeoutMs);
        if (checkResult(dongleIndex, result, &closedIndex)) {
            int received = 0;
            result = m_backend->bulkTransfer(handle, EndpointIn, in, capacity, &received,
                                             TransferTimeoutMs);
            received = std::clamp(received, 0, capacity);
            std::memcpy(reply, in, size_t(received));
            *replyLength = received;
            succeeded = checkResult(dongleIndex, result, &closedIndex);
        }
    }

    if (closedIndex >= 0)
        emit dongleDisconnect(closedIndex);
    if (succeeded)
        noteSuccess();
}

void USBHandler::noteSuccess()
{
    const qint64 now = steadyNowNs();
    m_lastSuccessNs.store(now);
    const qint64 lastEmit = m_lastRestartEmitNs.load();
    if (lastEmit >= 0 && now - lastEmit < qint64(RestartTimerThrottleMs) * 1000000)
        return;
    m_lastRestartEmitNs.store(now);
    emit restartTimer(PollIntervalMs);
}

qint64 USBHandler::lastSuccessAgeMs() const
{
    const qint64 last = m_lastSuccessNs.load();
    if (last < 0)
        return -1;
    return (steadyNowNs() - last) / 1000000;
}

bool USBHandler::checkResult(int dongleIndex, int result, int* closedIndex)
{
    if (result == UsbSuccess) {
        m_failureCount.store(0);
        return true;
    }

    const QString message = resultMessage(result);
    if (!message.isEmpty())
        logToMain(general::USB, message, general::ERROR);

    if (dongleIndex == -1)
        return false;

    if (m_failureCount.fetch_add(1) + 1 < FailureLimit)
        return false;

    m_failureCount.store(0);
    logToMain(general::USB, QStringLiteral("USB: Resetting device"), general::ERROR);
    const auto found = m_handles.constFind(dongleIndex);
    if (found != m_handles.constEnd())
        m_backend->resetDevice(found.value());
    if (closeDeviceLocked(dongleIndex) && closedIndex)
        *closedIndex = dongleIndex;
    return false;
}

void USBHandler::checkForDevices()
{
    if (m_aborted.load())
        return;

    QList<UsbDevice> devices;
    if (m_backend->getDeviceList(devices) < 0) {
        logToMain(general::USB, QStringLiteral("Could not query USB device list"), general::ERROR);
        return;
    }

    QList<int> missing = openIndices();
    for (UsbDevice device : std::as_const(devices)) {
        UsbDeviceDescriptor descriptor;
        if (m_backend->getDeviceDescriptor(device, descriptor) != UsbSuccess)
            continue;
        if (descriptor.idVendor != VendorId || descriptor.idProduct != ProductId)
            continue;

        int index;
        {
            std::lock_guard<std::mutex> locker(m_exchangeLock);
            index = indexOfDeviceLocked(device);
        }
        if (index < 0)
            index = openDevice(device);
        if (index < 0) {
            logToMain(general::USB, QStringLiteral("USB: Could not open device"), general::ERROR);
            continue;
        }
        missing.removeAll(index);
    }

    for (int index : std::as_const(missing)) {
        bool closed;
        {
            std::lock_guard<std::mutex> locker(m_exchangeLock);
            if (!m_handles.contains(index))
                continue; // closed meanwhile by a failing exchange
            logToMain(general::USB, QStringLiteral("USB: Closing device."), general::INFO);
            closed = closeDeviceLocked(index);
        }
        if (closed)
            emit dongleDisconnect(index);
    }

    m_backend->freeDeviceList(devices);
}

int USBHandler::openDevice(UsbDevice device)
{
    UsbDeviceDescriptor descriptor;
    m_backend->getDeviceDescriptor(device, descriptor);
    logToMain(general::GENERAL,
              QStringLiteral("USB: Opening device using VID: %1 PID: %2")
                  .arg(descriptor.idVendor, 0, 16)
                  .arg(descriptor.idProduct, 0, 16),
              general::INFO);

    UsbHandle handle = nullptr;
    int result = m_backend->open(device, handle);
    if (result != UsbSuccess) {
        checkResult(-1, result, nullptr);
        if (result == UsbErrorAccess)
            logToMain(general::USB, QString::fromLatin1(AccessHint), general::INFO);
        return -1;
    }

    result = m_backend->claimInterface(handle, InterfaceNumber);
    if (result != UsbSuccess) {
        checkResult(-1, result, nullptr);
        if (result == UsbErrorAccess)
            logToMain(general::USB, QString::fromLatin1(AccessHint), general::INFO);
        m_backend->close(handle);
        return -1;
    }

    int index;
    {
        std::lock_guard<std::mutex> locker(m_exchangeLock);
        index = smallestFreeIndexLocked();
        m_handles.insert(index, handle);
    }
    logToMain(general::GENERAL, QStringLiteral("USB device connected (%1)").arg(index),
              general::INFO);
    emit dongleConnect(index);
    return index;
}

void USBHandler::closeDevice(int dongleIndex)
{
    bool closed;
    {
        std::lock_guard<std::mutex> locker(m_exchangeLock);
        closed = closeDeviceLocked(dongleIndex);
    }
    if (closed)
        emit dongleDisconnect(dongleIndex);
}

bool USBHandler::closeDeviceLocked(int dongleIndex)
{
    const auto found = m_handles.constFind(dongleIndex);
    if (found == m_handles.constEnd())
        return false;
    UsbHandle handle = found.value();
    logToMain(general::GENERAL, QStringLiteral("USB device disconnected (%1)").arg(dongleIndex),
              general::INFO);
    m_backend->releaseInterface(handle, InterfaceNumber);
    m_backend->close(handle);
    std::fputs("closing device\n", stdout);
    std::fflush(stdout);
    m_handles.remove(dongleIndex);
    return true;
}

void USBHandler::abortExchanges()
{
    m_aborted.store(true);
}

QList<int> USBHandler::openIndices() const
{
    std::lock_guard<std::mutex> locker(m_exchangeLock);
    return m_handles.keys();
}

bool USBHandler::isOpen(int dongleIndex) const
{
    std::lock_guard<std::mutex> locker(m_exchangeLock);
    return m_handles.contains(dongleIndex);
}

int USBHandler::indexOfDeviceLocked(UsbDevice device) const
{
    for (auto it = m_handles.constBegin(); it != m_handles.constEnd(); ++it) {
        if (m_backend->deviceOf(it.value()) == device)
            return it.key();
    }
    return -1;
}

int USBHandler::smallestFreeIndexLocked() const
{
    int index = 1;
    while (m_handles.contains(index))
        ++index;
    return index;
}

} // namespace halvorn::usb
