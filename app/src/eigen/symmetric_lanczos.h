// Implicitly restarted Lanczos (ARPACK's dsaupd/dseupd) on a symmetric operator given as a
// function: the one Krylov driver of both eigen-steps, on a dense matrix without its negligible
// entries, on a sparse piece, or on the inverse of a shifted piece through its Cholesky factor.
#pragma once

#include <cstddef>
#include <functional>
#include <vector>

namespace rotalign {

// y = Op x for vectors of the operator's order.
using symmetric_operator_fn = std::function<void(const double* x, double* y)>;

// Where a run stands, for a person watching: applications of the operator so far, restarts
// seen, and how many of the wanted Ritz pairs met the tolerance at the last restart.
struct lanczos_progress {
    long long applications = 0;
    long long restarts = 0;
    std::size_t converged = 0, wanted = 0;
};
using lanczos_watch_fn = std::function<void(const lanczos_progress&)>;

struct lanczos_run {
    bool converged = false;
    std::vector<double> values;  // the Ritz values of the returned vectors, ascending (when converged)
    long long applications = 0;  // of the operator
    long long restarts = 0;
};

// The Ritz vectors (n-by-nev by columns, unit, mutually orthogonal) of the nev largest (most
// positive) eigenvalues of Op, from a basis of ncv vectors (nev < ncv <= n) grown from a fixed
// start vector. Converged means every Ritz pair has a residual below tolerance times its value's
// magnitude within max_restarts restarts; otherwise `vectors` is left empty. Throws
// std::runtime_error when ARPACK reports a failure.
// The basis for `wanted` pairs of an operator of order n: four times the wanted pairs (at least
// 20) for the matrix itself, whose leading eigenvalues crowd near 1, so that fewer restarts
// separate them; twice (and at least eight more) for an inverted operator, where they stand
// apart: for 10 pairs of two moons at 10^5 points 20 vectors took 62 solves, 18 took 76 and 30
// took 82. Never more than n.
std::size_t lanczos_basis(std::size_t n, std::size_t wanted, bool inverted);

// `watch`, when given, is called after each application of the operator; `done`, when given, once
// the iterations have ended, before the Ritz vectors are formed: they need the basis alone, so
// that the caller may let the operator's storage go first.
lanczos_run largest_ritz_vectors(std::size_t n, std::size_t nev, std::size_t ncv, double tolerance, int max_restarts,
                                 const symmetric_operator_fn& op, std::vector<double>& vectors,
                                 const lanczos_watch_fn& watch = {}, const std::function<void()>& done = {});

}  // namespace rotalign
