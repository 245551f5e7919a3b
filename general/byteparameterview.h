#pragma once

#include "general/parameterview.h"

namespace halvorn::general {

// One byte of its parent view's value: index 0 the low byte, any other
// index the high byte. Reading and refreshing go through the parent.
class ByteParameterView : public ParameterView
{
    Q_OBJECT

public:
    ByteParameterView(ParameterView* parent, int byteIndex, const QString& name,
                      const QString& tooltip = QString());

    ParameterView* parentView() const { return m_parentView; }
    int byteIndex() const { return m_byteIndex; }

    // The byte, or −1 while the parent has no value.
    int value() const override;
    // Replaces the byte in the parent's value and sets that (writing it when
    // asked). A parent without a value is read first; when that fails
    // nothing is written and false is returned.
    bool setByte(int byte, bool write);
    void setValue(int value, bool write) override;
    bool isReadOnly() const override;
    int displayMode() const override;

    QVariant data(int column, int role) const override;

public Q_SLOTS:
    bool update(bool manual = true) override;

private:
    ParameterView* const m_parentView;
    const int m_byteIndex;
};

} // namespace halvorn::general
