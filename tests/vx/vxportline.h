#pragma once

#include "usb/usbbackend.h"

#include <QByteArray>
#include <QList>
#include <QMutex>

#include <functional>
#include <memory>
#include <vector>

namespace halvorn::general {
class TreeNode;
}
namespace halvorn::sim {
class SimDongle;
class SimDmxLine;
class VirtualPortline;
} // namespace halvorn::sim
namespace halvorn::usb {
class USBDongle;
class USBHandler;
} // namespace halvorn::usb
namespace halvorn::vx {
class VxNetwork;
}

// Passes every call to the virtual Portline and keeps what the host sent:
// the request packets (when recording is on) and the time of every DMX
// set-point block 0 (the last packet of a frame), so that tests and
// benchmarks see the packets as the dongle received them.
class RecordingBackend : public halvorn::usb::UsbBackend
{
public:
    explicit RecordingBackend(std::shared_ptr<halvorn::sim::VirtualPortline> portline);

    // Off by default: a long run would keep every packet.
    void setRecordPackets(bool record);
    static constexpr int AnyCode = -1;
    // Requests sent with this command code (or all) since the last clear(),
    // in the order they were sent.
    QList<QByteArray> requests(int code) const;
    // Nanoseconds (steady clock) at which each frame's block 0 (its last
    // packet) went out, and at which its first packet went out.
    std::vector<qint64> frameTimes() const;
    std::vector<qint64> frameStartTimes() const;
    int frameCount() const;
    void clear();
    // Rewrites every reply the dongle sends back (what the host then reads
    // is the result, cut to the host's buffer); none by default.
    void setReplyRewriter(std::function<QByteArray(const QByteArray& reply)> rewriter);

    int getDeviceList(QList<halvorn::usb::UsbDevice>& devices) override;
    void freeDeviceList(QList<halvorn::usb::UsbDevice>& devices) override;
    int getDeviceDescriptor(halvorn::usb::UsbDevice device, halvorn::usb::UsbDeviceDescriptor& descriptor) override;
    int open(halvorn::usb::UsbDevice device, halvorn::usb::UsbHandle& handle) override;
    void close(halvorn::usb::UsbHandle handle) override;
    halvorn::usb::UsbDevice deviceOf(halvorn::usb::UsbHandle handle) override;
    int claimInterface(halvorn::usb::UsbHandle handle, int interfaceNumber) override;
    int releaseInterface(halvorn::usb::UsbHandle handle, int interfaceNumber) override;
    int resetDevice(halvorn::usb::UsbHandle handle) override;
    int bulkTransfer(halvorn::usb::UsbHandle handle, unsigned char endpoint, unsigned char* data, int length,
                     int* transferred, unsigned int timeoutMs) override;

private:
    // Follows the blocks of the frames as they go out; m_mutex held.
    bool isLastBlockOfFrame(int channelCount, int blockNibble);

    std::shared_ptr<halvorn::sim::VirtualPortline> m_portline;
    mutable QMutex m_mutex;
    int m_previousBlock = 0;           // guarded by m_mutex
    bool m_recordPackets = false;      // guarded by m_mutex
    QList<QByteArray> m_requests;      // guarded by m_mutex
    std::vector<qint64> m_frameTimes;  // guarded by m_mutex
    std::vector<qint64> m_frameStartTimes; // guarded by m_mutex
    bool m_inFrame = false;            // guarded by m_mutex
    std::function<QByteArray(const QByteArray&)> m_rewriter; // guarded by m_mutex
};

// A virtual Portline with one dongle whose DMX line is driven by a
// VxNetwork, built like the program builds it but without the dongle
// manager and without the other buses:
//
//   VxPortline portline;
//   portline.line().addDriver(sim::SimDriver::halvorn(...));
//   QVERIFY(portline.start());
//   portline.network()->readParameter(0, 1, 161, value);
//
// Silent transfers end after 20 ms. Use it from the test's main thread.
class VxPortline
{
public:
    VxPortline();
    ~VxPortline();

    VxPortline(const VxPortline&) = delete;
    VxPortline& operator=(const VxPortline&) = delete;

    // Opens the dongle and initialises the network; false when a step fails in time.
    bool start(int timeoutMs = 10000);

    halvorn::sim::VirtualPortline& portline() const { return *m_portline; }
    halvorn::sim::SimDongle& simDongle() const { return *m_simDongle; }
    // The dongle's DMX line; lock simDongle() while changing equipment after start().
    halvorn::sim::SimDmxLine& line() const;
    RecordingBackend& recorder() const { return *m_recorder; }
    halvorn::usb::USBDongle* dongle() const { return m_dongle; }
    halvorn::vx::VxNetwork* network() const { return m_network; }

private:
    std::shared_ptr<halvorn::sim::VirtualPortline> m_portline;
    std::shared_ptr<halvorn::sim::SimDongle> m_simDongle;
    std::shared_ptr<RecordingBackend> m_recorder;
    std::shared_ptr<halvorn::usb::USBHandler> m_handler;
    halvorn::general::TreeNode* m_root = nullptr;
    halvorn::usb::USBDongle* m_dongle = nullptr;
    halvorn::vx::VxNetwork* m_network = nullptr;
};
