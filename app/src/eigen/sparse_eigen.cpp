// Leading eigenpairs of a sparse normalised affinity, piece by piece: dense for small pieces,
// shift-invert Lanczos with a sparse Cholesky factor where the factor stays small, plain Lanczos
// where it would fill in.
//
// Why shift-invert: on a nearest-neighbour graph of many points in low dimension the wanted
// eigenvalues of L lie within 1e-4 of 1 and of each other (at 10^6 two-moons points 1 - lambda
// runs from 1.6e-7 to 1.6e-5 over ten pairs), while the spectrum spreads over [-1, 1]; Lanczos
// on L separates them only after hundreds of products per pair. Lanczos on
// ((1 + tau) I - L)^(-1) sees them as 1 / (tau + 1 - lambda), far apart and far above the rest.
//
// The shift tau: convergence depends on it only while it exceeds the distances 1 - lambda of
// the wanted pairs, which shrink like 1/n on a two-dimensional graph and faster along curves; it
// must stay far above the factorisation's backward error (about 1e-13 at these fills), so that
// the matrix, whose smallest eigenvalue is tau, factors as positive definite. tau = 1e-8 leaves
// five orders of margin. Measured for 10 pairs (bench_app_sparse_eigen and docs/eigen.md): two
// moons at 10^5 points take 113 solves at tau = 1e-3 and 62 to 76 for every tau from 1e-5 to
// 1e-12; at 10^6 points 233 solves at 1e-3 and 31 at 1e-6 (the benchmark's run at 1e-8 also
// takes 31). The solve's relative error grows to about 2 / tau times the rounding along the
// leading vector; every returned pair is checked against L itself (residuals near 1e-13).
#include "rotalign/eigen/sparse_eigen.h"

#include "eigen/pieces.h"
#include "eigen/piece_solver.h"
#include "eigen/shifted_cholesky.h"
#include "eigen/symmetric_lanczos.h"
#include "graph/sparse_graph.h"
#include "rotalign/support/errors.h"
#include "rotalign/support/memory.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>

