#include "usb/usbdonglemanager.h"

#include "general/log.h"
#include "general/threadnames.h"
#include "usb/libusbbackend.h"
#include "usb/usbdongle.h"
#include "usb/usbhandler.h"

#include <QDeadlineTimer>
#include <QTimer>

#include <atomic>

namespace halvorn::usb {

namespace {

std::atomic<USBDongleManager*> s_instance{nullptr};
std::mutex s_instanceMutex;
USBDongleManager::BackendFactory s_factory; // guarded by s_instanceMutex

std::shared_ptr<UsbBackend> makeLibUsbBackend()
{
    auto backend = std::make_shared<LibUsbBackend>();
    if (!backend->isInitialized())
        general::logToMain(general::USB, QStringLiteral("USB: The USB library could not be initialised"),
                           general::ERROR);
    return backend;
}

} // namespace

USBDongleManager::USBDongleManager(BackendFactory factory, QObject* parent)
    : QThread(parent)
    , m_factory(factory ? std::move(factory) : BackendFactory(makeLibUsbBackend))
{
    setObjectName(QStringLiteral("USB"));
    general::setThreadName(this, QStringLiteral("USB"));
}

USBDongleManager::~USBDongleManager()
{
    // Owners stop the thread first (stop() or shutdownInstance()); this is
    // only the last line of defence against deleting a running thread.
    if (isRunning()) {
        quit();
        wait(ShutdownWaitMs);
    }

    std::shared_ptr<USBHandler> handler;
    QList<QPointer<USBDongle>> dongles;
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        handler = m_handler;
        dongles = m_dongles.values();
        m_dongles.clear();
    }
    if (handler)
        handler->disconnect(this);
    for (const QPointer<USBDongle>& dongle : std::as_const(dongles)) {
        if (dongle)
            dongle->shutdown();
    }
    // The dongles belong to the tree; they keep the handler alive for as
    // long as their networks may still call transfer().
}

USBDongleManager* USBDongleManager::instance()
{
    if (USBDongleManager* manager = s_instance.load())
        return manager;
    std::lock_guard<std::mutex> locker(s_instanceMutex);
    if (!s_instance.load())
        s_instance.store(new USBDongleManager(s_factory));
    return s_instance.load();
}

void USBDongleManager::setBackendFactory(BackendFactory factory)
{
    std::lock_guard<std::mutex> locker(s_instanceMutex);
    s_factory = std::move(factory);
}

bool USBDongleManager::shutdownInstance(int waitMs)
{
    USBDongleManager* manager;
    {
        std::lock_guard<std::mutex> locker(s_instanceMutex);
        manager = s_instance.exchange(nullptr);
    }
    if (!manager)
        return true;
    if (!manager->stop(waitMs)) {
        general::logToMain(general::USB,
                           QStringLiteral("USB: The dongle manager did not stop; it is left behind"),
                           general::ERROR);
        return false;
    }
    delete manager;
    return true;
}

void USBDongleManager::start(general::TreeNode* dongleParent)
{
    if (isRunning())
        return;
    m_dongleParent = dongleParent;
    moveToThread(this);
    QThread::start(QThread::InheritPriority);
}

bool USBDongleManager::stop(int waitMs)
{
    if (!isRunning())
        return true;
    quit();
    if (wait(QDeadlineTimer(waitMs)))
        return true;

    // Busy past the wait: end every blocking exchange and give the loop a
    // moment to notice the quit.
    if (std::shared_ptr<USBHandler> current = handler())
        current->abortExchanges();
    if (wait(QDeadlineTimer(AbortGraceMs)))
        return true;

    general::logToMain(general::USB, QStringLiteral("USB: Terminating the dongle manager's thread"),
                       general::ERROR);
    terminate();
    wait(QDeadlineTimer(AbortGraceMs));
    return false;
}

std::shared_ptr<USBHandler> USBDongleManager::handler() const
{
    std::lock_guard<std::mutex> locker(m_mutex);
    return m_handler;
}

USBDongle* USBDongleManager::dongle(int dongleIndex) const
{
    std::lock_guard<std::mutex> locker(m_mutex);
    return m_dongles.value(dongleIndex).data();
}

QList<USBDongle*> USBDongleManager::dongles() const
{
    std::lock_guard<std::mutex> locker(m_mutex);
    QList<USBDongle*> result;
    for (const QPointer<USBDongle>& dongle : m_dongles) {
        if (dongle)
            result.append(dongle.data());
    }
    return result;
}

void USBDongleManager::run()
{
    std::shared_ptr<UsbBackend> backend = m_factory();
    if (!backend)
        backend = makeLibUsbBackend();
    auto handler = std::make_shared<USBHandler>(std::move(backend));
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        m_handler = handler;
    }
    connect(handler.get(), &USBHandler::dongleConnect, this, &USBDongleManager::dongleConnected);
    connect(handler.get(), &USBHandler::dongleDisconnect, this, &USBDongleManager::dongleDisconnected);

    QTimer pollTimer;
    m_pollTimer = &pollTimer;
    connect(&pollTimer, &QTimer::timeout, this, &USBDongleManager::OnPollTimer);
    connect(this, &USBDongleManager::triggerDeviceCheck, handler.get(), &USBHandler::checkForDevices);
    connect(handler.get(), &USBHandler::restartTimer, &pollTimer, qOverload<int>(&QTimer::start));

    emit triggerDeviceCheck();
    pollTimer.start(USBHandler::PollIntervalMs);

    exec();

    // The timer dies with this frame; nothing may reach it any more.
    handler->disconnect(&pollTimer);
    disconnect(this, &USBDongleManager::triggerDeviceCheck, handler.get(), nullptr);
    m_pollTimer = nullptr;
}

void USBDongleManager::OnPollTimer()
{
    const std::shared_ptr<USBHandler> current = handler();
    if (!current || !m_pollTimer)
        return;
    // restartTimer() is throttled, so the timer may fire a little before
    // the last success is PollIntervalMs old: wait for the rest.
    const qint64 age = current->lastSuccessAgeMs();
    if (age >= 0 && age < USBHandler::PollIntervalMs) {
        m_pollTimer->start(int(USBHandler::PollIntervalMs - age));
        return;
    }
    if (m_pollTimer->interval() != USBHandler::PollIntervalMs)
        m_pollTimer->start(USBHandler::PollIntervalMs);
    current->checkForDevices();
}

void USBDongleManager::dongleConnected(int dongleIndex)
{
    USBDongle* dongle;
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        dongle = m_dongles.value(dongleIndex).data();
    }
    if (!dongle) {
        dongle = new USBDongle(handler(), dongleIndex, m_dongleParent);
        std::lock_guard<std::mutex> locker(m_mutex);
        m_dongles.insert(dongleIndex, dongle);
    }
    dongle->setConnected();
    emit dongleConnect(dongle);
}

void USBDongleManager::dongleDisconnected(int dongleIndex)
{
    USBDongle* dongle;
    {
        std::lock_guard<std::mutex> locker(m_mutex);
        dongle = m_dongles.value(dongleIndex).data();
    }
    if (!dongle)
        return;
    dongle->setDisconnected();
    emit dongleDisconnect(dongle);
}

} // namespace halvorn::usb
