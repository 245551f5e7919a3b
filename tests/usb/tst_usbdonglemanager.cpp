// The dongle manager: its thread and poll, one dongle object per index,
// plugging and unplugging, and a shut-down that never hangs.

#include "tests/support/logrecorder.h"

#include "general/network.h"
#include "general/parameter.h"
#include "general/treenode.h"
#include "sim/simdongle.h"
#include "sim/simfault.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "usb/usbdonglemanager.h"
#include "usb/usbhandler.h"
#include "usb/usbnetwork.h"

#include <QElapsedTimer>
#include <QPointer>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace halvorn;
using sim::SimFault;
using usb::USBDongle;
using usb::USBDongleManager;

Q_DECLARE_METATYPE(halvorn::usb::USBDongle*)

namespace {

// The manager's announcements, recorded in the test's thread: they are
// emitted in the manager's thread, where a QSignalSpy would race with the
// test reading it.
class Announcements : public QObject
{
public:
    explicit Announcements(USBDongleManager* manager)
    {
        connect(manager, &USBDongleManager::dongleConnect, this, [this](USBDongle* dongle) { connected.append(dongle); });
        connect(manager, &USBDongleManager::dongleDisconnect, this,
                [this](USBDongle* dongle) { disconnected.append(dongle); });
    }

    QList<USBDongle*> connected;
    QList<USBDongle*> disconnected;
};

// Initialises a dongle on this thread and waits for its networks, counted
// through queued calls (they report from their own threads).
bool initializeAndWait(USBDongle* dongle)
{
    const bool existed = dongle->vxNetwork() && dongle->daliNetwork() && dongle->keymarkNetwork();
    int created = 0;
    QObject context;
    for (auto signal : {&USBDongle::OnVxNetworkCreated, &USBDongle::OnDaliNetworkCreated, &USBDongle::OnKeymarkNetworkCreated})
        QObject::connect(dongle, signal, &context, [&created] { ++created; });
    dongle->initialize();
    return existed || QTest::qWaitFor([&created] { return created == 3; }, 10000);
}

} // namespace

class TestUsbDongleManager : public QObject
{
    Q_OBJECT

private:
    std::shared_ptr<sim::VirtualPortline> m_portline;
    general::TreeNode* m_root = nullptr;
    USBDongleManager* m_manager = nullptr;

    void startManager()
    {
        auto portline = m_portline;
        m_manager = new USBDongleManager([portline] { return portline; });
        m_manager->start(m_root);
        QVERIFY(QTest::qWaitFor([this] { return m_portline->enumerationCount() >= 1; }, 5000));
    }

private Q_SLOTS:
    void initTestCase()
    {
        qRegisterMetaType<USBDongle*>();
    }

    void init()
    {
        m_portline = std::make_shared<sim::VirtualPortline>();
        m_portline->setTimeoutWaitMs(20);
        m_root = new general::TreeNode;
    }

    void cleanup()
    {
        if (m_manager) {
            QVERIFY(m_manager->stop(5000));
            delete m_manager;
            m_manager = nullptr;
        }
        delete m_root;
        m_root = nullptr;
        m_portline.reset();
    }

    void noDongleMeansNoDongleObjectAndNoMessages()
    {
        LogRecorder log;
        startManager();
        m_manager->triggerDeviceCheck();
        QTRY_VERIFY_WITH_TIMEOUT(m_portline->enumerationCount() >= 2, 5000);
        QVERIFY(m_manager->dongles().isEmpty());
        QCOMPARE(m_root->childCount(), 0);
        QVERIFY2(log.entries().isEmpty(), qPrintable(log.texts().join(" | ")));
    }