namespace rotalign {
namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// A piece whose Lanczos run does not converge is solved densely up to this order (a 4096-by-4096
// matrix takes 128 MiB and a few seconds); above it the failure is reported.
constexpr std::size_t dense_fallback_limit = 4096;

// The dense method, when asked for, takes pieces up to this order (2 GiB as a dense matrix).
constexpr std::size_t dense_limit_forced = 16384;

// A share of the memory left for the factor: the rest is headroom for the supernodal
// factorisation's update matrices, the process's other arrays and other programs. Measured on
// two moons at 10^7 points: 4.4 GB resident as the ordering starts, a factor of 11.8 GB, a peak
// of 17.1 GB.
constexpr double factor_memory_share = 0.75;

// Where memory cannot be measured, the factor is held to this size.
constexpr double unmeasured_factor_bytes = 1024.0 * 1024.0 * 1024.0;

std::string with_digits(double value, int digits) {
    char text[32];
    std::snprintf(text, sizeof text, "%.*g", digits, value);
    return text;
}

// Tells options.report where the solve is; `piece` names the piece when there are several.
class eigen_report {
public:
    explicit eigen_report(const sparse_eigen_options& options) : options_(options) {}
    void piece(std::size_t p, std::size_t pieces, std::size_t points) {
        prefix_ = pieces == 1 ? std::string() : "piece " + std::to_string(p + 1) + " of " + std::to_string(pieces) +
                                                     ", " + std::to_string(points) + " points: ";
    }
    void say(const std::string& text) const {
        if (options_.report) options_.report(prefix_ + text);
    }
    // Called after each application: the words change at most once per restart or per ten
    // applications, which keeps the reporter's lock off the iterations.
    // `application` names one application of the operator ("solve"), which takes an s in plural.
    lanczos_watch_fn lanczos(const char* method, const char* application) const {
        if (!options_.report) return {};
        return [this, method, application](const lanczos_progress& at) {
            if (at.applications % 10 != 0 && at.restarts == shown_restarts_) return;
            shown_restarts_ = at.restarts;
            say(std::string(method) + ": " + std::to_string(at.applications) + " " + application +
                (at.applications == 1 ? ", " : "s, ") +
                std::to_string(at.restarts) + (at.restarts == 1 ? " restart, " : " restarts, ") +
                std::to_string(at.converged) + " of " + std::to_string(at.wanted) + " pairs converged");
        };
    }

private:
    const sparse_eigen_options& options_;
    std::string prefix_;
    mutable long long shown_restarts_ = -1;
};

// Takes the unit, orthogonal vectors v (n-by-k by columns) as eigenvectors of m: their values
// are the Rayleigh quotients v'mv (for a converged vector the error is the square of its
// residual over the gap), and they are stored in descending order of value. Adds the residuals
// ||m v - lambda v|| to the work's largest and the products to its count.
piece_pairs rayleigh_quotients(const sparse_view& m, const std::vector<double>& v, std::size_t k,
                               sparse_eigen_work& work) {
    const std::size_t n = m.n;
    // The k products in one pass over m, on the vectors laid out point by point.
    std::vector<double> x(n * k), mx(n * k);
    for (std::size_t c = 0; c < k; ++c)
        for (std::size_t i = 0; i < n; ++i) x[i * k + c] = v[c * n + i];
    multiply_rows(m, x.data(), k, mx.data());
    work.products += static_cast<long long>(k);
    std::vector<double> lambda(k, 0.0), residual(k, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < k; ++c) lambda[c] += x[i * k + c] * mx[i * k + c];
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t c = 0; c < k; ++c) {
            const double r = mx[i * k + c] - lambda[c] * x[i * k + c];
            residual[c] += r * r;
        }
    for (std::size_t c = 0; c < k; ++c)
        work.largest_residual = std::max(work.largest_residual, std::sqrt(residual[c]));
    std::vector<std::size_t> order(k);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(), [&lambda](std::size_t a, std::size_t b) { return lambda[a] > lambda[b]; });
    piece_pairs out;
    out.values.resize(k);
    out.vectors.resize(n * k);
    for (std::size_t c = 0; c < k; ++c) {
        out.values[c] = lambda[order[c]];
        std::copy(v.begin() + static_cast<std::ptrdiff_t>(order[c] * n),
                  v.begin() + static_cast<std::ptrdiff_t>(order[c] * n + n),
                  out.vectors.begin() + static_cast<std::ptrdiff_t>(c * n));
    }
    return out;
}

piece_pairs solve_dense(const sparse_view& m, std::size_t wanted, sparse_eigen_work& work) {
    const std::vector<double> a = dense_copy(m);
    const eigenpairs e = leading_eigenpairs(a.data(), m.n, wanted, eigen_solver::dense);
    ++work.dense_pieces;
    return rayleigh_quotients(m, e.vectors, wanted, work);
}

bool solve_lanczos(const sparse_view& m, std::size_t wanted, const sparse_eigen_options& options,
                   const eigen_report& report, sparse_eigen_work& work, piece_pairs& out) {
    const clock_type::time_point start = clock_type::now();
    std::vector<double> v;
    const lanczos_run run =
        largest_ritz_vectors(m.n, wanted, lanczos_basis(m.n, wanted, false), options.tolerance, options.max_restarts,
                             [&m, &options](const double* x, double* y) {
                                 if (options.interrupt_check) options.interrupt_check();
                                 multiply(m, x, y);
                             },
                             v, report.lanczos("Lanczos", "product"));
    work.products += run.applications;
    work.restarts += run.restarts;
    if (run.converged) {
        out = rayleigh_quotients(m, v, wanted, work);
        ++work.lanczos_pieces;
    }
    work.iterate_seconds += seconds_since(start);
    return run.converged;
}

// The byte limit of a piece's factor: the caller's, or one from the memory left now, with the
// words that say where it comes from.
std::pair<double, std::string> factor_byte_limit(const sparse_eigen_options& options, std::size_t order,
                                                 std::size_t basis) {
    if (options.factor_bytes_limit > 0.0) return {options.factor_bytes_limit, "the limit set"};
    const std::optional<memory_room> left = memory_left_now();
    if (!left) return {unmeasured_factor_bytes, "the limit where the memory cannot be measured"};
    return {factor_bytes_budget(left->bytes, order, basis),
            "the budget of the memory left (" + left->reason + ")"};
}

