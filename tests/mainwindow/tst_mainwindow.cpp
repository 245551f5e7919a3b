// The main window: its modes and what each shows, how it follows dongles
// that come, go and lack a bus, the DALI page's bus power, the remembered
// layout, the Simulator menu, the log window and the about box.
#include "tests/mainwindow/windowrig.h"

#include "app/daliwidget.h"
#include "app/devicetreedock.h"
#include "app/dmxdockwidget.h"
#include "app/dmxwidget.h"
#include "app/keymarkwidget.h"
#include "app/myapplication.h"
#include "app/startupoptions.h"
#include "app/tivaromainwindow.h"

#include "dali/dalinetwork.h"
#include "general/log.h"
#include "general/logmessage.h"
#include "general/taskscheduler.h"
#include "general/ui/devicestatuswidget.h"
#include "general/ui/multilogwidget.h"
#include "general/ui/outputslider.h"
#include "sim/simdongle.h"
#include "sim/virtualportline.h"
#include "usb/usbdongle.h"
#include "usb/usbdonglemanager.h"
#include "tests/support/uihelpers.h"
#include "vx/vxnetwork.h"

#include <QAction>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QSettings>
#include <QTabWidget>
#include <QTest>

using namespace halvorn;

namespace {

constexpr int AllCapabilities = WindowRig::AllCapabilities;
constexpr int WaitMs = WindowRig::WaitMs;

QAction* simulatorEntry(const TivaroMainWindow& window, const QString& text)
{
    return test::menuEntry(window.findChild<QMenu*>(QStringLiteral("simulatorMenu")), text);
}

int createdLines()
{
    int count = 0;
    for (int i = 0; i < general::mainLog()->count(); ++i)
        count += general::mainLog()->message(i)->text().contains(QStringLiteral(" created on ")) ? 1 : 0;
    return count;
}

int busPowerFlag(const std::shared_ptr<sim::SimDongle>& dongle)
{
    return dongle->parameter(sim::SimDongle::ConfigurationFlagsAddress) & 1;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void titleAboutInstallationAndLogsShowTheSetup();
    void modesShowTheirPages_data();
    void modesShowTheirPages();
    void simulatorMenuReconnectsDongleAndPullsTag();
    void daliPageSwitchesBusPower_data();
    void daliPageSwitchesBusPower();
    void windowRemembersLayoutAndMode();
    void closingStopsARunningSearchFirst();
    void screenshotOption_data();
    void screenshotOption();
};

void TestMainWindow::titleAboutInstallationAndLogsShowTheSetup()
{
    WindowRig rig(WindowRig::installation(WindowRig::dongle(AllCapabilities, {}, {}, {}, QStringLiteral("Bench rig"))));
    QVERIFY(rig.start());
    TivaroMainWindow& window = rig.window();
    // The test's settings folder names the window "Acme Bench".
    QCOMPARE(window.windowTitle(), QStringLiteral("Acme Bench"));
    QAction* about = nullptr;
    for (QAction* menu : window.menuBar()->actions())
        about = about ? about : test::menuEntry(menu->menu(), QStringLiteral("&About"));
    QVERIFY(about);
    QString aboutText;
    test::answerDialog<QMessageBox>([&aboutText](QMessageBox* box) {
        aboutText = box->windowTitle() + QLatin1Char('|') + box->text();
        box->accept();
    });
    about->trigger();
    QCOMPARE(aboutText, QStringLiteral("About Tivaro|<b>Acme Bench</b><br><br> <i>Version: 1.04</i><br>"));

    std::unique_ptr<QDialog> dialog(window.createInstallationDialog());
    const QString where = dialog->findChild<QLabel*>(QStringLiteral("installationPath"))->text();
    QVERIFY2(where.endsWith(QStringLiteral("installation.json")), qPrintable(where));
    const QString text = dialog->findChild<QPlainTextEdit*>(QStringLiteral("installationText"))->toPlainText();
    QVERIFY2(text.contains(QStringLiteral("\"Bench rig\"")), qPrintable(text));
    QVERIFY(simulatorEntry(window, QStringLiteral("Bench rig plugged in")));

    general::MultiLogWidget* logs = window.logWindow();
    QVERIFY(!logs->isVisible());
    rig.action("actionLog")->trigger();
    QVERIFY(logs->isVisible());
    QStringList titles;
    for (int i = 0; i < logs->logCount(); ++i)
        titles.append(logs->tabs()->tabText(i));
    QCOMPARE(titles.first(), QStringLiteral("Main log"));
    titles.sort();
    QCOMPARE(titles, (QStringList{"DALI Network log", "Keymark Network log", "Main log", "Simple DALI Network log",
                                  "Vela Network Log"}));
    // Closing the window closes its log window, so the program can end.
    window.close();
    QVERIFY(!logs->isVisible());
}

void TestMainWindow::modesShowTheirPages_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("lacking"); // the capability flags of the mode's bus
    QTest::newRow("DMX")     << "actionDMX"     << "DMX page, DMX dock"           << 0;
    QTest::newRow("DALI")    << "actionDALI"    << "DALI page"                    << 0x0004;
    QTest::newRow("Keymark") << "actionKeymark" << "Keymark page, Keymark status" << 0x0060;
}

