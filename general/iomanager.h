#pragma once

#include "general/treenode.h"

#include <QMutex>

namespace halvorn::general {

class Input;
class IO;
class Output;

// The "Inputs/outputs" node of a network (and of widgets that own a few
// outputs of their own): finds inputs and outputs by name and creates them
// on first use. Safe to call from any thread: a name is created only once.
class IOManager : public TreeNode
{
    Q_OBJECT

public:
    explicit IOManager(TreeNode* parent = nullptr);

    // The output of that name, created (as a child in this node's thread) when absent.
    Output* output(const QString& name);
    // The input of that name, created when absent.
    Input* input(const QString& name);
    // The first input or output of that name, or nullptr.
    IO* findIO(const QString& name) const;

private:
    template<typename T>
    T* findOrCreate(const QString& name);

    QMutex m_createMutex; // makes find-or-create atomic
};

} // namespace halvorn::general