// Why a piece above the limit is not left to plain Lanczos, for the messages that refuse it.
std::string beyond_plain_lanczos(const sparse_eigen_options& options) {
    return "plain Lanczos, the method without a factor, cannot separate such a piece's leading eigenvalues in "
           "useful time above " +
           std::to_string(options.plain_lanczos_limit) + " points";
}

// Returns false, with nothing solved, when the factor is refused or fails; forced ignores the
// limits on its size. Throws resource_error when a piece above plain_lanczos_limit points needs
// more than the byte limit.
bool solve_shift_invert(const sparse_view& m, std::size_t wanted, const sparse_eigen_options& options, bool forced,
                        const eigen_report& report, sparse_eigen_work& work, piece_pairs& out) {
    report.say("ordering the factor");
    clock_type::time_point start = clock_type::now();
    auto factor = std::make_unique<shifted_cholesky>(m, options.shift);
    work.analyse_seconds += seconds_since(start);
    const double bytes = factor->predicted_bytes(), flops = factor->predicted_flops();
    const double order = static_cast<double>(m.n), density = factor->predicted_entries() / (order * (order + 1.0) / 2.0);
    const std::size_t basis = lanczos_basis(m.n, wanted, true);
    const bool large = m.n > options.plain_lanczos_limit;
    if (forced && !std::isfinite(bytes)) {  // the analysis failed: nothing to factor
        ++work.refused_factors;
        return false;
    }
    if (!forced) {
        const auto [byte_limit, limit_source] = factor_byte_limit(options, m.n, basis);
        // A failed analysis (infinite predictions) counts as too large, not as too dense.
        const bool fills_in = std::isfinite(density) && density > options.factor_density_limit;
        const bool refused = fills_in || !std::isfinite(bytes) || bytes > byte_limit ||
                             (!large && flops > options.factor_flops_limit);
        if (refused) {
            ++work.refused_factors;
            work.refused_factor_bytes = std::max(work.refused_factor_bytes, bytes);
            if (large && !fills_in)
                throw resource_error(
                    "a piece of " + std::to_string(m.n) + " points needs a Cholesky factor of " +
                    (std::isfinite(bytes) ? byte_size(bytes) : std::string("a size that cannot be analysed")) +
                    ", beyond " + byte_size(byte_limit) + ", " + limit_source + "; " + beyond_plain_lanczos(options));
            return false;
        }
    }
    report.say("factorising: " + byte_size(bytes) + ", " + with_digits(flops, 2) + " operations");
    start = clock_type::now();
    const bool factored = factor->factorise();
    work.factorise_seconds += seconds_since(start);
    // Memory that the prediction left but the machine did not have: plain Lanczos, the way on
    // without a factor, would only run on without end on such a piece.
    if (!factored && factor->ran_out_of_memory() && large)
        throw resource_error("memory ran out while the Cholesky factor of a piece of " + std::to_string(m.n) +
                             " points (" + byte_size(bytes) + ") was computed; " + beyond_plain_lanczos(options));
    if (!factored) return false;
    ++work.factorisations;
    if (bytes > work.factor_bytes) work.factor_bytes = bytes, work.factor_flops = flops;

    start = clock_type::now();
    std::vector<double> v;
    const lanczos_run run =
        largest_ritz_vectors(m.n, wanted, basis, options.tolerance, options.max_restarts,
                             [&factor, &options](const double* x, double* y) {
                                 if (options.interrupt_check) options.interrupt_check();
                                 factor->solve(x, y);
                             },
                             v, report.lanczos("shift-invert Lanczos", "solve"),
                             // Let go before the vectors are formed and checked, which need room
                             // of their own (on 10^6 points, 11 vectors of 8 MB).
                             [&factor] { factor.reset(); });
    work.solves += run.applications;
    work.restarts += run.restarts;
    if (run.converged) {
        report.say("checking the pairs against the matrix");
        out = rayleigh_quotients(m, v, wanted, work);
        ++work.shift_invert_pieces;
    }
    work.iterate_seconds += seconds_since(start);
    return run.converged;
}

