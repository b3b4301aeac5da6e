// The rotation searches of tarvik over the leading eigenvectors, one per number of groups.
#pragma once

#include "rotalign/eigen.h"
#include "rotalign/toolbox.h"

#include <vector>

namespace rotalign {

struct rotation_searches {
    std::vector<double> quality;            // alignment quality for c = 2, 3, ..., largest
    std::vector<std::vector<int>> groups;   // groups[k]: group of each point (1 .. k + 2, 0 none)
};

// Rotation searches for c = 2 .. largest on the leading eigenvectors of e. `numerical` selects
// tarvik's search by fixed steps. The search for c starts from the previous search's rotated
// matrix with eigenvector c beside it, except where c ends a block of nearly repeated eigenvalues
// (`block_starts` holds c, see eigenvalue_blocks; empty: every c ends one). There it starts from
// the rotated matrix of the last block's end with the whole new block beside it, so that the
// searches inside a block, whose spaces no solver determines, do not steer the next well-defined
// one. Throws std::runtime_error when tarvik's outputs do not have the promised form.
rotation_searches rotate_all(toolbox& plugins, const eigenpairs& e, int largest, bool numerical,
                             const std::vector<std::size_t>& block_starts = {});

}  // namespace rotalign
