// Warnings of the program: runs that will cost far more than their data can repay, and results
// whose meaning the affinity plug-in's floor on the scale has changed. Each says what happened
// with the values and what to do, in the command line's terms.
#pragma once

#include "rotalign/chain.h"

#include <cstddef>
#include <optional>
#include <string>

namespace rotalign {

// Before the run: when the largest number of groups tried exceeds twice what `points` points
// support, or its rotation searches cost a thousand times those of the default --max-groups.
std::optional<std::string> group_count_warning(std::size_t points, const cluster_options& options);

// After the run: when most points' local scales lie a hundred times or more below the floor.
// `from_distances`: the input was a distance matrix, not points.
std::optional<std::string> scale_floor_warning(const cluster_result& result, const cluster_options& options,
                                               bool from_distances);

}  // namespace rotalign
