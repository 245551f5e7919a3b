#include "app/daliwidget.h"

#include "dali/dalinetwork.h"
#include "general/input.h"
#include "general/iomanager.h"
#include "general/output.h"
#include "general/ui/outputslider.h"
#include "usb/usbdongle.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QShowEvent>
#include <QVBoxLayout>

namespace halvorn {

namespace {

constexpr QSize SliderSize(50, 500);

QVBoxLayout* column(const QString& title, general::OutputSlider* slider)
{
    auto* layout = new QVBoxLayout;
    auto* label = new QLabel(title);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    layout->addWidget(slider, 0, Qt::AlignHCenter);
    layout->addStretch();
    return layout;
}

} // namespace

DALIWidget::DALIWidget(QWidget* parent)
    : QWidget(parent)
    , m_broadcast(makeSlider(QColor(202, 235, 139, 200), QColor(178, 219, 116, 200)))
{
    m_broadcast->setObjectName(QStringLiteral("broadcastSlider"));
    auto* layout = new QHBoxLayout(this);
    layout->addLayout(column(tr("Broadcast"), m_broadcast));
    layout->addSpacing(20);
    for (int g = 0; g < GroupCount; ++g) {
        general::OutputSlider* slider = makeSlider(QColor(218, 251, 155, 100), QColor(178, 219, 116, 100));
        slider->setObjectName(QStringLiteral("groupSlider%1").arg(g));
        m_groups.append(slider);
        layout->addLayout(column(tr("DALI Group %1").arg(g + 1), slider));
    }
    layout->addStretch();
}

general::OutputSlider* DALIWidget::makeSlider(const QColor& from, const QColor& to)
{
    auto* slider = new general::OutputSlider;
    slider->setOrientation(general::OutputSlider::Vertical);
    slider->setFixedSize(SliderSize);
    slider->setShowMarkers(true);
    slider->setFromColour(from);
    slider->setToColour(to);
    return slider;
}

dali::DaliNetwork* DALIWidget::network() const
{
    return m_network;
}

void DALIWidget::setNetwork(dali::DaliNetwork* network)
{
    if (network != m_network) {
        // The bus that the page leaves is no longer powered for it.
        if (isVisible())
            switchBusPower(false);
        for (const auto& [slider, input] : std::as_const(m_attached)) {
            if (input)
                slider->output()->removeInput(input);
        }
        m_attached.clear();
        m_network = network;
        if (network) {
            attach(m_broadcast, QStringLiteral("Broadcast Setpoint"));
            for (int g = 0; g < GroupCount; ++g)
                attach(m_groups[g], QStringLiteral("Group %1 Setpoint").arg(g));
        }
    }
    if (isVisible())
        switchBusPower(true);
}

void DALIWidget::attach(general::OutputSlider* slider, const QString& inputName)
{
    general::Input* input = m_network->ioManager()->input(inputName);
    slider->output()->addInput(input);
    m_attached.append({slider, input});
}

// Only the page's own showing and hiding count: minimising the window
// (spontaneous events) must not take the bus power away from the gear.
void DALIWidget::showEvent(QShowEvent* event)
{
    QWidget::showEvent(event);
    if (!event->spontaneous())
        switchBusPower(true);
}

void DALIWidget::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    if (!event->spontaneous())
        switchBusPower(false);
}

void DALIWidget::switchBusPower(bool on)
{
    dali::DaliNetwork* network = m_network;
    if (!network)
        return;
    // Queued into the network's thread: in order, and never on the GUI's time.
    QMetaObject::invokeMethod(
        network,
        [network, on] {
            usb::USBDongle* dongle = network->dongle();
            if (!dongle || !dongle->isConnected())
                return;
            if (on && dongle->isDALIBusConnected())
                return;
            dongle->setDALIBusPower(on);
        },
        Qt::QueuedConnection);
}

} // namespace halvorn
