#include "app/dmxwidget.h"

#include "app/refreshparameterstask.h"

#include "general/taskscheduler.h"
#include "general/ui/parameterintproxy.h"
#include "general/ui/parameterproxyviewgroup.h"
#include "vx/vxnetwork.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QPushButton>
#include <QScrollArea>
#include <QShowEvent>
#include <QVBoxLayout>

namespace halvorn {

DMXWidget::DMXWidget(QWidget* parent)
    : QWidget(parent)
    , m_refreshButton(new QPushButton(tr("Refresh parameters")))
    , m_groupArea(new QWidget)
{
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* frame = new QFrame;
    frame->setStyleSheet(QStringLiteral(
        "QFrame { color:#aaa; background-color: qlineargradient(x1: 0, y1: 0, x2: 0, y2: 1, "
        "stop: 0 #ededed, stop: 1 #c8c8c8); }"));
    frame->setFrameStyle(QFrame::Panel | QFrame::Raised);
    auto* bar = new QHBoxLayout(frame);
    bar->setContentsMargins(8, 2, 8, 0);
    bar->setSizeConstraint(QLayout::SetMinAndMaxSize);
    bar->addStretch();
    m_refreshButton->setObjectName(QStringLiteral("refreshParametersButton"));
    m_refreshButton->setMaximumWidth(200);
    bar->addWidget(m_refreshButton);
    connect(m_refreshButton, &QPushButton::clicked, this, &DMXWidget::refresh);
    layout->addWidget(frame);

    auto* scroll = new QScrollArea;
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setContentsMargins(0, 0, 0, 0);
    scroll->setWidgetResizable(true);
    auto* groups = new QVBoxLayout(m_groupArea);
    groups->setContentsMargins(8, 0, 8, 0);
    groups->setSizeConstraint(QLayout::SetMinimumSize);
    scroll->setWidget(m_groupArea);
    layout->addWidget(scroll);

    addGroup(tr("Networking settings"), {2, 4, 52, 59, 54, 80, 81, 82, 83});
    addGroup(tr("Control settings"), {1, 5, 6, 8, 24, 25, 9, 53, 68, 55, 56, 60, 61, 62, 63});
    addGroup(tr("Drive settings"), {157, 155, 156, 167, 170, 171, 172, 173});
    groups->addStretch();
}

void DMXWidget::addGroup(const QString& title, std::initializer_list<uint> numbers)
{
    auto* group = new general::ParameterProxyViewGroup(title, m_groupArea);
    for (uint number : numbers) {
        auto* proxy = new general::ParameterIntProxy(number);
        group->addProxy(proxy);
        connect(proxy, &general::ParameterProxy::paramChanged, group,
                [this, group] { updateGroupVisibility(group); });
    }
    group->hide();
    m_groupArea->layout()->addWidget(group);
    m_groups.append(group);
}

void DMXWidget::updateGroupVisibility(general::ParameterProxyViewGroup* group)
{
    bool any = false;
    for (int i = 0; i < group->count() && !any; ++i)
        any = group->view(i)->proxy()->isValid();
    group->setVisible(any);
}

vx::VxNetwork* DMXWidget::network() const
{
    return m_network;
}

void DMXWidget::setNetwork(vx::VxNetwork* network)
{
    if (network != m_network) {
        m_network = network;
        for (general::ParameterProxyViewGroup* group : std::as_const(m_groups)) {
            group->setNetwork(network);
            updateGroupVisibility(group);
        }
    }
    if (m_network && isVisible())
        m_network->startDMXOutput();
}

void DMXWidget::refresh()
{
    if (!m_network || m_refreshing)
        return;
    general::Device* device = m_network->deviceAt(0);
    if (!device)
        return;
    m_network->stopDMXOutput();
    m_refreshing = true;
    m_refreshButton->setEnabled(false);
    auto* task = new RefreshParametersTask(device);
    // taskDone comes from the pool thread; the widget takes it up in its own.
    connect(task, &general::Task::taskDone, this, &DMXWidget::refreshDone, Qt::QueuedConnection);
    general::TaskScheduler::instance()->addTask(task);
}

void DMXWidget::refreshDone()
{
    m_refreshing = false;
    m_refreshButton->setEnabled(true);
    // Hidden in the meantime: the output stays off until the page is shown.
    if (m_network && isVisible())
        m_network->startDMXOutput();
    for (general::ParameterProxyViewGroup* group : std::as_const(m_groups))
        updateGroupVisibility(group);
    emit refreshFinished();
}

// Only the page's own showing and hiding count: a window that is minimised
// and restored (spontaneous events) keeps the light as it is.
void DMXWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (m_network && !event->spontaneous())
        m_network->startDMXOutput();
}

void DMXWidget::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (m_network && !event->spontaneous())
        m_network->stopDMXOutput();
}

} // namespace halvorn
