// A spread piece solved with its rows renumbered in a fill-reducing order of its graph (AMD, as
// the one-process factor orders its matrix). MUMPS chooses its own ordering whatever the rows'
// numbering, but its analysis, factorisation and above all its solves walk per-row arrays in
// elimination order: in the input's numbering (on points in file order, a random one) nearly
// every step of that walk missed the cache. On the nearest-neighbour graph of 10^6 two-moons
// points over 2 ranks, 35 solves took 10.1 to 10.4 s instead of 14.4 to 23.9 s, and the whole
// step 18.5 to 20.5 s instead of 22 to 36 s (docs/mpi.md, "Rows in elimination order").
#pragma once

#include "eigen/spread_piece.h"
#include "rotalign/eigen/sparse_eigen.h"

#include <mpi.h>

#include <cstddef>

namespace rotalign::mpi {

// solve_spread_piece on the piece renumbered: rank 0 gathers the piece's pattern and orders it,
// the rows move to the ranks that own their new numbers (the blocks keep their sizes), and the
// vectors come back to the rows' owners, in the piece's own rows. The values agree with the
// unrenumbered solve to the solver's tolerance, and the numbering does not depend on the number
// of ranks. Where the ordering fails (AMD out of memory), the piece is solved as it is.
// Collective, with solve_spread_piece's failures.
spread_pairs solve_in_elimination_order(MPI_Comm comm, piece_rows piece, std::size_t wanted,
                                        const sparse_eigen_options& options, sparse_eigen_work& work);

}  // namespace rotalign::mpi
