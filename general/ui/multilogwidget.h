#pragma once

#include "general/log.h"

#include <QWidget>

class QTabWidget;

namespace halvorn::general {

class LogWidget;

// The log window: one tab per log (the main log first, then one per
// network). Registered with the application menu bar as "Log" (Ctrl+2).
class MultiLogWidget : public QWidget
{
    Q_OBJECT

public:
    explicit MultiLogWidget(QWidget* parent = nullptr);

    // Adds a tab for the log, titled with its name, unless one shows it.
    void addLog(halvorn::general::Log* log);
    int logCount() const;
    LogWidget* logWidget(int index) const;
    QTabWidget* tabs() const { return m_tabs; }

private:
    QTabWidget* m_tabs;
};

} // namespace halvorn::general
