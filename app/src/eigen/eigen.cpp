// Leading eigenpairs: ARPACK's symmetric driver in regular mode, on the matrix without its
// negligible entries and block by block when it falls apart; LAPACK's dsyevr for small
// matrices, where a full reduction costs milliseconds and needs no convergence test.
#include "rotalign/eigen/eigen.h"

#include "eigen/symmetric_operator.h"
#include "support/disjoint_sets.h"

#include <arpack.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <stdexcept>

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

// A fixed start vector with entries spread over [-1, 1), so that runs repeat exactly and no
// eigenvector is missed by a start orthogonal to it.
std::vector<double> start_vector(std::size_t n) {
    std::vector<double> v(n);
    std::uint64_t state = 0x2545f4914f6cdd1dULL;
    for (double& x : v) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        x = static_cast<double>(state >> 11) * 0x1.0p-52 - 1.0;
    }
    return v;
}

// Entries of magnitude at most drop_budget / n are left out of the Lanczos operator: the matrix
// applied then differs from M by E with ||E||_2 <= max column sum of |E| <= drop_budget, so every
// eigenvalue moves by at most that (Weyl), well below the solver's own tolerance.
constexpr double drop_budget = 1e-12;

// Returns false when ARPACK stops without all pairs converged.
bool solve_lanczos(const symmetric_operator& op, eigenpairs& out) {
    const std::size_t order = op.order();
    const int n = as_int(order), nev = as_int(out.count);
    // A basis of four times the wanted pairs: the leading eigenvalues of a normalised affinity
    // crowd near 1, and a wider basis needs fewer restarts (products) to separate them.
    const int ncv = std::min(n, std::max(4 * nev, 20));
    const int lworkl = ncv * (ncv + 8);
    // Residuals below 1e-10 of each eigenvalue. Machine precision costs up to half as many
    // products again and gave the same groups on every generated set tried.
    const double tol = 1e-10;
    std::vector<double> resid = start_vector(order);
    std::vector<double> v(order * static_cast<std::size_t>(ncv)), workd(3 * order),
        workl(static_cast<std::size_t>(lworkl));
    a_int iparam[11] = {}, ipntr[11] = {};
    iparam[0] = 1;     // exact shifts
    iparam[2] = 1000;  // restarts at most
    iparam[6] = 1;     // regular mode: A x = lambda x
    a_int ido = 0, info = 1;  // info 1: resid holds the start vector
    for (;;) {
        dsaupd_c(&ido, "I", n, "LA", nev, tol, resid.data(), ncv, v.data(), n, iparam, ipntr, workd.data(),
                 workl.data(), lworkl, &info);
        if (ido != -1 && ido != 1) break;
        op.apply(&workd[static_cast<std::size_t>(ipntr[0] - 1)], &workd[static_cast<std::size_t>(ipntr[1] - 1)]);
        ++out.products;
    }
    if (info == 1 || info == 3 || iparam[4] < nev) return false;  // no convergence, no shifts
    if (info != 0) throw std::runtime_error("the Lanczos eigen-solver failed (code " + std::to_string(info) + ")");

    std::vector<a_int> select(static_cast<std::size_t>(ncv));
    std::vector<double> d(static_cast<std::size_t>(nev)), z(order * out.count);
    dseupd_c(1, "A", select.data(), d.data(), z.data(), n, 0.0, "I", n, "LA", nev, tol, resid.data(), ncv,
             v.data(), n, iparam, ipntr, workd.data(), workl.data(), lworkl, &info);
    if (info != 0) throw std::runtime_error("the Lanczos eigen-solver failed (code " + std::to_string(info) + ")");
    out.used = eigen_solver::lanczos;
    take_descending(out, d.data(), z.data());
    return true;
}

