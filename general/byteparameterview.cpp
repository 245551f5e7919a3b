#include "general/byteparameterview.h"

#include "general/log.h"

namespace halvorn::general {

ByteParameterView::ByteParameterView(ParameterView* parent, int byteIndex, const QString& name,
                                     const QString& tooltip)
    : ParameterView(parent)
    , m_parentView(parent)
    , m_byteIndex(byteIndex)
{
    setName(name);
    setTooltip(tooltip);
    setAutoUpdateCheckable(false);
}

int ByteParameterView::value() const
{
    const int word = m_parentView ? m_parentView->value() : -1;
    if (word == -1)
        return -1;
    return m_byteIndex == 0 ? (word & 0xFF) : ((word >> 8) & 0xFF);
}

bool ByteParameterView::setByte(int byte, bool write)
{
    if (!m_parentView)
        return false;
    int word = 0;
    if (!m_parentView->currentValueForChange(word)) {
        logToMain(GENERAL,
                  QStringLiteral("Cannot change byte %1 of %2: its current value could not be read")
                      .arg(m_byteIndex)
                      .arg(m_parentView->name()),
                  WARN);
        return false;
    }
    const int composed = m_byteIndex == 0 ? ((word & ~0xFF) | (byte & 0xFF))
                                          : ((word & ~0xFF00) | ((byte & 0xFF) << 8));
    m_parentView->setValue(composed, write);
    return true;
}

void ByteParameterView::setValue(int value, bool write)
{
    setByte(value, write);
}

bool ByteParameterView::isReadOnly() const
{
    return !m_parentView || m_parentView->isReadOnly();
}

int ByteParameterView::displayMode() const
{
    return m_parentView ? m_parentView->displayMode() : 0;
}

QVariant ByteParameterView::data(int column, int role) const
{
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        if (column == 1)
            return m_byteIndex == 0 ? 0 : 1;
        if (column == 4) {
            const int byte = value();
            if (byte == -1)
                return QString();
            switch (displayMode()) {
            case 1:
                return QString::number(byte, 16).toUpper().rightJustified(2, QLatin1Char('0')) + QLatin1Char('h');
            case 2:
                return QString::number(byte, 2).rightJustified(8, QLatin1Char('0')) + QLatin1Char('b');
            default:
                return QString::number(byte);
            }
        }
    }
    if (role == Qt::ToolTipRole && (column == 0 || column == 1))
        return QStringLiteral("<b>Description</b><br>") + tooltip();
    return ParameterView::data(column, role);
}

bool ByteParameterView::update(bool manual)
{
    return m_parentView && m_parentView->update(manual);
}

} // namespace halvorn::general
