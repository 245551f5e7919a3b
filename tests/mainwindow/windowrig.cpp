#include "tests/mainwindow/windowrig.h"

#include "app/daliwidget.h"
#include "app/dmxwidget.h"
#include "app/keymarkwidget.h"
#include "app/myapplication.h"
#include "app/tivaromainwindow.h"

#include "general/taskscheduler.h"
#include "sim/simdongle.h"
#include "sim/virtualportline.h"
#include "tests/support/uihelpers.h"
#include "usb/usbdongle.h"
#include "usb/usbdonglemanager.h"

#include <QAction>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSettings>
#include <QTest>
#include <QtDebug>

using namespace halvorn;

WindowRig::WindowRig(const QJsonObject& installation)
{
    static QTemporaryDir settingsDir;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settingsDir.path());
    const QString path = m_dir.filePath(QStringLiteral("installation.json"));
    QFile file(path);
    if (file.open(QIODevice::WriteOnly))
        file.write(QJsonDocument(installation).toJson());
    file.close();
    MyApplication::instance()->setSimulation(true, path);
}

WindowRig::~WindowRig()
{
    if (m_window)
        halvorn::test::waitForIdleTasks();
    m_window.reset();
    MyApplication::instance()->setSimulation(false, QString());
}

QJsonObject WindowRig::dongle(int capabilities, const QJsonObject& dali, const QJsonObject& dmx,
                              const QJsonObject& keymark, const QString& name)
{
    return QJsonObject{{QStringLiteral("name"), name},
                       {QStringLiteral("firmwareVersion"), 5},
                       {QStringLiteral("capabilities"), capabilities},
                       {QStringLiteral("dali"), dali},
                       {QStringLiteral("dmx"), dmx},
                       {QStringLiteral("keymark"), keymark}};
}

QJsonObject WindowRig::installation(const QJsonObject& dongle)
{
    return QJsonObject{{QStringLiteral("dongles"), QJsonArray{dongle}}};
}

bool WindowRig::start(int timeoutMs)
{
    m_window = std::make_unique<TivaroMainWindow>();
    if (!m_window->portline()) {
        qWarning("WindowRig: the window did not start the simulation");
        return false;
    }
    m_window->portline()->setTimeoutWaitMs(20); // silent transfers
    m_window->show();

    const auto ready = [this] {
        usb::USBDongle* tool = dongle();
        if (!tool || !tool->isVersionKnown())
            return false;
        if (!m_window->dmxWidget()->network())
            return false;
        if (tool->isDALISupported() && !m_window->daliWidget()->network())
            return false;
        if (tool->isKeymarkWriteSupported() && !m_window->keymarkWidget()->network())
            return false;
        return !general::TaskScheduler::instance()->currentTask()
               && general::TaskScheduler::instance()->queuedCount() == 0;
    };
    if (!QTest::qWaitFor(ready, timeoutMs)) {
        qWarning("WindowRig: the dongle's networks did not reach the window within %d ms", timeoutMs);
        return false;
    }
    return true;
}

QAction* WindowRig::action(const QString& objectName) const
{
    return m_window->findChild<QAction*>(objectName);
}

void WindowRig::closeWindow()
{
    m_window.reset();
}

std::shared_ptr<sim::VirtualPortline> WindowRig::portline() const
{
    return m_window ? m_window->portline() : nullptr;
}

std::shared_ptr<sim::SimDongle> WindowRig::simDongle(int index) const
{
    const auto line = portline();
    return line ? line->pluggedDongles().value(index) : nullptr;
}

usb::USBDongle* WindowRig::dongle() const
{
    return usb::USBDongleManager::instance()->dongles().value(0);
}
