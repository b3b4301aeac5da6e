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

// Rotation searches for c = 2 .. largest: the first on the two leading eigenvectors, each later
// one on the previous search's rotated matrix with the next eigenvector beside it. `numerical`
// selects tarvik's search by fixed steps. Throws std::runtime_error when tarvik's outputs do not
// have the promised form.
rotation_searches rotate_all(toolbox& plugins, const eigenpairs& e, int largest, bool numerical);

}  // namespace rotalign
