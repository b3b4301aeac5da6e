#include "support/row_blocks.h"

#include <algorithm>

namespace rotalign::mpi {

std::size_t row_blocks::first(int rank) const {
    const std::size_t r = static_cast<std::size_t>(rank);
    const std::size_t base = points / static_cast<std::size_t>(ranks);
    const std::size_t larger = points % static_cast<std::size_t>(ranks);
    return base * r + std::min(r, larger);
}

int row_blocks::owner(std::size_t point) const {
    const std::size_t base = points / static_cast<std::size_t>(ranks);
    const std::size_t larger = points % static_cast<std::size_t>(ranks);
    // The first `larger` blocks hold base + 1 points each.
    const std::size_t in_larger = larger * (base + 1);
    if (point < in_larger) return static_cast<int>(point / (base + 1));
    return static_cast<int>(larger + (point - in_larger) / base);
}

}  // namespace rotalign::mpi
