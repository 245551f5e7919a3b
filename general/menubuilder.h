#pragma once

#include <QString>

class QAction;
class QObject;

namespace halvorn::general {

class Task;
class Parameter;

// Collects the entries of a node's context menu without needing QtWidgets.
// The ui layer implements it on a QMenu; tests implement it to record the
// entries. Actions returned are owned by the menu being built.
class MenuBuilder
{
public:
    virtual ~MenuBuilder() = default;

    // A plain entry; connect its triggered() to the node's slot.
    virtual QAction* addAction(const QString& text) = 0;
    // An entry that queues `task` on the task scheduler when triggered.
    virtual QAction* addTask(Task* task) = 0;
    // A checkable entry that writes 1 or 0 to the parameter.
    virtual QAction* addParameterToggle(Parameter* parameter) = 0;
    virtual void addSeparator() = 0;
    // A sub-menu; the returned builder stays valid while this one does.
    virtual MenuBuilder* addMenu(const QString& title) = 0;
    // The object that should own anything the node creates for the menu
    // (action groups, tasks made for this menu only).
    virtual QObject* owner() = 0;
};

} // namespace halvorn::general