    void plugUnplugAndReplugGiveTheSameDongle()
    {
        startManager();
        Announcements events(m_manager);
        LogRecorder log;

        auto sim = m_portline->plug();
        emit m_manager->triggerDeviceCheck();
        QTRY_COMPARE_WITH_TIMEOUT(events.connected.size(), 1, 5000);
        USBDongle* dongle = events.connected.at(0);
        QCOMPARE(dongle->dongleIndex(), 1);
        QCOMPARE(dongle->thread(), m_root->thread());
        QCOMPARE(dongle->parentNode(), m_root);
        QVERIFY(dongle->isEnabled() && dongle->isConnected());
        QCOMPARE(log.find("USB device connected (1)").threadName, QStringLiteral("USB"));
        QVERIFY(log.contains("USB: Opening device using VID: 4d8 PID: ff00"));
        QVERIFY(initializeAndWait(dongle));
        general::Network* vx = dongle->vxNetwork();

        m_portline->unplug(sim);
        emit m_manager->triggerDeviceCheck();
        QTRY_COMPARE_WITH_TIMEOUT(events.disconnected.size(), 1, 5000);
        QCOMPARE(events.disconnected.at(0), dongle);
        QVERIFY(!dongle->isEnabled() && !dongle->isConnected());
        QCOMPARE(dongle->parentNode(), m_root);
        QVERIFY(log.contains("USB: Closing device."));
        QVERIFY(log.contains("USB device disconnected (1)"));

        m_portline->plug(sim);
        emit m_manager->triggerDeviceCheck();
        QTRY_COMPARE_WITH_TIMEOUT(events.connected.size(), 2, 5000);
        QCOMPARE(events.connected.at(1), dongle);
        QCOMPARE(m_manager->dongles(), QList<USBDongle*>{dongle});
        QVERIFY(dongle->isEnabled());
        QVERIFY(!dongle->isVersionKnown());
        QVERIFY(dongle->infoText().contains("&lt; 4.0"));
        QVERIFY(initializeAndWait(dongle));
        QCOMPARE(dongle->versionText(), QStringLiteral("5.0"));
        QCOMPARE(dongle->vxNetwork(), vx);
        QCOMPARE(qobject_cast<usb::USBNetwork*>(vx)->dongle(), dongle);
    }

    void oneDongleObjectPerIndex()
    {
        startManager();
        Announcements events(m_manager);
        auto first = m_portline->plug();
        auto second = m_portline->plug();
        emit m_manager->triggerDeviceCheck();
        QTRY_COMPARE_WITH_TIMEOUT(events.connected.size(), 2, 5000);
        const QList<USBDongle*> dongles = m_manager->dongles();
        QCOMPARE(dongles.size(), 2);
        QCOMPARE(dongles.at(0)->dongleIndex(), 1);
        QCOMPARE(dongles.at(1)->dongleIndex(), 2);

        // Whichever dongle comes back first takes index 1 and its object.
        m_portline->unplug(first);
        m_portline->unplug(second);
        emit m_manager->triggerDeviceCheck();
        QTRY_COMPARE_WITH_TIMEOUT(events.disconnected.size(), 2, 5000);
        m_portline->plug(second);
        emit m_manager->triggerDeviceCheck();
        QTRY_COMPARE_WITH_TIMEOUT(events.connected.size(), 3, 5000);
        QCOMPARE(events.connected.at(2), dongles.at(0));
        QCOMPARE(m_manager->dongles(), dongles);
    }

    void pollWaitsWhileExchangesSucceed()
    {
        auto sim = m_portline->plug();
        startManager();
        QTRY_VERIFY_WITH_TIMEOUT(m_manager->dongle(1) != nullptr, 5000);
        USBDongle* dongle = m_manager->dongle(1);
        QVERIFY(initializeAndWait(dongle));
        general::Parameter* version = dongle->findParameter(0);

        // Idle: the bus is polled every 2000 ms.
        int polls = m_portline->enumerationCount();
        QTRY_VERIFY_WITH_TIMEOUT(m_portline->enumerationCount() > polls, 3000);

        // Traffic every 100 ms for 3 s: no poll at all.
        QVERIFY(version->update(true));
        polls = m_portline->enumerationCount();
        QElapsedTimer traffic;
        traffic.start();
        while (traffic.elapsed() < 3000) {
            QVERIFY(version->update(true));
            QTest::qWait(100);
        }
        QCOMPARE(m_portline->enumerationCount(), polls);
    }

