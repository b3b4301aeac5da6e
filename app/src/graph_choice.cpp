// The automatic graph's choice: the chain on every candidate neighbour count, the count and graph
// that stand farthest apart taken, and on many points the groups spread from a sample.
#include "rotalign/graph_choice.h"

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
#include <string>
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

// How many of the outcomes chose `count` groups.
std::size_t choosing(const std::vector<candidate_outcome>& outcomes, int count) {
    return static_cast<std::size_t>(
        std::count_if(outcomes.begin(), outcomes.end(), [count](const candidate_outcome& o) { return o.chosen == count; }));
}

double seconds_since(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::vector<std::size_t> candidate_neighbours(std::size_t points) {
    std::vector<std::size_t> out;
    // A graph that keeps half the points as each one's neighbours is no sparser than the dense
    // one, only less regular (on ten identical points, 7 neighbours each gave a clear cut at 3
    // groups where the dense graph has none).
    for (const std::size_t m : graph_choice_neighbours)
        if (2 * m < points) out.push_back(m);
    return out;
}

std::optional<cluster_result> run_candidate_in(toolbox& plugins, const points& on, std::size_t total,
                                               const cluster_options& options, std::size_t m,
                                               candidate_outcome& out, chain_step& step) {
    out = candidate_outcome{};
    out.neighbours = m;
    // The caller's interrupt ends the choice whatever it throws, also a runtime_error that the
    // candidate's own failures would be taken for.
    bool interrupted = false;
    cluster_options o = options;
    if (options.interrupt_check)
        o.interrupt_check = [&interrupted, &options] {
            try {
                options.interrupt_check();
            } catch (...) {
                interrupted = true;
                throw;
            }
        };
    o.graph = graph_kind::knn;
    o.graph_neighbours = m;
    const std::size_t min_size =
        options.min_group_size > 0 ? options.min_group_size : default_min_group_size(total);
    o.min_group_size = on.count < total ? std::max<std::size_t>(2, min_size * on.count / total) : min_size;
    // A candidate that the points cannot carry (too few of them, a neighbour count below the local
    // scales'), whose graph falls apart into more pieces than the groups tried, or on which no
    // count fits, is passed over; when none is left, the chain on the graph of fixed size says
    // why. A plug-in's failure stops the choice.
    try {
        check_options(o, on.count);
        cluster_result r = cluster_on_graph(plugins, on, o, step, true);
        out.chosen = r.chosen;
        out.score = options.fixed_groups >= 2 ? told_count_score(r.quality, options.fixed_groups)
                                              : graph_choice_score(r.eigenvalues, r.chosen);
        return r;
    } catch (const mexhost::plugin_error&) {
        throw;
    } catch (const too_many_pieces& e) {
        if (interrupted) throw;
        out.pieces = e.components();
        out.groups_tried = e.groups_tried();
    } catch (const std::runtime_error&) {
        if (interrupted) throw;
    }
    return std::nullopt;
}

std::optional<cluster_result> run_candidate(toolbox& plugins, const points& on, std::size_t total,
                                            const cluster_options& options, std::size_t m, candidate_outcome& out) {
    chain_step step;
    try {
        return run_candidate_in(plugins, on, total, options, m, out, step);
    } catch (const memory_error&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw step.out_of_memory();
    }
}

std::optional<std::size_t> taken_candidate(const std::vector<candidate_outcome>& outcomes) {
    // The candidates that compete: those whose count another candidate confirms, or all when
    // none is confirmed. Among them the count of the largest summed score, then that count's
    // best-scored graph; the first of equal sums or scores (the fewest neighbours) wins. The sum
    // lets several graphs that agree outweigh a pair that scores a little higher (a 4,000-point
    // sample of two circles: 2 groups on 7, 10 and 30 neighbours, scores near 0.10, 4 groups on
    // 15 and 20 near 0.12, where a quality of 0.63 at 2 groups had put the rule off a cut 52
    // times farther from 1 than the one before).
    const auto counted = [](const candidate_outcome& c) { return c.chosen > 0; };
    const auto confirmed = [&](const candidate_outcome& c) { return counted(c) && choosing(outcomes, c.chosen) > 1; };
    const bool any_confirmed = std::any_of(outcomes.begin(), outcomes.end(), confirmed);
    const auto competes = [&](const candidate_outcome& c) { return counted(c) && (confirmed(c) || !any_confirmed); };
    const auto summed = [&](int count) {
        double sum = 0.0;
        for (const candidate_outcome& c : outcomes)
            if (competes(c) && c.chosen == count) sum += c.score;
        return sum;
    };
    int count = 0;
    double best_sum = -1.0;
    for (const candidate_outcome& c : outcomes)
        if (competes(c) && summed(c.chosen) > best_sum) {
            count = c.chosen;
            best_sum = summed(c.chosen);
        }
    std::optional<std::size_t> best;
    for (std::size_t k = 0; k < outcomes.size(); ++k)
        if (competes(outcomes[k]) && outcomes[k].chosen == count && (!best || outcomes[k].score > outcomes[*best].score))
            best = k;
    if (best) return best;
    // When no candidate gave a count and some fell apart into more pieces than the groups tried,
    // those pieces are the news: the dense graph would link them faintly and hide them in a
    // smaller count (14 blobs on a ring, 10 groups tried: 5 groups). The most pieces are named,
    // since allowing as many groups lets every candidate that fell apart compete (on that ring 30
    // neighbours gave 11 pieces and the sparser graphs 14).
    const candidate_outcome* most = nullptr;
    for (const candidate_outcome& c : outcomes)
        if (c.pieces > 0 && (most == nullptr || c.pieces > most->pieces)) most = &c;
    if (most != nullptr) throw too_many_pieces(most->pieces, most->groups_tried);
    return std::nullopt;
}

void complete_choice(cluster_result& r, const std::vector<candidate_outcome>& outcomes, const cluster_options& options,
                     std::size_t choice_points) {
    // Graphs that fell apart into more pieces than the groups tried had no say in the count,
    // which may then hide their pieces in fewer groups: the note says so.
    std::vector<std::size_t> apart;
    std::size_t most_pieces = 0;
    for (const candidate_outcome& c : outcomes)
        if (c.pieces > 0) {
            apart.push_back(c.neighbours);
            most_pieces = std::max(most_pieces, c.pieces);
        }
    if (most_pieces > 0 && static_cast<std::size_t>(r.chosen) < most_pieces) {
        std::string which;
        for (std::size_t k = 0; k < apart.size(); ++k)
            which += (k == 0 ? "" : k + 1 == apart.size() ? " and " : ", ") + std::to_string(apart[k]);
        const std::string pieces = std::to_string(most_pieces);
        r.note += (r.note.empty() ? "" : "; ") + std::string("the graphs of ") + which +
                  " neighbours fall apart into up to " + pieces + " pieces, more than the " +
                  std::to_string(options.max_groups) +
                  " groups tried, and had no say in the count; allowing " + pieces + " groups lets them compete";
    }
    std::vector<graph_candidate> tried;
    for (const candidate_outcome& c : outcomes)
        if (c.chosen > 0) tried.push_back({c.neighbours, c.chosen, c.score, choosing(outcomes, c.chosen) > 1});
    r.graphs_agree = 2 * choosing(outcomes, r.chosen) >= tried.size();
    r.candidates = std::move(tried);
    r.choice_points = choice_points;
}

std::optional<cluster_result> chosen_graph(toolbox& plugins, const points& p, const cluster_options& options,
                                          chain_step& step) {
    const auto start = std::chrono::steady_clock::now();
    const bool sampled = p.count > graph_choice_sample;
    const points sample = sampled ? rows_of(p, sample_rows(p.count, graph_choice_sample, 1)) : points{};
    const points& on = sampled ? sample : p;
    std::vector<candidate_outcome> outcomes;
    std::vector<std::optional<cluster_result>> results;
    for (const std::size_t m : candidate_neighbours(on.count)) {
        outcomes.emplace_back();
        results.push_back(run_candidate_in(plugins, on, p.count, options, m, outcomes.back(), step));
    }
    const std::optional<std::size_t> taken = taken_candidate(outcomes);
    if (!taken) return std::nullopt;
    cluster_result r = std::move(*results[*taken]);
    results.clear();
    if (sampled) {
        // Every point takes the group of its nearest sampled point. The sample's affinity is no
        // matrix of these points, so it is not handed back.
        r.groups = groups_by_nearest_sample(p, on, r.groups);
        r.unit_contrast = spread_contrast_above(column_spreads(p), spread_warning_ratio);
        r.stray = static_cast<std::size_t>(std::count(r.groups.begin(), r.groups.end(), 0));
        r.min_group_size = options.min_group_size > 0 ? options.min_group_size : default_min_group_size(p.count);
        r.affinity.reset();
    }
    complete_choice(r, outcomes, options, on.count);
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
