#include "eigen/distributed_pieces.h"

#include "support/disjoint_sets.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace rotalign::mpi {
namespace {

// All ranks' pairs of int64 values, in rank order.
std::vector<std::int64_t> gather_all(MPI_Comm comm, const std::vector<std::int64_t>& mine) {
    int ranks = 1;
    MPI_Comm_size(comm, &ranks);
    const int count = message_count(mine.size());
    std::vector<int> counts(static_cast<std::size_t>(ranks));
    MPI_Allgather(&count, 1, MPI_INT, counts.data(), 1, MPI_INT, comm);
    const std::vector<int> offsets = offsets_of(counts);
    std::vector<std::int64_t> all(static_cast<std::size_t>(offsets.back()) + static_cast<std::size_t>(counts.back()));
    MPI_Allgatherv(mine.data(), count, MPI_INT64_T, all.data(), counts.data(), offsets.data(), MPI_INT64_T, comm);
    return all;
}

}  // namespace

distributed_pieces find_pieces(MPI_Comm comm, const local_rows& m, const ghost_columns& ghosts, double least) {
    const std::size_t rows = m.count();
    const auto first = static_cast<std::int64_t>(m.first);
    const auto own_end = first + static_cast<std::int64_t>(rows);

    // The sets of the own rows, each named by its least point in global numbering.
    detail::disjoint_sets sets(rows);
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t k = m.starts[i]; k < m.starts[i + 1]; ++k) {
            const std::int64_t j = m.columns[k];
            if (j >= first && j < own_end && j != first + static_cast<std::int64_t>(i) &&
                std::fabs(m.values[k]) > least)
                sets.join(i, static_cast<std::size_t>(j - first));
        }
    std::vector<std::int64_t> set_of(rows);
    for (std::size_t i = 0; i < rows; ++i) set_of[i] = first + static_cast<std::int64_t>(sets.root(i));
    const std::vector<std::int64_t> ghost_set = ghosts.fetch(set_of);

    // The links between sets of different ranks, each once, lesser name first.
    std::vector<std::pair<std::int64_t, std::int64_t>> links;
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t k = m.starts[i]; k < m.starts[i + 1]; ++k) {
            const std::int64_t j = m.columns[k];
            if ((j >= first && j < own_end) || !(std::fabs(m.values[k]) > least)) continue;
            const std::int64_t other = ghost_set[ghosts.index_of(j)];
            links.emplace_back(std::min(set_of[i], other), std::max(set_of[i], other));
        }
    std::sort(links.begin(), links.end());
    links.erase(std::unique(links.begin(), links.end()), links.end());
    std::vector<std::int64_t> flat;
    flat.reserve(2 * links.size());
    for (const auto& [a, b] : links) flat.push_back(a), flat.push_back(b);
    links = {};
    const std::vector<std::int64_t> all_links = gather_all(comm, flat);
    flat = {};

    // Every rank joins the same links: the named sets in ascending order, so that a root (the
    // least member) is the least point of its piece.
    std::vector<std::int64_t> names(all_links);
    std::sort(names.begin(), names.end());
    names.erase(std::unique(names.begin(), names.end()), names.end());
    const auto slot = [&names](std::int64_t name) {
        return static_cast<std::size_t>(std::lower_bound(names.begin(), names.end(), name) - names.begin());
    };
    detail::disjoint_sets joined(names.size());
    for (std::size_t k = 0; k + 1 < all_links.size(); k += 2) joined.join(slot(all_links[k]), slot(all_links[k + 1]));
    const auto piece_name = [&](std::int64_t set) {
        const std::size_t s = slot(set);
        return s < names.size() && names[s] == set ? names[joined.root(s)] : set;
    };

    distributed_pieces out;
    std::vector<std::int64_t> own_name(rows);
    for (std::size_t i = 0; i < rows; ++i) own_name[i] = piece_name(set_of[i]);
    std::vector<std::int64_t> ghost_name(ghost_set.size());
    for (std::size_t g = 0; g < ghost_set.size(); ++g) ghost_name[g] = piece_name(ghost_set[g]);

    // How many own rows each piece has here, gathered from all ranks in rank order: the pieces,
    // their sizes and the positions where this rank's rows of each begin.
    std::vector<std::int64_t> sorted_names(own_name);
    std::sort(sorted_names.begin(), sorted_names.end());
    std::vector<std::int64_t> counts;  // name, count
    for (std::size_t i = 0; i < sorted_names.size();) {
        std::size_t j = i;
        while (j < sorted_names.size() && sorted_names[j] == sorted_names[i]) ++j;
        counts.push_back(sorted_names[i]);
        counts.push_back(static_cast<std::int64_t>(j - i));
        i = j;
    }
    sorted_names = {};
    int rank = 0;
    MPI_Comm_rank(comm, &rank);
    const std::int64_t own_count_pairs = static_cast<std::int64_t>(counts.size() / 2);
    std::vector<std::int64_t> pairs_before_mine;
    {
        int ranks = 1;
        MPI_Comm_size(comm, &ranks);
        pairs_before_mine.resize(static_cast<std::size_t>(ranks));
        MPI_Allgather(&own_count_pairs, 1, MPI_INT64_T, pairs_before_mine.data(), 1, MPI_INT64_T, comm);
    }
    std::int64_t mine_at = 0;
    for (int r = 0; r < rank; ++r) mine_at += pairs_before_mine[static_cast<std::size_t>(r)];
    const std::vector<std::int64_t> all_counts = gather_all(comm, counts);

    // (name, count, entry) sorted by name, stable, so each piece's counts come in rank order.
    const std::size_t entries = all_counts.size() / 2;
    std::vector<std::size_t> order(entries);
    for (std::size_t e = 0; e < entries; ++e) order[e] = e;
    std::stable_sort(order.begin(), order.end(),
                     [&all_counts](std::size_t a, std::size_t b) { return all_counts[2 * a] < all_counts[2 * b]; });
    std::vector<std::int64_t> start_of_entry(entries, 0);
    for (std::size_t e = 0; e < entries;) {
        const std::int64_t name = all_counts[2 * order[e]];
        std::int64_t total = 0;
        std::size_t f = e;
        for (; f < entries && all_counts[2 * order[f]] == name; ++f) {
            start_of_entry[order[f]] = total;
            total += all_counts[2 * order[f] + 1];
        }
        out.first_point.push_back(name);
        out.size.push_back(total);
        e = f;
    }
    const auto piece_of = [&out](std::int64_t name) {
        return static_cast<std::int64_t>(std::lower_bound(out.first_point.begin(), out.first_point.end(), name) -
                                         out.first_point.begin());
    };

    // Own positions: where this rank's rows of the piece begin, then one after another in order.
    std::vector<std::int64_t> my_names(static_cast<std::size_t>(own_count_pairs)), next(my_names.size());
    for (std::size_t e = 0; e < my_names.size(); ++e) {
        my_names[e] = counts[2 * e];
        next[e] = start_of_entry[static_cast<std::size_t>(mine_at) + e];
    }
    out.own_piece.resize(rows);
    out.own_position.resize(rows);
    for (std::size_t i = 0; i < rows; ++i) {
        out.own_piece[i] = piece_of(own_name[i]);
        const auto e = static_cast<std::size_t>(std::lower_bound(my_names.begin(), my_names.end(), own_name[i]) -
                                                my_names.begin());
        out.own_position[i] = next[e]++;
    }
    out.ghost_piece.resize(ghost_name.size());
    for (std::size_t g = 0; g < ghost_name.size(); ++g) out.ghost_piece[g] = piece_of(ghost_name[g]);
    out.ghost_position = ghosts.fetch(out.own_position);
    return out;
}

}  // namespace rotalign::mpi
