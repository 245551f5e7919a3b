#include "general/input.h"

namespace halvorn::general {

namespace {
constexpr int ValueColumn = 4;
}

Input::Input(TreeNode* parent)
    : IO(parent)
{
}

void Input::setValue(double value)
{
    m_value = value;
    notifyChanged(ValueColumn, ValueColumn);
    emit inputValueChanged(this);
}

QVariant Input::data(int column, int role) const
{
    if (column == ValueColumn && (role == Qt::DisplayRole || role == Qt::EditRole))
        return QString::number(value(), 'f', 3);
    return IO::data(column, role);
}

} // namespace halvorn::general
