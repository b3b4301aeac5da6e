#include "graph/graph_columns.h"

#include "support/collective_section.h"
#include "support/exchange.h"

#include <algorithm>
#include <utility>

namespace rotalign::mpi {

local_rows graph_columns(const rank_context& c, const local_points& p, const neighbour_lists& lists) {
    const row_blocks blocks{p.total, c.size};
    const std::size_t own = p.own.count, m = lists.per_point;
    // Entry (row i, column j) of each list, j the listing point; its mirror (j, i) belongs to
    // i's column, here or on i's rank. The other ranks wait in the exchange for this rank's
    // mirrors: running out of memory before it ends the run.
    std::vector<std::size_t> count(own + 1, 0);
    const auto [ids, values] = collective_section([&] {
        // Sized first: grown entry by entry, each of these would be copied to fresh pages
        // several times over, and fresh pages are what the ranks pay most for.
        std::vector<std::size_t> per_rank(static_cast<std::size_t>(c.size), 0);
        for (std::size_t e = 0; e < own * m; ++e)
            ++per_rank[static_cast<std::size_t>(blocks.owner(static_cast<std::size_t>(lists.index[e])))];
        std::vector<std::vector<std::uint64_t>> mirror_ids(static_cast<std::size_t>(c.size));
        std::vector<std::vector<double>> mirror_values(static_cast<std::size_t>(c.size));
        for (int r = 0; r < c.size; ++r) {
            if (r == c.rank) continue;
            mirror_ids[static_cast<std::size_t>(r)].reserve(2 * per_rank[static_cast<std::size_t>(r)]);
            mirror_values[static_cast<std::size_t>(r)].reserve(per_rank[static_cast<std::size_t>(r)]);
        }
        for (std::size_t q = 0; q < own; ++q) {
            count[q] += m;
            for (std::size_t k = 0; k < m; ++k) {
                const std::uint64_t i = lists.index[q * m + k];
                const int owner = blocks.owner(static_cast<std::size_t>(i));
                if (owner == c.rank) {
                    ++count[static_cast<std::size_t>(i - p.first)];
                } else {
                    mirror_ids[static_cast<std::size_t>(owner)].push_back(i);
                    mirror_ids[static_cast<std::size_t>(owner)].push_back(p.first + q);
                    mirror_values[static_cast<std::size_t>(owner)].push_back(lists.distance[q * m + k]);
                }
            }
        }
        auto received_ids = all_to_all(c.comm, mirror_ids);
        mirror_ids = {};
        return std::pair(std::move(received_ids), all_to_all(c.comm, mirror_values));
    });
    for (std::size_t r = 0; r < ids.size(); ++r)
        for (std::size_t e = 0; e < values[r].size(); ++e) ++count[static_cast<std::size_t>(ids[r][2 * e]) - p.first];

    // Every column's entries in one array, then each column sorted by row; listed both ways, an
    // entry is stored once (its two copies hold the same distance).
    std::vector<std::size_t> at(own + 1, 0);
    for (std::size_t q = 0; q < own; ++q) at[q + 1] = at[q] + count[q];
    std::vector<std::pair<std::uint64_t, double>> entries(at[own]);
    std::vector<std::size_t> next(at.begin(), at.end() - 1);
    for (std::size_t q = 0; q < own; ++q)
        for (std::size_t k = 0; k < m; ++k) {
            const std::uint64_t i = lists.index[q * m + k];
            const double d = lists.distance[q * m + k];
            entries[next[q]++] = {i, d};
            if (i >= p.first && i < p.first + own) entries[next[static_cast<std::size_t>(i - p.first)]++] = {p.first + q, d};
        }
    for (std::size_t r = 0; r < ids.size(); ++r)
        for (std::size_t e = 0; e < values[r].size(); ++e)
            entries[next[static_cast<std::size_t>(ids[r][2 * e]) - p.first]++] = {ids[r][2 * e + 1], values[r][e]};

    // Each column sorted and its repeats dropped in place first, so that the stored arrays are
    // taken at their final size, with no copy to shrink them.
    const auto by_row = [](const auto& a, const auto& b) { return a.first < b.first; };
    const auto same_row = [](const auto& a, const auto& b) { return a.first == b.first; };
    std::vector<std::size_t> kept(own, 0);
    std::size_t stored = 0;
    for (std::size_t q = 0; q < own; ++q) {
        const auto first = entries.begin() + static_cast<std::ptrdiff_t>(at[q]);
        const auto last = entries.begin() + static_cast<std::ptrdiff_t>(at[q + 1]);
        std::sort(first, last, by_row);
        kept[q] = static_cast<std::size_t>(std::unique(first, last, same_row) - first);
        stored += kept[q];
    }
    local_rows out;
    out.global_size = p.total;
    out.first = p.first;
    out.starts.assign(1, 0);
    out.starts.reserve(own + 1);
    out.columns.reserve(stored);
    out.values.reserve(stored);
    for (std::size_t q = 0; q < own; ++q) {
        for (std::size_t e = at[q]; e < at[q] + kept[q]; ++e) {
            out.columns.push_back(static_cast<std::int64_t>(entries[e].first));
            out.values.push_back(entries[e].second);
        }
        out.starts.push_back(out.columns.size());
    }
    return out;
}

}  // namespace rotalign::mpi
