#include "eigen/elimination_order.h"

#include "eigen/ghost_columns.h"
#include "support/collective_section.h"
#include "support/distinct.h"
#include "support/exchange.h"

#include <amd.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstdint>
#include <type_traits>
#include <utility>
#include <vector>

namespace rotalign::mpi {
namespace {

static_assert(std::is_same_v<SuiteSparse_long, std::int64_t>, "AMD's long indices are 64-bit integers here");

int rank_of(MPI_Comm comm) {
    int rank = 0;
    MPI_Comm_rank(comm, &rank);
    return rank;
}

// The blocks of the piece's positions: each rank's rows of a piece follow those of the ranks
// before it, so the starts are the sums of the counts (an empty rank shares the next start).
block_starts blocks_of(MPI_Comm comm, std::size_t own_rows) {
    int ranks = 1;
    MPI_Comm_size(comm, &ranks);
    std::vector<std::int64_t> counts(static_cast<std::size_t>(ranks));
    const auto mine = static_cast<std::int64_t>(own_rows);
    MPI_Allgather(&mine, 1, MPI_INT64_T, counts.data(), 1, MPI_INT64_T, comm);
    block_starts out;
    out.rows = counts;
    out.first.push_back(0);
    for (const std::int64_t c : counts) out.first.push_back(out.first.back() + c);
    return out;
}

int amd(std::int64_t n, const std::int64_t* starts, const std::int64_t* columns, std::int64_t* order) {
    return static_cast<int>(amd_l_order(n, starts, columns, order, nullptr, nullptr));
}
int amd(int n, const int* starts, const int* columns, int* order) {
    return amd_order(n, starts, columns, order, nullptr, nullptr);
}

// What the ordering gives this rank: the new positions of its own rows, unless AMD failed.
struct own_order {
    bool ordered = false;
    std::vector<std::int64_t> position;
};

// The piece ordered on rank 0, which holds its pattern while AMD runs (int indices where they
// fit: half the memory); each rank receives the new positions of its own rows.
template <typename Index>
own_order amd_positions(MPI_Comm comm, const piece_rows& p, const block_starts& blocks) {
    std::vector<Index> lengths(p.count()), columns(p.columns.size());
    for (std::size_t i = 0; i < p.count(); ++i) lengths[i] = static_cast<Index>(p.starts[i + 1] - p.starts[i]);
    std::transform(p.columns.begin(), p.columns.end(), columns.begin(),
                   [](std::int64_t j) { return static_cast<Index>(j); });
    std::vector<Index> starts = gather_to_root(comm, lengths);
    std::vector<Index> pattern = gather_to_root(comm, columns);
    lengths = {};
    columns = {};
    const int rank = rank_of(comm);
    constexpr int tag = 75;
    own_order out;
    int status = AMD_OK;
    collective_section([&] {
        if (rank != 0) return;
        const auto n = static_cast<Index>(p.size);
        // The lengths become the starts in place: starts[i] is where row i begins.
        Index at = 0;
        for (Index& s : starts) {
            const Index length = s;
            s = at;
            at += length;
        }
        starts.push_back(at);
        std::vector<Index> order(static_cast<std::size_t>(n));
        status = amd(n, starts.data(), pattern.data(), order.data());
        pattern = {};
        starts = {};
        if (status != AMD_OK && status != AMD_OK_BUT_JUMBLED) return;
        out.position.resize(order.size());
        for (std::size_t k = 0; k < order.size(); ++k)
            out.position[static_cast<std::size_t>(order[k])] = static_cast<std::int64_t>(k);
    });
    MPI_Bcast(&status, 1, MPI_INT, 0, comm);
    if (status != AMD_OK && status != AMD_OK_BUT_JUMBLED) return {};
    collective_section([&] {
        if (rank == 0) {
            for (std::size_t r = 1; r < blocks.rows.size(); ++r)
                send_array(comm, out.position.data() + blocks.first[r], static_cast<std::size_t>(blocks.rows[r]),
                           static_cast<int>(r), tag);
            out.position.resize(static_cast<std::size_t>(blocks.rows[0]));
        } else {
            out.position.resize(p.count());
            receive_array(comm, out.position.data(), p.count(), 0, tag);
        }
    });
    out.ordered = true;
    return out;
}

own_order elimination_positions(MPI_Comm comm, const piece_rows& p, const block_starts& blocks) {
    std::int64_t entries = static_cast<std::int64_t>(p.columns.size());
    MPI_Allreduce(MPI_IN_PLACE, &entries, 1, MPI_INT64_T, MPI_SUM, comm);
    if (p.size < INT_MAX && entries < INT_MAX) return amd_positions<int>(comm, p, blocks);
    return amd_positions<std::int64_t>(comm, p, blocks);
}

// The piece's rows renumbered (`position`: the new positions of the own rows), this rank's new
// block of them, each row's entries ascending; old_of_row[i] is the old position of new row i.
// The blocks keep their sizes. The new positions of the other ranks' rows that the own rows name
// come from their owners.
piece_rows renumbered(MPI_Comm comm, piece_rows p, const block_starts& blocks,
                      const std::vector<std::int64_t>& position, std::vector<std::int64_t>& old_of_row) {
    const std::size_t ranks = blocks.rows.size(), rows = p.count();
    const int rank = rank_of(comm);
    const std::int64_t first = blocks.first[static_cast<std::size_t>(rank)];
    const std::int64_t end = first + static_cast<std::int64_t>(rows);
    std::vector<std::int64_t> remote;
    for (const std::int64_t j : p.columns)
        if (j < first || j >= end) remote.push_back(j);
    const ghost_columns ghosts(comm, blocks, rank,
                               distinct_ascending(std::move(remote), static_cast<std::uint64_t>(p.size)));
    const std::vector<std::int64_t> ghost_position = ghosts.fetch(position);
    const auto new_position = [&](std::int64_t j) {
        if (j >= first && j < end) return position[static_cast<std::size_t>(j - first)];
        return ghost_position[ghosts.index_of(j)];
    };
    // Per row sent: its new and old position and its length, then its entries.
    std::vector<std::vector<std::int64_t>> heads(ranks), columns(ranks);
    std::vector<std::vector<double>> values(ranks);
    for (std::size_t i = 0; i < rows; ++i) {
        const std::int64_t old = first + static_cast<std::int64_t>(i), now = position[i];
        const auto to = static_cast<std::size_t>(blocks.owner(now));
        const auto begin = static_cast<std::size_t>(p.starts[i]), end = static_cast<std::size_t>(p.starts[i + 1]);
        heads[to].insert(heads[to].end(), {now, old, static_cast<std::int64_t>(end - begin)});
        for (std::size_t k = begin; k < end; ++k) {
            columns[to].push_back(new_position(p.columns[k]));
            values[to].push_back(p.values[k]);
        }
    }
    piece_rows out;
    out.size = p.size;
    out.first = first;
    p = piece_rows{};
    const std::vector<std::vector<std::int64_t>> in_heads = all_to_all(comm, heads);
    heads = {};
    const std::vector<std::vector<std::int64_t>> in_columns = all_to_all(comm, columns);
    columns = {};
    const std::vector<std::vector<double>> in_values = all_to_all(comm, values);
    values = {};

    // Where each new row's entries arrived: from which rank, at which entry, how many.
    struct arrival {
        std::size_t rank = 0, at = 0, length = 0;
    };
    std::vector<arrival> arrivals(rows);
    old_of_row.assign(rows, 0);
    for (std::size_t r = 0; r < ranks; ++r) {
        std::size_t at = 0;
        for (std::size_t h = 0; h < in_heads[r].size(); h += 3) {
            const auto row = static_cast<std::size_t>(in_heads[r][h] - first);
            const auto length = static_cast<std::size_t>(in_heads[r][h + 2]);
            arrivals[row] = {r, at, length};
            old_of_row[row] = in_heads[r][h + 1];
            at += length;
        }
    }
    std::size_t entries = 0;
    for (const arrival& a : arrivals) entries += a.length;
    out.starts.reserve(rows + 1);
    out.columns.reserve(entries);
    out.values.reserve(entries);
    std::vector<std::pair<std::int64_t, double>> row_entries;
    for (const arrival& a : arrivals) {
        row_entries.clear();
        for (std::size_t k = a.at; k < a.at + a.length; ++k)
            row_entries.emplace_back(in_columns[a.rank][k], in_values[a.rank][k]);
        std::sort(row_entries.begin(), row_entries.end());
        for (const auto& [column, value] : row_entries) {
            out.columns.push_back(column);
            out.values.push_back(value);
        }
        out.starts.push_back(static_cast<std::int64_t>(out.columns.size()));
    }
    return out;
}

// The vectors of the new rows (rows by wanted, column-major) on the ranks that own the rows' old
// positions, in their old rows.
std::vector<double> returned_vectors(MPI_Comm comm, const std::vector<double>& vectors, std::size_t wanted,
                                     const block_starts& blocks, const std::vector<std::int64_t>& old_of_row) {
    const std::size_t ranks = blocks.rows.size(), rows = old_of_row.size();
    std::vector<std::vector<std::int64_t>> olds(ranks);
    std::vector<std::vector<double>> rows_out(ranks);
    for (std::size_t i = 0; i < rows; ++i) {
        const auto to = static_cast<std::size_t>(blocks.owner(old_of_row[i]));
        olds[to].push_back(old_of_row[i]);
        for (std::size_t c = 0; c < wanted; ++c) rows_out[to].push_back(vectors[c * rows + i]);
    }
    const std::vector<std::vector<std::int64_t>> in_olds = all_to_all(comm, olds);
    const std::vector<std::vector<double>> in_rows = all_to_all(comm, rows_out);
    const std::int64_t first = blocks.first[static_cast<std::size_t>(rank_of(comm))];
    std::vector<double> out(vectors.size());
    for (std::size_t r = 0; r < ranks; ++r)
        for (std::size_t t = 0; t < in_olds[r].size(); ++t) {
            const auto row = static_cast<std::size_t>(in_olds[r][t] - first);
            for (std::size_t c = 0; c < wanted; ++c) out[c * rows + row] = in_rows[r][t * wanted + c];
        }
    return out;
}

}  // namespace

spread_pairs solve_in_elimination_order(MPI_Comm comm, piece_rows piece, std::size_t wanted,
                                        const sparse_eigen_options& options, sparse_eigen_work& work) {
    // The same words as the factor's own ordering, which follows: to a person watching, both order the factor.
    if (options.report) options.report("ordering the factor");
    const auto start = std::chrono::steady_clock::now();
    const block_starts blocks = blocks_of(comm, piece.count());
    // Running out of memory here on one rank would leave the others waiting in an exchange: it
    // ends the run (collective_section), as in the other set-up steps of the eigen-step.
    own_order order = collective_section([&] { return elimination_positions(comm, piece, blocks); });
    if (!order.ordered) return solve_spread_piece(comm, std::move(piece), wanted, options, work);
    std::vector<std::int64_t> old_of_row;
    piece_rows ordered =
        collective_section([&] { return renumbered(comm, std::move(piece), blocks, order.position, old_of_row); });
    order = {};
    work.analyse_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    spread_pairs out = solve_spread_piece(comm, std::move(ordered), wanted, options, work);
    const std::size_t pairs = out.pairs.values.size();
    out.pairs.vectors = collective_section(
        [&] { return returned_vectors(comm, out.pairs.vectors, pairs, blocks, old_of_row); });
    return out;
}

}  // namespace rotalign::mpi
