#include "general/ui/parameterproxyviewgroup.h"

#include <QFormLayout>
#include <QLabel>

namespace halvorn::general {

ParameterProxyViewGroup::ParameterProxyViewGroup(const QString& title, QWidget* parent)
    : QGroupBox(title, parent)
    , m_layout(new QFormLayout(this))
{
    m_layout->setSizeConstraint(QLayout::SetMinimumSize);
}

ParameterProxyView* ParameterProxyViewGroup::addProxy(ParameterProxy* proxy)
{
    if (!proxy)
        return nullptr;
    if (!proxy->parent())
        proxy->setParent(this);
    m_proxies.append(proxy);
    auto* view = new ParameterProxyView(proxy, this);
    m_layout->addRow(view->label(), view->editor());
    view->updateUI();
    m_views.append(view);
    if (m_network)
        proxy->setNetwork(m_network);
    return view;
}

void ParameterProxyViewGroup::setNetwork(Network* network)
{
    m_network = network;
    for (ParameterProxy* proxy : std::as_const(m_proxies))
        proxy->setNetwork(network);
}

} // namespace halvorn::general
