#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class KeymarkConfigWidget;

namespace halvorn::general {
class Input;
class OutputSlider;
} // namespace halvorn::general
namespace halvorn::km {
class KeymarkNetwork;
}

namespace halvorn {

// The Keymark page: the tag's configuration form and a level slider that
// drives the driver behind the tag (the network's "Broadcast Setpoint").
// The slider can be moved only while a tag is connected, and shows its
// percentage on the dimming curve last read or written.
class KeymarkWidget : public QWidget
{
    Q_OBJECT

public:
    explicit KeymarkWidget(QWidget* parent = nullptr);

    void setNetwork(halvorn::km::KeymarkNetwork* network);
    km::KeymarkNetwork* network() const;
    KeymarkConfigWidget* configWidget() const { return m_config; }
    general::OutputSlider* slider() const { return m_slider; }

public Q_SLOTS:
    void OnKeymarkConnect();
    void OnKeymarkDisconnect();
    void dimCurveChanged(int i);

private:
    QPointer<km::KeymarkNetwork> m_network;
    KeymarkConfigWidget* m_config;
    general::OutputSlider* m_slider;
    QPointer<general::Input> m_input;
    QList<QMetaObject::Connection> m_networkConnections;
};

} // namespace halvorn
