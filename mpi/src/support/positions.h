// Where global point indices stand in a rank's sorted list of the points it holds.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace rotalign::mpi {

// The position of each index of `sorted` (ascending, distinct, not negative), in a direct table
// over sorted.front() .. sorted.back(), where that costs at most 32 entries per listed index: one
// memory access instead of a binary search's twenty, which dominate building a rank's matrices
// and setting up its pieces. Empty otherwise (many ranks with few points each), where a binary
// search serves.
template <typename T>
std::vector<std::uint32_t> position_table(const std::vector<T>& sorted) {
    std::vector<std::uint32_t> table;
    if (sorted.empty() || sorted.size() >= UINT32_MAX) return table;
    const auto span = static_cast<std::uint64_t>(sorted.back() - sorted.front()) + 1;
    if (span / 32 > sorted.size()) return table;
    table.assign(static_cast<std::size_t>(span), 0);
    for (std::size_t at = 0; at < sorted.size(); ++at)
        table[static_cast<std::size_t>(sorted[at] - sorted.front())] = static_cast<std::uint32_t>(at);
    return table;
}

// The positions of the indices of `sorted` (see position_table), which must outlive it.
class positions {
public:
    explicit positions(const std::vector<std::uint64_t>& sorted) : sorted_(sorted), table_(position_table(sorted)) {}
    // The position of g, which must be listed.
    std::size_t operator()(std::uint64_t g) const {
        if (!table_.empty()) return table_[static_cast<std::size_t>(g - sorted_.front())];
        return static_cast<std::size_t>(std::lower_bound(sorted_.begin(), sorted_.end(), g) - sorted_.begin());
    }

private:
    const std::vector<std::uint64_t>& sorted_;
    std::vector<std::uint32_t> table_;
};

}  // namespace rotalign::mpi
