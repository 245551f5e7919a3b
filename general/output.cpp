#include "general/output.h"

#include "general/input.h"

namespace halvorn::general {

Output::Output(TreeNode* parent)
    : IO(parent)
{
}

void Output::addInput(Input* input)
{
    if (!input)
        return;
    QMutexLocker locker(&m_inputsMutex);
    m_inputs.append(QPointer<Input>(input));
}

void Output::removeInput(Input* input)
{
    QMutexLocker locker(&m_inputsMutex);
    m_inputs.removeAll(QPointer<Input>(input));
}

int Output::inputCount() const
{
    QMutexLocker locker(&m_inputsMutex);
    return int(m_inputs.size());
}

void Output::setValue(double value)
{
    QList<QPointer<Input>> inputs;
    {
        QMutexLocker locker(&m_inputsMutex);
        inputs = m_inputs;
    }
    // Called outside the lock: the inputs' receivers may attach further inputs.
    for (const QPointer<Input>& input : inputs) {
        if (input)
            input->setValue(value);
    }
}

} // namespace halvorn::general
