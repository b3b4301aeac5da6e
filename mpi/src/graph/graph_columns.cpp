#include "graph/graph_columns.h"

#include "support/collective_section.h"
#include "support/exchange.h"

#include <algorithm>
#include <utility>

namespace rotalign::mpi {
namespace {

struct graph_entry {
    std::int64_t row;
    double distance;
};

// The mirrored entries of this rank's lists that belong to other ranks' columns, packed by rank:
// for each, its column and row (the listing point) in `ids`, its distance in `distances`. The
// lists' indices are 32-bit, and so are these.
struct outgoing_mirrors {
    std::vector<std::size_t> counts;
    std::vector<std::uint32_t> ids;
    std::vector<double> distances;
};

outgoing_mirrors pack_mirrors(const rank_context& c, const local_points& p, const neighbour_lists& lists,
                              const row_blocks& blocks) {
    const std::size_t size = static_cast<std::size_t>(c.size), entries = p.own.count * lists.per_point;
    outgoing_mirrors out;
    out.counts.assign(size, 0);
    for (std::size_t e = 0; e < entries; ++e)
        ++out.counts[static_cast<std::size_t>(blocks.owner(static_cast<std::size_t>(lists.index[e])))];
    out.counts[static_cast<std::size_t>(c.rank)] = 0;
    std::vector<std::size_t> next(size, 0);
    for (std::size_t r = 1; r < size; ++r) next[r] = next[r - 1] + out.counts[r - 1];
    out.ids.resize(2 * (next[size - 1] + out.counts[size - 1]));
    out.distances.resize(out.ids.size() / 2);
    for (std::size_t e = 0; e < entries; ++e) {
        const std::uint32_t i = lists.index[e];
        const std::size_t owner = static_cast<std::size_t>(blocks.owner(static_cast<std::size_t>(i)));
        if (owner == static_cast<std::size_t>(c.rank)) continue;
        const std::size_t at = next[owner]++;
        out.ids[2 * at] = i;
        out.ids[2 * at + 1] = static_cast<std::uint32_t>(p.first + e / lists.per_point);
        out.distances[at] = lists.distance[e];
    }
    return out;
}

}  // namespace

local_rows graph_columns(const rank_context& c, const local_points& p, const neighbour_lists& lists) {
    const row_blocks blocks{p.total, c.size};
    const std::size_t own = p.own.count, m = lists.per_point;
    const auto is_own = [&](std::uint64_t i) { return i >= p.first && i < p.first + own; };

    // Entry (row i, column j) of each list, j the listing point; its mirror (j, i) belongs to
    // i's column, here or on i's rank. The other ranks wait in the exchange for this rank's
    // mirrors: running out of memory before it ends the run.
    std::vector<std::size_t> received_counts;
    const auto [ids, distances] = collective_section([&] {
        outgoing_mirrors out = pack_mirrors(c, p, lists, blocks);
        std::vector<std::size_t> pairs = out.counts;
        for (std::size_t& n : pairs) n *= 2;
        std::vector<std::size_t> received_pairs;
        auto received_ids = all_to_all(c.comm, out.ids, pairs, received_pairs);
        out.ids = {};
        return std::pair(std::move(received_ids), all_to_all(c.comm, out.distances, out.counts, received_counts));
    });

    // Every column's mirrored entries, rows ascending: the senders' parts come in rank order, this
    // rank's own in its place among them, and each sender lists its points in order.
    std::vector<std::size_t> mirrored_at(own + 1, 0);
    for (std::size_t e = 0; e < own * m; ++e)
        if (is_own(lists.index[e])) ++mirrored_at[lists.index[e] - p.first + 1];
    for (std::size_t e = 0; e < distances.size(); ++e) ++mirrored_at[ids[2 * e] - p.first + 1];
    for (std::size_t q = 0; q < own; ++q) mirrored_at[q + 1] += mirrored_at[q];
    std::vector<graph_entry> mirrored(mirrored_at[own]);
    std::vector<std::size_t> next(mirrored_at.begin(), mirrored_at.end() - 1);
    std::size_t arrived = 0;
    const auto take_from = [&](std::size_t rank) {
        for (const std::size_t end = arrived + received_counts[rank]; arrived < end; ++arrived)
            mirrored[next[ids[2 * arrived] - p.first]++] = {static_cast<std::int64_t>(ids[2 * arrived + 1]),
                                                            distances[arrived]};
    };
    for (std::size_t r = 0; r < static_cast<std::size_t>(c.rank); ++r) take_from(r);
    for (std::size_t e = 0; e < own * m; ++e)
        if (is_own(lists.index[e]))
            mirrored[next[lists.index[e] - p.first]++] = {static_cast<std::int64_t>(p.first + e / m), lists.distance[e]};
    for (std::size_t r = static_cast<std::size_t>(c.rank) + 1; r < received_counts.size(); ++r) take_from(r);

    // Each column: its own list sorted by row, merged with its mirrored entries. Listed both ways,
    // an entry is stored once (its two copies hold the same distance). Reserved for the most that
    // can come, so that nothing is copied; the pages beyond what is stored are never touched.
    local_rows out;
    out.global_size = p.total;
    out.first = p.first;
    out.starts.assign(1, 0);
    out.starts.reserve(own + 1);
    out.columns.reserve(own * m + mirrored.size());
    out.values.reserve(own * m + mirrored.size());
    const auto store = [&](const graph_entry& e) {
        out.columns.push_back(e.row);
        out.values.push_back(e.distance);
    };
    std::vector<graph_entry> listed(m);
    for (std::size_t q = 0; q < own; ++q) {
        for (std::size_t k = 0; k < m; ++k)
            listed[k] = {static_cast<std::int64_t>(lists.index[q * m + k]), lists.distance[q * m + k]};
        std::sort(listed.begin(), listed.end(), [](const graph_entry& a, const graph_entry& b) { return a.row < b.row; });
        auto a = listed.begin();
        auto b = mirrored.begin() + static_cast<std::ptrdiff_t>(mirrored_at[q]);
        const auto b_end = mirrored.begin() + static_cast<std::ptrdiff_t>(mirrored_at[q + 1]);
        while (a != listed.end() || b != b_end) {
            if (b == b_end || (a != listed.end() && a->row < b->row)) {
                store(*a++);
            } else {
                if (a != listed.end() && a->row == b->row) ++a;
                store(*b++);
            }
        }
        out.starts.push_back(out.columns.size());
    }
    return out;
}

}  // namespace rotalign::mpi
