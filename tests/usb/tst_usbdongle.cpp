// The dongle device on the virtual Portline: its parameter table, the
// capability queries and texts, DALI bus power, its networks, and its
// behaviour with replies of every shape.

#include "tests/support/logrecorder.h"
#include "tests/support/portlinefixture.h"
#include "tests/support/testthreads.h"

#include "general/network.h"
#include "general/parameter.h"
#include "general/parametergroup.h"
#include "general/taskscheduler.h"
#include "sim/simdongle.h"
#include "sim/simfault.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "usb/usbhandler.h"
#include "usb/usbnetwork.h"

#include <QSignalSpy>
#include <QTest>


using namespace halvorn;
using general::Parameter;
using sim::SimDongle;
using sim::SimFault;
using usb::USBDongle;

Q_DECLARE_METATYPE(halvorn::sim::SimFault)

namespace {

const QList<uint> FullTable{0, 1, 3, 2, 4, 8, 12, 10, 39, 41, 43, 45, 37};

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

// The numbers of the "Parameters" group in order; with `autoUpdate`, only
// those whose auto-update box can be checked.
QList<uint> parameterNumbers(USBDongle* dongle, bool autoUpdate = false)
{
    QList<uint> numbers;
    for (general::TreeNode* child : parameterGroup(dongle)->childNodes()) {
        auto* parameter = qobject_cast<Parameter*>(child);
        if (parameter && (!autoUpdate || parameter->autoUpdateCheckable()))
            numbers.append(parameter->number());
    }
    return numbers;
}

QList<int> flagChildCounts(USBDongle* dongle)
{
    QList<int> counts;
    for (uint number : {2u, 4u, 8u, 10u})
        counts.append(dongle->findParameter(number)->childCount());
    return counts;
}

QList<general::Network*> networks(USBDongle* dongle)
{
    return {dongle->vxNetwork(), dongle->daliNetwork(), dongle->keymarkNetwork()};
}

// What a dongle reports it can do.
struct Supported {
    bool dmx, dali, keymarkWrite, keymarkRead;
    bool operator==(const Supported&) const = default;
};

std::shared_ptr<SimDongle> dongleWith(int version, quint16 capabilities)
{
    return std::make_shared<SimDongle>(version, capabilities);
}

} // namespace

Q_DECLARE_METATYPE(Supported)