void TestMainWindow::modesShowTheirPages()
{
    QFETCH(QString, mode);
    QFETCH(QString, shown);
    QFETCH(int, lacking);
    WindowRig rig(WindowRig::installation());
    QVERIFY(rig.start());
    TivaroMainWindow& window = rig.window();
    const auto visible = [&window] {
        const std::pair<const char*, QWidget*> parts[] = {
            {"DMX page", window.dmxWidget()},         {"DMX dock", window.dmxDock()},
            {"DALI page", window.daliWidget()},       {"Keymark page", window.keymarkWidget()},
            {"Keymark status", window.keymarkStatus()}};
        QStringList names;
        for (const auto& [name, widget] : parts)
            names << (widget->isVisible() ? QString::fromLatin1(name) : QString());
        names.removeAll(QString());
        return names.join(QStringLiteral(", "));
    };
    QVERIFY(rig.action(mode)->isEnabled());
    rig.action(mode)->trigger();
    QCOMPARE(visible(), shown);
    for (const char* other : {"actionDMX", "actionDALI", "actionKeymark"})
        QCOMPARE(rig.action(other)->isChecked(), other == mode);
    // DMX set points go out only while the DMX page shows.
    const bool dmx = mode == QStringLiteral("actionDMX");
    QTRY_COMPARE_WITH_TIMEOUT(window.dmxWidget()->network()->isDMXOutputEnabled(), dmx, WaitMs);
    if (!lacking)
        return;

    // A second Portline without the mode's bus reports its networks: the
    // mode goes, the window falls back to DMX.
    auto second = std::make_shared<sim::SimDongle>(5, quint16(AllCapabilities & ~lacking));
    second->setName(QStringLiteral("Old Portline"));
    rig.portline()->plug(second);
    emit usb::USBDongleManager::instance()->triggerDeviceCheck();
    QTRY_VERIFY_WITH_TIMEOUT(!rig.action(mode)->isEnabled(), WaitMs);
    QVERIFY(!rig.action(mode)->isChecked());
    QCOMPARE(window.mode(), TivaroMainWindow::Mode::DMX);
    QVERIFY(rig.action("actionDMX")->isChecked());
    QCOMPARE(visible(), QStringLiteral("DMX page, DMX dock"));
}

void TestMainWindow::simulatorMenuReconnectsDongleAndPullsTag()
{
    WindowRig rig(WindowRig::installation());
    QVERIFY(rig.start());
    TivaroMainWindow& window = rig.window();
    usb::USBDongle* dongle = rig.dongle();
    QAction* plugged = simulatorEntry(window, QStringLiteral("Portline plugged in"));
    QVERIFY(plugged);
    for (int round = 0; round < 2; ++round) {
        plugged->setChecked(false);
        QTRY_COMPARE_WITH_TIMEOUT(window.usbStatus()->text(), QStringLiteral("Disconnected"), WaitMs);
        plugged->setChecked(true);
        QTRY_COMPARE_WITH_TIMEOUT(window.usbStatus()->text(), QStringLiteral("Connected"), WaitMs);
        QVERIFY(test::waitForIdleTasks());
    }
    QCOMPARE(rig.dongle(), dongle);

    // Each announcement of a network reaches the window once.
    const int before = createdLines();
    emit dongle->OnDaliNetworkCreated();
    emit dongle->OnVxNetworkCreated();
    emit dongle->OnKeymarkNetworkCreated();
    QCOMPARE(createdLines(), before + 3);

    // The dongle came back with everything it had: all modes still work.
    QVERIFY(rig.action("actionDALI")->isEnabled());
    QVERIFY(rig.action("actionKeymark")->isEnabled());
    QCOMPARE(window.logWindow()->logCount(), 5);

    // The Keymark page follows the tag the Simulator menu pulls and puts back.
    rig.action("actionKeymark")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(window.keymarkStatus()->text(), QStringLiteral("Connected"), WaitMs);
    QTRY_VERIFY_WITH_TIMEOUT(window.keymarkWidget()->slider()->isInteractive(), WaitMs);
    QAction* tag = simulatorEntry(window, QStringLiteral("Portline: Keymark tag inserted"));
    QVERIFY(tag && tag->isChecked());
    tag->setChecked(false);
    QTRY_COMPARE_WITH_TIMEOUT(window.keymarkStatus()->text(), QStringLiteral("Disconnected"), WaitMs);
    QVERIFY(!window.keymarkWidget()->slider()->isInteractive());
    tag->setChecked(true);
    QTRY_COMPARE_WITH_TIMEOUT(window.keymarkStatus()->text(), QStringLiteral("Connected"), WaitMs);
}

void TestMainWindow::daliPageSwitchesBusPower_data()
{
    QTest::addColumn<bool>("externalSupply");
    QTest::newRow("bus without supply") << false;
    QTest::newRow("bus with its own supply") << true;
}

