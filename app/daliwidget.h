#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

namespace halvorn::dali {
class DaliNetwork;
}
namespace halvorn::general {
class Input;
class OutputSlider;
} // namespace halvorn::general

namespace halvorn {

// The DALI page: a broadcast level slider and one slider per DALI group
// 0..3 (labelled 1..4), each driving the network's set-point input of the
// same name.
//
// While the page is visible the dongle powers the bus itself (unless the
// bus has a supply of its own); hiding the page switches the dongle's bus
// power off. The bus power is switched in the network's thread, as it
// means a few exchanges with the dongle.
class DALIWidget : public QWidget
{
    Q_OBJECT

public:
    static constexpr int GroupCount = 4;

    explicit DALIWidget(QWidget* parent = nullptr);

    void setNetwork(halvorn::dali::DaliNetwork* network);
    dali::DaliNetwork* network() const;
    general::OutputSlider* broadcastSlider() const { return m_broadcast; }
    general::OutputSlider* groupSlider(int group) const { return m_groups.value(group); }

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    general::OutputSlider* makeSlider(const QColor& from, const QColor& to);
    void attach(general::OutputSlider* slider, const QString& inputName);
    // Power on (unless the bus is powered already) or off.
    void switchBusPower(bool on);

    QPointer<dali::DaliNetwork> m_network;
    general::OutputSlider* m_broadcast;
    QList<general::OutputSlider*> m_groups;
    // The network inputs the sliders drive now.
    QList<QPair<general::OutputSlider*, QPointer<general::Input>>> m_attached;
};

} // namespace halvorn
