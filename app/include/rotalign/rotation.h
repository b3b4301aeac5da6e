// The rotation searches of tarvik over the leading eigenvectors, one per number of groups.
#pragma once

#include "rotalign/eigen.h"
#include "rotalign/toolbox.h"

#include <vector>

namespace rotalign {

struct rotation_searches {
    std::vector<double> quality;            // alignment quality for c = 2, 3, ..., largest
    std::vector<std::vector<int>> groups;   // groups[k]: group of each point (1 .. k + 2, 0 none);
                                            // empty when the search for k + 2 was skipped
};

// Rotation searches for c = 2 .. largest on the leading eigenvectors of e. `numerical` selects
// tarvik's search by fixed steps. The search for c starts from the rotated matrix of the last
// search with eigenvector c beside it. With blocks of nearly repeated eigenvalues given
// (`block_starts`, see eigenvalue_blocks; empty: every c ends a block), only the c that end a
// block, and `largest`, are searched; each starts from the rotated matrix of the last block's
// end with the whole new block beside it. The space of the leading c eigenvectors for a c inside
// a block is not well defined (the solver's arithmetic picks it), and such searches are slow: an
// all-zero row, as a block of separate components gives, costs tarvik its 200 sweeps. A skipped
// c has quality NaN and no groups. Throws std::runtime_error when tarvik's outputs do not have
// the promised form.
rotation_searches rotate_all(toolbox& plugins, const eigenpairs& e, int largest, bool numerical,
                             const std::vector<std::size_t>& block_starts = {});

}  // namespace rotalign
