// Implicitly restarted Lanczos (ARPACK's dsaupd/dseupd) on a symmetric operator given as a
// function, for the eigen-step's sparse pieces: the matrix itself, or the inverse of a shifted
// matrix through its Cholesky factor.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace rotalign {

// y = Op x for vectors of the operator's order.
using symmetric_operator_fn = std::function<void(const double* x, double* y)>;

struct lanczos_run {
    bool converged = false;
    long long applications = 0;  // of the operator
    long long restarts = 0;
};

// The Ritz vectors (n-by-nev by columns, unit, mutually orthogonal) of the nev largest (most
// positive) eigenvalues of Op, from a basis of ncv vectors (nev < ncv <= n) grown from a fixed
// start vector. Converged means every Ritz pair has a residual below tolerance times its value's
// magnitude within max_restarts restarts; otherwise `vectors` is left empty. Throws
// std::runtime_error when ARPACK reports a failure.
lanczos_run largest_ritz_vectors(std::size_t n, std::size_t nev, std::size_t ncv, double tolerance, int max_restarts,
                                 const symmetric_operator_fn& op, std::vector<double>& vectors);

}  // namespace rotalign
