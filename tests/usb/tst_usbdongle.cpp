// The dongle device on the virtual Portline: its parameter table, the
// capability queries and texts, DALI bus power, its networks, and its
// behaviour with replies of every shape.

#include "logrecorder.h"

#include "general/bitflagparameterview.h"
#include "general/network.h"
#include "general/parameter.h"
#include "general/parametergroup.h"
#include "general/taskscheduler.h"
#include "general/treenode.h"
#include "sim/simdongle.h"
#include "sim/simfault.h"
#include "sim/virtualportline.h"
#include "tests/support/portlinefixture.h"
#include "usb/usbdongle.h"
#include "usb/usbhandler.h"
#include "usb/usbnetwork.h"

#include <QSignalSpy>
#include <QTest>
#include <QThread>

#include <atomic>
#include <thread>

using namespace halvorn;
using general::Parameter;
using sim::SimDongle;
using sim::SimFault;
using usb::USBDongle;

namespace {

QString infoText(const QString& version, const QString& dmx, const QString& dali, const QString& keymark)
{
    return QStringLiteral("<h4 align=\"center\">Halvorn Portline</h4><b>Version:</b> %1"
                          "<br><table><th align=\"left\">Capabilities</th>"
                          "<tr><td align=\"right\">DMX:</td><td>%2</td></tr>"
                          "<tr><td align=\"right\">DALI:</td><td>%3</td></tr>"
                          "<tr><td align=\"right\">Keymark:</td><td>%4</td></tr></table>")
        .arg(version, dmx, dali, keymark);
}

general::ParameterGroup* parameterGroup(USBDongle* dongle)
{
    return qobject_cast<general::ParameterGroup*>(dongle->findChild(QStringLiteral("Parameters")));
}

QList<uint> parameterNumbers(general::TreeNode* group)
{
    QList<uint> numbers;
    for (general::TreeNode* child : group->childNodes()) {
        if (auto* parameter = qobject_cast<Parameter*>(child))
            numbers.append(parameter->number());
    }
    return numbers;
}

QStringList childNames(general::TreeNode* node)
{
    QStringList names;
    for (general::TreeNode* child : node->childNodes())
        names.append(child->name());
    return names;
}

std::shared_ptr<SimDongle> dongleWith(int version, quint16 capabilities)
{
    return std::make_shared<SimDongle>(version, capabilities);
}

} // namespace

