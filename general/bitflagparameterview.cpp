#include "general/bitflagparameterview.h"

#include "general/log.h"

namespace halvorn::general {

BitFlagParameterView::BitFlagParameterView(ParameterView* parent, int bit, const QString& name,
                                           const QString& tooltip)
    : ParameterView(parent)
    , m_parentView(parent)
    , m_bit(qBound(0, bit, 15))
{
    setName(name);
    setTooltip(tooltip);
    setAutoUpdateCheckable(false);
}

int BitFlagParameterView::value() const
{
    const int word = m_parentView ? m_parentView->value() : -1;
    return word == -1 ? -1 : ((word >> m_bit) & 1);
}

bool BitFlagParameterView::setBit(bool on, bool write)
{
    if (!m_parentView)
        return false;
    int word = 0;
    if (!m_parentView->currentValueForChange(word)) {
        logToMain(GENERAL,
                  QStringLiteral("Cannot change bit %1 of %2: its current value could not be read")
                      .arg(m_bit)
                      .arg(m_parentView->name()),
                  WARN);
        return false;
    }
    const int mask = 1 << m_bit;
    m_parentView->setValue(on ? (word | mask) : (word & ~mask), write);
    return true;
}

void BitFlagParameterView::setValue(int value, bool write)
{
    setBit(value != 0, write);
}

bool BitFlagParameterView::isReadOnly() const
{
    return !m_parentView || m_parentView->isReadOnly();
}

QVariant BitFlagParameterView::data(int column, int role) const
{
    if (column == 0 && role == Qt::CheckStateRole) {
        switch (value()) {
        case -1:
            return int(Qt::PartiallyChecked); // unknown until the parent has been read
        case 0:
            return int(Qt::Unchecked);
        default:
            return int(Qt::Checked);
        }
    }
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        if (column == 1)
            return m_bit;
        if (column == 4) {
            const int bit = value();
            return bit == -1 ? QString() : QString::number(bit);
        }
    }
    if (role == Qt::ToolTipRole && (column == 0 || column == 1))
        return QStringLiteral("<b>Description</b><br>") + tooltip();
    return ParameterView::data(column, role);
}

bool BitFlagParameterView::setData(int column, const QVariant& value, int role)
{
    if (column == 0 && role == Qt::CheckStateRole && !isReadOnly())
        return setBit(value.toInt() == Qt::Checked);
    return ParameterView::setData(column, value, role);
}

Qt::ItemFlags BitFlagParameterView::flags(int column) const
{
    Qt::ItemFlags result = Qt::ItemIsSelectable;
    if (isOwnEnabled())
        result |= Qt::ItemIsEnabled;
    if (column == 0 && !isReadOnly())
        result |= Qt::ItemIsUserCheckable;
    return result;
}

bool BitFlagParameterView::update(bool manual)
{
    return m_parentView && m_parentView->update(manual);
}

} // namespace halvorn::general
