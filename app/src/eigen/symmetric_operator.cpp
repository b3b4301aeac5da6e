#include "eigen/symmetric_operator.h"

#include <cmath>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

extern "C" {
// Fortran BLAS; the trailing argument is the hidden length of the character.
void dsymv_(const char* uplo, const int* n, const double* alpha, const double* a, const int* lda,
            const double* x, const int* incx, const double* beta, double* y, const int* incy,
            std::size_t uplo_len);
}

namespace rotalign {
namespace {

// From this many entries in the lower triangle a second thread pays for its start.
constexpr std::size_t two_threads_from = std::size_t{1} << 20;

// The scans that make the sparse copy are cut into this many ranges of columns when shared.
constexpr std::size_t scan_parts = 16;

// Runs part(0) .. part(count - 1), on this thread and, when `together`, on a second one: each
// thread takes the next part not yet taken, so that when the second thread starts late or is
// held up (another program has the second core), this one goes on with the rest instead of
// waiting; it waits only for a part already under way. The parts write nothing that another
// reads or writes, so who runs which changes no result. part() may not throw.
template <typename part_fn>
void share_out(std::size_t count, bool together, part_fn part) {
    struct work {
        std::mutex mutex;
        std::condition_variable finished;
        std::size_t next = 0, done = 0;
    };
    // The helper is not joined and may outlive this call: what it shares lives on the heap, and
    // it touches the parts' data only while it runs a part, which this call waits for.
    auto shared = std::make_shared<work>();
    auto take_parts = [](work& w, std::size_t count, const part_fn& part) {
        for (;;) {
            std::size_t k;
            {
                std::lock_guard<std::mutex> lock(w.mutex);
                if (w.next == count) return;
                k = w.next++;
            }
            part(k);
            std::lock_guard<std::mutex> lock(w.mutex);
            if (++w.done == count) w.finished.notify_one();
        }
    };
    if (together && count > 1) {
        try {
            std::thread([shared, take_parts, count, part] { take_parts(*shared, count, part); }).detach();
        } catch (const std::system_error&) {
            // No second thread: this one runs every part.
        }
    }
    take_parts(*shared, count, part);
    std::unique_lock<std::mutex> lock(shared->mutex);
    shared->finished.wait(lock, [&shared, count] { return shared->done == count; });
}

bool two_cores() { return std::thread::hardware_concurrency() >= 2; }

}  // namespace

symmetric_operator::symmetric_operator(const double* m, std::size_t n, double least, copy_threads threads)
    : m_(m), n_(n) {
    band_starts_.resize(bands() + 1);
    for (std::size_t b = 0; b < bands(); ++b) band_starts_[b + 1] = band_starts_[b] + band_columns(b) + 1;
    starts_.assign(band_starts_.back(), 0);
    // The two scans of the lower triangle are shared out by ranges of columns that hold equal
    // parts of the triangle, each column's counts and entries having slots of their own.
    const bool together = threads == copy_threads::two || (threads == copy_threads::automatic && two_cores());
    const bool scan_together = together && n * n / 2 >= two_threads_from;
    const std::size_t ranges = scan_together ? scan_parts : 1;
    std::vector<std::size_t> first_column(ranges + 1, n);
    for (std::size_t r = 0; r < ranges; ++r)
        first_column[r] = static_cast<std::size_t>(
            static_cast<double>(n) * (1.0 - std::sqrt(1.0 - static_cast<double>(r) / static_cast<double>(ranges))));
    // Count the kept entries of every band and column.
    std::vector<std::size_t> kept_in(ranges, 0);
    share_out(ranges, scan_together, [&](std::size_t r) {
        std::size_t k = 0;
        for (std::size_t j = first_column[r]; j < first_column[r + 1]; ++j)
            for (std::size_t i = j + 1; i < n; ++i)
                if (std::fabs(m[i + j * n]) > least) {
                    ++starts_[band_starts_[i / band_rows] + j + 1];
                    ++k;
                }
        kept_in[r] = k;
    });
    std::size_t kept = 0;
    for (std::size_t k : kept_in) kept += k;
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
    share_out(ranges, scan_together, [&](std::size_t r) {
        for (std::size_t j = first_column[r]; j < first_column[r + 1]; ++j) {
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
    });
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
    const std::uint16_t* offsets = offsets_.data();
    const double* values = values_.data();
    for (std::size_t j = 0; j < n_; ++j) y[j] = diagonal_[j] * x[j];
    for (std::size_t b = 0; b < bands(); ++b) {
        const std::size_t* s = &starts_[band_starts_[b]];
        const double* xb = x + b * band_rows;
        double* yb = y + b * band_rows;
        for (std::size_t j = 0; j < band_columns(b); ++j) {
            const double xj = x[j];
            double sum = sums[j];
            for (std::size_t e = s[j]; e < s[j + 1]; ++e) {
                const std::size_t i = offsets[e];
                yb[i] += values[e] * xj;
                sum += values[e] * xb[i];
            }
            sums[j] = sum;
        }
    }
    for (std::size_t j = 0; j < n_; ++j) y[j] += sums[j];
}

}  // namespace rotalign
