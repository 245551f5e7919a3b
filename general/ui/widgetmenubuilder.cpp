#include "general/ui/widgetmenubuilder.h"

#include "general/ui/paramtogglemenuitem.h"
#include "general/ui/taskmenuitem.h"

#include <QMenu>

namespace halvorn::general {

WidgetMenuBuilder::WidgetMenuBuilder(QMenu* menu, QObject* owner)
    : m_menu(menu)
    , m_owner(owner)
{
}

WidgetMenuBuilder::~WidgetMenuBuilder() = default;

QAction* WidgetMenuBuilder::addAction(const QString& text)
{
    return m_menu->addAction(text);
}

QAction* WidgetMenuBuilder::addTask(Task* task)
{
    if (!task)
        return nullptr;
    auto* item = new TaskMenuItem(task, m_owner, m_menu);
    m_menu->addAction(item);
    return item;
}

QAction* WidgetMenuBuilder::addParameterToggle(Parameter* parameter)
{
    if (!parameter)
        return nullptr;
    auto* item = new ParamToggleMenuItem(parameter, m_menu);
    m_menu->addAction(item);
    return item;
}

void WidgetMenuBuilder::addSeparator()
{
    m_menu->addSeparator();
}

MenuBuilder* WidgetMenuBuilder::addMenu(const QString& title)
{
    QMenu* subMenu = m_menu->addMenu(title);
    m_subMenus.push_back(std::make_unique<WidgetMenuBuilder>(subMenu, m_owner));
    return m_subMenus.back().get();
}

QObject* WidgetMenuBuilder::owner()
{
    return m_owner;
}

} // namespace halvorn::general
