// A spread piece solved with each rank's rows renumbered in a fill-reducing order (AMD, as the
// one-process factor orders its matrix) of the graph among them. MUMPS chooses its own ordering
// whatever the rows' numbering, but its analysis, factorisation and above all its solves walk
// per-row arrays in elimination order: in the input's numbering (on points in file order, a
// random one) nearly every step of that walk missed the cache. On the nearest-neighbour graph of
// 10^6 two-moons points over 2 ranks the whole step took 21.5 to 22.1 s instead of 27.2 to
// 29.2 s (docs/mpi.md, "Rows in elimination order").
#pragma once

#include "eigen/spread_piece.h"
#include "rotalign/eigen/sparse_eigen.h"

#include <mpi.h>

#include <cstddef>

namespace rotalign::mpi {

// solve_spread_piece on the piece renumbered: each rank orders its own rows by AMD on the graph
// among them, at once with the others, and its rows keep their rank; only the new numbers of
// the ghosts travel. The vectors come back in the piece's own rows. The values agree with the
// unrenumbered solve to the solver's tolerance. Where AMD fails (out of memory), a rank's rows
// keep their order. Collective, with solve_spread_piece's failures.
spread_pairs solve_in_elimination_order(MPI_Comm comm, piece_rows piece, std::size_t wanted,
                                        const sparse_eigen_options& options, sparse_eigen_work& work);

}  // namespace rotalign::mpi