// solve_piece, telling `report` where it is.
piece_pairs solve_reported_piece(const sparse_view& m, std::size_t wanted, const sparse_eigen_options& options,
                                 const eigen_report& report, sparse_eigen_work& work, eigen_solver& used) {
    piece_pairs out;
    // A Krylov solver needs more basis vectors than wanted pairs; when they are half the order
    // or more it saves nothing anyway.
    if (options.method == eigen_solver::dense || m.n <= options.dense_limit || 2 * wanted >= m.n) {
        if (m.n > dense_limit_forced)
            throw input_error("a piece of " + std::to_string(m.n) + " points is too large for the dense eigen-solver");
        used = eigen_solver::dense;
        return solve_dense(m, wanted, work);
    }
    const bool forced = options.method == eigen_solver::shift_invert;
    if ((forced || options.method == eigen_solver::automatic) &&
        solve_shift_invert(m, wanted, options, forced, report, work, out)) {
        used = eigen_solver::shift_invert;
        return out;
    }
    if (solve_lanczos(m, wanted, options, report, work, out)) {
        used = eigen_solver::lanczos;
        return out;
    }
    if (m.n > dense_fallback_limit)
        throw std::runtime_error("the Lanczos eigen-solver did not converge on a piece of " + std::to_string(m.n) +
                                 " points");
    used = eigen_solver::dense;
    return solve_dense(m, wanted, work);
}

}  // namespace

piece_pairs solve_piece(const sparse_view& m, std::size_t wanted, const sparse_eigen_options& options,
                        sparse_eigen_work& work, eigen_solver& used) {
    const eigen_report report(options);
    return solve_reported_piece(m, wanted, options, report, work, used);
}

namespace {

void check_options(const sparse_eigen_options& o) {
    if (!(o.shift > 0.0) || !std::isfinite(o.shift)) throw input_error("the shift must be a positive number");
    if (!(o.tolerance >= 0.0) || !std::isfinite(o.tolerance))
        throw input_error("the tolerance must be a finite number of at least 0");
    if (o.max_restarts < 1) throw input_error("the Lanczos solver needs at least one restart");
    if (!(o.factor_bytes_limit >= 0.0))
        throw input_error("the limit on the factor's bytes must be 0 (from memory) or more");
}

}  // namespace

double factor_bytes_budget(double memory_left, std::size_t order, std::size_t basis) {
    const double beside = 8.0 * static_cast<double>(order) * static_cast<double>(basis + 6);
    return std::max(0.0, factor_memory_share * memory_left - beside);
}

eigenpairs leading_eigenpairs(const sparse_view& m, std::size_t count, const sparse_eigen_options& options,
                              sparse_eigen_work* work_out) {
    if (count == 0 || count > m.n)
        throw input_error("cannot take " + std::to_string(count) + " eigenvectors of a matrix of order " +
                          std::to_string(m.n));
    check_options(options);
    check_symmetric(m);
    sparse_eigen_work work;
    const graph_pieces pieces = connected_pieces(m, negligible_at(m.n));
    work.components = pieces.count();

    std::size_t largest = 0;
    eigen_report report(options);
    eigenpairs out = leading_over_pieces(m.n, count, pieces, [&](std::size_t p, std::size_t wanted) {
        if (options.interrupt_check) options.interrupt_check();
        report.piece(p, pieces.count(), pieces.size(p));
        eigen_solver used = eigen_solver::dense;
        piece_pairs solved;
        if (pieces.count() == 1) {
            solved = solve_reported_piece(m, wanted, options, report, work, used);
        } else {
            const sparse_matrix piece = submatrix(m, pieces, p);
            solved = solve_reported_piece(piece.view(), wanted, options, report, work, used);
        }
        if (pieces.size(p) > largest) largest = pieces.size(p), work.used = used;
        return solved;
    });
    out.used = work.dense_pieces == pieces.count() ? eigen_solver::dense : eigen_solver::lanczos;
    out.components = pieces.count();
    const long long applications = work.products + work.solves;
    out.products = applications > INT32_MAX ? INT32_MAX : static_cast<int>(applications);
    if (work_out != nullptr) *work_out = work;
    return out;
}

}  // namespace rotalign
