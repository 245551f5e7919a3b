#include "general/ui/multilogwidget.h"

#include "general/ui/appmenubar.h"
#include "general/ui/logwidget.h"

#include <QKeySequence>
#include <QTabWidget>
#include <QVBoxLayout>

namespace halvorn::general {

MultiLogWidget::MultiLogWidget(QWidget* parent)
    : QWidget(parent)
    , m_tabs(new QTabWidget(this))
{
    setWindowTitle(tr("Log"));
    AppMenuBar::instance()->registerWindow(this, tr("Log"), QKeySequence(Qt::CTRL | Qt::Key_2));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_tabs);
    resize(640, 480);
}

void MultiLogWidget::addLog(Log* log)
{
    if (!log)
        return;
    for (int i = 0; i < m_tabs->count(); ++i) {
        if (logWidget(i)->log() == log)
            return;
    }
    auto* widget = new LogWidget(m_tabs);
    widget->setLog(log);
    m_tabs->addTab(widget, log->name());
}

int MultiLogWidget::logCount() const
{
    return m_tabs->count();
}

LogWidget* MultiLogWidget::logWidget(int index) const
{
    return qobject_cast<LogWidget*>(m_tabs->widget(index));
}

} // namespace halvorn::general
