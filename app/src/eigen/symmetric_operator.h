// The product y = M x that the Lanczos iterations repeat, for a symmetric M given by its lower
// triangle, without the entries that are negligible at the solver's tolerance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rotalign {

// How the scans that make the sparse copy are shared out: one thread; two, each on its own
// columns; or two when the machine has two cores and the matrix is large enough for a second
// thread to pay. The copy is the same in every case. (The product itself stays on one thread:
// it is bound by reading the copy, and a second thread bought nothing measurable.)
enum class copy_threads { one, two, automatic };

class symmetric_operator {
public:
    // M is n-by-n by columns; only its lower triangle is read, and it must outlive the operator
    // when the dense product is kept. Entries below the diagonal of magnitude at most `least`
    // are left out; when too few go for a sparse copy to be smaller, the dense product is kept.
    symmetric_operator(const double* m, std::size_t n, double least,
                       copy_threads threads = copy_threads::automatic);

    // y = M x (both of n values, not overlapping). The sparse product adds the terms of every
    // row in one fixed order, so that its results are the same bits whatever the layout: row i
    // gets the diagonal term, then column j's term for each kept j < i in ascending order, then
    // the sum, from zero and in ascending rows, of column i's kept terms below the diagonal.
    void apply(const double* x, double* y) const;

    bool sparse() const noexcept { return sparse_; }
    std::size_t order() const noexcept { return n_; }
    // Kept entries below the diagonal (sparse form only).
    std::size_t kept() const noexcept { return values_.size(); }
    // Calls f(i, j) for every kept entry (i, j), i > j (sparse form only).
    template <typename visit>
    void for_each_kept(visit f) const;

private:
    // The kept entries lie in bands of `band_rows` rows; within a band by columns, ascending.
    // 512 rows gave the fastest products at N = 5,000 and 10,000, of 128 to 4096 tried.
    static constexpr std::size_t band_rows = 512;
    std::size_t bands() const noexcept { return (n_ + band_rows - 1) / band_rows; }
    // Columns with entries in band b: those before its last row.
    std::size_t band_columns(std::size_t b) const noexcept {
        const std::size_t end = (b + 1) * band_rows;
        return end < n_ ? end : n_;
    }

    const double* m_;
    std::size_t n_;
    bool sparse_ = false;
    std::vector<double> diagonal_;
    std::vector<std::size_t> band_starts_;  // per band, its first index into starts_
    std::vector<std::size_t> starts_;       // per band and column, its first entry; then the end
    std::vector<std::uint16_t> offsets_;    // row of each entry less its band's first row
    std::vector<double> values_;
};

template <typename visit>
void symmetric_operator::for_each_kept(visit f) const {
    for (std::size_t b = 0; b < bands(); ++b) {
        const std::size_t* s = &starts_[band_starts_[b]];
        for (std::size_t j = 0; j < band_columns(b); ++j)
            for (std::size_t k = s[j]; k < s[j + 1]; ++k) f(b * band_rows + offsets_[k], j);
    }
}

}  // namespace rotalign