void TestMainWindow::daliPageSwitchesBusPower()
{
    QFETCH(bool, externalSupply);
    WindowRig rig(WindowRig::installation(
        WindowRig::dongle(AllCapabilities, QJsonObject{{QStringLiteral("powered"), externalSupply}})));
    QVERIFY(rig.start());
    const auto simDongle = rig.simDongle();
    QCOMPARE(busPowerFlag(simDongle), 0);

    rig.action("actionDALI")->trigger();
    if (externalSupply) {
        // A powered bus is left alone. The switch is decided in the network's
        // thread, in order: once a later call has run there, it is done.
        QMetaObject::invokeMethod(rig.window().daliWidget()->network(), [] {}, Qt::BlockingQueuedConnection);
        QCOMPARE(busPowerFlag(simDongle), 0);
        simDongle->setParameter(sim::SimDongle::ConfigurationFlagsAddress, 1);
    } else {
        QTRY_COMPARE_WITH_TIMEOUT(busPowerFlag(simDongle), 1, WaitMs);
    }
    rig.action("actionDMX")->trigger();
    QTRY_COMPARE_WITH_TIMEOUT(busPowerFlag(simDongle), 0, WaitMs);
}

void TestMainWindow::windowRemembersLayoutAndMode()
{
    {
        WindowRig rig(WindowRig::installation());
        QVERIFY(rig.start());
        rig.window().resize(1010, 707);
        rig.window().deviceTreeDock()->hide();
        rig.action("actionKeymark")->trigger();
        rig.window().close();
    }
    WindowRig rig(WindowRig::installation());
    QVERIFY(rig.start());
    TivaroMainWindow& window = rig.window();
    QCOMPARE(window.size(), QSize(1010, 707));
    QVERIFY(!window.deviceTreeDock()->isVisible());
    // The mode comes back as soon as the dongle reports the Keymark bus.
    QTRY_COMPARE_WITH_TIMEOUT(window.mode(), TivaroMainWindow::Mode::Keymark, WaitMs);
    QVERIFY(window.keymarkWidget()->isVisible());

    // Choosing DMX is remembered too.
    rig.action("actionDMX")->trigger();
    window.close();
    const QSettings settings(QStringLiteral("Halvorn"), QStringLiteral("Tivaro"));
    QCOMPARE(settings.value(QStringLiteral("MainWindow/mode")).toString(), QStringLiteral("DMX"));
}

void TestMainWindow::closingStopsARunningSearchFirst()
{
    // A commissioning run that takes far longer than the test: twenty gear
    // on a bus with real DALI timing behind a USB link with its round trip.
    const QJsonObject dali{{QStringLiteral("powered"), true},
                           {QStringLiteral("randomGear"), 20},
                           {QStringLiteral("timing"), QStringLiteral("realistic")}};
    WindowRig rig(WindowRig::installation(WindowRig::dongle(AllCapabilities, dali)));
    QVERIFY(rig.start());
    rig.portline()->setLatencyUs(1000);
    auto* network = rig.window().daliWidget()->network();
    network->daliSearch(dali::DaliNetwork::SearchAllDevices);
    general::TaskScheduler* scheduler = general::TaskScheduler::instance();
    QTRY_VERIFY_WITH_TIMEOUT(scheduler->currentTask(), WaitMs);
    network->daliSearch(dali::DaliNetwork::SearchShortAddresses); // waits behind it

    // The window goes with the tree the search works on: the search must
    // be over first, and nothing may start after it.
    QElapsedTimer closing;
    closing.start();
    rig.closeWindow();
    QVERIFY(closing.elapsed() < TivaroMainWindow::TaskStopWaitMs);
    QVERIFY(!scheduler->currentTask());
    QCOMPARE(scheduler->queuedCount(), 0);
    QTest::qWait(50);
    QVERIFY(!scheduler->currentTask());
}

void TestMainWindow::screenshotOption_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("folder"); // empty: the program does not run
    QTest::newRow("with --simulate")      << QStringList{"--simulate", "--screenshot", "shots"}    << "shots";
    QTest::newRow("with an installation") << QStringList{"--simulate=bench.json", "--screenshot=out"} << "out";
    QTest::newRow("without --simulate")   << QStringList{"--screenshot", "shots"}                  << "";
    QTest::newRow("without a folder")     << QStringList{"--simulate", "--screenshot"}             << "";
}

void TestMainWindow::screenshotOption()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, folder);
    const StartupOptions options = StartupOptions::parse(QStringList{QStringLiteral("tivaro")} + arguments);
    QCOMPARE(options.action == StartupOptions::Action::Run, !folder.isEmpty());
    if (!folder.isEmpty())
        QCOMPARE(options.screenshotDir, folder);
    // A tool for the picture script, not for users: the help leaves it out.
    const StartupOptions help = StartupOptions::parse({QStringLiteral("tivaro"), QStringLiteral("--help")});
    QVERIFY(!help.message.contains(QStringLiteral("screenshot")));
}

int main(int argc, char* argv[])
{
    MyApplication app(argc, argv);
    TestMainWindow test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_mainwindow.moc"