class TestUsbDongle : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parameterTableIsBuiltAndRead()
    {
        auto sim = dongleWith(5, 0x007F);
        sim->setParameter(SimDongle::DmxChannelCountAddress, 300);
        PortlineFixture portline(sim);
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();

        QCOMPARE(dongle->name(), QStringLiteral("Portline"));
        general::ParameterGroup* group = parameterGroup(dongle);
        QVERIFY(group);
        QVERIFY(!group->autoUpdateCheckable());
        QCOMPARE(parameterNumbers(group), (QList<uint>{0, 1, 3, 2, 4, 8, 12, 10, 39, 41, 43, 45, 37}));
        QCOMPARE(dongle->findParameter(37)->value(), 300);
        QCOMPARE(dongle->findParameter(0)->value(), 5);
        QCOMPARE(dongle->findParameter(2)->displayMode(), int(Parameter::Hexadecimal));
        QCOMPARE(childNames(dongle->findParameter(2)),
                 (QStringList{"DMX supported", "Chorus supported", "DALI supported", "DALI bus power",
                              "IO Pin manipulation supported", "Keymark supported", "Keymark read supported"}));
        QCOMPARE(childNames(dongle->findParameter(10)),
                 (QStringList{"TRISA5", "TRISA4", "TRISA2", "TRISB5", "PORTA5", "PORTA4", "PORTA2", "PORTB5"}));
        QCOMPARE(childNames(dongle->findParameter(8)), QStringList{"DALI Bus power"});
        // Auto-update check boxes only on the DALI feedback voltages.
        for (uint number : {0u, 1u, 3u, 2u, 4u, 8u, 12u, 10u, 39u, 37u})
            QVERIFY2(!dongle->findParameter(number)->autoUpdateCheckable(), qPrintable(QString::number(number)));
        for (uint number : {41u, 43u, 45u})
            QVERIFY(dongle->findParameter(number)->autoUpdateCheckable());
        QVERIFY(dongle->findParameter(0)->isReadOnly());
        QVERIFY(!dongle->findParameter(8)->isReadOnly());
    }

    void capabilitiesAndInformationText_data()
    {
        QTest::addColumn<quint16>("capabilities");
        QTest::addColumn<bool>("dmx");
        QTest::addColumn<bool>("dali");
        QTest::addColumn<bool>("keymarkWrite");
        QTest::addColumn<bool>("keymarkRead");
        QTest::addColumn<QString>("keymarkText");
        //                                     flags    DMX    DALI   KM write KM read  shown
        QTest::newRow("0x0005 DMX and DALI") << quint16(0x0005) << true << true << false << false << "NO";
        QTest::newRow("0x0020 write only")   << quint16(0x0020) << false << false << true << false << "YES (Write only)";
        QTest::newRow("0x0060 Keymark")      << quint16(0x0060) << false << false << true << true << "YES";
        QTest::newRow("0x0040 read bit only") << quint16(0x0040) << false << false << false << true << "NO";
        QTest::newRow("0x007F everything")   << quint16(0x007F) << true << true << true << true << "YES";
        QTest::newRow("0x0000 nothing")      << quint16(0x0000) << false << false << false << false << "NO";
    }

    void capabilitiesAndInformationText()
    {
        QFETCH(quint16, capabilities);
        QFETCH(bool, dmx);
        QFETCH(bool, dali);
        QFETCH(bool, keymarkWrite);
        QFETCH(bool, keymarkRead);
        QFETCH(QString, keymarkText);
        PortlineFixture portline(dongleWith(5, capabilities));
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();

        QVERIFY(dongle->isVersionKnown());
        QCOMPARE(dongle->isDMXSupported(), dmx);
        QCOMPARE(dongle->isDALISupported(), dali);
        QCOMPARE(dongle->isKeymarkWriteSupported(), keymarkWrite);
        QCOMPARE(dongle->isKeymarkReadSupported(), keymarkRead);
        const auto yesNo = [](bool yes) { return yes ? QStringLiteral("YES") : QStringLiteral("NO"); };
        QCOMPARE(dongle->infoText(), infoText("5.0", yesNo(dmx), yesNo(dali), keymarkText));
        // The bit views show the same bits (a 16-bit parameter made by code keeps all its bits).
        const QList<general::TreeNode*> bits = dongle->findParameter(2)->childNodes();
        QCOMPARE(bits.size(), 7);
        for (int bit = 0; bit < 7; ++bit)
            QCOMPARE(qobject_cast<general::ParameterView*>(bits.at(bit))->value(), (capabilities >> bit) & 1);
    }

    void silentVersionReadMeansOldFirmware()
    {
        auto sim = dongleWith(5, 0x007F);
        sim->setAnswersVersionRead(false);
        PortlineFixture portline(sim);
        QVERIFY(portline.start()); // the networks are created all the same
        USBDongle* dongle = portline.dongle();

        QCOMPARE(sim->requestCount(0x0D), USBDongle::VersionReadTries);
        QVERIFY(!dongle->isVersionKnown());
        QCOMPARE(dongle->versionText(), QStringLiteral("&lt; 4.0"));
        QCOMPARE(parameterNumbers(parameterGroup(dongle)), QList<uint>{0});
        Parameter* version = dongle->findParameter(0);
        QCOMPARE(version->value(), 3);
        QCOMPARE(version->readState(), int(Parameter::ReadOk));
        QVERIFY(dongle->isDMXSupported());
        QVERIFY(!dongle->isDALISupported());
        QVERIFY(!dongle->isKeymarkWriteSupported());
        QCOMPARE(dongle->infoText(), infoText("&lt; 4.0", "YES", "NO", "NO"));
        QVERIFY(dongle->daliNetwork() && dongle->vxNetwork() && dongle->keymarkNetwork());
    }

    void secondSearchAddsNothingTwice()
    {
        PortlineFixture portline;
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        general::Network* dali = dongle->daliNetwork();
        general::Network* vx = dongle->vxNetwork();
        general::Network* keymark = dongle->keymarkNetwork();
        const int childrenBefore = dongle->childCount();

        dongle->initialize();
        QTest::qWait(50); // any queued network creation would run here

        QCOMPARE(parameterNumbers(parameterGroup(dongle)),
                 (QList<uint>{0, 1, 3, 2, 4, 8, 12, 10, 39, 41, 43, 45, 37}));
        for (uint flags : {2u, 4u, 8u, 10u})
            QCOMPARE(dongle->findParameter(flags)->childCount(), flags == 2 ? 7 : flags == 4 ? 2 : flags == 8 ? 1 : 8);
        QCOMPARE(dongle->childCount(), childrenBefore);
        QCOMPARE(dongle->daliNetwork(), dali);
        QCOMPARE(dongle->vxNetwork(), vx);
        QCOMPARE(dongle->keymarkNetwork(), keymark);
    }

    void networksAttachAndDetach()
    {
        PortlineFixture portline;
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        QList<QSignalSpy*> spies;
        for (general::Network* network : {dongle->vxNetwork(), dongle->daliNetwork(), dongle->keymarkNetwork()}) {
            auto* usbNetwork = qobject_cast<usb::USBNetwork*>(network);
            QVERIFY(usbNetwork);
            QCOMPARE(usbNetwork->dongle(), dongle);
            QCOMPARE(network->parentNode(), dongle);
            spies.append(new QSignalSpy(network, &general::Network::networkDisconnected));
        }
        QCOMPARE(dongle->property("daliNetwork").value<general::Network*>(), dongle->daliNetwork());

        dongle->shutdown();
        for (QSignalSpy* spy : std::as_const(spies))
            QTRY_COMPARE_WITH_TIMEOUT(spy->count(), 1, 5000);
        qDeleteAll(spies);
        QCOMPARE(qobject_cast<usb::USBNetwork*>(dongle->daliNetwork())->dongle(), nullptr);
        QVERIFY(!dongle->isEnabled());
        QVERIFY(!portline.handler().isOpen(dongle->dongleIndex()));
    }

    void busPowerIsWrittenAsParameter8()
    {
        auto sim = dongleWith(5, 0x007F);
        sim->setParameter(SimDongle::ConfigurationFlagsAddress, 0x0006);
        PortlineFixture portline(sim);
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        QVERIFY(!dongle->isDALIBusConnected());

        QVERIFY(dongle->setDALIBusPower(true));
        QCOMPARE(sim->parameter(SimDongle::ConfigurationFlagsAddress), quint16(0x0007));
        QVERIFY(dongle->isDALIBusConnected());

        QVERIFY(dongle->setDALIBusPower(false));
        QCOMPARE(sim->parameter(SimDongle::ConfigurationFlagsAddress), quint16(0x0006));
        QVERIFY(!dongle->isDALIBusConnected());
    }

    void busPowerWithUnreadableConfigurationIsRefused()
    {
        auto sim = dongleWith(5, 0x007F);
        sim->setParameter(SimDongle::ConfigurationFlagsAddress, 0x0006);
        sim->injectFault(SimFault::timeout().forCode(0x0D).forParameter(8));
        PortlineFixture portline(sim);
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        QCOMPARE(dongle->findParameter(8)->value(), -1);

        LogRecorder log;
        const int writes = sim->requestCount(0x0E);
        QVERIFY(!dongle->setDALIBusPower(true));
        QCOMPARE(sim->requestCount(0x0E), writes);
        QCOMPARE(sim->parameter(SimDongle::ConfigurationFlagsAddress), quint16(0x0006));
        QVERIFY(!log.entries().isEmpty());

        // Once the flags can be read again, the switch works from the value read.
        sim->clearFaults();
        QVERIFY(dongle->setDALIBusPower(true));
        QCOMPARE(sim->parameter(SimDongle::ConfigurationFlagsAddress), quint16(0x0007));
    }

    void busPowerBeforeInitializationIsRefused()
    {
        auto sim = dongleWith(5, 0x007F);
        sim->setAnswersVersionRead(false);
        PortlineFixture portline(sim);
        QVERIFY(portline.start());
        QVERIFY(!portline.dongle()->setDALIBusPower(true));
        QCOMPARE(sim->requestCount(0x0E), 0);
    }

    void readReplyOfAnyShape_data()
    {
        QTest::addColumn<int>("fault"); // SimFault kind, −1 for none
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("ok");
        //                                fault                 reply length   read succeeds
        QTest::newRow("normal")        << -1                    << 0   << true;
        QTest::newRow("0 bytes")       << int(SimFault::Resize) << 0   << false;
        QTest::newRow("1 byte")        << int(SimFault::Resize) << 1   << false;
        QTest::newRow("4 bytes")       << int(SimFault::Resize) << 4   << false;
        QTest::newRow("5 bytes")       << int(SimFault::Resize) << 5   << true;
        QTest::newRow("63 bytes")      << int(SimFault::Resize) << 63  << true;
        QTest::newRow("64 bytes")      << int(SimFault::Resize) << 64  << true;
        QTest::newRow("100 bytes")     << int(SimFault::Resize) << 100 << true;
        QTest::newRow("garbled")       << int(SimFault::Garble) << 0   << false;
        QTest::newRow("stalled")       << int(SimFault::Stall)  << 0   << false;
        QTest::newRow("timed out")     << int(SimFault::Timeout) << 0  << false;
    }

    void readReplyOfAnyShape()
    {
        QFETCH(int, fault);
        QFETCH(int, length);
        QFETCH(bool, ok);
        PortlineFixture portline;
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        Parameter* channels = dongle->findParameter(USBDongle::DmxChannelCountParameter);
        if (fault >= 0) {
            SimFault rule;
            rule.kind = SimFault::Kind(fault);
            rule.length = length;
            portline.simDongle()->injectFault(rule.forCode(0x0D).next(1));
        }

        bool read = !ok;
        const uint value = dongle->downloadParameter(channels, read);
        QCOMPARE(read, ok);
        QCOMPARE(value, ok ? 512u : 0u);
    }

    void writeReplyOfAnyShape_data()
    {
        QTest::addColumn<int>("fault");
        QTest::addColumn<int>("length");
        QTest::newRow("0 bytes")   << int(SimFault::Resize) << 0;
        QTest::newRow("1 byte")    << int(SimFault::Resize) << 1;
        QTest::newRow("63 bytes")  << int(SimFault::Resize) << 63;
        QTest::newRow("64 bytes")  << int(SimFault::Resize) << 64;
        QTest::newRow("100 bytes") << int(SimFault::Resize) << 100;
        QTest::newRow("garbled")   << int(SimFault::Garble) << 0;
        QTest::newRow("timed out") << int(SimFault::Timeout) << 0;
    }

    void writeReplyOfAnyShape()
    {
        QFETCH(int, fault);
        QFETCH(int, length);
        PortlineFixture portline;
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        SimFault rule;
        rule.kind = SimFault::Kind(fault);
        rule.length = length;
        portline.simDongle()->injectFault(rule.forCode(0x0E).next(1));

        Parameter* mode = dongle->findParameter(USBDongle::ModeParameter);
        mode->setValue(0x0102, true);
        QCOMPARE(mode->readState(), int(Parameter::ReadOk)); // writes are never reported as failed
        QCOMPARE(portline.simDongle()->parameter(SimDongle::ModeAddress), quint16(0x0102));
    }

    void disabledDongleSendsNothing()
    {
        PortlineFixture portline;
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        const int requests = portline.simDongle()->totalRequestCount();
        portline.root().setEnabled(false);

        bool ok = true;
        dongle->downloadParameter(dongle->findParameter(0), ok);
        QVERIFY(!ok);
        unsigned char request[64] = {0x0D};
        unsigned char reply[64] = {0x77};
        int replyLength = 9;
        dongle->transfer(request, 64, reply, &replyLength);
        QCOMPARE(replyLength, 9);
        QCOMPARE(reply[0], 0x77);
        QCOMPARE(portline.simDongle()->totalRequestCount(), requests);
    }

    void unplugDuringParameterReadEndsCleanly()
    {
        auto sim = dongleWith(5, 0x007F);
        sim->injectFault(SimFault::unplug().forCode(0x0D).forParameter(8));
        PortlineFixture portline(sim);
        QSignalSpy disconnected(&portline.handler(), &usb::USBHandler::dongleDisconnect);
        // Bounded: start() fails on its time-out instead of hanging.
        QVERIFY(portline.start(10000));
        USBDongle* dongle = portline.dongle();

        QVERIFY(!portline.portline().isPlugged(sim));
        QVERIFY(dongle->isVersionKnown()); // read before the unplug
        QCOMPARE(dongle->findParameter(8)->value(), -1);
        QCOMPARE(dongle->findParameter(37)->value(), -1);
        // The failed calls added up to a reset, which closed the index.
        QCOMPARE(disconnected.count(), 1);
        QVERIFY(!portline.handler().isOpen(dongle->dongleIndex()));
    }

    void queuedInitializationLeavesTheWindowFree()
    {
        // A silent dongle: three version reads that each wait for a time-out.
        auto portline = std::make_shared<sim::VirtualPortline>();
        portline->setTimeoutWaitMs(100);
        auto sim = portline->plug(dongleWith(5, 0x007F));
        sim->setAnswersVersionRead(false);
        auto handler = std::make_shared<usb::USBHandler>(portline);
        handler->checkForDevices();
        auto* root = new general::TreeNode;
        auto* dongle = new USBDongle(handler, 1, root);
        dongle->setConnected();
        QSignalSpy vxCreated(dongle, &USBDongle::OnVxNetworkCreated);
        QSignalSpy tasksDone(general::TaskScheduler::instance(), &general::TaskScheduler::taskDone);

        dongle->queueInitialize();
        // Returned at once: the reads run in the task pool.
        QCOMPARE(sim->requestCount(0x0D), 0);
        QVERIFY(vxCreated.wait(10000));
        QCOMPARE(sim->requestCount(0x0D), USBDongle::VersionReadTries);

        // Nodes made in the task thread live in the dongle's thread.
        Parameter* version = dongle->findParameter(0);
        QCOMPARE(version->thread(), dongle->thread());
        QCOMPARE(parameterGroup(dongle)->thread(), dongle->thread());

        // With an answering dongle, every parameter and bit view follows.
        sim->setAnswersVersionRead(true);
        dongle->queueInitialize();
        QTRY_VERIFY_WITH_TIMEOUT(dongle->findParameter(37) != nullptr, 10000);
        QTRY_VERIFY_WITH_TIMEOUT(dongle->isVersionKnown(), 10000);
        for (general::TreeNode* child : dongle->findParameter(2)->childNodes())
            QCOMPARE(child->thread(), dongle->thread());
        QCOMPARE(dongle->findParameter(37)->thread(), dongle->thread());
        QTRY_COMPARE_WITH_TIMEOUT(tasksDone.count(), 2, 10000);
        QCOMPARE(dongle->findParameter(37)->value(), 512);

        dongle->shutdown();
        delete root;
    }

    void concurrentInitializationsBuildOneTable()
    {
        PortlineFixture portline;
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        std::atomic<int> done{0};
        std::thread first([&] { dongle->initialize(); ++done; });
        std::thread second([&] { dongle->initialize(); ++done; });
        first.join();
        second.join();
        QCOMPARE(done.load(), 2);
        QCOMPARE(parameterNumbers(parameterGroup(dongle)),
                 (QList<uint>{0, 1, 3, 2, 4, 8, 12, 10, 39, 41, 43, 45, 37}));
        QCOMPARE(dongle->findParameter(2)->childCount(), 7);
    }

    void reconnectionForgetsTheVersion()
    {
        PortlineFixture portline;
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        QCOMPARE(dongle->versionText(), QStringLiteral("5.0"));
        dongle->setDisconnected();
        QVERIFY(!dongle->isEnabled());
        dongle->setConnected();
        QVERIFY(dongle->isEnabled());
        QCOMPARE(dongle->versionText(), QStringLiteral("&lt; 4.0"));
        QCOMPARE(dongle->infoText(), infoText("&lt; 4.0", "YES", "NO", "NO"));
        dongle->initialize();
        QCOMPARE(dongle->versionText(), QStringLiteral("5.0"));
    }
};

QTEST_GUILESS_MAIN(TestUsbDongle)
#include "tst_usbdongle.moc"
