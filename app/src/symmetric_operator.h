// The product y = M x that the Lanczos iterations repeat, for a symmetric M given by its lower
// triangle, without the entries that are negligible at the solver's tolerance.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rotalign {

// How the sparse product and the copy are shared out: one thread; two, each on its own rows; or
// two when the machine has two cores and the copy is large enough for a second thread to pay.
// The results are the same bits in every case.
enum class product_threads { one, two, automatic };

class symmetric_operator {
public:
    // M is n-by-n by columns; only its lower triangle is read, and it must outlive the operator
    // when the dense product is kept. Entries below the diagonal of magnitude at most `least`
    // are left out; when too few go for a sparse copy to be smaller, the dense product is kept.
    symmetric_operator(const double* m, std::size_t n, double least,
                       product_threads threads = product_threads::automatic);

    // y = M x (both of n values, not overlapping). The sparse product adds the terms of every
    // row in one fixed order, so that its results are the same bits whatever the layout: row i
    // gets the diagonal term, then column j's term for each kept j < i in ascending order, then
    // the sum, from zero and in ascending rows, of column i's kept terms below the diagonal.
    void apply(const double* x, double* y) const;

    bool sparse() const noexcept { return sparse_; }
    std::size_t order() const noexcept { return n_; }
    // Kept entries below the diagonal (sparse form only).
    std::size_t kept() const noexcept { return values_.size(); }
    // Whether the sparse product may run on two threads. It then tries both ways, and takes the
    // faster one, trying the other again now and then: a second thread pays only while no other
    // program holds the second core, as on a shared machine.
    bool two_threads() const noexcept { return two_threads_; }
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

    // The part of the product that owns the rows, and the sums of the columns, of the bands
    // first_band to end_band: parts over disjoint bands write disjoint values.
    void product_part(std::size_t first_band, std::size_t end_band, const double* x, double* y,
                      double* sums) const;
    std::size_t first_row(std::size_t band) const noexcept {
        return band * band_rows < n_ ? band * band_rows : n_;
    }

    const double* m_;
    std::size_t n_;
    bool sparse_ = false;
    bool two_threads_ = false;
    std::vector<std::size_t> part_bands_;  // the parts of a product on two threads
    // Products so far, and the recent time of a product on one thread and on two.
    mutable std::size_t products_ = 0;
    mutable double seconds_[2] = {0.0, 0.0};
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