class TestUsbDongle : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void parameterTableIsBuiltOnceAndRead()
    {
        auto sim = dongleWith(5, 0x007F);
        sim->setParameter(SimDongle::DmxChannelCountAddress, 300);
        PortlineFixture portline(sim);
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        const QList<general::Network*> before = networks(dongle);
        const int childrenBefore = dongle->childCount();
        // Searching again, twice at once, adds nothing.
        test::ThreadGroup other(1, [dongle](int) { dongle->initialize(); });
        dongle->initialize();
        QVERIFY(other.join());
        QTest::qWait(50); // any queued network creation would run here

        QCOMPARE(parameterNumbers(dongle), FullTable);
        QCOMPARE(flagChildCounts(dongle), (QList<int>{7, 2, 1, 8}));
        QCOMPARE(dongle->childCount(), childrenBefore);
        QCOMPARE(networks(dongle), before);
        QCOMPARE(dongle->findParameter(0)->value(), 5);
        QCOMPARE(dongle->findParameter(37)->value(), 300);
        // Auto-update check boxes only on the DALI feedback voltages.
        QVERIFY(!parameterGroup(dongle)->autoUpdateCheckable());
        QCOMPARE(parameterNumbers(dongle, true), (QList<uint>{41, 43, 45}));
    }

    void capabilitiesAndInformationText_data()
    {
        QTest::addColumn<quint16>("capabilities");
        QTest::addColumn<Supported>("supported");
        QTest::addColumn<QString>("keymarkText");
        //                                      flags                DMX    DALI   KM write KM read  shown
        QTest::newRow("0x0005 DMX and DALI")  << quint16(0x0005) << Supported{true,  true,  false, false} << "NO";
        QTest::newRow("0x0020 write only")    << quint16(0x0020) << Supported{false, false, true,  false} << "YES (Write only)";
        QTest::newRow("0x0060 Keymark")       << quint16(0x0060) << Supported{false, false, true,  true}  << "YES";
        QTest::newRow("0x0040 read bit only") << quint16(0x0040) << Supported{false, false, false, true}  << "NO";
    }

    void capabilitiesAndInformationText()
    {
        QFETCH(quint16, capabilities);
        QFETCH(Supported, supported);
        QFETCH(QString, keymarkText);
        PortlineFixture portline(dongleWith(5, capabilities));
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();

        QVERIFY(dongle->isVersionKnown());
        const Supported seen{dongle->isDMXSupported(), dongle->isDALISupported(), dongle->isKeymarkWriteSupported(),
                             dongle->isKeymarkReadSupported()};
        QCOMPARE(seen, supported);
        const auto yesNo = [](bool yes) { return yes ? QStringLiteral("YES") : QStringLiteral("NO"); };
        QCOMPARE(dongle->infoText(), infoText("5.0", yesNo(supported.dmx), yesNo(supported.dali), keymarkText));
        // The bit views show the same bits, in order.
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
        QCOMPARE(parameterNumbers(dongle), QList<uint>{0});
        QCOMPARE(dongle->findParameter(0)->value(), 3);
        QCOMPARE(dongle->findParameter(0)->readState(), int(Parameter::ReadOk));
        QCOMPARE(dongle->infoText(), infoText("&lt; 4.0", "YES", "NO", "NO"));
        QVERIFY(!dongle->isKeymarkReadSupported());
        // Bus power needs the configuration flags, which were never made.
        QVERIFY(!dongle->setDALIBusPower(true));
        QCOMPARE(sim->requestCount(0x0E), 0);
    }

    void busPowerIsWrittenAsParameter8()
    {
        auto sim = dongleWith(5, 0x007F);
        sim->setParameter(SimDongle::ConfigurationFlagsAddress, 0x0006);
        sim->injectFault(SimFault::timeout().forCode(0x0D).forParameter(8));
        PortlineFixture portline(sim);
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        QCOMPARE(dongle->findParameter(8)->value(), -1);

        // Refused while the flags are unreadable: a write would clear their other bits.
        LogRecorder log;
        const int writes = sim->requestCount(0x0E);
        QVERIFY(!dongle->setDALIBusPower(true));
        QCOMPARE(sim->requestCount(0x0E), writes);
        QVERIFY(!log.entries().isEmpty());

        sim->clearFaults();
        QVERIFY(!dongle->isDALIBusConnected());
        QVERIFY(dongle->setDALIBusPower(true));
        QCOMPARE(sim->parameter(SimDongle::ConfigurationFlagsAddress), quint16(0x0007));
        QVERIFY(dongle->isDALIBusConnected());
        QVERIFY(dongle->setDALIBusPower(false));
        QCOMPARE(sim->parameter(SimDongle::ConfigurationFlagsAddress), quint16(0x0006));
        QVERIFY(!dongle->isDALIBusConnected());
    }

    void replyOfAnyShape_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<SimFault>("fault");
        QTest::addColumn<bool>("readOk");
        const struct {
            const char* name;
            SimFault fault;
            bool readOk;
        } shapes[] = {{"0 bytes", SimFault::reply(0), false},    {"4 bytes", SimFault::reply(4), false},
                      {"5 bytes", SimFault::reply(5), true},     {"64 bytes", SimFault::reply(64), true},
                      {"100 bytes", SimFault::reply(100), true}, {"garbled", SimFault::garbled(), false},
                      {"timed out", SimFault::timeout(), false}};
        for (int code : {0x0D, 0x0E}) {
            for (const auto& shape : shapes)
                QTest::addRow("%s %s", code == 0x0D ? "read," : "write,", shape.name) << code << shape.fault << shape.readOk;
        }
    }

    void replyOfAnyShape()
    {
        QFETCH(int, code);
        QFETCH(SimFault, fault);
        QFETCH(bool, readOk);
        PortlineFixture portline;
        QVERIFY(portline.start());
        USBDongle* dongle = portline.dongle();
        portline.simDongle()->injectFault(fault.forCode(code).next(1));
        if (code == 0x0D) {
            bool ok = !readOk;
            QCOMPARE(dongle->downloadParameter(dongle->findParameter(USBDongle::DmxChannelCountParameter), ok),
                     readOk ? 512u : 0u);
            QCOMPARE(ok, readOk);
        } else {
            Parameter* mode = dongle->findParameter(USBDongle::ModeParameter);
            mode->setValue(0x0102, true);
            QCOMPARE(mode->readState(), int(Parameter::ReadOk)); // writes are never reported as failed
            QCOMPARE(portline.simDongle()->parameter(SimDongle::ModeAddress), quint16(0x0102));
        }
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

    void queuedInitializationLeavesTheWindowFree()
    {
        // A silent dongle: three version reads that each wait for a time-out.
        PortlineFixture portline;
        portline.portline().setTimeoutWaitMs(100);
        portline.simDongle()->setAnswersVersionRead(false);
        USBDongle* dongle = portline.open();
        QVERIFY(dongle);
        QSignalSpy tasksDone(general::TaskScheduler::instance(), &general::TaskScheduler::taskDone);

        dongle->queueInitialize();
        QCOMPARE(portline.simDongle()->requestCount(0x0D), 0); // returned at once: the reads run in the task pool
        QTRY_COMPARE_WITH_TIMEOUT(portline.initializedNetworks(), 3, 10000);
        QCOMPARE(portline.simDongle()->requestCount(0x0D), USBDongle::VersionReadTries);
        // Nodes made in the task thread live in the dongle's thread.
        QCOMPARE(dongle->findParameter(0)->thread(), dongle->thread());
        QCOMPARE(parameterGroup(dongle)->thread(), dongle->thread());

        // With an answering dongle, every parameter and bit view follows.
        portline.simDongle()->setAnswersVersionRead(true);
        dongle->queueInitialize();
        QTRY_COMPARE_WITH_TIMEOUT(tasksDone.count(), 2, 10000);
        QVERIFY(dongle->isVersionKnown());
        for (general::TreeNode* child : dongle->findParameter(2)->childNodes())
            QCOMPARE(child->thread(), dongle->thread());
        QCOMPARE(dongle->findParameter(37)->thread(), dongle->thread());
        QCOMPARE(dongle->findParameter(37)->value(), 512);
    }
};

QTEST_GUILESS_MAIN(TestUsbDongle)
#include "tst_usbdongle.moc"
