// A seeded sample of rows, shared by the stages that measure on a sample of points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rotalign {

// `count` distinct row indices of 0 .. n - 1, ascending, drawn uniformly by `seed`.
std::vector<std::size_t> sample_rows(std::size_t n, std::size_t count, std::uint64_t seed);

}  // namespace rotalign
