#pragma once

#include <QtGlobal>

namespace halvorn::general {

// One address range [low, high] (both inclusive) of a binary search. A node
// is split at most once, into [low, middle] and [middle + 1, high]; the
// children are owned by the search that made them (BinSearch::split).
struct SearchNode
{
    quint64 low = 0;
    quint64 high = 0;
    SearchNode* left = nullptr;
    SearchNode* right = nullptr;

    bool isSingle() const { return low == high; }
    // Rounds down and cannot overflow, even for the full 64-bit range.
    quint64 middle() const { return low + (high - low) / 2; }
};

} // namespace halvorn::general
