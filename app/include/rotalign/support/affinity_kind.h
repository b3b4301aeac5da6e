// Which affinity the chain asks of the plug-ins.
#pragma once

#include <cstddef>

namespace rotalign {

enum class affinity_kind {
    local,       // brenmoss: scale sqrt(sigma_i * sigma_j), affinity exp(-d / s)
    local_mean,  // olvane: scale (sigma_i + sigma_j) / 2, affinity exp(-(d / s)^2)
    global,      // pellor: affinity exp(-d / scale^2)
};

// The affinity of a pair at squared distance d, as the plug-ins compute it on the nearest-neighbour
// graph: local scales (brenmoss, and olvane on a sparse graph)
// exp(-d / max(sqrt(sigma_i sigma_j), 0.004)) with sigma the squared distance to the
// `neighbours`-th nearest other point; global (pellor) exp(-d / scale^2).
struct affinity_kernel {
    affinity_kind kind = affinity_kind::local;
    std::size_t neighbours = 7;
    double scale = 1.0;

    bool global() const { return kind == affinity_kind::global; }
};

}  // namespace rotalign
