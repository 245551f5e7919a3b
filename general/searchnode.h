#pragma once

#include <QtGlobal>

namespace halvorn::general {

// One address range [low, high] of a binary search; split at most once.
struct SearchNode
{
    quint64 low = 0;
    quint64 high = 0;
    SearchNode* left = nullptr;
    SearchNode* right = nullptr;

    bool isSingle() const { return low == high; }
    quint64 middle() const { return low + (high - low) / 2; }
};

} // namespace halvorn::general
