#pragma once

#include "general/network.h"
#include "general/ui/parameterproxy.h"
#include "general/ui/parameterproxyview.h"

#include <QGroupBox>
#include <QList>
#include <QPointer>

class QFormLayout;

namespace halvorn::general {

// A titled group of parameter editors, one form row per proxy, all bound to
// the device 0 of one network.
class ParameterProxyViewGroup : public QGroupBox
{
    Q_OBJECT

public:
    explicit ParameterProxyViewGroup(const QString& title, QWidget* parent = nullptr);

    // Adds a row for the proxy; the group takes a proxy that has no parent.
    ParameterProxyView* addProxy(halvorn::general::ParameterProxy* proxy);
    void setNetwork(halvorn::general::Network* network);
    Network* network() const { return m_network; }
    int count() const { return int(m_views.size()); }
    ParameterProxyView* view(int index) const { return m_views.value(index); }

private:
    QPointer<Network> m_network;
    QList<ParameterProxy*> m_proxies;
    QList<ParameterProxyView*> m_views;
    QFormLayout* m_layout;
};

} // namespace halvorn::general
