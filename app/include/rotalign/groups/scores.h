// Agreement between two groupings of the same points.
#pragma once

#include <vector>

namespace rotalign {

// The adjusted Rand index of two labellings of the same points: 1 for the same partition (group
// numbers may differ), about 0 for independent ones, negative below chance. Labels are any
// integers. Two trivial partitions that agree (one group each, or singletons each) score 1.
// Throws std::invalid_argument when the lengths differ.
double adjusted_rand_index(const std::vector<int>& a, const std::vector<int>& b);

}  // namespace rotalign
