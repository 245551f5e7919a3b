#pragma once

#include "general/io.h"

#include <QList>
#include <QMutex>
#include <QPointer>

namespace halvorn::general {

class Input;

// A source of a live value (a slider) that fans each value out to the
// inputs attached to it, in the order they were attached. The inputs are
// not owned; an input that is destroyed simply stops receiving values.
//
// addInput() and setValue() may be called from any thread; setValue() calls
// Input::setValue() in the caller's thread (the inputs announce the value to
// their networks through signals).
class Output : public IO
{
    Q_OBJECT

public:
    explicit Output(TreeNode* parent = nullptr);

    // The same input may be attached twice; it then receives every value twice.
    void addInput(Input* input);
    // Detaches every occurrence of the input.
    void removeInput(Input* input);
    int inputCount() const;

public Q_SLOTS:
    void setValue(double value);

private:
    mutable QMutex m_inputsMutex;
    QList<QPointer<Input>> m_inputs; // guarded by m_inputsMutex
};

} // namespace halvorn::general
