// Where global point indices stand in a rank's sorted list of the points it holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rotalign::mpi {

// The position of each index of `sorted` (ascending, distinct, all below `range`). A direct table
// over the whole range where that costs at most 32 entries per listed index (it answers from one
// memory access instead of a binary search's twenty, which dominate building a rank's matrices);
// binary search otherwise, on many ranks with few points each.
class positions {
public:
    positions(const std::vector<std::uint64_t>& sorted, std::uint64_t range) : sorted_(sorted) {
        if (range / 32 <= sorted.size()) {
            table_.assign(static_cast<std::size_t>(range), 0);
            for (std::size_t at = 0; at < sorted.size(); ++at) table_[static_cast<std::size_t>(sorted[at])] =
                static_cast<std::uint32_t>(at);
        }
    }
    // The position of g, which must be listed.
    std::size_t operator()(std::uint64_t g) const {
        if (!table_.empty()) return table_[static_cast<std::size_t>(g)];
        return static_cast<std::size_t>(std::lower_bound(sorted_.begin(), sorted_.end(), g) - sorted_.begin());
    }

private:
    const std::vector<std::uint64_t>& sorted_;
    std::vector<std::uint32_t> table_;
};

}  // namespace rotalign::mpi
