// A basis of each block of nearly repeated eigenvalues that does not depend on the eigen-solver.
#pragma once

#include "rotalign/eigen/eigen.h"

#include <cstddef>
#include <vector>

namespace rotalign {

// Within a block of (nearly) repeated eigenvalues any orthonormal basis of the block's space is
// as good as another, and which one a solver returns is an accident of its arithmetic; the
// rotation searches, which start from the basis, would inherit the accident. This replaces the
// vectors of every block by one basis of the same space that depends on the space alone: the
// rows of most weight, picked by pivoted Gram-Schmidt (the first row of largest norm, then the
// row of largest norm orthogonal to those picked), are turned onto the positive axes as nearly as
// an orthogonal map of the block allows (the polar factor), and the columns are ordered by the
// first point that each marks. A block of one vector only gets its sign fixed.
// `starts` holds the first index of every block, ascending, starting with 0; a block runs to the
// next start or to e.count. Values are left as they are.
void canonical_basis(eigenpairs& e, const std::vector<std::size_t>& starts);

}  // namespace rotalign
