#include "eigen/ghost_columns.h"

#include "support/positions.h"

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace rotalign::mpi {

std::vector<int> offsets_of(const std::vector<int>& counts) {
    std::vector<int> out(counts.size(), 0);
    long long total = 0;
    for (std::size_t r = 0; r < counts.size(); ++r) {
        out[r] = message_count(static_cast<std::size_t>(total));
        total += counts[r];
    }
    message_count(static_cast<std::size_t>(total));
    return out;
}

int message_count(std::size_t count) {
    if (count > static_cast<std::size_t>(INT_MAX))
        throw std::runtime_error("a message between ranks of " + std::to_string(count) +
                                 " values exceeds what MPI can count; run on more ranks");
    return static_cast<int>(count);
}

block_starts block_starts::gather(MPI_Comm comm, std::int64_t own_first, std::int64_t own_rows) {
    int ranks = 1;
    MPI_Comm_size(comm, &ranks);
    std::vector<std::int64_t> mine{own_first, own_rows}, all(2 * static_cast<std::size_t>(ranks));
    MPI_Allgather(mine.data(), 2, MPI_INT64_T, all.data(), 2, MPI_INT64_T, comm);
    block_starts out;
    for (int r = 0; r < ranks; ++r) {
        out.first.push_back(all[2 * static_cast<std::size_t>(r)]);
        out.rows.push_back(all[2 * static_cast<std::size_t>(r) + 1]);
    }
    out.first.push_back(all[2 * static_cast<std::size_t>(ranks - 1)] +
                        all[2 * static_cast<std::size_t>(ranks - 1) + 1]);
    return out;
}

block_starts block_starts::from_counts(MPI_Comm comm, std::int64_t own_rows) {
    int ranks = 1;
    MPI_Comm_size(comm, &ranks);
    block_starts out;
    out.rows.resize(static_cast<std::size_t>(ranks));
    MPI_Allgather(&own_rows, 1, MPI_INT64_T, out.rows.data(), 1, MPI_INT64_T, comm);
    out.first.push_back(0);
    for (const std::int64_t count : out.rows) out.first.push_back(out.first.back() + count);
    return out;
}

int block_starts::owner(std::int64_t row) const {
    // The last block that starts at or before the row; empty blocks share their start with the
    // next one and are passed over.
    const auto after = std::upper_bound(first.begin(), first.end() - 1, row);
    return static_cast<int>(after - first.begin()) - 1;
}

ghost_columns::ghost_columns(MPI_Comm comm, const block_starts& blocks, int rank, std::vector<std::int64_t> columns)
    : comm_(comm), columns_(std::move(columns)) {
    const std::size_t ranks = blocks.first.size() - 1;
    asked_counts_.assign(ranks, 0);
    for (const std::int64_t c : columns_) ++asked_counts_[static_cast<std::size_t>(blocks.owner(c))];
    asked_offsets_ = offsets_of(asked_counts_);
    served_counts_.assign(ranks, 0);
    MPI_Alltoall(asked_counts_.data(), 1, MPI_INT, served_counts_.data(), 1, MPI_INT, comm_);
    served_offsets_ = offsets_of(served_counts_);
    served_.resize(ranks == 0 ? 0 : static_cast<std::size_t>(served_offsets_.back() + served_counts_.back()));
    MPI_Alltoallv(columns_.data(), asked_counts_.data(), asked_offsets_.data(), MPI_INT64_T, served_.data(),
                  served_counts_.data(), served_offsets_.data(), MPI_INT64_T, comm_);
    for (std::int64_t& row : served_) row -= blocks.first[static_cast<std::size_t>(rank)];
    // The pieces' set-up looks up every entry that names another rank's point, millions on
    // points in random order, and a binary search per entry took a tenth of it.
    position_ = position_table(columns_);
}

std::size_t ghost_columns::index_of(std::int64_t column) const {
    if (!position_.empty() && column >= columns_.front() && column <= columns_.back())
        return position_[static_cast<std::size_t>(column - columns_.front())];
    return static_cast<std::size_t>(std::lower_bound(columns_.begin(), columns_.end(), column) - columns_.begin());
}

std::vector<std::int64_t> ghost_columns::fetch(const std::vector<std::int64_t>& own) const {
    std::vector<std::int64_t> outgoing(served_.size()), out(columns_.size());
    for (std::size_t k = 0; k < served_.size(); ++k) outgoing[k] = own[static_cast<std::size_t>(served_[k])];
    MPI_Alltoallv(outgoing.data(), served_counts_.data(), served_offsets_.data(), MPI_INT64_T, out.data(),
                  asked_counts_.data(), asked_offsets_.data(), MPI_INT64_T, comm_);
    return out;
}

}  // namespace rotalign::mpi
