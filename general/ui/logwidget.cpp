#include "general/ui/logwidget.h"

#include "general/ui/logmodel.h"

#include <QAction>
#include <QFileDialog>
#include <QHeaderView>

namespace halvorn::general {

LogWidget::LogWidget(QWidget* parent)
    : QTableView(parent)
    , m_autoScrollAction(new QAction(tr("Auto scroll"), this))
{
    setStyleSheet(QStringLiteral("QTableView { gridline-color: #f6f6f6; }"));
    horizontalHeader()->setStretchLastSection(true);
    verticalHeader()->setSectionResizeMode(QHeaderView::Interactive);
    verticalHeader()->setDefaultSectionSize(36);
    // Rows are never measured: with millions of messages that would take
    // seconds. Every row has the log's row height.
    setWordWrap(false);

    setContextMenuPolicy(Qt::ActionsContextMenu);
    m_autoScrollAction->setCheckable(true);
    m_autoScrollAction->setChecked(true);
    connect(m_autoScrollAction, &QAction::toggled, this, &LogWidget::setAutoScroll);
    addAction(m_autoScrollAction);
    auto* save = new QAction(tr("Save log"), this);
    connect(save, &QAction::triggered, this, &LogWidget::saveLog);
    addAction(save);
    auto* clear = new QAction(tr("Clear"), this);
    connect(clear, &QAction::triggered, this, &LogWidget::clearLog);
    addAction(clear);
}

LogWidget::~LogWidget()
{
    setModel(nullptr);
    delete m_model;
}

void LogWidget::setLog(Log* log)
{
    if (m_log)
        disconnect(m_log, nullptr, this, nullptr);
    m_log = log;
    LogModel* previous = m_model;
    m_model = nullptr;
    if (!log) {
        setModel(nullptr);
        delete previous;
        return;
    }
    // The style's minimum (from the font) would otherwise win over the log's height.
    verticalHeader()->setMinimumSectionSize(std::min(verticalHeader()->minimumSectionSize(), log->rowHeight()));
    verticalHeader()->setDefaultSectionSize(log->rowHeight());
    // Every message now in the log is read by the model at once; later ones
    // come in the log's batches.
    log->catchUp();
    m_model = new LogModel(log);
    setModel(m_model);
    delete previous;
    m_autoScrollAction->setChecked(log->autoScroll());
    connect(log, &Log::addedMessages, this, &LogWidget::addedMessages);
    if (log->autoScroll())
        scrollToBottom();
}

void LogWidget::addedMessages(int, int)
{
    if (isVisible() && m_log && m_log->autoScroll())
        scrollToBottom();
}

void LogWidget::setAutoScroll(bool enable)
{
    if (m_log)
        m_log->setAutoScroll(enable);
    if (m_autoScrollAction->isChecked() != enable)
        m_autoScrollAction->setChecked(enable);
}

void LogWidget::clearLog()
{
    if (m_log)
        m_log->clear();
}

void LogWidget::saveLog()
{
    if (!m_log)
        return;
    const QString path =
        QFileDialog::getSaveFileName(this, tr("Save Log File"), QStringLiteral("log.txt"), tr("Text (*.txt)"));
    if (path.isEmpty())
        return; // cancelled
    m_log->saveToFile(path);
}

} // namespace halvorn::general
