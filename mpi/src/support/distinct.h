// The distinct values of a list of global indices, ascending: the ghosts of a rank's rows.
#pragma once

#include <algorithm>
#include <cstdint>
#include <type_traits>
#include <vector>

namespace rotalign::mpi {

// The distinct values of `values` (each in [0, range)), ascending. Where the range holds at most
// 32 indices per listed value, one flag per index and a sweep over the flags: on points in random
// order a rank's matrices name millions of other ranks' points, and sorting them took a tenth of
// the affinity and eigen-step set-up. A sort otherwise, on many ranks with few points.
// Values outside the range take the sort.
template <typename T>
std::vector<T> distinct_ascending(std::vector<T> values, std::uint64_t range) {
    const auto inside = [range](T v) {
        if constexpr (std::is_signed_v<T>)
            if (v < 0) return false;
        return static_cast<std::uint64_t>(v) < range;
    };
    if (range / 32 <= values.size() && std::all_of(values.begin(), values.end(), inside)) {
        std::vector<bool> listed(static_cast<std::size_t>(range));
        for (const T v : values) listed[static_cast<std::size_t>(v)] = true;
        values.clear();
        for (std::uint64_t g = 0; g < range; ++g)
            if (listed[static_cast<std::size_t>(g)]) values.push_back(static_cast<T>(g));
        return values;
    }
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

}  // namespace rotalign::mpi
