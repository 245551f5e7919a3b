#include "app/keymarkwidget.h"

#include "general/input.h"
#include "general/iomanager.h"
#include "general/output.h"
#include "general/ui/outputslider.h"
#include "km/keymarknetwork.h"
#include "km/ui/keymarkconfigwidget.h"

#include <QHBoxLayout>
#include <QVBoxLayout>

namespace halvorn {

KeymarkWidget::KeymarkWidget(QWidget* parent)
    : QWidget(parent)
    , m_config(new KeymarkConfigWidget)
    , m_slider(new general::OutputSlider)
{
    m_slider->setObjectName(QStringLiteral("keymarkSlider"));
    m_slider->setOrientation(general::OutputSlider::Vertical);
    m_slider->setFixedSize(50, 500);
    m_slider->setShowMarkers(true);
    m_slider->setFromColour(QColor(250, 210, 120, 200));
    m_slider->setToColour(QColor(230, 190, 120, 200));
    m_slider->setInteractive(false);

    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_config);
    auto* sliderColumn = new QVBoxLayout;
    sliderColumn->addWidget(m_slider);
    sliderColumn->addStretch();
    layout->addLayout(sliderColumn);

    connect(m_config, &KeymarkConfigWidget::dimCurveChanged, this, &KeymarkWidget::dimCurveChanged);
}

km::KeymarkNetwork* KeymarkWidget::network() const
{
    return m_network;
}

void KeymarkWidget::setNetwork(km::KeymarkNetwork* network)
{
    if (!network || network == m_network)
        return;
    for (const QMetaObject::Connection& connection : std::as_const(m_networkConnections))
        disconnect(connection);
    m_networkConnections.clear();
    if (m_input)
        m_slider->output()->removeInput(m_input);

    m_network = network;
    m_config->setNetwork(network);
    m_input = network->ioManager()->input(QStringLiteral("Broadcast Setpoint"));
    m_slider->output()->addInput(m_input);
    m_networkConnections.append(
        connect(network, &km::KeymarkNetwork::OnKeymarkConnect, this, &KeymarkWidget::OnKeymarkConnect));
    m_networkConnections.append(
        connect(network, &km::KeymarkNetwork::OnKeymarkDisconnect, this, &KeymarkWidget::OnKeymarkDisconnect));
    m_slider->setInteractive(network->isTagConnected());
}

void KeymarkWidget::OnKeymarkConnect()
{
    m_slider->setInteractive(true);
}

void KeymarkWidget::OnKeymarkDisconnect()
{
    m_slider->setInteractive(false);
}

void KeymarkWidget::dimCurveChanged(int i)
{
    m_slider->setLinear(i == 0);
    m_slider->update();
}

} // namespace halvorn
