#pragma once

#include "general/log.h"

#include <QPointer>
#include <QTableView>

namespace halvorn::general {

class LogModel;

// Shows one log as a table that follows new messages ("Auto scroll"), and
// whose context menu saves ("Save log") and clears ("Clear") the log.
//
// Built for logs of millions of lines: every row has the log's row height
// (the vertical header never measures rows), and new messages cost only
// the rows they add.
class LogWidget : public QTableView
{
    Q_OBJECT

public:
    explicit LogWidget(QWidget* parent = nullptr);
    ~LogWidget() override;

    // Shows another log (or none); the previous model is deleted.
    void setLog(halvorn::general::Log* log);
    Log* log() const { return m_log; }
    LogModel* logModel() const { return m_model; }
    QAction* autoScrollAction() const { return m_autoScrollAction; }

public Q_SLOTS:
    void addedMessages(int firstMsg, int lastMsg);
    void clearLog();
    void saveLog();
    void setAutoScroll(bool enable);

private:
    QPointer<Log> m_log;
    LogModel* m_model = nullptr; // owned
    QAction* m_autoScrollAction;
};

} // namespace halvorn::general
