// The automatic graph's choice: the chain on every candidate neighbour count, the count and graph
// that stand farthest apart taken, and on many points the groups spread from a sample.
#include "rotalign/chain.h"

#include "chain_parts.h"
#include "rotalign/graph/small_pieces.h"
#include "rotalign/groups/nearest_sample.h"
#include "rotalign/input/standardise.h"
#include "rotalign/support/sample_rows.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

namespace rotalign {
namespace {

// The rows `rows` of p.
points rows_of(const points& p, const std::vector<std::size_t>& rows) {
    points out;
    out.count = rows.size();
    out.dims = p.dims;
    out.values.reserve(rows.size() * p.dims);
    for (std::size_t i : rows)
        out.values.insert(out.values.end(), p.values.begin() + static_cast<std::ptrdiff_t>(i * p.dims),
                          p.values.begin() + static_cast<std::ptrdiff_t>((i + 1) * p.dims));
    return out;
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::optional<cluster_result> chosen_graph(toolbox& plugins, const points& p, const cluster_options& options,
                                          chain_step& step) {
    const auto start = std::chrono::steady_clock::now();
    const bool sampled = p.count > graph_choice_sample;
    const points sample = sampled ? rows_of(p, sample_rows(p.count, graph_choice_sample, 1)) : points{};
    const points& on = sampled ? sample : p;
    const std::size_t min_size =
        options.min_group_size > 0 ? options.min_group_size : default_min_group_size(p.count);
    std::vector<graph_candidate> tried;
    std::vector<cluster_result> results;
    std::optional<too_many_pieces> most_pieces;
    std::vector<std::size_t> apart;  // the neighbour counts whose graphs fell apart so
    // The caller's interrupt ends the choice whatever it throws, also a runtime_error that the
    // candidates' own failures would be taken for.
    bool interrupted = false;
    cluster_options watched = options;
    if (options.interrupt_check)
        watched.interrupt_check = [&interrupted, &options] {
            try {
                options.interrupt_check();
            } catch (...) {
                interrupted = true;
                throw;
            }
        };
    for (const std::size_t m : graph_choice_neighbours) {
        cluster_options o = watched;
        o.graph = graph_kind::knn;
        o.graph_neighbours = m;
        o.min_group_size = sampled ? std::max<std::size_t>(2, min_size * on.count / p.count) : min_size;
        // A candidate that the points cannot carry (too few of them, a neighbour count below the
        // local scales'), whose graph falls apart into more pieces than the groups tried, or on
        // which no count fits, is passed over; when none is left, the chain on the graph of
        // fixed size says why. A plug-in's failure stops the choice.
        // A graph that keeps half the points as each one's neighbours is no sparser than the
        // dense one, only less regular (on ten identical points, 7 neighbours each gave a clear
        // cut at 3 groups where the dense graph has none).
        if (2 * m >= on.count) continue;
        try {
            check_options(o, on.count);
            results.push_back(cluster_on_graph(plugins, on, o, step, true));
            const cluster_result& last = results.back();
            tried.push_back({m, last.chosen,
                             options.fixed_groups >= 2 ? told_count_score(last.quality, options.fixed_groups)
                                                       : graph_choice_score(last.eigenvalues, last.chosen)});
        } catch (const mexhost::plugin_error&) {
            throw;
        } catch (const too_many_pieces& e) {
            if (interrupted) throw;
            if (!most_pieces || e.components() > most_pieces->components()) most_pieces = e;
            apart.push_back(m);
        } catch (const std::runtime_error&) {
            if (interrupted) throw;
            continue;
        }
    }
    // When no candidate gave a count and some fell apart into more pieces than the groups tried,
    // those pieces are the news: the dense graph would link them faintly and hide them in a
    // smaller count (14 blobs on a ring, 10 groups tried: 5 groups). The most pieces are named,
    // since allowing as many groups lets every candidate that fell apart compete (on that ring
    // 30 neighbours gave 11 pieces and the sparser graphs 14).
    if (results.empty() && most_pieces) throw *most_pieces;
    if (results.empty()) return std::nullopt;
    // The candidates that compete: those whose count another candidate confirms, or all when
    // none is confirmed. Among them the count of the largest summed score,
    // then that count's best-scored graph; the first of equal sums or scores (the fewest
    // neighbours) wins. The sum lets several graphs that agree outweigh a pair that scores a
    // little higher (a 4,000-point sample of two circles: 2 groups on 7, 10 and 30 neighbours,
    // scores near 0.10, 4 groups on 15 and 20 near 0.12, where a quality of 0.63 at 2 groups had
    // put the rule off a cut 52 times farther from 1 than the one before).
    for (graph_candidate& c : tried)
        c.confirmed = std::count_if(tried.begin(), tried.end(), [&c](const auto& o) { return o.chosen == c.chosen; }) > 1;
    const bool any_confirmed = std::any_of(tried.begin(), tried.end(), [](const auto& c) { return c.confirmed; });
    auto competes = [any_confirmed](const graph_candidate& c) { return c.confirmed || !any_confirmed; };
    auto summed = [&tried, &competes](int count) {
        double sum = 0.0;
        for (const graph_candidate& c : tried)
            if (competes(c) && c.chosen == count) sum += c.score;
        return sum;
    };
    int count = 0;
    double best_sum = -1.0;
    for (const graph_candidate& c : tried)
        if (competes(c) && summed(c.chosen) > best_sum) {
            count = c.chosen;
            best_sum = summed(c.chosen);
        }
    std::size_t best_at = tried.size();
    for (std::size_t k = 0; k < tried.size(); ++k)
        if (competes(tried[k]) && tried[k].chosen == count &&
            (best_at == tried.size() || tried[k].score > tried[best_at].score))
            best_at = k;
    cluster_result r = std::move(results[best_at]);
    results.clear();
    if (sampled) {
        // Every point takes the group of its nearest sampled point. The sample's affinity is no
        // matrix of these points, so it is not handed back.
        r.groups = groups_by_nearest_sample(p, on, r.groups);
        r.unit_contrast = spread_contrast_above(column_spreads(p), spread_warning_ratio);
        r.stray = static_cast<std::size_t>(std::count(r.groups.begin(), r.groups.end(), 0));
        r.min_group_size = min_size;
        r.affinity.reset();
    }
    // Graphs that fell apart into more pieces than the groups tried had no say in the count,
    // which may then hide their pieces in fewer groups: the note says so.
    if (most_pieces && static_cast<std::size_t>(r.chosen) < most_pieces->components()) {
        std::string which;
        for (std::size_t k = 0; k < apart.size(); ++k)
            which += (k == 0 ? "" : k + 1 == apart.size() ? " and " : ", ") + std::to_string(apart[k]);
        const std::string pieces = std::to_string(most_pieces->components());
        r.note += (r.note.empty() ? "" : "; ") + std::string("the graphs of ") + which +
                  " neighbours fall apart into up to " + pieces + " pieces, more than the " +
                  std::to_string(options.max_groups) +
                  " groups tried, and had no say in the count; allowing " + pieces + " groups lets them compete";
    }
    const auto agreeing = std::count_if(tried.begin(), tried.end(), [&r](const auto& c) { return c.chosen == r.chosen; });
    r.graphs_agree = 2 * static_cast<std::size_t>(agreeing) >= tried.size();
    r.candidates = std::move(tried);
    r.choice_points = on.count;
    r.times.choice = std::max(0.0, seconds_since(start) - r.times.total());
    return r;
}

double graph_choice_score(const std::vector<double>& values, int chosen) {
    if (chosen < 2 || static_cast<std::size_t>(chosen) >= values.size()) return 0.0;
    const double spread = 1.0 - values.back();
    if (!(spread > 0.0)) return 0.0;
    const std::size_t c = static_cast<std::size_t>(chosen);
    return (values[c - 1] - values[c]) / spread;
}

double told_count_score(const std::vector<double>& quality, int groups) {
    if (groups < 2 || static_cast<std::size_t>(groups - 2) >= quality.size()) return 0.0;
    const double q = quality[static_cast<std::size_t>(groups - 2)];
    return std::isnan(q) ? 0.0 : q;
}

}  // namespace rotalign
