#include "affinity/affinity_across.h"

#include "mexhost/host.h"
#include "rotalign/affinity/plugin_affinities.h"
#include "rotalign/neighbours/neighbours.h"
#include "support/collective_section.h"
#include "support/exchange.h"
#include "support/distinct.h"
#include "support/positions.h"
#include "support/together.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace rotalign::mpi {
namespace {

// Running out of memory in the three helpers below would leave the other ranks waiting in the
// exchanges that follow or that they make: it ends the run (collective_section).

// The rows of `a` that other ranks own, each once, ascending.
std::vector<std::uint64_t> ghosts_of(const local_rows& a) {
    return collective_section([&] {
        std::vector<std::uint64_t> ghosts;
        for (const std::int64_t row : a.columns) {
            const std::uint64_t i = static_cast<std::uint64_t>(row);
            if (i < a.first || i >= a.first + a.count()) ghosts.push_back(i);
        }
        return distinct_ascending(std::move(ghosts), a.global_size);
    });
}

// For each of `wanted` (ascending, other ranks' points), `per` values that its rank computes by
// `answer(local index, out)`: the requests go to the owners and the answers come back in order.
template <typename T, typename Answer>
std::vector<T> ask_owners(const rank_context& c, std::size_t total, std::size_t first,
                          const std::vector<std::uint64_t>& wanted, std::size_t per, Answer answer) {
    return collective_section([&] {
        const row_blocks blocks{total, c.size};
        std::vector<std::vector<std::uint64_t>> requests(static_cast<std::size_t>(c.size));
        for (const std::uint64_t g : wanted) requests[static_cast<std::size_t>(blocks.owner(g))].push_back(g);
        const auto asked = all_to_all(c.comm, requests);
        std::vector<std::vector<T>> replies(static_cast<std::size_t>(c.size));
        for (std::size_t r = 0; r < asked.size(); ++r) {
            replies[r].resize(asked[r].size() * per);
            for (std::size_t e = 0; e < asked[r].size(); ++e)
                answer(static_cast<std::size_t>(asked[r][e]) - first, &replies[r][e * per]);
        }
        const auto answered = all_to_all(c.comm, replies);
        // `wanted` is ascending and the blocks follow the point order: the answers of rank 0, 1, ...
        // laid end to end are in the order of `wanted`.
        std::vector<T> out;
        out.reserve(wanted.size() * per);
        for (const auto& part : answered) out.insert(out.end(), part.begin(), part.end());
        return out;
    });
}

// The local scales of the own columns as local_scales takes them, summed up on rank 0.
local_scale_summary summary_across(const rank_context& c, const local_rows& graph, std::size_t k) {
    return collective_section([&]() -> local_scale_summary {
        std::vector<double> sigma(graph.count()), column;
        for (std::size_t j = 0; j < graph.count(); ++j) {
            const std::size_t count = graph.starts[j + 1] - graph.starts[j];
            if (count == 0) continue;
            column.assign(graph.values.begin() + static_cast<std::ptrdiff_t>(graph.starts[j]),
                          graph.values.begin() + static_cast<std::ptrdiff_t>(graph.starts[j + 1]));
            const std::size_t at = std::min(k, count) - 1;
            std::nth_element(column.begin(), column.begin() + static_cast<std::ptrdiff_t>(at), column.end());
            sigma[j] = column[at];
        }
        sigma = gather_to_root(c.comm, sigma);
        return c.root() ? summarise_local_scales(std::move(sigma)) : local_scale_summary{};
    });
}

// The host matrix of this rank's graph columns and its ghosts' columns (see affinities_across),
// and where the own columns begin in it. Its scratch (the ghosts' lists, the point table) is gone
// when it returns, before the plug-ins add their matrices.
struct held_matrix {
    mexhost::array_ptr d;
    mwIndex own_start = 0;
};

held_matrix with_ghosts(const rank_context& c, const local_points& p, const neighbour_lists& lists,
                        const local_rows& graph, std::size_t k) {
    const std::size_t m = lists.per_point;
    // The ghosts and the first k entries of each one's list (indices, then distances).
    const std::vector<std::uint64_t> ghosts = ghosts_of(graph);
    const std::vector<std::uint64_t> ghost_rows = ask_owners<std::uint64_t>(
        c, p.total, p.first, ghosts, k, [&](std::size_t q, std::uint64_t* out) {
            for (std::size_t e = 0; e < k; ++e) out[e] = lists.index[q * m + e];
        });
    const std::vector<double> ghost_distances =
        ask_owners<double>(c, p.total, p.first, ghosts, k, [&](std::size_t q, double* out) {
            for (std::size_t e = 0; e < k; ++e) out[e] = lists.distance[q * m + e];
        });

    // The points of the host matrix: own, ghosts and the ghosts' listed neighbours, in point
    // order, so that every column keeps its rows in the order of the whole graph.
    std::vector<std::uint64_t> held(ghosts);
    held.insert(held.end(), ghost_rows.begin(), ghost_rows.end());
    for (std::size_t q = 0; q < p.own.count; ++q) held.push_back(p.first + q);
    held = distinct_ascending(std::move(held), p.total);
    const positions position(held);
    const auto local = [&position](std::uint64_t g) { return static_cast<mwIndex>(position(g)); };

    // Straight into the host's arrays, whose size is known: each own column as the graph holds
    // it, each ghost column its k entries. Built in vectors first, they would be copied over and
    // take as many fresh pages again.
    const std::size_t stored = graph.starts.back() + ghosts.size() * k;
    if (stored > static_cast<std::size_t>(INT32_MAX))
        throw input_error("a rank's share of the graph holds more entries than a host sparse matrix (2^31 - 1)");
    const mwSize side = static_cast<mwSize>(held.size());
    mexhost::array_ptr d(mxCreateSparse(side, side, static_cast<mwSize>(stored), mxREAL));
    mwIndex* jc = mxGetJc(d.get());
    mwIndex* ir = mxGetIr(d.get());
    double* values = mxGetPr(d.get());
    std::size_t at = 0, next_ghost = 0;
    std::vector<std::pair<std::uint64_t, double>> ghost_column;
    jc[0] = 0;
    for (std::size_t column = 0; column < held.size(); ++column) {
        const std::uint64_t g = held[column];
        if (g >= p.first && g < p.first + p.own.count) {
            const std::size_t q = static_cast<std::size_t>(g - p.first);
            for (std::size_t e = graph.starts[q]; e < graph.starts[q + 1]; ++e, ++at) {
                ir[at] = local(static_cast<std::uint64_t>(graph.columns[e]));
                values[at] = graph.values[e];
            }
        } else if (next_ghost < ghosts.size() && ghosts[next_ghost] == g) {
            ghost_column.clear();
            for (std::size_t e = 0; e < k; ++e)
                ghost_column.push_back({ghost_rows[next_ghost * k + e], ghost_distances[next_ghost * k + e]});
            std::sort(ghost_column.begin(), ghost_column.end());
            for (const auto& [row, distance] : ghost_column) {
                ir[at] = local(row);
                values[at++] = distance;
            }
            ++next_ghost;
        }
        jc[column + 1] = static_cast<mwIndex>(at);
    }
    return {std::move(d), local(p.first)};
}

}  // namespace

