#include "general/ui/devicestatuswidget.h"

#include "general/device.h"
#include "general/ui/iconloader.h"

#include <QHBoxLayout>
#include <QLabel>

namespace halvorn::general {

DeviceStatusWidget::DeviceStatusWidget(QWidget* parent)
    : QWidget(parent)
    , m_label(new QLabel(this))
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_label);
    m_label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
}

void DeviceStatusWidget::setIcon(const QString& path)
{
    if (path.isEmpty())
        return;
    m_iconPath = path;
    m_label->setPixmap(loadPixmap(path, devicePixelRatioF()));
}

void DeviceStatusWidget::setDevice(Device* device)
{
    if (device != m_device) {
        if (m_device)
            disconnect(m_device, nullptr, this, nullptr);
        m_device = device;
        if (device) {
            connect(device, &Device::connected, this, &DeviceStatusWidget::deviceConnected);
            connect(device, &Device::disconnected, this, &DeviceStatusWidget::deviceDisconnected);
            connect(device, &Device::activity, this, &DeviceStatusWidget::deviceActivity);
        }
    }
    if (device && device->isConnected())
        deviceConnected();
    else
        deviceDisconnected();
}

void DeviceStatusWidget::deviceConnected()
{
    showState(tr("Connected"), m_device ? m_device->connectedIcon() : QString());
    setToolTip(m_device ? m_device->infoText() : QString());
}

void DeviceStatusWidget::deviceDisconnected()
{
    showState(tr("Disconnected"), m_device ? m_device->disconnectedIcon() : QString());
    setToolTip(QString());
}

void DeviceStatusWidget::deviceActivity()
{
}

void DeviceStatusWidget::showState(const QString& text, const QString& iconPath)
{
    // A QLabel shows either a text or a pixmap. The device's icon for the
    // state wins; a device without icons shows the text; without a device
    // the last icon stays.
    m_stateText = text;
    m_label->setAccessibleName(text);
    if (!iconPath.isEmpty()) {
        setIcon(iconPath);
    } else if (m_device || m_iconPath.isEmpty()) {
        m_iconPath.clear();
        m_label->setText(text);
    }
}

} // namespace halvorn::general
