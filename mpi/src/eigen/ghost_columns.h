// The columns of a rank's rows that other ranks own, and the exchange that brings one value per
// such column from its owner: the halo of a distributed sparse matrix.
#pragma once

#include <mpi.h>

#include <cstddef>
#include <cstdint>
#include <vector>

namespace rotalign::mpi {

// Where the contiguous row blocks of all ranks begin, gathered once.
struct block_starts {
    std::vector<std::int64_t> first;  // ranks + 1 entries: each rank's first row, then the end of the last
    std::vector<std::int64_t> rows;   // each rank's number of rows

    static block_starts gather(MPI_Comm comm, std::int64_t own_first, std::int64_t own_rows);
    // The blocks of rows numbered from 0 in rank order, from each rank's count alone (a rank
    // without rows, whose own first row means nothing, shares the next rank's start).
    static block_starts from_counts(MPI_Comm comm, std::int64_t own_rows);
    // The rank whose block holds `row` (0 <= row < N).
    int owner(std::int64_t row) const;
};

class ghost_columns {
public:
    // `columns`: the remote global columns this rank refers to, ascending, each once. Collective.
    ghost_columns(MPI_Comm comm, const block_starts& blocks, int rank, std::vector<std::int64_t> columns);

    std::size_t size() const { return columns_.size(); }
    // The position of a remote column in the list (the column must be in it).
    std::size_t index_of(std::int64_t column) const;

    // own[i] is this rank's value for its row first + i; returns the owners' values for each
    // ghost column, in the order of the list. Collective.
    std::vector<std::int64_t> fetch(const std::vector<std::int64_t>& own) const;

private:
    MPI_Comm comm_;
    std::vector<std::int64_t> columns_;
    // index_of's answers by column - columns_.front() (position_table); empty where the list is
    // too sparse, and index_of searches it.
    std::vector<std::uint32_t> position_;
    std::vector<int> asked_counts_, asked_offsets_;    // per owner, into columns_
    std::vector<std::int64_t> served_;                 // own rows (local) that others asked for
    std::vector<int> served_counts_, served_offsets_;  // per asker, into served_
};

// Exclusive offsets of the counts (their prefix sums, starting at 0), for the v-collectives.
std::vector<int> offsets_of(const std::vector<int>& counts);

// The v-collectives take int counts; throws std::runtime_error when a message would outgrow them.
int message_count(std::size_t count);

}  // namespace rotalign::mpi
