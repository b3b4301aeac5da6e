// The solve of one connected piece, as the sparse eigen-step runs it: for engines that find the
// pieces themselves (across processes) and hand each small one over whole.
#pragma once

#include "eigen/pieces.h"
#include "rotalign/eigen/sparse_eigen.h"

#include <cstddef>

namespace rotalign {

// The `wanted` leading pairs of the connected matrix m (checked, symmetric, one piece) by the
// method the options ask for, or the best one for its size; `used` is the method that solved it
// and the work is added to. Throws what leading_eigenpairs throws for a piece.
piece_pairs solve_piece(const sparse_view& m, std::size_t wanted, const sparse_eigen_options& options,
                        sparse_eigen_work& work, eigen_solver& used);

}  // namespace rotalign
