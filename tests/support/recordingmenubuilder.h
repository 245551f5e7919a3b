#pragma once

// A MenuBuilder that records the entries a node describes, for tests of
// populateMenu() without QtWidgets. Entries keep their order; sub-menus are
// recorded builders of their own. The actions belong to the builder, so
// triggering them (action->trigger()) runs what the node connected.

#include "general/menubuilder.h"
#include "general/parameter.h"
#include "general/task.h"
#include "general/taskscheduler.h"

#include <QAction>
#include <QObject>
#include <QPointer>
#include <QStringList>

#include <memory>
#include <vector>

namespace halvorn::test {

class RecordingMenuBuilder : public general::MenuBuilder
{
public:
    enum Kind { Action, TaskEntry, ParameterToggle, Separator, SubMenu };

    struct Entry
    {
        Kind kind = Action;
        QString text;
        QAction* action = nullptr;                   // all but separators and sub-menus
        general::Task* task = nullptr;               // TaskEntry
        RecordingMenuBuilder* subMenu = nullptr;     // SubMenu
    };

    explicit RecordingMenuBuilder(QString title = QString())
        : m_title(std::move(title))
    {
    }

    QAction* addAction(const QString& text) override
    {
        auto* action = new QAction(text, &m_owner);
        m_entries.push_back({Action, text, action, nullptr, nullptr});
        return action;
    }

    QAction* addTask(general::Task* task) override
    {
        auto* action = new QAction(task ? task->name() : QString(), &m_owner);
        QObject::connect(action, &QAction::triggered, &m_owner,
                         [task] { general::TaskScheduler::instance()->addTask(task); });
        m_entries.push_back({TaskEntry, action->text(), action, task, nullptr});
        return action;
    }

    QAction* addParameterToggle(general::Parameter* parameter) override
    {
        auto* action = new QAction(parameter->name(), &m_owner);
        action->setCheckable(true);
        action->setChecked(parameter->value() == 1);
        QPointer<general::Parameter> target(parameter);
        QObject::connect(action, &QAction::triggered, &m_owner, [target](bool on) {
            if (target)
                target->setValue(on ? 1 : 0, true);
        });
        m_entries.push_back({ParameterToggle, action->text(), action, nullptr, nullptr});
        return action;
    }

    void addSeparator() override { m_entries.push_back({Separator, QString(), nullptr, nullptr, nullptr}); }

    MenuBuilder* addMenu(const QString& title) override
    {
        m_subMenus.push_back(std::make_unique<RecordingMenuBuilder>(title));
        RecordingMenuBuilder* menu = m_subMenus.back().get();
        m_entries.push_back({SubMenu, title, nullptr, nullptr, menu});
        return menu;
    }

    QObject* owner() override { return &m_owner; }

    QString title() const { return m_title; }
    const std::vector<Entry>& entries() const { return m_entries; }

    // The entry texts in order; separators as "-", sub-menus as "<title>>".
    QStringList texts() const
    {
        QStringList result;
        for (const Entry& entry : m_entries) {
            if (entry.kind == Separator)
                result << QStringLiteral("-");
            else if (entry.kind == SubMenu)
                result << entry.text + QLatin1Char('>');
            else
                result << entry.text;
        }
        return result;
    }

    // The first action or sub-menu with this text, searching sub-menus too.
    QAction* action(const QString& text) const
    {
        for (const Entry& entry : m_entries) {
            if (entry.action && entry.text == text)
                return entry.action;
            if (entry.subMenu) {
                if (QAction* found = entry.subMenu->action(text))
                    return found;
            }
        }
        return nullptr;
    }

    RecordingMenuBuilder* subMenu(const QString& title) const
    {
        for (const Entry& entry : m_entries) {
            if (entry.subMenu && entry.text == title)
                return entry.subMenu;
        }
        return nullptr;
    }

private:
    QString m_title;
    QObject m_owner;
    std::vector<std::unique_ptr<RecordingMenuBuilder>> m_subMenus;
    std::vector<Entry> m_entries;
};

} // namespace halvorn::test
