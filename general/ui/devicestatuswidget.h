#pragma once

#include "general/device.h"

#include <QPointer>
#include <QWidget>

class QLabel;

namespace halvorn::general {

class Device;

// Shows in the status bar whether a device (the dongle, a Keymark tag) is
// connected: "Connected" or "Disconnected", the device's icon for that
// state, and the device's status text as tool tip.
class DeviceStatusWidget : public QWidget
{
    Q_OBJECT

public:
    explicit DeviceStatusWidget(QWidget* parent = nullptr);

    // Shows the image of the resource path, unscaled, right-aligned.
    void setIcon(const QString& path);
    // Follows the device's connect and disconnect signals and shows its
    // current state. The device may live in another thread.
    void setDevice(halvorn::general::Device* device);
    Device* device() const { return m_device; }
    // "Connected" or "Disconnected" (the label shows the icon instead when
    // the device has one for its state).
    QString text() const { return m_stateText; }

public Q_SLOTS:
    void deviceConnected();
    void deviceDisconnected();
    void deviceActivity();

private:
    void showState(const QString& text, const QString& iconPath);

    QPointer<Device> m_device;
    QLabel* m_label;
    QString m_stateText;
    QString m_iconPath; // the icon shown, empty while the text is
};

} // namespace halvorn::general
