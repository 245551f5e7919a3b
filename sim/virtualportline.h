#pragma once

#include "usb/usbbackend.h"

#include <QJsonObject>
#include <QList>
#include <QString>

#include <condition_variable>

#include <memory>
#include <mutex>
#include <vector>

namespace halvorn::sim {

class SimDongle;

// The virtual Portline: a USB bus with simulated Portline dongles on it,
// standing in for libusb under the USB handler.
//
// It behaves like libusb does with the real dongle: devices appear in the
// device list while plugged in; a handle stays valid until it is closed,
// but once its dongle is unplugged every call on it fails with
// UsbErrorNoDevice (a transfer waiting for a time-out ends at once); an
// OUT transfer hands the request to the dongle's firmware, the next IN
// transfer returns the firmware's reply (an overflow when the reply is
// longer than the buffer), and with no reply the IN times out.
//
// Timing: with a latency set, an IN completes that long after its OUT (the
// full-speed USB round trip is about 1 ms); by default there is none. A
// time-out blocks for the caller's time-out, or for at most
// setTimeoutWaitMs() so that tests of silent dongles stay fast.
//
// Faults are set per dongle (SimDongle::injectFault, setOpenResult,
// setClaimResult, setAnswersVersionRead). Plugging, unplugging and all
// backend calls may come from any thread.
class VirtualPortline : public usb::UsbBackend
{
public:
    VirtualPortline();
    ~VirtualPortline() override;

    VirtualPortline(const VirtualPortline&) = delete;
    VirtualPortline& operator=(const VirtualPortline&) = delete;

    // Plugs a dongle in (a new one with firmware version 5 and all
    // capabilities when none is given) and powers it up. Plugging a dongle
    // that was unplugged before brings the same dongle back as a new USB
    // device. Returns the dongle.
    std::shared_ptr<SimDongle> plug(std::shared_ptr<SimDongle> dongle = nullptr);
    // False when the dongle was not plugged in.
    bool unplug(const std::shared_ptr<SimDongle>& dongle);
    bool isPlugged(const std::shared_ptr<SimDongle>& dongle) const;
    QList<std::shared_ptr<SimDongle>> pluggedDongles() const;
    int openHandleCount() const;

    void setLatencyUs(int microseconds);
    int latencyUs() const;
    // −1: a time-out blocks for the caller's time-out.
    void setTimeoutWaitMs(int milliseconds);
    // Every device list takes this long (a busy bus, for shut-down tests).
    void setEnumerationDelayMs(int milliseconds);
    // How often the device list was fetched (each one is a poll of the bus).
    int enumerationCount() const;

    // The installation's key for setLatencyUs(), and its largest value.
    static inline const QString LatencyKey = QStringLiteral("usbLatencyUs");
    static constexpr int MaxInstallationLatencyUs = 100000;

    // Plugs in the dongles of an installation (see docs/simulator.md) and
    // sets its USB latency ("usbLatencyUs", when given).
    bool loadInstallation(const QJsonObject& installation, QString* error);
    // The installation of the dongles plugged in now.
    QJsonObject installation() const;
    // A portline with the installation of `path`, or the built-in one when
    // the path is empty; null with a message when the file is unusable.
    static std::shared_ptr<VirtualPortline> fromInstallationFile(const QString& path, QString* error);

    int getDeviceList(QList<usb::UsbDevice>& devices) override;
    void freeDeviceList(QList<usb::UsbDevice>& devices) override;
    int getDeviceDescriptor(usb::UsbDevice device, usb::UsbDeviceDescriptor& descriptor) override;
    int open(usb::UsbDevice device, usb::UsbHandle& handle) override;
    void close(usb::UsbHandle handle) override;
    usb::UsbDevice deviceOf(usb::UsbHandle handle) override;
    int claimInterface(usb::UsbHandle handle, int interfaceNumber) override;
    int releaseInterface(usb::UsbHandle handle, int interfaceNumber) override;
    int resetDevice(usb::UsbHandle handle) override;
    int bulkTransfer(usb::UsbHandle handle, unsigned char endpoint, unsigned char* data, int length,
                     int* transferred, unsigned int timeoutMs) override;

private:
    struct Device;
    struct Handle;

    int transferOut(Handle* handle, const std::shared_ptr<SimDongle>& dongle, unsigned char* data,
                    int length, int* transferred, unsigned int timeoutMs);
    int transferIn(Handle* handle, const std::shared_ptr<SimDongle>& dongle, unsigned char* data,
                   int length, int* transferred, unsigned int timeoutMs);
    // Blocks like a transfer that gets no answer; `lock` holds m_mutex.
    int waitForTimeoutLocked(std::unique_lock<std::mutex>& lock, const Device* device,
                             unsigned int timeoutMs);
    void unplugLocked(Device* device);
    Device* findDeviceLocked(usb::UsbDevice device) const;
    Handle* findHandleLocked(usb::UsbHandle handle) const;

    mutable std::mutex m_mutex;
    std::condition_variable m_unplugged;
    // Device records are never freed while the portline lives, so a
    // UsbDevice stays valid for as long as anyone may hold it.
    std::vector<std::unique_ptr<Device>> m_devices; // guarded by m_mutex
    std::vector<std::unique_ptr<Handle>> m_handles; // guarded by m_mutex
    int m_latencyUs = 0;                            // guarded by m_mutex
    int m_timeoutWaitMs = -1;                       // guarded by m_mutex
    int m_enumerationDelayMs = 0;                   // guarded by m_mutex
    int m_enumerationCount = 0;                     // guarded by m_mutex
};

} // namespace halvorn::sim
