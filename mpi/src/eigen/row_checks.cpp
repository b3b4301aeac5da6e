#include "eigen/row_checks.h"

#include "eigen/leave_together.h"
#include "rotalign/support/errors.h"
#include "support/collective_section.h"

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

// Whether this rank's rows hold the mirror of every entry above the diagonal that reaches them,
// and nothing else left of the diagonal. Collective.
bool mirrors_match(MPI_Comm comm, const local_rows& m, const block_starts& blocks) {
    int ranks = 1, rank = 0;
    MPI_Comm_size(comm, &ranks);
    MPI_Comm_rank(comm, &rank);
    const auto first = static_cast<std::int64_t>(m.first);
    const auto own_end = first + static_cast<std::int64_t>(m.count());
    // Entries above the diagonal go to the owner of their mirror as (mirror row, column, value):
    // to ranks after this one, since their mirror row lies beyond this rank's rows.
    std::vector<int> counts(static_cast<std::size_t>(ranks), 0);
    for (std::size_t i = 0; i < m.count(); ++i)
        for (std::size_t k = m.starts[i]; k < m.starts[i + 1]; ++k) {
            const std::int64_t row = first + static_cast<std::int64_t>(i), j = m.columns[k];
            if (j > row && j >= own_end) ++counts[static_cast<std::size_t>(blocks.owner(j))];
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
    what = {};
    for (int& c : counts) c *= 2;
    for (int& c : incoming) c *= 2;
    std::vector<std::int64_t> pairs(2 * received);
    MPI_Alltoallv(where.data(), counts.data(), offsets_of(counts).data(), MPI_INT64_T, pairs.data(), incoming.data(),
                  offsets_of(incoming).data(), MPI_INT64_T, comm);
    where = {};

    // The mirrors of the entries above the diagonal, bucketed by their own row: first those from
    // the ranks before this one (rows before its own, in rank order), then its own rows', so that
    // each bucket lists its columns ascending. Row j is symmetric when its bucket equals its own
    // entries left of the diagonal, column for column and value for value. Filling the buckets
    // writes in passing where a search per entry read rows at random, the most of this check's
    // time on points in random order.
    bool mirrored = true;
    const auto local_row = [&](std::int64_t mirror) { return static_cast<std::size_t>(mirror - first); };
    std::vector<std::size_t> bucket_start(m.count() + 1, 0);
    for (std::size_t e = 0; e < received && mirrored; ++e) {
        mirrored = pairs[2 * e] >= first && pairs[2 * e] < own_end;
        if (mirrored) ++bucket_start[local_row(pairs[2 * e]) + 1];
    }
    for (std::size_t i = 0; i < m.count(); ++i)
        for (std::size_t k = m.starts[i]; k < m.starts[i + 1]; ++k)
            if (m.columns[k] > first + static_cast<std::int64_t>(i) && m.columns[k] < own_end)
                ++bucket_start[static_cast<std::size_t>(m.columns[k] - first) + 1];
    for (std::size_t i = 0; i < m.count(); ++i) bucket_start[i + 1] += bucket_start[i];
    // Every bucket must be as long as its row's part left of the diagonal.
    for (std::size_t i = 0; i < m.count() && mirrored; ++i) {
        const std::int64_t row = first + static_cast<std::int64_t>(i);
        const auto left = static_cast<std::size_t>(
            std::lower_bound(m.columns.begin() + static_cast<std::ptrdiff_t>(m.starts[i]),
                             m.columns.begin() + static_cast<std::ptrdiff_t>(m.starts[i + 1]), row) -
            (m.columns.begin() + static_cast<std::ptrdiff_t>(m.starts[i])));
        mirrored = bucket_start[i + 1] - bucket_start[i] == left;
    }
    if (mirrored) {
        std::vector<std::int64_t> bucket_column(bucket_start.back());
        std::vector<double> bucket_value(bucket_start.back());
        std::vector<std::size_t> next(bucket_start.begin(), bucket_start.end() - 1);
        const auto put = [&](std::size_t j, std::int64_t column, double value) {
            bucket_column[next[j]] = column;
            bucket_value[next[j]++] = value;
        };
        for (std::size_t e = 0; e < received; ++e) put(local_row(pairs[2 * e]), pairs[2 * e + 1], values[e]);
        for (std::size_t i = 0; i < m.count(); ++i)
            for (std::size_t k = m.starts[i]; k < m.starts[i + 1]; ++k)
                if (m.columns[k] > first + static_cast<std::int64_t>(i) && m.columns[k] < own_end)
                    put(static_cast<std::size_t>(m.columns[k] - first), first + static_cast<std::int64_t>(i),
                        m.values[k]);
        for (std::size_t i = 0; i < m.count() && mirrored; ++i)
            for (std::size_t t = 0; t < bucket_start[i + 1] - bucket_start[i] && mirrored; ++t) {
                const std::size_t k = m.starts[i] + t, b = bucket_start[i] + t;
                mirrored = m.columns[k] == bucket_column[b] && m.values[k] == bucket_value[b];
            }
    }
    return mirrored;
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
    // Running out of memory for the mirrors on one rank would leave the others in the exchanges.
    const bool mirrored = collective_section([&] { return mirrors_match(comm, m, blocks); });
    int unmatched = mirrored ? 0 : 1;
    MPI_Allreduce(MPI_IN_PLACE, &unmatched, 1, MPI_INT, MPI_MAX, comm);
    fail_together(comm, unmatched == 0 ? std::string() : std::string("sparse matrix: not symmetric"));
}

}  // namespace rotalign::mpi