// The connected components of the graph whose edges are the entries below the diagonal of
// magnitude above `least` (the kept entries of `op` when it has a sparse copy), each a list of
// rows in ascending order, ordered by their first row.
std::vector<std::vector<std::size_t>> components(const matrix_view& m, const symmetric_operator* op, double least) {
    const std::size_t n = m.n;
    detail::disjoint_sets sets(n);
    if (op != nullptr && op->sparse()) {
        op->for_each_kept([&sets](std::size_t i, std::size_t j) { sets.join(i, j); });
    } else {
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t i = j + 1; i < n; ++i)
                if (std::fabs(m.values[i + j * n]) > least) sets.join(i, j);
    }
    std::vector<std::vector<std::size_t>> parts;
    std::vector<std::size_t> part_of(n);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t r = sets.root(i);
        if (r == i) {
            part_of[i] = parts.size();
            parts.emplace_back();
        }
        parts[part_of[r]].push_back(i);
    }
    return parts;
}

// A matrix that falls apart into blocks is solved block by block. A single Lanczos run cannot
// be relied on there: each block brings its own copy of an eigenvalue (1 for every component of
// an affinity graph), and a Krylov space grown from one start vector holds only one direction of
// a repeated eigenvalue, so the others would be missed.
void solve_by_blocks(const matrix_view& m, const std::vector<std::vector<std::size_t>>& parts, eigenpairs& out) {
    struct candidate {
        double value;
        std::size_t part, k;
    };
    std::vector<eigenpairs> solved;
    std::vector<candidate> candidates;
    for (const std::vector<std::size_t>& rows : parts) {
        const std::size_t s = rows.size();
        std::vector<double> block(s * s);
        for (std::size_t j = 0; j < s; ++j)
            for (std::size_t i = 0; i < s; ++i) block[i + j * s] = m.values[rows[i] + rows[j] * m.n];
        const std::size_t wanted = std::min(out.count, s);
        solved.push_back(leading_eigenpairs(block.data(), s, wanted,
                                            s <= dense_solver_limit ? eigen_solver::dense : eigen_solver::lanczos));
        out.products += solved.back().products;
        for (std::size_t k = 0; k < wanted; ++k) candidates.push_back({solved.back().values[k], solved.size() - 1, k});
    }
    // The largest values over all blocks; equal values keep the order of the blocks.
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const candidate& a, const candidate& b) { return a.value > b.value; });
    out.values.assign(out.count, 0.0);
    out.vectors.assign(out.n * out.count, 0.0);
    for (std::size_t k = 0; k < out.count; ++k) {
        const candidate& c = candidates[k];
        out.values[k] = c.value;
        const double* v = solved[c.part].column(c.k);
        const std::vector<std::size_t>& rows = parts[c.part];
        for (std::size_t i = 0; i < rows.size(); ++i) out.vectors[rows[i] + k * out.n] = v[i];
    }
    out.used = eigen_solver::lanczos;
}

}  // namespace

std::string name_of(eigen_solver solver) {
    switch (solver) {
    case eigen_solver::lanczos: return "lanczos";
    case eigen_solver::dense: return "dense";
    default: return "automatic";
    }
}

eigenpairs leading_eigenpairs(const square& m, std::size_t count, eigen_solver solver) {
    return leading_eigenpairs(m.values.data(), m.n, count, solver);
}

eigenpairs leading_eigenpairs(const double* values, std::size_t n, std::size_t count, eigen_solver solver) {
    if (count == 0 || count > n)
        throw input_error("cannot take " + std::to_string(count) + " eigenvectors of a matrix of order " +
                          std::to_string(n));
    const matrix_view m{values, n};
    eigenpairs out;
    out.n = m.n;
    out.count = count;
    if (solver == eigen_solver::automatic)
        solver = m.n <= dense_solver_limit ? eigen_solver::dense : eigen_solver::lanczos;
    // Every component brings its own eigenvalue 1; their number is reported whichever solver runs.
    const double least = drop_budget / static_cast<double>(m.n);
    // The Lanczos driver needs more basis vectors than wanted pairs, so at least one spare row.
    if (solver == eigen_solver::lanczos && count < m.n) {
        std::vector<std::vector<std::size_t>> parts;
        {
            const symmetric_operator op(m.values, m.n, least);
            parts = components(m, &op, least);
            out.components = parts.size();
            if (parts.size() == 1 && solve_lanczos(op, out)) return out;
        }
        if (parts.size() > 1) {
            solve_by_blocks(m, parts, out);
            return out;
        }
    } else {
        out.components = components(m, nullptr, least).size();
    }
    solve_dense(m, out);
    return out;
}

}  // namespace rotalign
