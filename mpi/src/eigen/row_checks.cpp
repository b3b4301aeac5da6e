#include "eigen/row_checks.h"

#include "eigen/leave_together.h"
#include "rotalign/support/errors.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace rotalign::mpi {
namespace {

// The fault in this rank's rows, or an empty string.
std::string fault_in(const local_rows& m) {
    const std::size_t rows = m.count();
    if (m.starts.empty() || m.starts[0] != 0) return "local rows: row offsets must start at 0 and never decrease";
    for (std::size_t i = 0; i < rows; ++i)
        if (m.starts[i + 1] < m.starts[i]) return "local rows: row offsets must start at 0 and never decrease";
    if (m.starts[rows] != m.columns.size() || m.columns.size() != m.values.size())
        return "local rows: the last row offset, the columns and the values must agree in number";
    const auto n = static_cast<std::int64_t>(m.global_size);
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t k = m.starts[i]; k < m.starts[i + 1]; ++k) {
            if (m.columns[k] < 0 || m.columns[k] >= n || (k > m.starts[i] && m.columns[k] <= m.columns[k - 1]))
                return "local rows: columns must lie in the matrix and ascend in each row (row " +
                       std::to_string(m.first + i) + ")";
            if (!std::isfinite(m.values[k])) return "local rows: a value is not a finite number";
        }
    return {};
}

void fail_together(MPI_Comm comm, const std::string& fault) {
    leave_together(comm, fault.empty() ? std::exception_ptr{} : std::make_exception_ptr(input_error(fault)));
}

// Whether own row `row` (local) holds column `column` with exactly `value`.
bool holds(const local_rows& m, std::size_t row, std::int64_t column, double value) {
    const auto begin = m.columns.begin() + static_cast<std::ptrdiff_t>(m.starts[row]);
    const auto end = m.columns.begin() + static_cast<std::ptrdiff_t>(m.starts[row + 1]);
    const auto at = std::lower_bound(begin, end, column);
    return at != end && *at == column && m.values[static_cast<std::size_t>(at - m.columns.begin())] == value;
}

}  // namespace

block_starts check_rows(MPI_Comm comm, const local_rows& m) {
    fail_together(comm, fault_in(m));
    // N the same everywhere: its least and largest value agree.
    const auto n = static_cast<std::int64_t>(m.global_size);
    std::int64_t least = n, largest = n;
    MPI_Allreduce(MPI_IN_PLACE, &least, 1, MPI_INT64_T, MPI_MIN, comm);
    MPI_Allreduce(MPI_IN_PLACE, &largest, 1, MPI_INT64_T, MPI_MAX, comm);
    if (least != largest)
        fail_together(comm, "local rows: the ranks disagree on the order of the matrix (" + std::to_string(least) +
                                " and " + std::to_string(largest) + ")");
    const block_starts blocks =
        block_starts::gather(comm, static_cast<std::int64_t>(m.first), static_cast<std::int64_t>(m.count()));
    std::string fault;
    std::int64_t next = 0;
    for (std::size_t r = 0; r < blocks.rows.size() && fault.empty(); ++r) {
        if (blocks.first[r] != next)
            fault = "local rows: rank " + std::to_string(r) + " starts at row " + std::to_string(blocks.first[r]) +
                    " where row " + std::to_string(next) + " is due";
        next += blocks.rows[r];
    }
    if (fault.empty() && next != n)
        fault = "local rows: the ranks' rows end at row " + std::to_string(next) + " of " + std::to_string(n);
    fail_together(comm, fault);
    return blocks;
}

void check_symmetric(MPI_Comm comm, const local_rows& m, const block_starts& blocks) {
    int ranks = 1, rank = 0;
    MPI_Comm_size(comm, &ranks);
    MPI_Comm_rank(comm, &rank);
    const auto first = static_cast<std::int64_t>(m.first);
    const auto own_end = first + static_cast<std::int64_t>(m.count());
    // Entries above the diagonal go to the owner of their mirror as (mirror row, column, value).
    std::vector<int> counts(static_cast<std::size_t>(ranks), 0);
    long long above = 0, below = 0;
    bool mirrored = true;
    for (std::size_t i = 0; i < m.count(); ++i)
        for (std::size_t k = m.starts[i]; k < m.starts[i + 1]; ++k) {
            const std::int64_t row = first + static_cast<std::int64_t>(i), j = m.columns[k];
            if (j < row) ++below;
            if (j <= row) continue;
            ++above;
            if (j < own_end)
                mirrored = mirrored && holds(m, static_cast<std::size_t>(j - first), row, m.values[k]);
            else
                ++counts[static_cast<std::size_t>(blocks.owner(j))];
        }
    const std::vector<int> offsets = offsets_of(counts);
    std::vector<std::int64_t> where(2 * static_cast<std::size_t>(offsets.back() + counts.back()));
    std::vector<double> what(where.size() / 2);
    std::vector<int> fill(offsets);
    for (std::size_t i = 0; i < m.count(); ++i)
        for (std::size_t k = m.starts[i]; k < m.starts[i + 1]; ++k) {
            const std::int64_t row = first + static_cast<std::int64_t>(i), j = m.columns[k];
            if (j <= row || j < own_end) continue;
            const auto slot = static_cast<std::size_t>(fill[static_cast<std::size_t>(blocks.owner(j))]++);
            where[2 * slot] = j;
            where[2 * slot + 1] = row;
            what[slot] = m.values[k];
        }
    std::vector<int> incoming(static_cast<std::size_t>(ranks));
    MPI_Alltoall(counts.data(), 1, MPI_INT, incoming.data(), 1, MPI_INT, comm);
    const std::vector<int> incoming_offsets = offsets_of(incoming);
    const auto received = static_cast<std::size_t>(incoming_offsets.back() + incoming.back());
    std::vector<double> values(received);
    MPI_Alltoallv(what.data(), counts.data(), offsets.data(), MPI_DOUBLE, values.data(), incoming.data(),
                  incoming_offsets.data(), MPI_DOUBLE, comm);
    for (int& c : counts) c *= 2;
    for (int& c : incoming) c *= 2;
    std::vector<std::int64_t> pairs(2 * received);
    MPI_Alltoallv(where.data(), counts.data(), offsets_of(counts).data(), MPI_INT64_T, pairs.data(), incoming.data(),
                  offsets_of(incoming).data(), MPI_INT64_T, comm);
    for (std::size_t e = 0; e < received && mirrored; ++e)
        mirrored = holds(m, static_cast<std::size_t>(pairs[2 * e] - first), pairs[2 * e + 1], values[e]);
    // Every entry above has its mirror below; as many below as above leaves none unmatched.
    long long sums[2] = {above, below};
    MPI_Allreduce(MPI_IN_PLACE, sums, 2, MPI_LONG_LONG, MPI_SUM, comm);
    fail_together(comm, mirrored && sums[0] == sums[1] ? std::string() : std::string("sparse matrix: not symmetric"));
}

}  // namespace rotalign::mpi
