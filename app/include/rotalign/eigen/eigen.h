// Leading eigenpairs of a symmetric matrix: the methods of the eigen-step and its entry point for
// a dense matrix (sparse_eigen.h has the one for a sparse matrix).
#pragma once

#include "rotalign/input/points.h"

#include <cstddef>
#include <string>
#include <vector>

namespace rotalign {

// How the eigen-step solves a matrix, or each connected piece of a sparse one.
enum class eigen_solver {
    automatic,     // dense up to dense_solver_limit points; above, Lanczos on a dense matrix and
                   // shift-invert or Lanczos on a sparse piece (see sparse_eigen.h)
    lanczos,       // implicitly restarted Lanczos for the selected pairs only (ARPACK, regular mode)
    dense,         // full tridiagonal reduction, then the selected pairs (LAPACK dsyevr)
    shift_invert,  // Lanczos on ((1 + shift) I - L)^(-1) through a sparse Cholesky factor (sparse only)
};

// Where the automatic choice changes solver. With the negligible entries of a local affinity
// skipped, the Lanczos solver takes less time than the dense one from 100 points on, about a
// quarter of it at 256 and 1,000 points (bench_app_eigen). Up to this order the dense solver
// costs a few milliseconds and is kept: it needs no convergence test and keeps repeated
// eigenvalues apart by itself.
constexpr std::size_t dense_solver_limit = 128;

std::string name_of(eigen_solver solver);

struct eigenpairs {
    std::size_t n = 0;
    std::size_t count = 0;
    std::vector<double> values;   // descending
    std::vector<double> vectors;  // n-by-count by columns, unit length, in the order of values
    eigen_solver used = eigen_solver::dense;  // dense, or lanczos when a Krylov solver ran
    int products = 0;             // matrix-vector products the Lanczos solver took
    // Connected pieces of the graph of the entries above 1e-12 / n, each with its eigenvalue 1.
    std::size_t components = 0;

    const double* column(std::size_t k) const { return &vectors[k * n]; }
};

// The `count` largest (most positive) eigenvalues of the symmetric matrix m with their
// eigenvectors. Only the lower triangle of m is read. When the Lanczos solver does not converge
// the dense solver takes over, so that a result always comes back. Throws input_error when
// count is 0 or above m.n or the solver asked for is shift_invert, and std::runtime_error when
// a solver reports a failure.
eigenpairs leading_eigenpairs(const square& m, std::size_t count, eigen_solver solver = eigen_solver::automatic);
// The same for the n-by-n matrix stored by columns at `values`.
eigenpairs leading_eigenpairs(const double* values, std::size_t n, std::size_t count,
                              eigen_solver solver = eigen_solver::automatic);

}  // namespace rotalign
