#pragma once

#include "general/menubuilder.h"

#include <memory>
#include <vector>

class QMenu;

namespace halvorn::general {

// Turns a node's description of its context menu (TreeNode::populateMenu)
// into the entries of a QMenu: plain actions, task entries (TaskMenuItem),
// parameter toggles (ParamToggleMenuItem), separators and sub-menus. Every
// action and sub-menu belongs to the menu; `owner` (the top menu) also owns
// what nodes create for the menu (action groups, tasks made for it).
class WidgetMenuBuilder : public MenuBuilder
{
public:
    WidgetMenuBuilder(QMenu* menu, QObject* owner);
    ~WidgetMenuBuilder() override;

    QAction* addAction(const QString& text) override;
    QAction* addTask(Task* task) override;
    QAction* addParameterToggle(Parameter* parameter) override;
    void addSeparator() override;
    MenuBuilder* addMenu(const QString& title) override;
    QObject* owner() override;

    QMenu* menu() const { return m_menu; }

private:
    QMenu* m_menu;
    QObject* m_owner;
    std::vector<std::unique_ptr<WidgetMenuBuilder>> m_subMenus;
};

} // namespace halvorn::general
