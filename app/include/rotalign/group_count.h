// Choosing the number of groups from the alignment qualities of the rotation searches.
#pragma once

#include <vector>

namespace rotalign {

// The group-count rule: the largest number of groups whose quality lies within `tolerance` of the
// best quality. quality[k] belongs to k + 2 groups; qualities that are not numbers never count.
// Returns 0 when no quality is a number.
int choose_groups(const std::vector<double>& quality, double tolerance);

}  // namespace rotalign