local_rows affinities_across(const rank_context& c, toolbox& plugins, const local_points& p,
                             const neighbour_lists& lists, local_rows graph, const cluster_options& options,
                             local_scale_summary* scales) {
    const bool global = options.affinity == affinity_kind::global;
    const std::size_t k = global ? 0 : static_cast<std::size_t>(std::max(options.neighbours, 1));
    if (scales != nullptr && !global) *scales = summary_across(c, graph, k);

    held_matrix held = with_ghosts(c, p, lists, graph, k);
    mexhost::array_ptr d = std::move(held.d);
    const mwIndex own_start = held.own_start;

    mexhost::array_ptr a = plugin_affinities(plugins, d.get(), kernel_of(options));
    // The host keeps a released matrix's block for reuse: nimbrel's matrix takes the block of the
    // distances, and the affinities' block is released before the own columns are copied out, so
    // that the three matrices of the rank's share are never resident together.
    d.reset();
    mexhost::array_ptr cleared = std::move(plugins.get("nimbrel").call(1, {a.get()}, trusted_inputs)[0]);
    a.reset();
    mexhost::release_kept_memory();

    // The own columns, which the plug-ins left in their pattern, over the distances: a copy of
    // the graph would cost as many fresh pages again.
    local_rows out = std::move(graph);
    const double* pr = mxGetPr(cleared.get());
    const mwIndex* cjc = mxGetJc(cleared.get());
    for (std::size_t q = 0; q < p.own.count; ++q) {
        const std::size_t from = static_cast<std::size_t>(cjc[own_start + q]);
        std::copy(pr + from, pr + from + (out.starts[q + 1] - out.starts[q]),
                  out.values.begin() + static_cast<std::ptrdiff_t>(out.starts[q]));
    }
    return out;
}

void normalise_across(const rank_context& c, local_rows& a) {
    const std::size_t own = a.count();
    std::vector<double> factor(own);
    together(c.comm, [&] {
        for (std::size_t j = 0; j < own; ++j) {
            double degree = 0.0;
            for (std::size_t e = a.starts[j]; e < a.starts[j + 1]; ++e) degree += a.values[e];
            if (!(degree > 0.0) || !std::isfinite(degree))
                throw input_error("point " + std::to_string(a.first + j + 1) +
                                  " has no affinity to any other point (try a larger scale or neighbour count)");
            factor[j] = 1.0 / std::sqrt(degree);
        }
    });
    const std::vector<std::uint64_t> ghosts = ghosts_of(a);
    const std::vector<double> ghost_factor = ask_owners<double>(
        c, a.global_size, a.first, ghosts, 1, [&](std::size_t q, double* out) { *out = factor[q]; });
    // The ranks go on to find the graph's pieces together: running out of memory for the
    // positions here would leave them waiting there.
    const positions ghost_at = collective_section([&] { return positions(ghosts); });
    for (std::size_t j = 0; j < own; ++j)
        for (std::size_t e = a.starts[j]; e < a.starts[j + 1]; ++e) {
            const std::uint64_t i = static_cast<std::uint64_t>(a.columns[e]);
            const double fi = i >= a.first && i < a.first + own
                                  ? factor[static_cast<std::size_t>(i - a.first)]
                                  : ghost_factor[ghost_at(i)];
            a.values[e] *= fi * factor[j];
        }
}

}  // namespace rotalign::mpi
