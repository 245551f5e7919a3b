#pragma once

// Header-only helpers for tests of widgets and windows (they link QtWidgets;
// the support library itself does not).

#include "general/taskscheduler.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QTest>
#include <QTimer>

namespace halvorn::test {

// Answers the next modal dialog of type Dialog, once it is shown, with
// answer(dialog); a dialog of another type is left open.
template<typename Dialog, typename F>
void answerDialog(F answer)
{
    QTimer::singleShot(0, [answer] {
        if (auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget()))
            answer(dialog);
    });
}

// The entry of `menu` or of its sub-menus with that text (null if none).
inline QAction* menuEntry(const QMenu* menu, const QString& text)
{
    for (QAction* action : menu ? menu->actions() : QList<QAction*>()) {
        if (action->text() == text && !action->menu())
            return action;
        if (QAction* found = action->menu() ? menuEntry(action->menu(), text) : nullptr)
            return found;
    }
    return nullptr;
}

// The entries of a menu: separators as "-", sub-menus as "<title>>".
inline QStringList menuTexts(const QMenu* menu)
{
    QStringList result;
    for (const QAction* action : menu->actions())
        result << (action->isSeparator() ? QStringLiteral("-")
                   : action->menu()      ? action->text() + QLatin1Char('>')
                                         : action->text());
    return result;
}

// True once no background task runs or waits (bounded by timeoutMs).
inline bool waitForIdleTasks(int timeoutMs = 15000)
{
    general::TaskScheduler* scheduler = general::TaskScheduler::instance();
    return QTest::qWaitFor([scheduler] { return !scheduler->currentTask() && scheduler->queuedCount() == 0; },
                           timeoutMs);
}

} // namespace halvorn::test
