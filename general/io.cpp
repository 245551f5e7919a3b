#include "general/io.h"

namespace halvorn::general {

IO::IO(TreeNode* parent)
    : TreeNode(parent)
{
    // Live values are not read from a bus: nothing to update automatically.
    setAutoUpdateCheckable(false);
}

} // namespace halvorn::general
