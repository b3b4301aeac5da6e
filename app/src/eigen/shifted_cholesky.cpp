#include "eigen/shifted_cholesky.h"

#include <cholmod.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace rotalign {

struct shifted_cholesky::state {
    cholmod_common common;
    cholmod_sparse* shifted = nullptr;
    cholmod_factor* factor = nullptr;
    cholmod_dense* solution = nullptr;  // solve2's output and workspaces, kept between solves
    cholmod_dense* work_y = nullptr;
    cholmod_dense* work_e = nullptr;
    bool analysed = false;

    state() {
        cholmod_start(&common);
        common.print = 0;  // failures come back as a status, not as printed text
        common.grow2 = 0;  // a simplicial factor gets exactly its predicted room
        // Minimum degree (AMD) alone. On a two-dimensional neighbour graph of 10^6 points nested
        // dissection saves an eighth of the factor but takes several times as long to find, and
        // on a graph that fills in badly it is the analysis of a factor that will be refused.
        common.nmethods = 1;
        common.method[0].ordering = CHOLMOD_AMD;
    }
    ~state() {
        cholmod_free_dense(&solution, &common);
        cholmod_free_dense(&work_y, &common);
        cholmod_free_dense(&work_e, &common);
        cholmod_free_factor(&factor, &common);
        cholmod_free_sparse(&shifted, &common);
        cholmod_finish(&common);
    }
};

shifted_cholesky::shifted_cholesky(const sparse_view& m, double shift) : s_(std::make_unique<state>()) {
    cholmod_common* c = &s_->common;
    const std::size_t n = m.n;
    // The upper triangle with the diagonal (stype 1), which the analysis and the factorisation
    // read fastest under a fill-reducing ordering.
    std::size_t kept = n;
    for (std::size_t j = 0; j < n; ++j)
        for (std::int32_t k = m.starts[j]; k < m.starts[j + 1]; ++k)
            if (static_cast<std::size_t>(m.rows[k]) < j) ++kept;
    s_->shifted = cholmod_allocate_sparse(n, n, kept, 1, 1, 1, CHOLMOD_REAL, c);
    if (s_->shifted == nullptr) throw std::bad_alloc();
    auto* starts = static_cast<int*>(s_->shifted->p);
    auto* rows = static_cast<int*>(s_->shifted->i);
    auto* values = static_cast<double*>(s_->shifted->x);
    const double diagonal = 1.0 + shift;
    std::size_t at = 0;
    for (std::size_t j = 0; j < n; ++j) {
        starts[j] = static_cast<int>(at);
        double own = 0.0;  // a stored diagonal entry of m, if any
        for (std::int32_t k = m.starts[j]; k < m.starts[j + 1]; ++k) {
            const auto i = static_cast<std::size_t>(m.rows[k]);
            if (i < j) {
                rows[at] = static_cast<int>(i);
                values[at++] = -m.values[k];
            } else if (i == j) {
                own = m.values[k];
            }
        }
        rows[at] = static_cast<int>(j);
        values[at++] = diagonal - own;
    }
    starts[n] = static_cast<int>(at);

    s_->factor = cholmod_analyze(s_->shifted, c);
    s_->analysed = s_->factor != nullptr && c->status >= CHOLMOD_OK;
}

shifted_cholesky::~shifted_cholesky() = default;

double shifted_cholesky::predicted_bytes() const {
    if (!s_->analysed) return std::numeric_limits<double>::infinity();
    const cholmod_factor* f = s_->factor;
    if (f->is_super)
        return static_cast<double>(f->xsize) * sizeof(double) + static_cast<double>(f->ssize) * sizeof(int);
    return s_->common.lnz * static_cast<double>(sizeof(double) + sizeof(int));
}

double shifted_cholesky::predicted_flops() const {
    return s_->analysed ? s_->common.fl : std::numeric_limits<double>::infinity();
}

double shifted_cholesky::predicted_entries() const {
    return s_->analysed ? s_->common.lnz : std::numeric_limits<double>::infinity();
}

bool shifted_cholesky::factorise() {
    cholmod_common* c = &s_->common;
    if (!s_->analysed) return false;
    // LL' in both the simplicial and the supernodal form: an LDL' factor of an indefinite matrix
    // would come back without a warning, and Lanczos on its inverse would then return the wrong
    // end of the spectrum as if it were the right one.
    c->final_ll = 1;
    c->quick_return_if_not_posdef = 1;
    const int ok = cholmod_factorize(s_->shifted, s_->factor, c);
    cholmod_free_sparse(&s_->shifted, c);
    const cholmod_factor* f = s_->factor;
    return ok && c->status == CHOLMOD_OK && f->is_ll && f->minor == f->n;
}

bool shifted_cholesky::ran_out_of_memory() const { return s_->common.status == CHOLMOD_OUT_OF_MEMORY; }

void shifted_cholesky::solve(const double* x, double* y) {
    state& s = *s_;
    const std::size_t n = s.factor->n;
    // A header over the caller's vector: solve2 only reads its right-hand side.
    cholmod_dense rhs;
    std::memset(&rhs, 0, sizeof rhs);
    rhs.nrow = n;
    rhs.ncol = 1;
    rhs.nzmax = n;
    rhs.d = n;
    rhs.x = const_cast<double*>(x);
    rhs.xtype = CHOLMOD_REAL;
    rhs.dtype = CHOLMOD_DOUBLE;
    if (!cholmod_solve2(CHOLMOD_A, s.factor, &rhs, nullptr, &s.solution, nullptr, &s.work_y, &s.work_e, &s.common))
        throw std::runtime_error("the sparse Cholesky solve failed");
    const auto* solved = static_cast<const double*>(s.solution->x);
    std::copy(solved, solved + n, y);
}

}  // namespace rotalign
