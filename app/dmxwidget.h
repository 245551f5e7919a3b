#pragma once

#include <QList>
#include <QPointer>
#include <QWidget>

class QPushButton;

namespace halvorn::general {
class ParameterProxyViewGroup;
}
namespace halvorn::vx {
class VxNetwork;
}

namespace halvorn {

// The DMX page: the drivers' settings on the network's device 0 (the
// broadcast device) in three groups — networking, control and drive — and
// "Refresh parameters", which lists and reads them again in the background.
// A group shows once one of its parameters is on the device.
//
// DMX set points are sent only while this page is visible: showing it
// starts the network's DMX output, hiding it stops it.
class DMXWidget : public QWidget
{
    Q_OBJECT

public:
    explicit DMXWidget(QWidget* parent = nullptr);

    void setNetwork(halvorn::vx::VxNetwork* network);
    vx::VxNetwork* network() const;
    QPushButton* refreshButton() const { return m_refreshButton; }
    QList<general::ParameterProxyViewGroup*> groups() const { return m_groups; }
    // A refresh is queued or running.
    bool isRefreshing() const { return m_refreshing; }

public Q_SLOTS:
    void refresh();

Q_SIGNALS:
    void refreshFinished();

protected:
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;

private:
    void addGroup(const QString& title, std::initializer_list<uint> numbers);
    void updateGroupVisibility(general::ParameterProxyViewGroup* group);
    void refreshDone();

    QPointer<vx::VxNetwork> m_network;
    QPushButton* m_refreshButton;
    QWidget* m_groupArea;
    QList<general::ParameterProxyViewGroup*> m_groups;
    bool m_refreshing = false;
};

} // namespace halvorn
