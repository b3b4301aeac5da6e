// Leading eigenpairs of a large sparse symmetric matrix: the normalised affinity of a
// nearest-neighbour graph, L = D^(-1/2) A D^(-1/2), whose wanted eigenvalues crowd against 1.
//
// The interface is plain data in, plain data out: a column-compressed view of the caller's arrays
// and the `eigenpairs` of the dense solver. Nothing of the host, of the factorisation library or
// of the Krylov solver shows here, so an engine that solves the same problem over many machines
// can take this function's place without the callers changing.
#pragma once

#include "rotalign/eigen/eigen.h"
#include "rotalign/support/sparse_view.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>

namespace rotalign {

struct sparse_eigen_options {
    // Forces a method on every piece above dense_limit points; automatic chooses per piece, by
    // size and predicted fill (see leading_eigenpairs).
    eigen_solver method = eigen_solver::automatic;
    // Pieces up to this many points are solved densely: a full reduction of a 128-by-128 matrix
    // costs a few milliseconds and needs no convergence test.
    std::size_t dense_limit = dense_solver_limit;
    // Automatic: a piece whose predicted factor holds more than this fraction of a dense
    // triangle goes to plain Lanczos. Fill is the mark of a high-dimensional graph (separators
    // grow like n^(1 - 1/d)): there the wanted pairs beyond the first lie in the bulk of the
    // spectrum, not against 1, shift-invert gains little per step and a solve costs many
    // products. Measured (10 pairs): two-moons pieces fill 0.5% of the triangle at 10^4 points
    // and 0.1% at 10^5; blobs in 50 dimensions 5.5% at 5,000 points, where ten pieces took 1,494
    // solves (23 s) against 2,376 products (9 s) by plain Lanczos.
    double factor_density_limit = 0.02;
    // tau in (1 + tau) I - L. The matrix is positive definite for every tau > 0 since no
    // eigenvalue of a normalised affinity exceeds 1; see sparse_eigen.cpp for the choice.
    double shift = 1e-8;
    // The largest Cholesky factor (bytes of its values and row indices, as the symbolic analysis
    // predicts it) and the most floating-point operations its computation may take. A piece
    // whose factor would exceed either is solved by plain Lanczos, up to plain_lanczos_limit
    // points. 0 bytes: the budget is taken from the memory left to the process when the piece is
    // analysed (factor_bytes_budget).
    double factor_bytes_limit = 0.0;
    double factor_flops_limit = 2e11;
    // Above this many points, a piece is not left to plain Lanczos for the size of its factor:
    // on a low-dimensional graph its leading eigenvalues crowd within 1e-7 of 1 (two moons at
    // 3*10^6 points), where plain Lanczos makes no visible progress in 20 minutes. Such a piece
    // is factored whatever the operations, if the factor fits the byte limit; otherwise the
    // solve is refused with a resource_error before the factorisation starts. (Pieces refused a
    // factor for its density go to plain Lanczos at every size: there the wanted pairs lie in
    // the bulk of the spectrum.)
    std::size_t plain_lanczos_limit = 1000000;
    // Residual tolerance of the Krylov solvers, relative to the operator's eigenvalue.
    double tolerance = 1e-10;
    // Restarts of the Lanczos iterations at most, per piece.
    int max_restarts = 3000;
    // Called before each piece and each application of the operator; an exception it throws
    // ends the solve and leaves leading_eigenpairs. Empty: never called.
    std::function<void()> interrupt_check;
    // Told where the solve is, in words for a person watching ("shift-invert Lanczos: 12 solves,
    // 2 restarts, 4 of 11 pairs converged"): at each phase of a large piece and after each
    // application of its operator. Empty: never called.
    std::function<void(const std::string&)> report;
};

// The bytes that a piece's Cholesky factor may take when the limit comes from memory: three
// quarters of `memory_left` (what the process may still take; the rest is headroom for the
// factorisation's workspace and for other programs) less what the iterations then hold beside
// the factor, the Lanczos basis of `basis` vectors and six more of `order` values. Never below 0.
double factor_bytes_budget(double memory_left, std::size_t order, std::size_t basis);

// A piece that none of the methods can solve on this machine in useful time: its factor would
// not fit in the memory left, and plain Lanczos cannot converge on it. what() names the piece's
// size, the predicted factor and the limit with the memory behind it.
class resource_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// What a solve did, summed over the pieces.
struct sparse_eigen_work {
    eigen_solver used = eigen_solver::dense;  // the method of the largest piece
    std::size_t components = 0;                 // connected pieces of the graph
    std::size_t dense_pieces = 0, lanczos_pieces = 0, shift_invert_pieces = 0;
    long long products = 0;        // products with L, the final checks included
    long long solves = 0;          // solves with a Cholesky factor
    long long restarts = 0;        // Lanczos restarts (ARPACK iterations)
    int factorisations = 0;
    int refused_factors = 0;       // pieces whose predicted factor exceeded a limit
    double refused_factor_bytes = 0.0;  // the largest of those predictions
    double factor_bytes = 0.0;     // bytes of the largest factor computed
    double factor_flops = 0.0;     // predicted operations of that factor
    double largest_residual = 0.0; // the largest ||L v - lambda v|| over the returned pairs
    double analyse_seconds = 0.0, factorise_seconds = 0.0, iterate_seconds = 0.0;
};

// The `count` largest (most positive) eigenvalues of the symmetric matrix m, descending, with
// unit eigenvectors (n-by-count by columns). The graph of m's non-negligible entries is split
// into connected pieces, each solved on its own: every piece of an affinity graph brings its own
// eigenvalue 1, and one Krylov space holds only one direction of a repeated eigenvalue. Each
// vector lies on one piece. Exactly equal eigenvalues of different pieces keep the order of the
// pieces' first points (the copies of 1 usually differ in the last bits, and come in the order
// of those).
//
// Each piece is solved by `options.method`, or, when automatic: densely up to dense_limit points
// (or where the pairs wanted leave a Krylov solver no room), by shift-invert Lanczos where the
// predicted Cholesky factor stays within the limits of size, cost and density (beyond
// plain_lanczos_limit points: size and density), and by plain Lanczos otherwise or when the
// factorisation fails (a matrix with an eigenvalue above
// 1 + shift). Runs repeat exactly: start
// vectors are fixed. The result's `used` is dense when every piece was solved densely and
// lanczos otherwise; `products` counts every application of L or of the inverse.
//
// Throws resource_error when a piece above plain_lanczos_limit points needs a factor above the
// byte limit. Throws input_error when count is 0 or above n, or m is malformed: offsets that do not start at
// 0 or decrease, a row outside 0 .. n - 1 or out of order within its column, a value that is not
// finite, or a pattern or values that are not symmetric; and when the dense method is asked
// for a piece above 16,384 points. Throws std::runtime_error when a solver fails or a large
// piece does not converge.
eigenpairs leading_eigenpairs(const sparse_view& m, std::size_t count, const sparse_eigen_options& options = {},
                              sparse_eigen_work* work = nullptr);

}  // namespace rotalign
