// Points joined into sets by links, each set named by its least point (union-find).
#pragma once

#include <cstddef>
#include <vector>

namespace rotalign::detail {

// A join points the larger of the two roots at the smaller, so every set's root is its least
// point and the sets come out in the order of their first points; finding a root halves the path
// it walks.
class disjoint_sets {
public:
    explicit disjoint_sets(std::size_t n) : parent_(n), count_(n) {
        for (std::size_t i = 0; i < n; ++i) parent_[i] = i;
    }

    std::size_t root(std::size_t i) {
        while (parent_[i] != i) i = parent_[i] = parent_[parent_[i]];
        return i;
    }

    void join(std::size_t i, std::size_t j) {
        const std::size_t a = root(i), b = root(j);
        if (a == b) return;
        parent_[a < b ? b : a] = a < b ? a : b;
        --count_;
    }

    // The number of sets.
    std::size_t count() const { return count_; }

private:
    std::vector<std::size_t> parent_;
    std::size_t count_;
};

}  // namespace rotalign::detail
