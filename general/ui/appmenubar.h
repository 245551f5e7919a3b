#pragma once

#include <QList>
#include <QMenuBar>
#include <QPointer>

class QKeySequence;

namespace halvorn::general {

// The process-wide menu bar shared by the tool's top-level windows: a
// "Window" menu in which windows register themselves with a shortcut that
// works application-wide, and a "&Help" menu with the about box.
class AppMenuBar : public QMenuBar
{
    Q_OBJECT

public:
    // Created (without parent) on the first call; lives until the
    // application object is destroyed.
    static AppMenuBar* instance();

    // Adds an entry to the "Window" menu that shows and raises the widget.
    // The entry goes away with the widget.
    QAction* registerWindow(QWidget* widget, const QString& title, const QKeySequence& keys);
    // Qt honours a shortcut only while a widget holding its action is
    // visible; a window attached here (the main window) holds every window
    // entry, present and future, so the shortcuts work whenever it is shown.
    void attachTo(QWidget* window);

    QMenu* windowMenu() const { return m_windowMenu; }
    QMenu* helpMenu() const { return m_helpMenu; }

public Q_SLOTS:
    void about();

private:
    AppMenuBar();

    QList<QPointer<QWidget>> m_attached;
    QMenu* m_windowMenu;
    QMenu* m_helpMenu;
    QAction* m_aboutAction;
};

} // namespace halvorn::general
