// Leading eigenpairs of a dense symmetric matrix.
#pragma once

#include "rotalign/input/points.h"

#include <cstddef>
#include <string>
#include <vector>

namespace rotalign {

enum class eigen_solver {
    automatic,  // dense up to dense_solver_limit points, Lanczos above
    lanczos,    // implicitly restarted Lanczos for the selected pairs only (ARPACK)
    dense,      // full tridiagonal reduction, then the selected pairs (LAPACK dsyevr)
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
    eigen_solver used = eigen_solver::dense;
    int products = 0;             // matrix-vector products the Lanczos solver took
    // Connected pieces of the graph of the entries above 1e-12 / n, each with its eigenvalue 1.
    std::size_t components = 0;

    const double* column(std::size_t k) const { return &vectors[k * n]; }
};

// The `count` largest (most positive) eigenvalues of the symmetric matrix m with their
// eigenvectors. Only the lower triangle of m is read. When the Lanczos solver does not converge
// the dense solver takes over, so that a result always comes back. Throws input_error when
// count is 0 or above m.n, and std::runtime_error when a solver reports a failure.
eigenpairs leading_eigenpairs(const square& m, std::size_t count, eigen_solver solver = eigen_solver::automatic);
// The same for the n-by-n matrix stored by columns at `values`.
eigenpairs leading_eigenpairs(const double* values, std::size_t n, std::size_t count,
                              eigen_solver solver = eigen_solver::automatic);

}  // namespace rotalign
