#include "symmetric_operator.h"

#include <cmath>

extern "C" {
// Fortran BLAS; the trailing argument is the hidden length of the character.
void dsymv_(const char* uplo, const int* n, const double* alpha, const double* a, const int* lda,
            const double* x, const int* incx, const double* beta, double* y, const int* incy,
            std::size_t uplo_len);
}

namespace rotalign {

symmetric_operator::symmetric_operator(const double* m, std::size_t n, double least) : m_(m), n_(n) {
    // Count the kept entries of every band and column.
    band_starts_.resize(bands() + 1);
    for (std::size_t b = 0; b < bands(); ++b) band_starts_[b + 1] = band_starts_[b] + band_columns(b) + 1;
    starts_.assign(band_starts_.back(), 0);
    std::size_t kept = 0;
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = j + 1; i < n; ++i)
            if (std::fabs(m[i + j * n]) > least) {
                ++starts_[band_starts_[i / band_rows] + j + 1];
                ++kept;
            }
    // The sparse product pays while it keeps under a sixth of the n^2 entries (a third of the
    // triangle that dsymv reads); above that the dense product is kept (bench_app_operator).
    if (6 * kept >= n * n) {
        starts_.clear();
        return;
    }
    sparse_ = true;
    std::size_t total = 0;
    for (std::size_t b = 0; b < bands(); ++b) {
        std::size_t* s = &starts_[band_starts_[b]];
        s[0] = total;
        for (std::size_t j = 0; j < band_columns(b); ++j) s[j + 1] += s[j];
        total = s[band_columns(b)];
    }
    // Fill each band's columns in ascending rows.
    diagonal_.resize(n);
    offsets_.resize(kept);
    values_.resize(kept);
    std::vector<std::size_t> next(starts_);
    for (std::size_t j = 0; j < n; ++j) {
        diagonal_[j] = m[j + j * n];
        for (std::size_t i = j + 1; i < n; ++i) {
            const double v = m[i + j * n];
            if (std::fabs(v) > least) {
                const std::size_t b = i / band_rows;
                const std::size_t at = next[band_starts_[b] + j]++;
                offsets_[at] = static_cast<std::uint16_t>(i - b * band_rows);
                values_[at] = v;
            }
        }
    }
}

void symmetric_operator::apply(const double* x, double* y) const {
    if (!sparse_) {
        const int n = static_cast<int>(n_), one = 1;
        const double alpha = 1.0, beta = 0.0;
        dsymv_("L", &n, &alpha, m_, &n, x, &one, &beta, y, &one, 1);
        return;
    }
    // Column j adds its terms to the rows below j in ascending columns, and its own sum comes
    // last, once every column before j has added to row j. Taken band by band, the rows that a
    // pass touches (512 of x and of y) stay in the nearest cache, where the column scheme
    // reached all over both vectors; each column's sum goes on from band to band in ascending
    // rows, and is added to its row at the end.
    std::vector<double> sums(n_, 0.0);
    for (std::size_t j = 0; j < n_; ++j) y[j] = diagonal_[j] * x[j];
    const std::uint16_t* offsets = offsets_.data();
    const double* values = values_.data();
    for (std::size_t b = 0; b < bands(); ++b) {
        const std::size_t* s = &starts_[band_starts_[b]];
        const double* xb = x + b * band_rows;
        double* yb = y + b * band_rows;
        for (std::size_t j = 0; j < band_columns(b); ++j) {
            const double xj = x[j];
            double sum = sums[j];
            for (std::size_t k = s[j]; k < s[j + 1]; ++k) {
                const std::size_t i = offsets[k];
                yb[i] += values[k] * xj;
                sum += values[k] * xb[i];
            }
            sums[j] = sum;
        }
    }
    for (std::size_t j = 0; j < n_; ++j) y[j] += sums[j];
}

}  // namespace rotalign
