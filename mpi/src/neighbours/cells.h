// Space cut into one cell per rank, each holding about as many points, so that a rank can search
// the neighbours of points that lie together.
#pragma once

#include "input/local_points.h"
#include "rotalign/input/points.h"
#include "support/ranks.h"

#include <cstddef>
#include <vector>

namespace rotalign::mpi {

class cells {
public:
    // The cuts from a sample of every rank's points, the same on every rank (a collective): the
    // ranks are halved again and again, each time along the coordinate of the widest span of the
    // sample inside the cell, at the share of the sample that the lower half of the ranks takes.
    static cells of(const rank_context& c, const local_points& p);

    // The rank whose cell holds `point`.
    int rank_of(const double* point) const;

private:
    // A cut sends points below `value` in coordinate `dim` to `below`, the others to `above`: the
    // index of another cut, or -(rank + 1) for a rank's cell.
    struct cut {
        std::size_t dim = 0;
        double value = 0.0;
        int below = -1, above = -1;
    };

    int cut_ranks(const points& sample, std::vector<std::size_t> inside, int low, int high);

    std::vector<cut> cuts_;
};

}  // namespace rotalign::mpi
