#include "rotalign/eigen/canonical_basis.h"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <stdexcept>

extern "C" {
// Fortran LAPACK; the trailing arguments are the hidden lengths of the characters.
void dgesvd_(const char* jobu, const char* jobvt, const int* m, const int* n, double* a, const int* lda, double* s,
             double* u, const int* ldu, double* vt, const int* ldvt, double* work, const int* lwork, int* info,
             std::size_t jobu_len, std::size_t jobvt_len);
}

namespace rotalign {
namespace {

// The m rows of the n-by-m block b (by columns) that pivoted Gram-Schmidt picks: each time the
// row of largest norm left after removing the directions of the rows picked before.
std::vector<std::size_t> pivot_rows(const double* b, std::size_t n, std::size_t m) {
    std::vector<double> w(b, b + n * m);
    std::vector<std::size_t> picked;
    for (std::size_t t = 0; t < m; ++t) {
        std::size_t best = 0;
        double best_norm = -1.0;
        for (std::size_t i = 0; i < n; ++i) {
            double norm = 0.0;
            for (std::size_t k = 0; k < m; ++k) norm += w[i + k * n] * w[i + k * n];
            if (norm > best_norm) best_norm = norm, best = i;
        }
        picked.push_back(best);
        std::vector<double> q(m);
        const double length = std::sqrt(best_norm);
        for (std::size_t k = 0; k < m; ++k) q[k] = length > 0.0 ? w[best + k * n] / length : 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            double along = 0.0;
            for (std::size_t k = 0; k < m; ++k) along += w[i + k * n] * q[k];
            for (std::size_t k = 0; k < m; ++k) w[i + k * n] -= along * q[k];
        }
    }
    return picked;
}

// The orthogonal m-by-m matrix R (by columns) nearest to turning the rows P of the pivots onto
// the axes: with P = U S V^T, R = V U^T, so that P R = U S U^T is symmetric and positive
// definite. Replacing the block B by B Q replaces P by P Q and R by Q^T R: B R stays the same.
std::vector<double> polar_turn(std::vector<double> p, std::size_t m) {
    const int order = static_cast<int>(m);
    std::vector<double> s(m), u(m * m), vt(m * m);
    int info = 0, lwork = -1;
    double size = 0.0;
    dgesvd_("A", "A", &order, &order, p.data(), &order, s.data(), u.data(), &order, vt.data(), &order, &size, &lwork,
            &info, 1, 1);
    lwork = static_cast<int>(size);
    std::vector<double> work(static_cast<std::size_t>(std::max(lwork, 1)));
    dgesvd_("A", "A", &order, &order, p.data(), &order, s.data(), u.data(), &order, vt.data(), &order, work.data(),
            &lwork, &info, 1, 1);
    if (info != 0) throw std::runtime_error("the singular value decomposition of an eigenvector block failed");
    std::vector<double> r(m * m, 0.0);
    for (std::size_t j = 0; j < m; ++j)
        for (std::size_t i = 0; i < m; ++i)
            for (std::size_t k = 0; k < m; ++k) r[i + j * m] += vt[k + i * m] * u[j + k * m];
    return r;
}

void canonical_block(eigenpairs& e, std::size_t first, std::size_t m) {
    const std::size_t n = e.n;
    double* b = &e.vectors[first * n];
    const std::vector<std::size_t> pivots = pivot_rows(b, n, m);
    std::vector<double> p(m * m);
    for (std::size_t k = 0; k < m; ++k)
        for (std::size_t t = 0; t < m; ++t) p[t + k * m] = b[pivots[t] + k * n];
    const std::vector<double> r = polar_turn(std::move(p), m);
    std::vector<double> turned(n * m, 0.0);
    for (std::size_t j = 0; j < m; ++j)
        for (std::size_t k = 0; k < m; ++k) {
            const double f = r[k + j * m];
            for (std::size_t i = 0; i < n; ++i) turned[i + j * n] += b[i + k * n] * f;
        }
    // Column order: by the first point whose entry reaches half the column's largest one.
    std::vector<std::size_t> marks(m);
    for (std::size_t j = 0; j < m; ++j) {
        const double* col = &turned[j * n];
        const double largest = *std::max_element(col, col + n);
        std::size_t i = 0;
        while (i + 1 < n && !(col[i] >= 0.5 * largest)) ++i;
        marks[j] = i;
    }
    std::vector<std::size_t> order(m);
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&marks](std::size_t a, std::size_t c) { return marks[a] < marks[c]; });
    for (std::size_t j = 0; j < m; ++j)
        std::copy(turned.begin() + static_cast<std::ptrdiff_t>(order[j] * n),
                  turned.begin() + static_cast<std::ptrdiff_t>(order[j] * n + n), b + j * n);
}

}  // namespace

void canonical_basis(eigenpairs& e, const std::vector<std::size_t>& starts) {
    for (std::size_t k = 0; k < starts.size(); ++k) {
        const std::size_t end = k + 1 < starts.size() ? starts[k + 1] : e.count;
        if (starts[k] < end && end <= e.count) canonical_block(e, starts[k], end - starts[k]);
    }
}

}  // namespace rotalign
