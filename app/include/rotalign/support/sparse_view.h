// The one form in which a sparse symmetric matrix crosses from stage to stage.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rotalign {

// An n-by-n symmetric matrix stored by columns, both triangles, as the host keeps a sparse
// array: the entries of column j are rows[k], values[k] for k from starts[j] to starts[j + 1] - 1,
// rows strictly ascending within a column. The arrays belong to the caller.
struct sparse_view {
    std::size_t n = 0;
    const std::int32_t* starts = nullptr;  // n + 1 offsets, starts[0] == 0
    const std::int32_t* rows = nullptr;    // starts[n] row indices
    const double* values = nullptr;        // starts[n] values

    std::size_t entries() const { return n == 0 ? 0 : static_cast<std::size_t>(starts[n]); }
};

}  // namespace rotalign
