#include "general/ui/logmodel.h"

#include "general/logmessage.h"
#include "general/ui/iconloader.h"

#include <QColor>
#include <QSize>

#include <algorithm>

namespace halvorn::general {

namespace {

QFont logFont()
{
    QFont font(QStringLiteral("Courier"));
    font.setPointSize(10);
    font.setStyleHint(QFont::TypeWriter);
    return font;
}

// Row colours by message type.
const QColor kErrorBackground(255, 230, 230);
const QColor kOkBackground(230, 255, 230);
const QColor kBannerBackground(1, 48, 135);
const QColor kDebugBackground(240, 240, 255);
const QColor kReplyBackground(240, 255, 240);
const QColor kNoReplyBackground(255, 250, 235);
const QColor kFailureBackground(255, 240, 240);

} // namespace

LogModel::LogModel(Log* log, QObject* parent)
    : QAbstractTableModel(parent)
    , m_log(log)
    , m_rows(log ? log->count() : 0)
    , m_font(logFont())
    , m_warningIcon(loadIcon(QStringLiteral(":/general/icons/warning")))
    , m_errorIcon(loadIcon(QStringLiteral(":/general/icons/error")))
    , m_okIcon(loadIcon(QStringLiteral(":/general/icons/ok")))
{
    if (log) {
        connect(log, &Log::addedMessages, this, &LogModel::messagesAdded);
        connect(log, &Log::removedMessages, this, &LogModel::messagesRemoved);
    }
}

int LogModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : m_rows;
}

int LogModel::columnCount(const QModelIndex& parent) const
{
    if (parent.isValid() || !m_log)
        return 0;
    return m_log->columnCount();
}

QVariant LogModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || !m_log)
        return {};
    return m_log->columnName(section);
}

QVariant LogModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || !m_log || index.row() >= m_rows)
        return {};
    const int column = index.column();
    if (role == Qt::SizeHintRole) {
        switch (column) {
        case 0:
            return QSize(100, 10);
        case 1:
        case 2:
            return QSize(50, 10);
        case 3:
            return QSize(500, 10);
        default:
            return QSize(50, 12);
        }
    }
    if (role == Qt::FontRole)
        return m_font;

    // The log may have been cleared while its removal is still on the way.
    const LogMessage* message = m_log->message(index.row());
    if (!message)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return message->data(column);
    case Qt::DecorationRole:
        return column == 3 ? decoration(message->type()) : QVariant();
    case Qt::ToolTipRole:
        return message->toolTip();
    case Qt::BackgroundRole:
        return background(message->type());
    case Qt::ForegroundRole:
        return foreground(message->type());
    default:
        return {};
    }
}

QVariant LogModel::decoration(MessageType type) const
{
    switch (type) {
    case WARN:
    case NOREPLY:
        return m_warningIcon;
    case ERROR:
    case FAILURE:
    case ERRCS:
        return m_errorIcon;
    case OK:
        return m_okIcon;
    default:
        return {};
    }
}

QVariant LogModel::background(MessageType type) const
{
    switch (type) {
    case DEBUG:
    case WARN:
        return kDebugBackground;
    case ERROR:
        return kErrorBackground;
    case OK:
        return kOkBackground;
    case BANNER:
        return kBannerBackground;
    case REPLY:
        return kReplyBackground;
    case NOREPLY:
        return kNoReplyBackground;
    case FAILURE:
    case ERRCS:
        return kFailureBackground;
    default:
        return {};
    }
}

QVariant LogModel::foreground(MessageType type) const
{
    switch (type) {
    case DEBUG:
        return QColor(0, 0, 125);
    case WARN:
        return QColor(125, 110, 0);
    case ERROR:
        return QColor(125, 0, 0);
    case OK:
        return QColor(0, 125, 0);
    case BANNER:
        return QColor(255, 255, 255);
    case SEND:
        return QColor(0, 0, 75);
    case REPLY:
        return QColor(25, 75, 0);
    case NOREPLY:
        return QColor(125, 75, 0);
    case FAILURE:
    case ERRCS:
        return QColor(125, 0, 0);
    default:
        return {};
    }
}

void LogModel::messagesAdded(int, int lastMsg)
{
    if (!m_log)
        return;
    // Only what extends the announced rows and exists in the log now.
    const int newCount = std::min(m_log->count(), lastMsg + 1);
    if (newCount <= m_rows)
        return;
    beginInsertRows(QModelIndex(), m_rows, newCount - 1);
    m_rows = newCount;
    endInsertRows();
}

void LogModel::messagesRemoved(int firstMsg, int lastMsg)
{
    const int first = std::max(firstMsg, 0);
    const int last = std::min(lastMsg, m_rows - 1);
    if (first > last)
        return;
    beginRemoveRows(QModelIndex(), first, last);
    m_rows -= last - first + 1;
    endRemoveRows();
}

} // namespace halvorn::general
