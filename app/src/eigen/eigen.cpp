// Leading eigenpairs of a dense matrix: the Lanczos driver on the matrix without its negligible
// entries, piece by piece when it falls apart; LAPACK's dsyevr for small matrices, where a full
// reduction costs milliseconds and needs no convergence test.
#include "rotalign/eigen/eigen.h"

#include "eigen/pieces.h"
#include "eigen/symmetric_lanczos.h"
#include "eigen/symmetric_operator.h"
#include "support/disjoint_sets.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>
#include <utility>

extern "C" {
// Fortran LAPACK; the trailing arguments are the hidden lengths of the characters.
void dsyevr_(const char* jobz, const char* range, const char* uplo, const int* n, double* a, const int* lda,
             const double* vl, const double* vu, const int* il, const int* iu, const double* abstol, int* m,
             double* w, double* z, const int* ldz, int* isuppz, double* work, const int* lwork, int* iwork,
             const int* liwork, int* info, std::size_t jobz_len, std::size_t range_len, std::size_t uplo_len);
void dsyev_(const char* jobz, const char* uplo, const int* n, double* a, const int* lda, double* w, double* work,
            const int* lwork, int* info, std::size_t jobz_len, std::size_t uplo_len);
}

namespace rotalign {
namespace {

// An n-by-n matrix by columns that belongs to the caller.
struct matrix_view {
    const double* values;
    std::size_t n;
};

int as_int(std::size_t v) {
    if (v > static_cast<std::size_t>(INT32_MAX)) throw input_error("matrix too large for the eigen-solvers");
    return static_cast<int>(v);
}

// Stores pairs that a solver gave in ascending order (values w, vectors z by columns) in the
// descending order that callers use.
void take_descending(eigenpairs& out, const double* w, const double* z) {
    const std::size_t n = out.n;
    out.values.resize(out.count);
    out.vectors.resize(n * out.count);
    for (std::size_t k = 0; k < out.count; ++k) {
        const std::size_t from = out.count - 1 - k;
        out.values[k] = w[from];
        std::copy(z + from * n, z + from * n + n, out.vectors.begin() + static_cast<std::ptrdiff_t>(k * n));
    }
}

// Every pair by the QL/QR algorithm (dsyev), the wanted ones kept.
void solve_dense_all(const matrix_view& m, eigenpairs& out) {
    const int n = as_int(m.n);
    std::vector<double> a(m.values, m.values + m.n * m.n), w(m.n);
    int info = 0, lwork = -1;
    double work_size = 0.0;
    dsyev_("V", "L", &n, a.data(), &n, w.data(), &work_size, &lwork, &info, 1, 1);
    lwork = static_cast<int>(work_size);
    std::vector<double> work(static_cast<std::size_t>(std::max(lwork, 1)));
    dsyev_("V", "L", &n, a.data(), &n, w.data(), work.data(), &lwork, &info, 1, 1);
    if (info != 0) throw std::runtime_error("the dense eigen-solver failed");
    out.used = eigen_solver::dense;
    const std::size_t skipped = m.n - out.count;
    take_descending(out, w.data() + skipped, a.data() + skipped * m.n);
}

void solve_dense(const matrix_view& m, eigenpairs& out) {
    const int n = as_int(m.n), il = n - as_int(out.count) + 1, iu = n;
    std::vector<double> a(m.values, m.values + m.n * m.n);  // dsyevr overwrites its matrix
    const double vl = 0.0, vu = 0.0, abstol = 0.0;
    int found = 0, info = 0, lwork = -1, liwork = -1, iwork_size = 0;
    double work_size = 0.0;
    std::vector<double> w(m.n), z(m.n * out.count);
    std::vector<int> isuppz(2 * m.n);
    const int ldz = std::max(n, 1);
    dsyevr_("V", "I", "L", &n, a.data(), &ldz, &vl, &vu, &il, &iu, &abstol, &found, w.data(), z.data(), &ldz,
            isuppz.data(), &work_size, &lwork, &iwork_size, &liwork, &info, 1, 1, 1);
    if (info != 0) throw std::runtime_error("the dense eigen-solver failed (workspace query)");
    lwork = static_cast<int>(work_size);
    liwork = iwork_size;
    std::vector<double> work(static_cast<std::size_t>(lwork));
    std::vector<int> iwork(static_cast<std::size_t>(liwork));
    dsyevr_("V", "I", "L", &n, a.data(), &ldz, &vl, &vu, &il, &iu, &abstol, &found, w.data(), z.data(), &ldz,
            isuppz.data(), work.data(), &lwork, iwork.data(), &liwork, &info, 1, 1, 1);
    // dsyevr's MRRR step can stop with an internal error on a many-fold repeated eigenvalue (OpenBLAS's
    // threaded build does on the complete graph of 18 identical points); dsyev has no such case.
    if (info > 0) return solve_dense_all(m, out);
    if (info != 0 || found != as_int(out.count)) throw std::runtime_error("the dense eigen-solver failed");
    out.used = eigen_solver::dense;
    take_descending(out, w.data(), z.data());
}

// The Lanczos driver's pairs; false when it stops without all of them converged. At most 1000
// restarts: a dense matrix that needs more goes to the dense solver, which costs less by then.
bool solve_lanczos(const symmetric_operator& op, eigenpairs& out) {
    const std::size_t n = op.order();
    // Residuals below 1e-10 of each eigenvalue. Machine precision costs up to half as many
    // products again and gave the same groups on every generated set tried.
    const double tolerance = 1e-10;
    std::vector<double> z;
    const lanczos_run run =
        largest_ritz_vectors(n, out.count, lanczos_basis(n, out.count, false), tolerance, 1000,
                             [&op](const double* x, double* y) { op.apply(x, y); }, z);
    out.products += static_cast<int>(run.applications);
    if (!run.converged) return false;
    out.used = eigen_solver::lanczos;
    take_descending(out, run.values.data(), z.data());
    return true;
}

// The pieces of the graph whose edges are the entries below the diagonal of magnitude above
// `least`: the kept entries of `op` when it has a sparse copy, else a scan of m's lower triangle.
graph_pieces matrix_pieces(const matrix_view& m, const symmetric_operator* op, double least) {
    const std::size_t n = m.n;
    detail::disjoint_sets sets(n);
    if (op != nullptr && op->sparse()) {
        op->for_each_kept([&sets](std::size_t i, std::size_t j) { sets.join(i, j); });
    } else {
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t i = j + 1; i < n; ++i)
                if (std::fabs(m.values[i + j * n]) > least) sets.join(i, j);
    }
    return pieces_of(sets, n);
}

// A matrix that falls apart is solved piece by piece, each piece copied out as a dense matrix.
eigenpairs solve_by_pieces(const matrix_view& m, std::size_t count, const graph_pieces& pieces) {
    int products = 0;
    eigenpairs out = leading_over_pieces(m.n, count, pieces, [&](std::size_t p, std::size_t wanted) {
        const std::size_t s = pieces.size(p);
        const std::int32_t* rows = pieces.points(p);
        std::vector<double> block(s * s);
        for (std::size_t j = 0; j < s; ++j) {
            const double* column = m.values + static_cast<std::size_t>(rows[j]) * m.n;
            for (std::size_t i = 0; i < s; ++i) block[i + j * s] = column[rows[i]];
        }
        const eigen_solver solver = s <= dense_solver_limit ? eigen_solver::dense : eigen_solver::lanczos;
        eigenpairs e = leading_eigenpairs(block.data(), s, wanted, solver);
        products += e.products;
        return piece_pairs{std::move(e.values), std::move(e.vectors)};
    });
    out.products = products;
    out.components = pieces.count();
    out.used = eigen_solver::lanczos;
    return out;
}

}  // namespace

