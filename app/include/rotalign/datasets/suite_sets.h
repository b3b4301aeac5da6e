// The generated data sets of the group-count benchmark suite: fixed sizes and seeds, any number
// of coordinates, reproducible on every platform.
#pragma once

#include "rotalign/datasets/datasets.h"

#include <string>
#include <vector>

namespace rotalign {

struct suite_set {
    std::string name;         // e.g. "blobs-2d-5"
    std::string description;  // one line for tables
    std::size_t count;        // points
    std::size_t dims;         // coordinates per point
    int groups;               // true number of groups
    int max_groups;           // largest number of groups worth trying on it
};

// Every set of the suite, in a fixed order.
const std::vector<suite_set>& suite_sets();

// The points of the suite set `name`, from its fixed seed or from `seed` when that is not 0.
// Throws input_error for an unknown name.
labelled_points suite_points(const std::string& name, std::uint64_t seed = 0);

// Gaussian blobs in `dims` coordinates with sizes from 15 to 60 points and spreads from 0.3 to 1,
// their centres drawn so far apart that no two blobs touch.
labelled_points compact_blobs(std::size_t dims, int groups, std::uint64_t seed);

}  // namespace rotalign
