#pragma once

#include "general/io.h"

#include <atomic>

namespace halvorn::general {

// A receiver of a live value. Every setValue() is announced with
// inputValueChanged(), also when the value did not change: a repeated
// command ("step up" twice) must reach the bus twice.
//
// Inputs live in their network's thread; setValue() may be called from any
// thread (the value is atomic), and the network's slot connected to
// inputValueChanged() runs in the network's thread.
class Input : public IO
{
    Q_OBJECT

public:
    explicit Input(TreeNode* parent = nullptr);

    double value() const { return m_value.load(); }
    // The largest value the source is expected to send (set-point inputs
    // take 1.0); 0 when none was stated. Values are not clamped to it.
    double maximumValue() const { return m_maximumValue.load(); }
    void setMaximumValue(double maximum) { m_maximumValue = maximum; }

    // Column 4 shows the value.
    QVariant data(int column, int role) const override;

public Q_SLOTS:
    void setValue(double value);

Q_SIGNALS:
    void inputValueChanged(halvorn::general::Input* input);

private:
    std::atomic<double> m_value{0.0};
    std::atomic<double> m_maximumValue{0.0};
};

} // namespace halvorn::general