std::string name_of(eigen_solver solver) {
    switch (solver) {
    case eigen_solver::automatic: break;
    case eigen_solver::lanczos: return "lanczos";
    case eigen_solver::dense: return "dense";
    case eigen_solver::shift_invert: return "shift-invert";
    }
    return "automatic";
}

eigenpairs leading_eigenpairs(const square& m, std::size_t count, eigen_solver solver) {
    return leading_eigenpairs(m.values.data(), m.n, count, solver);
}

eigenpairs leading_eigenpairs(const double* values, std::size_t n, std::size_t count, eigen_solver solver) {
    if (count == 0 || count > n)
        throw input_error("cannot take " + std::to_string(count) + " eigenvectors of a matrix of order " +
                          std::to_string(n));
    if (solver == eigen_solver::shift_invert)
        throw input_error("the shift-invert eigen-solver takes a sparse matrix, not a dense one");
    const matrix_view m{values, n};
    if (solver == eigen_solver::automatic)
        solver = n <= dense_solver_limit ? eigen_solver::dense : eigen_solver::lanczos;
    // Every piece brings its own eigenvalue 1; their number is reported whichever solver runs.
    const double least = negligible_at(n);
    eigenpairs out;
    out.n = n;
    out.count = count;
    // The Lanczos driver needs more basis vectors than wanted pairs, so at least one spare row.
    if (solver == eigen_solver::lanczos && count < n) {
        graph_pieces pieces;
        {
            const symmetric_operator op(values, n, least);
            pieces = matrix_pieces(m, &op, least);
            out.components = pieces.count();
            if (pieces.count() == 1 && solve_lanczos(op, out)) return out;
        }
        if (pieces.count() > 1) return solve_by_pieces(m, count, pieces);
    } else {
        out.components = matrix_pieces(m, nullptr, least).count();
    }
    solve_dense(m, out);
    return out;
}

}  // namespace rotalign
