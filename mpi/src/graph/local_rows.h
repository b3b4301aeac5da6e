// One rank's rows of a sparse symmetric N-by-N matrix (the normalised affinity), the form in
// which the distributed stages hand it on.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rotalign::mpi {

// Rows [first, first + count()) of the matrix, compressed by rows: the entries of own row i are
// columns[k], values[k] for k from starts[i] to starts[i + 1] - 1, columns (global indices)
// strictly ascending within a row. Since the matrix is symmetric, these are also its columns.
struct local_rows {
    std::size_t global_size = 0;        // N
    std::size_t first = 0;              // global index of the first own row
    std::vector<std::size_t> starts{0};  // count() + 1 offsets
    std::vector<std::int64_t> columns;
    std::vector<double> values;

    std::size_t count() const { return starts.size() - 1; }
    std::size_t entries() const { return columns.size(); }
};

}  // namespace rotalign::mpi
