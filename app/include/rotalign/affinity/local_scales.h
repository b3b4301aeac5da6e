// The local scales of the points as the affinity plug-ins take them, summed up: how many lie
// below the plug-ins' floor on the pair scale, where the floor and not the data sets the
// affinities.
#pragma once

#include "mexhost/host.h"

#include <cstddef>
#include <vector>

namespace rotalign {

// brenmoss on every graph and olvane on a sparse one take max(sqrt(sigma_i sigma_j), 0.004) as
// the scale of the pair i, j: their contract, fixed.
constexpr double local_scale_floor = 0.004;

struct local_scale_summary {
    std::size_t below_floor = 0;  // points whose local scale lies below local_scale_floor
    double median = 0.0;          // of the local scales (the lower median)
};

// The local scales sigma_j of the n-by-n distance matrix d for K neighbours, as the plug-ins
// take them: on a dense d the value at index K of column j sorted, on a sparse d the K-th
// smallest stored value of column j (the largest when fewer are stored, 0 when none are).
std::vector<double> local_scales(const mxArray* d, std::size_t k);

// Local scales (as local_scales gives them) summed up.
local_scale_summary summarise_local_scales(std::vector<double> sigma);

}  // namespace rotalign
