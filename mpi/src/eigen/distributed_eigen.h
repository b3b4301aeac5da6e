// The eigen-step across MPI ranks: the leading eigenpairs of the normalised affinity whose rows
// the ranks hold in contiguous blocks, with the result the one-process sparse eigen-step gives on
// the whole matrix (rotalign::leading_eigenpairs on a sparse_view).
#pragma once

#include "eigen/distributed_pieces.h"
#include "graph/local_rows.h"
#include "rotalign/eigen/sparse_eigen.h"

#include <mpi.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

namespace rotalign::mpi {

// The connected pieces of the rows' graph as leading_eigenpairs finds them (entries above
// negligible_at(N)), with the halo they were found through. A caller that looks at the pieces
// before the eigen-step hands them to leading_eigenpairs as `found`, which then skips finding
// them again (1 s of the step on 10^6 points over 2 ranks) and lets them go before the solves.
// Collective; the rows must be well formed (leading_eigenpairs checks them, pieces_of does not).
struct graph_pieces {
    ghost_columns ghosts;
    distributed_pieces pieces;
};
graph_pieces pieces_of(MPI_Comm comm, const local_rows& m);

struct distributed_pairs {
    std::vector<double> values;   // the `wanted` leading eigenvalues, descending; the same on every rank
    std::vector<double> vectors;  // own rows by `wanted` columns, column-major (rows * wanted)
    std::size_t components = 0;   // connected pieces of the graph
    std::string method;           // what solved the largest piece
};

// The pieces of the graph of entries above negligible_at(N) are found across the ranks and
// solved apart, their pairs merged as on one process (largest values first, equal values in the
// order of the pieces' first points, each vector zero off its piece). A piece the one-process
// step would solve densely (up to options.dense_limit points, or with wanted pairs at least half
// its size, or when the dense method is asked for) is gathered on the rank that owns its first
// point and solved there by the one-process code. A larger piece is solved on all ranks by
// SLEPc's Krylov-Schur: on ((1 + shift) I - L)^(-1) through a MUMPS factor spread over the ranks
// when the method is automatic or shift_invert (automatic refuses a factor over the options'
// limits, predicted by MUMPS's analysis) and (1 + shift) I - L is positive definite; on L
// otherwise.
//
// The rows are taken by value: a caller that moves them in lets a graph of one piece hand its
// entries to the solver instead of copying them (on 10^6 points, 125 MB less at each rank's peak).
//
// Collective on comm: every rank passes its rows and the same wanted and options. Initialises
// SLEPc on MPI_COMM_WORLD when a piece needs it and the caller has not. When any rank fails,
// every rank throws: input_error when wanted is 0 or above N, the options are out of range, the
// blocks do not follow one another over 0 .. N - 1, a rank's rows are malformed (offsets,
// columns outside the matrix or not ascending, values not finite) or the matrix is not exactly
// symmetric; std::runtime_error when a solver fails or does not converge. An exception thrown by
// options.interrupt_check leaves the rank where it was thrown as it is.
distributed_pairs leading_eigenpairs(MPI_Comm comm, local_rows m, std::size_t wanted,
                                     const sparse_eigen_options& options = {}, sparse_eigen_work* work = nullptr,
                                     std::optional<graph_pieces> found = std::nullopt);

}  // namespace rotalign::mpi
