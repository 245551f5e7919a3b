#pragma once

#include "general/parameterview.h"

namespace halvorn::general {

// One bit of its parent view's value (a Parameter or a ByteParameterView),
// shown as a check box in column 0 that is editable unless the parent is
// read-only. Checking or unchecking the box sets or clears the bit in the
// parent's value and writes it. A parent whose value is unknown (never
// read, or the last read failed) is read first; if that fails the write is
// refused and logged, so no guessed bits ever reach the device.
class BitFlagParameterView : public ParameterView
{
    Q_OBJECT

public:
    BitFlagParameterView(ParameterView* parent, int bit, const QString& name,
                         const QString& tooltip = QString());

    ParameterView* parentView() const { return m_parentView; }
    int bit() const { return m_bit; }

    // 0 or 1, or −1 while the parent has no value.
    int value() const override;
    // Sets or clears the bit in the parent (writing it when asked); false
    // when the parent's current value could not be read (nothing set then).
    bool setBit(bool on, bool write = true);
    void setValue(int value, bool write) override;
    bool isReadOnly() const override;

    QVariant data(int column, int role) const override;
    bool setData(int column, const QVariant& value, int role) override;
    Qt::ItemFlags flags(int column) const override;

public Q_SLOTS:
    bool update(bool manual = true) override;

private:
    ParameterView* const m_parentView;
    const int m_bit;
};

} // namespace halvorn::general
