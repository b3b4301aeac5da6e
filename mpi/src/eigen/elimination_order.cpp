#include "eigen/elimination_order.h"

#include "eigen/ghost_columns.h"
#include "support/collective_section.h"
#include "support/distinct.h"

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

int amd(std::int64_t n, const std::int64_t* starts, const std::int64_t* columns, std::int64_t* order) {
    return static_cast<int>(amd_l_order(n, starts, columns, order, nullptr, nullptr));
}
int amd(int n, const int* starts, const int* columns, int* order) {
    return amd_order(n, starts, columns, order, nullptr, nullptr);
}

// The own rows in the order of AMD on the graph among them alone (int indices where they fit:
// half the memory): order[k] is the row that comes k-th. Where AMD fails (out of memory), the
// rows keep their order.
template <typename Index>
std::vector<std::size_t> amd_order_of(const piece_rows& p) {
    const std::size_t rows = p.count();
    const std::int64_t first = p.first, end = first + static_cast<std::int64_t>(rows);
    std::vector<Index> starts{0}, columns;
    starts.reserve(rows + 1);
    columns.reserve(p.columns.size());
    for (std::size_t i = 0; i < rows; ++i) {
        for (auto k = static_cast<std::size_t>(p.starts[i]); k < static_cast<std::size_t>(p.starts[i + 1]); ++k)
            if (const std::int64_t j = p.columns[k]; j >= first && j < end)
                columns.push_back(static_cast<Index>(j - first));
        starts.push_back(static_cast<Index>(columns.size()));
    }
    std::vector<Index> order(rows);
    const int status = amd(static_cast<Index>(rows), starts.data(), columns.data(), order.data());
    std::vector<std::size_t> out(rows);
    for (std::size_t k = 0; k < rows; ++k)
        out[k] = status == AMD_OK || status == AMD_OK_BUT_JUMBLED ? static_cast<std::size_t>(order[k]) : k;
    return out;
}

// The own rows renumbered: new row k is old row order[k], the entries' columns renumbered and
// ascending. The other ranks' rows that the own rows name get their new numbers from their
// owners (a collective).
piece_rows renumbered(MPI_Comm comm, const piece_rows& p, const block_starts& blocks,
                      const std::vector<std::size_t>& order) {
    const std::size_t rows = p.count();
    const std::int64_t first = p.first, end = first + static_cast<std::int64_t>(rows);
    std::vector<std::int64_t> position(rows);
    for (std::size_t k = 0; k < rows; ++k) position[order[k]] = first + static_cast<std::int64_t>(k);
    std::vector<std::int64_t> remote;
    for (const std::int64_t j : p.columns)
        if (j < first || j >= end) remote.push_back(j);
    int rank = 0;
    MPI_Comm_rank(comm, &rank);
    const ghost_columns ghosts(comm, blocks, rank,
                               distinct_ascending(std::move(remote), static_cast<std::uint64_t>(p.size)));
    const std::vector<std::int64_t> ghost_position = ghosts.fetch(position);
    const auto new_position = [&](std::int64_t j) {
        if (j >= first && j < end) return position[static_cast<std::size_t>(j - first)];
        return ghost_position[ghosts.index_of(j)];
    };

    piece_rows out;
    out.size = p.size;
    out.first = first;
    out.starts.reserve(rows + 1);
    out.columns.reserve(p.columns.size());
    out.values.reserve(p.values.size());
    std::vector<std::pair<std::int64_t, double>> row_entries;
    for (const std::size_t i : order) {
        row_entries.clear();
        for (auto k = static_cast<std::size_t>(p.starts[i]); k < static_cast<std::size_t>(p.starts[i + 1]); ++k)
            row_entries.emplace_back(new_position(p.columns[k]), p.values[k]);
        std::sort(row_entries.begin(), row_entries.end());
        for (const auto& [column, value] : row_entries) {
            out.columns.push_back(column);
            out.values.push_back(value);
        }
        out.starts.push_back(static_cast<std::int64_t>(out.columns.size()));
    }
    return out;
}

}  // namespace

spread_pairs solve_in_elimination_order(MPI_Comm comm, piece_rows piece, std::size_t wanted,
                                        const sparse_eigen_options& options, sparse_eigen_work& work) {
    // The same words as the factor's own ordering, which follows: to a person watching, both
    // order the factor.
    if (options.report) options.report("ordering the factor");
    const auto start = std::chrono::steady_clock::now();
    // Each rank's rows of a piece follow those of the ranks before it.
    const block_starts blocks = block_starts::from_counts(comm, static_cast<std::int64_t>(piece.count()));
    // Running out of memory here on one rank would leave the others waiting in the ghosts'
    // exchange: it ends the run (collective_section), as in the eigen-step's other set-up steps.
    std::vector<std::size_t> order;
    piece_rows ordered = collective_section([&] {
        const bool fits = piece.count() < INT_MAX && piece.columns.size() < INT_MAX;
        order = fits ? amd_order_of<int>(piece) : amd_order_of<std::int64_t>(piece);
        return renumbered(comm, piece, blocks, order);
    });
    piece = piece_rows{};
    work.analyse_seconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    spread_pairs out = solve_spread_piece(comm, std::move(ordered), wanted, options, work);
    // The vectors' rows back in the old order: new row k is old row order[k].
    const std::size_t rows = order.size(), pairs = out.pairs.values.size();
    std::vector<double>& vectors = out.pairs.vectors;
    std::vector<double> old(vectors.size());
    for (std::size_t c = 0; c < pairs; ++c)
        for (std::size_t k = 0; k < rows; ++k) old[c * rows + order[k]] = vectors[c * rows + k];
    vectors = std::move(old);
    return out;
}

}  // namespace rotalign::mpi
