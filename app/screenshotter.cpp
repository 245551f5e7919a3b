#include "app/screenshotter.h"

#include "app/daliwidget.h"
#include "app/devicetreedock.h"
#include "app/dmxdockwidget.h"
#include "app/dmxwidget.h"
#include "app/keymarkwidget.h"
#include "app/tivaromainwindow.h"

#include "dali/dalinetwork.h"
#include "dmx/dmxsetpoint.h"
#include "dmx/ui/dmxsetpointdeviceview.h"
#include "dmx/ui/dmxsetpointview.h"
#include "general/taskscheduler.h"
#include "general/treenode.h"
#include "general/ui/treenodemodel.h"
#include "general/ui/logwidget.h"
#include "general/ui/multilogwidget.h"
#include "general/ui/outputslider.h"
#include "km/keymarknetwork.h"
#include "km/ui/keymarkconfigwidget.h"
#include "vx/rdmbinsearch.h"
#include "vx/vxdevice.h"
#include "vx/vxnetwork.h"

#include <QAction>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QTreeView>

#include <cstdio>

namespace halvorn {

namespace {

void say(const QString& text)
{
    std::fprintf(stderr, "screenshot: %s\n", qPrintable(text));
}

QAction* action(TivaroMainWindow* window, const char* name)
{
    return window->findChild<QAction*>(QLatin1String(name));
}

// Opens the tree down to the devices and their parameter groups, leaving
// the long lists (the dongle's parameters, inputs and outputs) closed.
void showDevices(QTreeView* tree, const QModelIndex& parent, int depth)
{
    const QAbstractItemModel* model = tree->model();
    for (int row = 0; row < model->rowCount(parent); ++row) {
        const QModelIndex index = model->index(row, 0, parent);
        const QString name = index.data().toString();
        const bool list = name == QLatin1String("Parameters") || name == QLatin1String("Inputs/outputs");
        tree->setExpanded(index, !list && depth < 2);
        if (!list && depth < 2)
            showDevices(tree, index, depth + 1);
    }
}

bool tasksIdle()
{
    general::TaskScheduler* scheduler = general::TaskScheduler::instance();
    return !scheduler->currentTask() && scheduler->queuedCount() == 0;
}

} // namespace

Screenshotter::Screenshotter(TivaroMainWindow* window, const QString& directory, QObject* parent)
    : QObject(parent)
    , m_window(window)
    , m_directory(directory)
{
}

void Screenshotter::start()
{
    QTimer::singleShot(0, this, &Screenshotter::run);
}

bool Screenshotter::waitFor(const char* what, const std::function<bool()>& condition, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            say(QStringLiteral("timed out waiting for %1").arg(QLatin1String(what)));
            ++m_failures;
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

bool Screenshotter::waitForTasks(const char* what)
{
    // A task queued from another thread reaches the scheduler a moment later.
    settle(100);
    return waitFor(what, [] { return tasksIdle(); });
}

void Screenshotter::settle(int ms)
{
    const QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(5);
    }
}

bool Screenshotter::save(QWidget* widget, const char* fileName)
{
    settle(300); // animations and batched tree changes
    const QString path = QDir(m_directory).filePath(QLatin1String(fileName));
    const bool saved = widget->grab().save(path, "PNG");
    say(saved ? QStringLiteral("saved %1").arg(path) : QStringLiteral("could not save %1").arg(path));
    if (!saved)
        ++m_failures;
    return saved;
}

void Screenshotter::run()
{
    QDir().mkpath(m_directory);
    m_window->resize(1280, 820);
    say(QStringLiteral("waiting for the dongle and its networks"));
    waitFor("the networks", [this] {
        return m_window->dmxWidget()->network() && m_window->daliWidget()->network()
               && m_window->keymarkWidget()->network();
    });
    waitForTasks("the dongle's initialisation");

    // DMX: discovery, the drivers' daisy chains, parameters and some levels.
    if (vx::VxNetwork* vx = m_window->dmxWidget()->network()) {
        action(m_window, "actionDMX")->trigger();
        say(QStringLiteral("RDM discovery"));
        general::TaskScheduler::instance()->addTask(vx->rdmSearch());
        waitForTasks("RDM discovery");
        for (int i = 1; i < vx->deviceCount(); ++i) {
            if (auto* device = qobject_cast<vx::VxDevice*>(vx->deviceAt(i)))
                device->searchDaisyChildren();
        }
        waitForTasks("the daisy-chain searches");
        // The page shows the parameters of device 0, the broadcast device,
        // which the one driver of the demo answers.
        m_window->dmxWidget()->refresh();
        waitFor("Refresh parameters", [this] { return !m_window->dmxWidget()->isRefreshing(); });
        // Two modelled devices of two channels, as "Add device(s)" makes them.
        QMetaObject::invokeMethod(vx, [vx] {
            vx->createDeviceString(2, 0, 1, 2, dmx::DMXDevice::Resolution8Bits, dmx::DaisyChainAuto);
        }, Qt::QueuedConnection);
        waitFor("the modelled devices", [this] {
            int boxes = 0;
            for (auto* box : m_window->dmxDock()->view()->deviceViews())
                boxes += box && box->isVisible() ? 1 : 0;
            return boxes == 2;
        });
        if (dmx::DMXSetpoint* setpoint = vx->getSetpoint(0)) {
            const unsigned char levels[] = {255, 180, 120, 60, 200, 140, 90, 30};
            for (int a = 0; a < 8; ++a)
                setpoint->setByte(quint16(a + 1), levels[a]);
        }
        save(m_window, "dmx.png");
    }

    // DALI: commissioning, then the page with its sliders.
    if (dali::DaliNetwork* dali = m_window->daliWidget()->network()) {
        // On the DALI page, as the user would: the dongle powers the bus.
        action(m_window, "actionDALI")->trigger();
        settle(300);
        say(QStringLiteral("DALI commissioning"));
        dali->daliSearch(dali::DaliNetwork::SearchAllDevices);
        waitForTasks("DALI commissioning");
        m_window->daliWidget()->broadcastSlider()->setValue(0.62f);
        for (int g = 0; g < DALIWidget::GroupCount; ++g)
            m_window->daliWidget()->groupSlider(g)->setValue(0.2f + 0.15f * float(g));
        save(m_window, "dali.png");
    }

    // The device tree after commissioning, wide enough to read.
    QTreeView* tree = m_window->deviceTreeDock()->view();
    showDevices(tree, QModelIndex(), 0);
    // One commissioned gear with its levels read.
    const QModelIndexList gear = tree->model()->match(tree->model()->index(0, 0), Qt::DisplayRole,
                                                      QStringLiteral("DALI Device 0"), 1,
                                                      Qt::MatchExactly | Qt::MatchRecursive);
    if (!gear.isEmpty()) {
        tree->expand(gear.first());
        const QModelIndexList levels = tree->model()->match(tree->model()->index(0, 0, gear.first()), Qt::DisplayRole,
                                                            QStringLiteral("Levels"), 1, Qt::MatchExactly);
        if (!levels.isEmpty()) {
            if (general::TreeNode* node = m_window->deviceTreeDock()->model()->nodeForIndex(levels.first()))
                node->triggerUpdate();
            waitForTasks("the gear's levels");
            tree->expand(levels.first());
        }
    }
    tree->setCurrentIndex(QModelIndex());
    m_window->resizeDocks({m_window->deviceTreeDock()}, {720}, Qt::Horizontal);
    save(m_window, "devices.png");
    m_window->resizeDocks({m_window->deviceTreeDock()}, {380}, Qt::Horizontal);

    // Keymark: the tag read into the form.
    if (km::KeymarkNetwork* keymark = m_window->keymarkWidget()->network()) {
        action(m_window, "actionKeymark")->trigger();
        KeymarkConfigWidget* form = m_window->keymarkWidget()->configWidget();
        auto* readButton = form->findChild<QPushButton*>(QStringLiteral("readConfigPushButton"));
        waitFor("the Keymark tag", [keymark, form, readButton] {
            return keymark->isTagConnected() && !form->isBusy() && readButton->isEnabled();
        });
        bool read = false;
        auto connection = connect(form, &KeymarkConfigWidget::readFinished, this, [&read] { read = true; });
        readButton->click();
        waitFor("Read", [&read] { return read; });
        disconnect(connection);
        m_window->keymarkWidget()->slider()->setValue(0.5f);
        save(m_window, "keymark.png");
    }

    // The log window on the DALI network's frames.
    general::MultiLogWidget* logs = m_window->logWindow();
    logs->resize(1000, 560);
    logs->show();
    for (int i = 0; i < logs->logCount(); ++i) {
        if (logs->tabs()->tabText(i).startsWith(QLatin1String("DALI Network")))
            logs->tabs()->setCurrentIndex(i);
    }
    for (int i = 0; i < logs->logCount(); ++i) {
        logs->logWidget(i)->setColumnWidth(0, 100);
        logs->logWidget(i)->setColumnWidth(1, 60);
        logs->logWidget(i)->setColumnWidth(2, 150);
    }
    save(logs, "log.png");

    say(m_failures ? QStringLiteral("%1 step(s) failed").arg(m_failures) : QStringLiteral("done"));
    QCoreApplication::exit(m_failures ? 1 : 0);
}

} // namespace halvorn
