#pragma once

#include "general/log.h"

#include <QAbstractTableModel>
#include <QBrush>
#include <QFont>
#include <QIcon>
#include <QPointer>

namespace halvorn::general {

// Shows a log as a table: time, class, thread and message, coloured and
// marked with an icon by message type.
//
// The log grows in other threads and announces its messages in batches;
// the model keeps its own count of the rows it has announced and takes
// from each batch only what extends that count up to the log's current
// size. A batch that arrives after a clear with rows past the new end, or
// an empty or overlapping range, therefore never makes rowCount() differ
// from what the views were told.
class LogModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit LogModel(halvorn::general::Log* log, QObject* parent = nullptr);

    Log* log() const { return m_log; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

public Q_SLOTS:
    void messagesAdded(int firstMsg, int lastMsg);
    void messagesRemoved(int firstMsg, int lastMsg);

private:
    QVariant background(MessageType type) const;
    QVariant foreground(MessageType type) const;
    QVariant decoration(MessageType type) const;

    QPointer<Log> m_log;
    int m_rows = 0; // rows announced to the views
    const QFont m_font;
    const QIcon m_warningIcon;
    const QIcon m_errorIcon;
    const QIcon m_okIcon;
};

} // namespace halvorn::general
