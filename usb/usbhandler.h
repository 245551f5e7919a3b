#pragma once

#include "usb/usbbackend.h"

#include <QList>
#include <QMap>
#include <QObject>

#include <atomic>
#include <memory>
#include <mutex>

namespace halvorn::usb {

// The packet transport to the Portline dongles: finds them on the USB bus,
// opens and closes them under small dongle indices (1, 2, …), and performs
// request/reply exchanges of packets of at most 64 bytes.
//
// All USB access goes through a UsbBackend (libusb for real dongles, the
// virtual Portline in tests and in --simulate), so every rule below is the
// same code whatever the bus:
// - A new dongle takes the smallest free index from 1 up.
// - One exchange lock makes each request/reply pair atomic across all
//   dongles; it also guards the handle table, so a handle is never closed
//   while an exchange uses it.
// - One failure counter for all dongles counts consecutive failed calls on
//   open dongles; the fourth resets and closes the dongle that failed. Open
//   and claim failures are logged but never counted.
// - Each direction waits at most 500 ms.
//
// The handler lives in the dongle manager's thread (checkForDevices runs
// there); transfer() and closeDevice() may be called from any thread. The
// three signals may be emitted on a caller's thread (a reset after failures
// closes the dongle there); they are never emitted with a lock held.
class USBHandler : public QObject
{
    Q_OBJECT

public:
    static constexpr quint16 VendorId = 0x04D8;
    static constexpr quint16 ProductId = 0xFF00;
    static constexpr int InterfaceNumber = 0;
    static constexpr unsigned char EndpointOut = 0x01;
    static constexpr unsigned char EndpointIn = 0x81;
    static constexpr unsigned int TransferTimeoutMs = 500;
    static constexpr int MaxPacketLength = 64;
    static constexpr int FailureLimit = 4;
    static constexpr int PollIntervalMs = 2000;
    // restartTimer() is emitted at most this often; the dongle manager checks
    // lastSuccessAgeMs() before it polls, so no poll ever comes earlier than
    // PollIntervalMs after the last successful exchange.
    static constexpr int RestartTimerThrottleMs = 100;

    explicit USBHandler(std::shared_ptr<UsbBackend> backend, QObject* parent = nullptr);
    ~USBHandler() override;

    // One exchange with the dongle of `dongleIndex`: sends requestLength
    // bytes of `request` (clamped to 0..64), then reads at most *replyLength
    // bytes (clamped to 0..64) into `reply` and stores the count received in
    // *replyLength. When the index is not open, or the OUT transfer fails,
    // `reply` and *replyLength are left as they are. Callable from any thread.
    void transfer(int dongleIndex, const unsigned char* request, int requestLength,
                  unsigned char* reply, int* replyLength);

    // Closes one dongle (nothing when the index is not open).
    void closeDevice(int dongleIndex);

    // Makes every later exchange and poll return at once without touching the
    // bus; an exchange in progress ends within its time-outs. Used at
    // shut-down so that threads blocked on the dongle end promptly.
    void abortExchanges();
    bool isAborted() const { return m_aborted.load(); }

    // Snapshots for status displays and tests.
    QList<int> openIndices() const;
    bool isOpen(int dongleIndex) const;
    int failureCount() const { return m_failureCount.load(); }
    // Milliseconds since the last successful exchange; −1 when there was none.
    qint64 lastSuccessAgeMs() const;

    // The error text logged for a library result; empty for 0 and for
    // results that have no message.
    static QString resultMessage(int result);

public Q_SLOTS:
    // One poll of the USB bus: opens new dongles, closes the ones that are gone.
    void checkForDevices();

Q_SIGNALS:
    void restartTimer(int restartValue);
    void dongleConnect(int dongleIndex);
    void dongleDisconnect(int dongleIndex);

private:
    // Logs and counts a library result. Index −1 marks an open or a claim,
    // which is logged but never counted. Must be called with m_exchangeLock
    // held when dongleIndex is not −1; a fourth failure resets and closes the
    // dongle and reports its index in *closedIndex.
    bool checkResult(int dongleIndex, int result, int* closedIndex);
    // Returns the new index or −1.
    int openDevice(UsbDevice device);
    // Table part of a close; m_exchangeLock must be held. True when closed.
    bool closeDeviceLocked(int dongleIndex);
    int indexOfDeviceLocked(UsbDevice device) const;
    int smallestFreeIndexLocked() const;
    void noteSuccess();

    const std::shared_ptr<UsbBackend> m_backend;
    mutable std::mutex m_exchangeLock;
    QMap<int, UsbHandle> m_handles;            // guarded by m_exchangeLock
    std::atomic<int> m_failureCount{0};        // changed under m_exchangeLock
    std::atomic<bool> m_aborted{false};
    std::atomic<qint64> m_lastSuccessNs{-1};   // steady clock
    std::atomic<qint64> m_lastRestartEmitNs{-1};
};

} // namespace halvorn::usb
