// Why a shell operator instead of SLEPc's own spectral transformation: the one-process step runs
// Lanczos on ((1 + tau) I - L)^(-1) and tests convergence relative to that operator's eigenvalues;
// handing SLEPc the same operator keeps the same test and lets the factor be analysed (its
// predicted size checked against the limits) before it is computed. MUMPS counts the negative
// pivots of its LDL' factor: the negative eigenvalues of (1 + tau) I - L (Sylvester's law of
// inertia), so a factor with none is the one-process Cholesky factor's condition, a positive
// definite matrix.
#include "eigen/spread_piece.h"

#include "eigen/factor_budget.h"
#include "rotalign/support/memory.h"
#include "support/collective_section.h"

#include <petscmat.h>
#include <slepceps.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <exception>
#include <functional>
#include <limits>
#include <numeric>
#include <optional>
#include <stdexcept>
#include <string>

namespace rotalign::mpi {
namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

void check(PetscErrorCode code, const char* what) {
    if (code != 0)
        throw std::runtime_error(std::string("PETSc failed in ") + what + " (error " + std::to_string(code) + ")");
}

// PETSc reports through return codes here, without printing: every failure becomes an exception
// (which ends the run: see solve_spread_piece) or a fallback.
struct quiet_errors {
    quiet_errors() { PetscPushErrorHandler(PetscIgnoreErrorHandler, nullptr); }
    ~quiet_errors() { PetscPopErrorHandler(); }
    quiet_errors(const quiet_errors&) = delete;
    quiet_errors& operator=(const quiet_errors&) = delete;
};

// Destroying an object may talk to the other ranks (the factor's MUMPS instance does). An
// exception that unwinds past a handle ends the run (solve_spread_piece) while the other ranks are
// elsewhere: the handle then leaves its object to the end of the process.
struct unwinding_check {
    int before = std::uncaught_exceptions();
    bool unwinding() const { return std::uncaught_exceptions() > before; }
};
struct mat_handle : unwinding_check {
    Mat m = nullptr;
    ~mat_handle() {
        if (!unwinding()) MatDestroy(&m);
    }
};
struct vec_handle : unwinding_check {
    Vec v = nullptr;
    ~vec_handle() {
        if (!unwinding()) VecDestroy(&v);
    }
};
struct eps_handle : unwinding_check {
    EPS e = nullptr;
    ~eps_handle() {
        if (!unwinding()) EPSDestroy(&e);
    }
};

PetscInt petsc_index(std::int64_t value) {
    if (value > static_cast<std::int64_t>(std::numeric_limits<PetscInt>::max()))
        throw std::runtime_error("a piece of " + std::to_string(value) +
                                 " values exceeds the indices of this PETSc build");
    return static_cast<PetscInt>(value);
}

// (1 + tau) I - L over the own rows, the diagonal inserted in order where L has none.
void assemble_shifted(MPI_Comm comm, const piece_rows& p, double tau, Mat* out) {
    const std::size_t rows = p.count();
    std::vector<PetscInt> starts{0}, columns;
    std::vector<PetscScalar> values;
    columns.reserve(p.columns.size() + rows);
    values.reserve(p.columns.size() + rows);
    for (std::size_t i = 0; i < rows; ++i) {
        const std::int64_t row = p.first + static_cast<std::int64_t>(i);
        bool diagonal = false;
        for (auto k = static_cast<std::size_t>(p.starts[i]); k < static_cast<std::size_t>(p.starts[i + 1]); ++k) {
            const std::int64_t j = p.columns[k];
            if (j > row && !diagonal) {
                columns.push_back(petsc_index(row));
                values.push_back(1.0 + tau);
                diagonal = true;
            }
            columns.push_back(petsc_index(j));
            values.push_back(j == row ? 1.0 + tau - p.values[k] : -p.values[k]);
            diagonal = diagonal || j == row;
        }
        if (!diagonal) {
            columns.push_back(petsc_index(row));
            values.push_back(1.0 + tau);
        }
        starts.push_back(petsc_index(static_cast<std::int64_t>(columns.size())));
    }
    const PetscInt local = petsc_index(static_cast<std::int64_t>(rows)), global = petsc_index(p.size);
    check(MatCreateMPIAIJWithArrays(comm, local, local, global, global, starts.data(), columns.data(), values.data(),
                                    out),
          "MatCreateMPIAIJWithArrays");
    check(MatSetOption(*out, MAT_SYMMETRIC, PETSC_TRUE), "MatSetOption");
    // Declared positive definite, MUMPS factors without pivoting (LDL' with 1-by-1 pivots): on the
    // 10^6-point two-moons graph a solve took 0.8 s against 1.0 s with pivoting, the factorisation
    // 4.2 s against 6.4 s. Whether the declaration holds is checked on the factor.
    check(MatSetOption(*out, MAT_SPD, PETSC_TRUE), "MatSetOption");
}

// What the shell operators apply: L x = (1 + tau) x - S x, or S^(-1) x through the factor. The
// interrupt check runs on every rank before each application; when it throws on any rank, all
// leave the solve together (stop_agreed).
struct operator_context {
    Mat shifted = nullptr, factor = nullptr;
    double tau = 0.0;
    MPI_Comm comm = MPI_COMM_NULL;
    const std::function<void()>* interrupt = nullptr;
    std::exception_ptr stopped;
    bool stop_agreed = false;
    std::string refusal;  // why a large piece gets no factor (see factorise)
    long long applications = 0;
};

PetscErrorCode check_interrupt(operator_context& c) {
    if (c.interrupt == nullptr || !*c.interrupt) return 0;
    int stop = 0;
    try {
        (*c.interrupt)();
    } catch (...) {
        c.stopped = std::current_exception();
        stop = 1;
    }
    MPI_Allreduce(MPI_IN_PLACE, &stop, 1, MPI_INT, MPI_MAX, c.comm);
    c.stop_agreed = stop != 0;
    return stop != 0 ? PETSC_ERR_USER : 0;
}

PetscErrorCode apply_l(operator_context& c, Vec x, Vec y) {
    PetscErrorCode code = MatMult(c.shifted, x, y);
    if (code == 0) code = VecAXPBY(y, 1.0 + c.tau, -1.0, x);
    return code;
}

// One application of the shell operator a: the interrupt checked first, then `apply` on its context.
template <typename Apply>
PetscErrorCode applied(Mat a, Apply apply) {
    void* context = nullptr;
    MatShellGetContext(a, &context);
    operator_context& c = *static_cast<operator_context*>(context);
    if (const PetscErrorCode stop = check_interrupt(c)) return stop;
    ++c.applications;
    return apply(c);
}

PetscErrorCode multiply_l(Mat a, Vec x, Vec y) {
    return applied(a, [&](operator_context& c) { return apply_l(c, x, y); });
}

PetscErrorCode solve_shifted(Mat a, Vec x, Vec y) {
    return applied(a, [&](operator_context& c) { return MatSolve(c.factor, x, y); });
}

// A start vector that depends on the positions alone, so that runs repeat on any number of
// ranks; positive, hence never orthogonal to the leading (positive) vector of a piece.
void fill_start(const piece_rows& p, Vec v) {
    PetscScalar* x = nullptr;
    check(VecGetArray(v, &x), "VecGetArray");
    for (std::size_t i = 0; i < p.count(); ++i) {
        const auto position = static_cast<std::uint64_t>(p.first) + i;
        x[i] = 1.0 + static_cast<double>((position * 2654435761u) % 1000u) / 1000.0;
    }
    check(VecRestoreArray(v, &x), "VecRestoreArray");
}

// What a person watching is told after each restart: the operator's applications so far and the
// pairs converged. Set on the ranks that report (rank 0), where options.report is given.
struct watch_context {
    const sparse_eigen_options* options = nullptr;
    const operator_context* c = nullptr;
    const char* method = "";
    const char* application = "";
    std::size_t wanted = 0;
};

PetscErrorCode watch_restart(EPS, PetscInt restarts, PetscInt converged, PetscScalar*, PetscScalar*, PetscReal*,
                             PetscInt, void* context) {
    const watch_context& w = *static_cast<const watch_context*>(context);
    try {
        const long long applications = w.c->applications;
        w.options->report(std::string(w.method) + ": " + std::to_string(applications) + " " + w.application +
                          (applications == 1 ? ", " : "s, ") + std::to_string(restarts) +
                          (restarts == 1 ? " restart, " : " restarts, ") +
                          std::to_string(std::min<std::size_t>(static_cast<std::size_t>(converged), w.wanted)) +
                          " of " + std::to_string(w.wanted) + " pairs converged");
    } catch (...) {
        // The words are only shown: failing to show them changes nothing.
    }
    return 0;
}

// The Ritz values of the returned vectors and the largest of their error estimates (relative to
// the value).
struct ritz_estimates {
    std::vector<double> values;
    double largest_error = 0.0;
};

// Krylov-Schur for the `wanted` largest eigenvalues of the shell operator op (the inverse of the
// shifted matrix, or L itself); false when it stopped short or an interrupt stopped it on every
// rank. The vectors come back in `vectors`, and with `ritz` their estimates. `solved` runs on
// every rank once the solve has ended and before the vectors are formed, which need the basis
// alone, not the operator.
bool krylov_schur(MPI_Comm comm, const piece_rows& p, Mat op, bool shift_invert, std::size_t wanted,
                  const sparse_eigen_options& options, operator_context& c, std::vector<vec_handle>& vectors,
                  ritz_estimates* ritz, long long& restarts, const std::function<void()>& solved) {
    eps_handle eps;
    check(EPSCreate(comm, &eps.e), "EPSCreate");
    check(EPSSetOperators(eps.e, op, nullptr), "EPSSetOperators");
    check(EPSSetProblemType(eps.e, EPS_HEP), "EPSSetProblemType");
    check(EPSSetType(eps.e, EPSKRYLOVSCHUR), "EPSSetType");
    check(EPSSetWhichEigenpairs(eps.e, EPS_LARGEST_REAL), "EPSSetWhichEigenpairs");
    check(EPSSetDimensions(eps.e, static_cast<PetscInt>(wanted), PETSC_DEFAULT, PETSC_DEFAULT), "EPSSetDimensions");
    const double tolerance = options.tolerance > 0.0 ? options.tolerance : PETSC_MACHINE_EPSILON;
    check(EPSSetTolerances(eps.e, tolerance, options.max_restarts), "EPSSetTolerances");
    vec_handle start;
    check(MatCreateVecs(op, &start.v, nullptr), "MatCreateVecs");
    fill_start(p, start.v);
    check(EPSSetInitialSpace(eps.e, 1, &start.v), "EPSSetInitialSpace");
    // Like the factor, the solver reads overrides under the same prefix (-rotalign_eigen_eps_ncv).
    check(EPSSetOptionsPrefix(eps.e, "rotalign_eigen_"), "EPSSetOptionsPrefix");
    check(EPSSetFromOptions(eps.e), "EPSSetFromOptions");
    watch_context watch{&options, &c, shift_invert ? "shift-invert Krylov-Schur" : "Krylov-Schur",
                        shift_invert ? "solve" : "product", wanted};
    if (options.report) check(EPSMonitorSet(eps.e, watch_restart, &watch, nullptr), "EPSMonitorSet");
    const PetscErrorCode code = EPSSolve(eps.e);
    if (c.stop_agreed) return false;
    check(code, "EPSSolve");
    if (solved) solved();
    PetscInt converged = 0, iterations = 0;
    check(EPSGetConverged(eps.e, &converged), "EPSGetConverged");
    check(EPSGetIterationNumber(eps.e, &iterations), "EPSGetIterationNumber");
    restarts += iterations;
    if (converged < static_cast<PetscInt>(wanted)) return false;
    vectors.resize(wanted);
    for (std::size_t k = 0; k < wanted; ++k) {
        const auto at = static_cast<PetscInt>(k);
        check(MatCreateVecs(op, &vectors[k].v, nullptr), "MatCreateVecs");
        check(EPSGetEigenvector(eps.e, at, vectors[k].v, nullptr), "EPSGetEigenvector");
        if (ritz == nullptr) continue;
        PetscScalar value = 0.0;
        PetscReal error = 0.0;
        check(EPSGetEigenvalue(eps.e, at, &value, nullptr), "EPSGetEigenvalue");
        check(EPSGetErrorEstimate(eps.e, at, &error), "EPSGetErrorEstimate");
        ritz->values.push_back(value);
        ritz->largest_error = std::max(ritz->largest_error, static_cast<double>(error));
    }
    return true;
}

// The values of L, descending, with the own rows of their vectors.
piece_pairs descending_pairs(const std::vector<double>& lambda, std::vector<vec_handle>& vectors, std::size_t rows) {
    const std::size_t wanted = lambda.size();
    std::vector<std::size_t> order(wanted);
    std::iota(order.begin(), order.end(), std::size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [&lambda](std::size_t a, std::size_t b) { return lambda[a] > lambda[b]; });
    piece_pairs out;
    out.values.resize(wanted);
    out.vectors.resize(rows * wanted);
    for (std::size_t k = 0; k < wanted; ++k) {
        out.values[k] = lambda[order[k]];
        const PetscScalar* x = nullptr;
        check(VecGetArrayRead(vectors[order[k]].v, &x), "VecGetArrayRead");
        std::copy(x, x + rows, out.vectors.begin() + static_cast<std::ptrdiff_t>(k * rows));
        check(VecRestoreArrayRead(vectors[order[k]].v, &x), "VecRestoreArrayRead");
    }
    return out;
}

// The vectors as eigenvectors of L: their Rayleigh quotients, descending, and the own rows.
piece_pairs rayleigh_quotients(operator_context& c, const piece_rows& p, std::vector<vec_handle>& vectors,
                               sparse_eigen_work& work) {
    const std::size_t wanted = vectors.size(), rows = p.count();
    std::vector<double> lambda(wanted);
    vec_handle product;
    check(VecDuplicate(vectors[0].v, &product.v), "VecDuplicate");
    for (std::size_t k = 0; k < wanted; ++k) {
        check(VecNormalize(vectors[k].v, nullptr), "VecNormalize");
        check(apply_l(c, vectors[k].v, product.v), "MatMult");
        check(VecDot(product.v, vectors[k].v, &lambda[k]), "VecDot");
        check(VecAXPY(product.v, -lambda[k], vectors[k].v), "VecAXPY");
        PetscReal residual = 0.0;
        check(VecNorm(product.v, NORM_2, &residual), "VecNorm");
        work.largest_residual = std::max(work.largest_residual, static_cast<double>(residual));
    }
    work.products += static_cast<long long>(wanted);
    return descending_pairs(lambda, vectors, rows);
}

// The pairs of L from the Ritz pairs of the shifted inverse, without L itself: a value theta of
// ((1 + tau) I - L)^(-1) is the value 1 + tau - 1/theta of L. A Ritz vector v whose residual
// against the inverse is r = theta e (e relative to theta, as the solver estimates it) has
// L v - lambda v = ((1 + tau) I - L) r / theta, at most (2 + tau) e long, since L's values lie in
// [-1, 1].
piece_pairs inverse_ritz_pairs(double tau, const ritz_estimates& ritz, std::vector<vec_handle>& vectors,
                               std::size_t rows, sparse_eigen_work& work) {
    std::vector<double> lambda(ritz.values.size());
    for (std::size_t k = 0; k < lambda.size(); ++k) {
        check(VecNormalize(vectors[k].v, nullptr), "VecNormalize");
        lambda[k] = 1.0 + tau - 1.0 / ritz.values[k];
    }
    work.largest_residual = std::max(work.largest_residual, (2.0 + tau) * ritz.largest_error);
    return descending_pairs(lambda, vectors, rows);
}

constexpr const char* options_prefix = "rotalign_eigen_";

void set_default_option(const char* name, const char* value) {
    PetscBool set = PETSC_FALSE;
    check(PetscOptionsHasName(nullptr, nullptr, name, &set), "PetscOptionsHasName");
    if (set == PETSC_FALSE) check(PetscOptionsSetValue(nullptr, name, value), "PetscOptionsSetValue");
}

// Why a piece above plain_lanczos_limit points gets no factor, for the message that refuses it.
std::string beyond_plain(const sparse_eigen_options& options) {
    return "plain Krylov-Schur, the method without a factor, cannot separate such a piece's leading eigenvalues in "
           "useful time above " +
           std::to_string(options.plain_lanczos_limit) + " points";
}

// The distributed factor of the shifted matrix, or nothing when it is refused (its predicted size
// is over a limit and the method is not forced), fails, or (1 + tau) I - L is not positive
// definite. Where a piece above plain_lanczos_limit points gets none for its size or a failure
// of MUMPS, `refusal` says why, alike on every rank: the solve then ends instead of falling back.
bool factorise(MPI_Comm comm, const piece_rows& p, Mat shifted, std::size_t wanted, const sparse_eigen_options& options,
               sparse_eigen_work& work, mat_handle& factor, std::string& refusal) {
    if (options.report) options.report("ordering the factor");
    clock_type::time_point start = clock_type::now();
    check(MatGetFactor(shifted, MATSOLVERMUMPS, MAT_FACTOR_CHOLESKY, &factor.m), "MatGetFactor");
    // The factor reads its MUMPS controls from the options database under this prefix
    // (-rotalign_eigen_mat_mumps_icntl_7 5 and so on), where the defaults below can be overridden.
    check(MatSetOptionsPrefix(factor.m, options_prefix), "MatSetOptionsPrefix");
    // AMD ordering: on the 10^6-point two-moons graph the automatic choice (METIS) analysed in
    // 17 to 35 s for a 645 MiB factor, AMD in 2.5 to 5 s for 711 MiB, the solves as fast.
    set_default_option("-rotalign_eigen_mat_mumps_icntl_7", "0");
    // The count of negative pivots needs the root front kept off ScaLAPACK when the factor is
    // spread over several ranks.
    set_default_option("-rotalign_eigen_mat_mumps_icntl_13", "1");
    MatFactorInfo info;
    check(MatFactorInfoInitialize(&info), "MatFactorInfoInitialize");
    check(MatCholeskyFactorSymbolic(factor.m, shifted, nullptr, &info), "MatCholeskyFactorSymbolic");
    work.analyse_seconds += seconds_since(start);
    const bool large = p.size > static_cast<std::int64_t>(options.plain_lanczos_limit);
    // MUMPS's own failures (INFOG(1) < 0) reach every rank alike.
    PetscInt mumps_status = 0;
    check(MatMumpsGetInfog(factor.m, 1, &mumps_status), "MatMumpsGetInfog");
    if (mumps_status < 0) {
        ++work.refused_factors;
        if (large) refusal = "the analysis of the distributed Cholesky factor of a piece of " + std::to_string(p.size) +
                             " points failed (MUMPS error " + std::to_string(mumps_status) + "); " + beyond_plain(options);
        return false;
    }
    PetscInt entries_code = 0, share_megabytes = 0;
    PetscReal flops = 0.0;
    check(MatMumpsGetInfog(factor.m, 3, &entries_code), "MatMumpsGetInfog");
    check(MatMumpsGetRinfog(factor.m, 1, &flops), "MatMumpsGetRinfog");
    // This rank's memory for the factorisation in core, in MB: the factor's share and MUMPS's
    // workspace beside it.
    check(MatMumpsGetInfo(factor.m, 15, &share_megabytes), "MatMumpsGetInfo");
    // Negative counts are in millions.
    const double entries = entries_code < 0 ? -1e6 * entries_code : static_cast<double>(entries_code);
    const double bytes = entries * sizeof(double), order = static_cast<double>(p.size);
    const double density = entries / (order * (order + 1.0) / 2.0);
    const bool forced = options.method == eigen_solver::shift_invert;
    const std::size_t basis = std::max<std::size_t>(2 * wanted, wanted + 15);
    const spread_factor_fit fit = fit_spread_factor(comm, 1024.0 * 1024.0 * static_cast<double>(share_megabytes),
                                                    bytes, p.count(), basis, options.factor_bytes_limit);
    // Above plain_lanczos_limit points only memory and fill refuse a factor, as in one process:
    // plain Krylov-Schur would not converge in useful time on such a piece.
    const bool fills_in = density > options.factor_density_limit;
    if (!forced && (fills_in || !fit.fits || (!large && flops > options.factor_flops_limit))) {
        ++work.refused_factors;
        work.refused_factor_bytes = std::max(work.refused_factor_bytes, bytes);
        if (large && !fills_in)
            refusal = "a piece of " + std::to_string(p.size) + " points needs a distributed Cholesky factor of " +
                      byte_size(bytes) +
                      (fit.need != bytes ? " (" + byte_size(fit.need) + " with MUMPS's workspace where it fits worst)"
                                         : std::string()) +
                      ", beyond " + byte_size(fit.budget) + ", " + fit.budget_source + "; " + beyond_plain(options) +
                      "; ranks on more machines would share the factor";
        return false;
    }
    if (options.report) options.report("factorising: " + byte_size(bytes) + " over the ranks");
    start = clock_type::now();
    const PetscErrorCode numeric = MatCholeskyFactorNumeric(factor.m, shifted, &info);
    work.factorise_seconds += seconds_since(start);
    // Any failure of the call other than MUMPS's own is this rank's alone.
    check(MatMumpsGetInfog(factor.m, 1, &mumps_status), "MatMumpsGetInfog");
    if (numeric != 0 && mumps_status >= 0) check(numeric, "MatCholeskyFactorNumeric");
    if (numeric != 0 && large)
        refusal = "the distributed Cholesky factor of a piece of " + std::to_string(p.size) + " points (" +
                  byte_size(bytes) + ") failed (MUMPS error " + std::to_string(mumps_status) +
                  (mumps_status == -13 ? ": memory ran out" : "") + "); " + beyond_plain(options);
    MatFactorError failed = MAT_FACTOR_NOERROR;
    if (numeric == 0) MatFactorGetError(factor.m, &failed);
    PetscInt negative = 0;
    if (numeric != 0 || failed != MAT_FACTOR_NOERROR || MatMumpsGetInfog(factor.m, 12, &negative) != 0 || negative > 0)
        return false;
    ++work.factorisations;
    if (bytes > work.factor_bytes) {
        work.factor_bytes = bytes;
        work.factor_flops = flops;
    }
    return true;
}

// The pairs, or nothing when no method converged or an interrupt stopped the solve on every rank.
std::optional<spread_pairs> solve_in_petsc(MPI_Comm comm, piece_rows piece, std::size_t wanted,
                                           const sparse_eigen_options& options, sparse_eigen_work& work,
                                           operator_context& c) {
    mat_handle shifted;
    assemble_shifted(comm, piece, options.shift, &shifted.m);
    // PETSc copied the entries; from here on only the rows' positions are read.
    std::vector<std::int64_t>().swap(piece.columns);
    std::vector<double>().swap(piece.values);
    c.shifted = shifted.m;
    const PetscInt local = petsc_index(static_cast<std::int64_t>(piece.count())), global = petsc_index(piece.size);
    std::vector<vec_handle> vectors;
    spread_pairs out;

    if (options.method == eigen_solver::automatic || options.method == eigen_solver::shift_invert) {
        mat_handle factor;
        if (factorise(comm, piece, shifted.m, wanted, options, work, factor, c.refusal)) {
            c.factor = factor.m;
            // The solves need the factor alone, and the values come from the inverse's Ritz values:
            // the shifted matrix goes before them (on 10^6 points over 2 ranks, about 90 MB off each
            // rank's peak).
            check(MatDestroy(&shifted.m), "MatDestroy");
            c.shifted = nullptr;
            mat_handle inverse;
            check(MatCreateShell(comm, local, local, global, global, &c, &inverse.m), "MatCreateShell");
            check(MatShellSetOperation(inverse.m, MATOP_MULT, reinterpret_cast<void (*)(void)>(solve_shifted)),
                  "MatShellSetOperation");
            const clock_type::time_point start = clock_type::now();
            // The factor goes once the solve has ended: kept while the vectors are formed, it made
            // each rank's peak (on 10^6 points over 2 ranks, the 11 vectors' 44 MB above it).
            const auto let_factor_go = [&] {
                check(MatDestroy(&factor.m), "MatDestroy");
                c.factor = nullptr;
            };
            ritz_estimates ritz;
            const bool converged = krylov_schur(comm, piece, inverse.m, true, wanted, options, c, vectors, &ritz,
                                                work.restarts, let_factor_go);
            work.solves += c.applications;
            c.applications = 0;
            if (converged) {
                out.pairs = inverse_ritz_pairs(options.shift, ritz, vectors, piece.count(), work);
                out.method = "shift-invert Krylov-Schur (MUMPS)";
                ++work.shift_invert_pieces;
            }
            work.iterate_seconds += seconds_since(start);
            // Without the shifted matrix there is no falling back to Krylov-Schur on L.
            if (!converged) return std::nullopt;
            return out;
        }
        if (!c.refusal.empty()) return std::nullopt;
    }
    mat_handle l;
    check(MatCreateShell(comm, local, local, global, global, &c, &l.m), "MatCreateShell");
    check(MatShellSetOperation(l.m, MATOP_MULT, reinterpret_cast<void (*)(void)>(multiply_l)), "MatShellSetOperation");
    const clock_type::time_point start = clock_type::now();
    const bool converged = krylov_schur(comm, piece, l.m, false, wanted, options, c, vectors, nullptr, work.restarts, {});
    work.products += c.applications;
    work.iterate_seconds += seconds_since(start);
    if (!converged) return std::nullopt;
    out.pairs = rayleigh_quotients(c, piece, vectors, work);
    out.method = "Krylov-Schur";
    out.used = eigen_solver::lanczos;
    ++work.lanczos_pieces;
    return out;
}

}  // namespace

spread_pairs solve_spread_piece(MPI_Comm comm, piece_rows piece, std::size_t wanted,
                                const sparse_eigen_options& options, sparse_eigen_work& work) {
    const quiet_errors quiet;
    operator_context c;
    c.tau = options.shift;
    c.comm = comm;
    c.interrupt = &options.interrupt_check;
    const std::int64_t size = piece.size;
    // Every PETSc call in here is collective: one that fails on this rank alone may leave the
    // others inside it (a reduction of the Krylov method, MUMPS's own messages), so it ends the
    // run. What every rank sees alike comes out as a result and is thrown on all of them.
    std::optional<spread_pairs> out =
        collective_section([&] { return solve_in_petsc(comm, std::move(piece), wanted, options, work, c); });
    if (c.stopped) std::rethrow_exception(c.stopped);
    if (c.stop_agreed) throw std::runtime_error("the eigen-step was stopped on another rank");
    if (!c.refusal.empty()) throw resource_error(c.refusal);
    if (!out)
        throw std::runtime_error("the Krylov-Schur eigen-solver did not converge on a piece of " +
                                 std::to_string(size) + " points");
    return std::move(*out);
}

}  // namespace rotalign::mpi
