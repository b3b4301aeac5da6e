#include "graph/graph_columns.h"

#include "support/exchange.h"

#include <algorithm>
#include <utility>

namespace rotalign::mpi {

local_rows graph_columns(const rank_context& c, const local_points& p, const neighbour_lists& lists) {
    const row_blocks blocks{p.total, c.size};
    const std::size_t own = p.own.count, m = lists.per_point;
    // Entry (row i, column j) of each list, j the listing point; its mirror (j, i) goes to i's rank.
    std::vector<std::vector<std::pair<std::uint64_t, double>>> column(own);
    std::vector<std::vector<std::uint64_t>> mirror_ids(static_cast<std::size_t>(c.size));
    std::vector<std::vector<double>> mirror_values(static_cast<std::size_t>(c.size));
    for (std::size_t q = 0; q < own; ++q) {
        const std::uint64_t j = p.first + q;
        for (std::size_t k = 0; k < m; ++k) {
            const std::uint64_t i = lists.index[q * m + k];
            const double d = lists.distance[q * m + k];
            column[q].push_back({i, d});
            const int owner = blocks.owner(static_cast<std::size_t>(i));
            if (owner == c.rank) {
                column[static_cast<std::size_t>(i) - p.first].push_back({j, d});
            } else {
                mirror_ids[static_cast<std::size_t>(owner)].push_back(i);
                mirror_ids[static_cast<std::size_t>(owner)].push_back(j);
                mirror_values[static_cast<std::size_t>(owner)].push_back(d);
            }
        }
    }
    const auto ids = all_to_all(c.comm, mirror_ids);
    const auto values = all_to_all(c.comm, mirror_values);
    mirror_ids.clear();
    mirror_values.clear();
    for (std::size_t r = 0; r < ids.size(); ++r)
        for (std::size_t e = 0; e < values[r].size(); ++e)
            column[static_cast<std::size_t>(ids[r][2 * e]) - p.first].push_back({ids[r][2 * e + 1], values[r][e]});

    // Both ways listed, an entry is stored once: its two copies hold the same distance.
    local_rows out;
    out.global_size = p.total;
    out.first = p.first;
    out.starts.assign(1, 0);
    for (auto& entries : column) {
        std::sort(entries.begin(), entries.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
        entries.erase(std::unique(entries.begin(), entries.end(),
                                  [](const auto& a, const auto& b) { return a.first == b.first; }),
                      entries.end());
        for (const auto& [row, d] : entries) {
            out.columns.push_back(static_cast<std::int64_t>(row));
            out.values.push_back(d);
        }
        out.starts.push_back(out.columns.size());
        std::vector<std::pair<std::uint64_t, double>>().swap(entries);
    }
    return out;
}

}  // namespace rotalign::mpi
