// One connected piece too large to gather, solved across the ranks by SLEPc's Krylov-Schur:
// on ((1 + tau) I - L)^(-1) through a distributed MUMPS factor where the factor is allowed and
// succeeds, as the one-process shift-invert step does, and on L itself otherwise.
#pragma once

#include "eigen/pieces.h"
#include "rotalign/eigen/sparse_eigen.h"

#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rotalign::mpi {

// This rank's rows of the piece in the piece's numbering: rows first .. first + count() - 1,
// entries (positions ascending within a row) of the piece only.
struct piece_rows {
    std::int64_t size = 0;
    std::int64_t first = 0;
    std::vector<std::int64_t> starts{0}, columns;
    std::vector<double> values;

    std::size_t count() const { return starts.size() - 1; }
};

struct spread_pairs {
    piece_pairs pairs;  // values on every rank, vectors of the own rows (count() by wanted)
    std::string method;
    eigen_solver used = eigen_solver::shift_invert;
};

// The `wanted` leading pairs of the piece (wanted below half its size). The values are the
// Rayleigh quotients of the vectors with L, descending, the same on every rank. The piece's
// entries are released once PETSc holds its own copy of them. Collective;
// throws std::runtime_error on every rank when no method converges, and resource_error on every
// rank when a piece above options.plain_lanczos_limit points gets no factor: one beyond the
// memory left on some machine (factor_budget.h) or one that MUMPS fails to compute. A PETSc call that fails on
// this rank alone, where the others may wait inside it, ends the whole run (collective_section).
spread_pairs solve_spread_piece(MPI_Comm comm, piece_rows piece, std::size_t wanted,
                                const sparse_eigen_options& options, sparse_eigen_work& work);

}  // namespace rotalign::mpi
