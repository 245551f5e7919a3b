#pragma once

#include "general/treenode.h"

#include <atomic>

namespace halvorn::general {

// The base of inputs and outputs: tree nodes under a network's
// "Inputs/outputs" node that carry live values (set points, slider levels).
class IO : public TreeNode
{
    Q_OBJECT

public:
    explicit IO(TreeNode* parent = nullptr);

    // A number chosen by the creator (setIndex); not interpreted here.
    int index() const { return m_ioIndex.load(); }
    void setIndex(int index) { m_ioIndex = index; }

private:
    std::atomic<int> m_ioIndex{0};
};

} // namespace halvorn::general
