#pragma once

#include "usb/usbbackend.h"
#include "usb/usbdongle.h"

#include <QList>
#include <QMap>
#include <QPointer>
#include <QThread>

#include <functional>
#include <memory>
#include <mutex>

class QTimer;

namespace halvorn::general {
class TreeNode;
}

namespace halvorn::usb {

class USBDongle;
class USBHandler;

// The process-wide owner of dongle access: a thread of its own (named "USB"
// in the log) that creates the USBHandler, polls the USB bus every 2000 ms
// (postponed while exchanges succeed, so enumeration never competes with
// traffic) and turns the handler's index events into USBDongle objects.
//
// There is one USBDongle per dongle index for the manager's whole life: a
// dongle that comes back under an index it had before is the same object,
// with its networks and devices, re-enabled and announced again.
//
// The manager object lives in its own thread (start() moves it there), so
// its slots run there; dongleConnect/dongleDisconnect reach the GUI through
// queued connections. Shut down with stop() (or shutdownInstance()), which
// never lets the manager be deleted while its thread runs.
class USBDongleManager : public QThread
{
    Q_OBJECT

public:
    using BackendFactory = std::function<std::shared_ptr<UsbBackend>()>;

    static constexpr int ShutdownWaitMs = 20000;
    // After the shut-down wait: time given to a thread whose exchanges have
    // been aborted before it is terminated.
    static constexpr int AbortGraceMs = 2000;

    // `factory` makes the USB backend when the thread starts; without one
    // the manager uses libusb.
    explicit USBDongleManager(BackendFactory factory = {}, QObject* parent = nullptr);
    ~USBDongleManager() override;

    // The process-wide manager, created on first use with the backend
    // factory set by setBackendFactory() (libusb by default).
    static USBDongleManager* instance();
    static void setBackendFactory(BackendFactory factory);
    // The application's shut-down step: stop(waitMs) on the instance, then
    // delete it, or leave it (leaked) when its thread could not be ended.
    // Returns whether the manager was deleted.
    static bool shutdownInstance(int waitMs = ShutdownWaitMs);

    // Stores the node under which dongles are placed and starts the thread
    // with the calling thread's priority.
    void start(general::TreeNode* dongleParent);
    // Asks the event loop to quit and waits up to `waitMs`. A thread still
    // running then has every USB exchange aborted and AbortGraceMs to end;
    // as a last resort it is terminated. True when the thread ended by
    // itself (the manager may then be deleted); false otherwise, and the
    // manager must be leaked.
    bool stop(int waitMs = ShutdownWaitMs);

    // Null until the thread has created it.
    std::shared_ptr<USBHandler> handler() const;
    USBDongle* dongle(int dongleIndex) const;
    // Every dongle ever seen, in index order.
    QList<USBDongle*> dongles() const;

Q_SIGNALS:
    void dongleConnect(halvorn::usb::USBDongle* dongle);
    void dongleDisconnect(halvorn::usb::USBDongle* dongle);
    // Makes the handler poll the bus at once.
    void triggerDeviceCheck();

public Q_SLOTS:
    void dongleConnected(int dongleIndex);
    void dongleDisconnected(int dongleIndex);

protected:
    void run() override;

private Q_SLOTS:
    void OnPollTimer();

private:
    const BackendFactory m_factory;
    general::TreeNode* m_dongleParent = nullptr;
    QTimer* m_pollTimer = nullptr; // lives in the manager's thread while it runs
    mutable std::mutex m_mutex;
    std::shared_ptr<USBHandler> m_handler; // guarded by m_mutex
    QMap<int, QPointer<USBDongle>> m_dongles; // guarded by m_mutex
};

} // namespace halvorn::usb
