#include "general/ui/appmenubar.h"

#include <QApplication>
#include <QKeySequence>
#include <QMessageBox>
#include <QPointer>

namespace halvorn::general {

namespace {
QPointer<AppMenuBar> s_instance;
}

AppMenuBar::AppMenuBar()
    : QMenuBar(nullptr)
    , m_windowMenu(addMenu(tr("Window")))
    , m_helpMenu(nullptr)
    , m_aboutAction(new QAction(tr("&About"), this))
{
    connect(m_aboutAction, &QAction::triggered, this, &AppMenuBar::about);
    m_helpMenu = addMenu(tr("&Help"));
    m_helpMenu->addAction(m_aboutAction);
}

AppMenuBar* AppMenuBar::instance()
{
    if (!s_instance) {
        s_instance = new AppMenuBar;
        // Deleted with the application, before the widgets' platform goes.
        if (QCoreApplication* app = QCoreApplication::instance())
            QObject::connect(app, &QCoreApplication::aboutToQuit, s_instance.data(), &QObject::deleteLater);
    }
    return s_instance;
}

QAction* AppMenuBar::registerWindow(QWidget* widget, const QString& title, const QKeySequence& keys)
{
    auto* action = new QAction(title, widget);
    action->setShortcut(keys);
    action->setShortcutContext(Qt::ApplicationShortcut);
    connect(action, &QAction::triggered, widget, &QWidget::show);
    connect(action, &QAction::triggered, widget, &QWidget::raise);
    connect(action, &QAction::triggered, widget, &QWidget::activateWindow);
    m_windowMenu->addAction(action);
    // The window's own list keeps the shortcut active while it is shown.
    widget->addAction(action);
    for (const QPointer<QWidget>& window : std::as_const(m_attached)) {
        if (window && window != widget)
            window->addAction(action);
    }
    return action;
}

void AppMenuBar::attachTo(QWidget* window)
{
    if (!window || m_attached.contains(window))
        return;
    m_attached.append(window);
    window->addActions(m_windowMenu->actions());
}

void AppMenuBar::about()
{
    QMessageBox::about(nullptr, tr("About Tivaro"),
                       tr("<b>Halvorn Tivaro</b><br><br> <i>Version: 1.00</i><br>"));
}

} // namespace halvorn::general
