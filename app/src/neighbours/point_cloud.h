// Points as the k-d tree library reads them: a view, no copy.
#pragma once

#include "rotalign/input/points.h"

#include <cstddef>
#include <cstdint>

namespace rotalign::detail {

struct point_cloud {
    const points& p;
    std::size_t kdtree_get_point_count() const { return p.count; }
    double kdtree_get_pt(std::uint32_t i, std::size_t k) const { return p.values[i * p.dims + k]; }
    // No bounding box of our own: the tree computes it.
    template <class Box>
    bool kdtree_get_bbox(Box&) const {
        return false;
    }
};

}  // namespace rotalign::detail