    void unplugDuringInitializationAndReplug()
    {
        auto sim = m_portline->plug();
        sim->injectFault(SimFault::unplug().forCode(0x0D).forParameter(8).next(1));
        startManager();
        Announcements events(m_manager);
        QTRY_VERIFY_WITH_TIMEOUT(m_manager->dongle(1) != nullptr, 5000);
        USBDongle* dongle = m_manager->dongle(1);

        dongle->queueInitialize();
        // The failures on the task thread reset and close the dongle; the
        // manager hears of it in its own thread.
        QTRY_COMPARE_WITH_TIMEOUT(events.disconnected.size(), 1, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(dongle->daliNetwork() && dongle->vxNetwork() && dongle->keymarkNetwork(), 10000);
        QVERIFY(!dongle->isEnabled());
        QVERIFY(dongle->isVersionKnown()); // read before the unplug
        QCOMPARE(dongle->findParameter(8)->value(), -1);
        QCOMPARE(dongle->findParameter(37)->value(), -1);

        m_portline->plug(sim);
        emit m_manager->triggerDeviceCheck();
        QTRY_VERIFY_WITH_TIMEOUT(events.connected.size() >= 1 && dongle->isEnabled(), 5000);
        QVERIFY(initializeAndWait(dongle));
        QCOMPARE(dongle->findParameter(8)->value(), 0);
    }

    void stopWhileThePollIsBusyIsBounded()
    {
        m_portline->plug();
        m_portline->setEnumerationDelayMs(800);
        startManager(); // now inside the slow poll
        QElapsedTimer elapsed;
        elapsed.start();
        QVERIFY(m_manager->stop(100));
        QVERIFY2(elapsed.elapsed() < 100 + USBDongleManager::AbortGraceMs, qPrintable(QString::number(elapsed.elapsed())));
        QVERIFY(m_manager->isFinished());
    }

    void shutdownClosesAndDetachesEveryDongle()
    {
        auto sim = m_portline->plug();
        auto portline = m_portline;
        USBDongleManager::setBackendFactory([portline] { return portline; });
        USBDongleManager* manager = USBDongleManager::instance();
        Announcements events(manager);
        manager->start(m_root);
        QTRY_COMPARE_WITH_TIMEOUT(events.connected.size(), 1, 5000);
        QPointer<USBDongle> dongle = events.connected.at(0);
        QVERIFY(initializeAndWait(dongle));
        std::vector<std::unique_ptr<QSignalSpy>> detached;
        for (general::Network* network : {dongle->vxNetwork(), dongle->daliNetwork(), dongle->keymarkNetwork()}) {
            QCOMPARE(qobject_cast<usb::USBNetwork*>(network)->dongle(), dongle.data());
            QCOMPARE(network->parentNode(), dongle.data());
            detached.push_back(std::make_unique<QSignalSpy>(network, &general::Network::networkDisconnected));
        }
        QCOMPARE(m_portline->openHandleCount(), 1);

        QVERIFY(USBDongleManager::shutdownInstance(5000));
        USBDongleManager::setBackendFactory({});
        QVERIFY(dongle); // the dongle belongs to the tree
        QVERIFY(!dongle->isEnabled());
        QCOMPARE(m_portline->openHandleCount(), 0);
        for (general::Network* network : {dongle->vxNetwork(), dongle->daliNetwork(), dongle->keymarkNetwork()})
            QCOMPARE(qobject_cast<usb::USBNetwork*>(network)->dongle(), nullptr);
        for (const auto& spy : detached)
            QTRY_COMPARE_WITH_TIMEOUT(spy->count(), 1, 5000);
        // Exchanges of the networks after the manager has gone do nothing.
        bool ok = true;
        dongle->downloadParameter(dongle->findParameter(0), ok);
        QVERIFY(!ok);
        QVERIFY(USBDongleManager::shutdownInstance()); // nothing left to stop
    }
};

QTEST_GUILESS_MAIN(TestUsbDongleManager)
#include "tst_usbdonglemanager.moc"
