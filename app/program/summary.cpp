#include "summary.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <iomanip>
#include <sstream>

namespace rotalign {
namespace {

void print_times(std::ostream& o, const stage_times& t, graph_kind graph) {
    o << "stage times (ms): ";
    if (t.choice > 0) o << "graph choice " << milliseconds(t.choice) << ", ";
    o << (graph == graph_kind::knn ? "neighbours " : "distances ") << milliseconds(t.distances) << ", affinity " << milliseconds(t.affinity)
      << ", diagonal " << milliseconds(t.diagonal) << ", normalise " << milliseconds(t.normalise) << ", eigen "
      << milliseconds(t.eigen) << ", rotation " << milliseconds(t.rotation) << ", total " << milliseconds(t.total())
      << '\n';
}

std::string short_number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", v);
    return text;
}

// The columns whose spreads differ so much that the widest one rules the squared distances.
void print_spread_warning(std::ostream& s, const spread_contrast& c) {
    s << "warning: the columns' spreads differ " << short_number(c.ratio()) << " times (column " << c.widest + 1
      << ": " << short_number(c.widest_spread) << ", column " << c.narrowest + 1 << ": "
      << short_number(c.narrowest_spread) << "), so the widest columns rule the distances; if the columns are in"
      << " different units, --standardise gives each one unit spread\n";
}

// The candidate graphs chose different counts, most of them not the one taken: which they
// chose, and the count most of the others chose (the first of those among equals).
void print_disagreement(std::ostream& s, const cluster_result& r) {
    std::vector<int> others;
    for (const graph_candidate& c : r.candidates)
        if (c.chosen != r.chosen) others.push_back(c.chosen);
    int most = others.empty() ? 0 : others.front();
    for (const int c : others)
        if (std::count(others.begin(), others.end(), c) > std::count(others.begin(), others.end(), most)) most = c;
    s << "no count stands clear: only " << r.candidates.size() - others.size() << " of the "
      << r.candidates.size() << " candidate graphs give " << r.chosen << " groups (the others give";
    for (std::size_t k = 0; k < others.size(); ++k) s << (k == 0 ? " " : k + 1 == others.size() ? " and " : ", ") << others[k];
    s << "); look at " << most << " as well (--groups " << most << ")\n";
}

}  // namespace

std::string milliseconds(double seconds) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(seconds < 10.0 ? 1 : 0) << seconds * 1000.0;
    return s.str();
}

void print_summary(std::ostream& s, const cluster_result& r, const cluster_options& o) {
    if (r.unit_contrast) print_spread_warning(s, *r.unit_contrast);
    s << "groups: " << r.chosen << (o.fixed_groups >= 2 ? " (fixed)" : "") << '\n';
    if (!r.note.empty()) s << "note: " << r.note << '\n';
    const group_count_settings settings = settings_of(o);
    s << "quality:";
    // Inside a block of repeated eigenvalues no search runs (-), except for the largest c; a
    // search on eigenvectors with an all-zero row has no quality (nan).
    for (std::size_t k = 0; k < r.quality.size(); ++k) {
        s << ' ' << k + 2 << '=';
        if (k + 1 < r.quality.size() && !clear_cut(r.eigenvalues, k + 2, settings)) s << '-';
        else if (std::isnan(r.quality[k])) s << "nan";
        else s << std::fixed << std::setprecision(6) << r.quality[k];
    }
    // Ten decimals: eigenvalues a hair below 1 are what tell nearly separate pieces apart.
    s << "\neigenvalues:";
    for (std::size_t k = 0; k < r.eigenvalues.size(); ++k)
        s << ' ' << k + 1 << '=' << std::fixed << std::setprecision(10) << r.eigenvalues[k];
    s << "\nclear cuts (c=how many times farther from 1 eigenvalue c+1 lies than c; * strong):";
    bool any = false;
    for (std::size_t c = 2; c < r.eigenvalues.size(); ++c) {
        if (!clear_cut(r.eigenvalues, c, settings)) continue;
        const double ratio = distance_ratio(r.eigenvalues, c);
        s << ' ' << c << '=';
        if (std::isinf(ratio)) {
            s << "inf";
        } else {
            char text[32];
            std::snprintf(text, sizeof text, "%.3g", ratio);
            s << text;
        }
        if (ratio >= settings.strong_ratio) s << '*';
        any = true;
    }
    if (!any) s << " none";
    s << '\n';
    if (o.fixed_groups < 2 && r.runner_up != 0) {
        char margin[32];
        std::snprintf(margin, sizeof margin, "%.4f", r.margin);
        s << "runner-up: " << r.runner_up << " groups, quality margin " << margin << '\n';
        if (!r.clear)
            s << "no count stands clear: " << r.runner_up << " groups fit the points nearly as well as " << r.chosen
              << "; look at both (--groups " << r.runner_up << ")\n";
    }
    if (o.fixed_groups < 2 && !r.graphs_agree) print_disagreement(s, r);
    // The count before any small groups were dropped: the largest tried.
    if (r.at_largest_tried)
        s << "no count stands clear: " << o.max_groups << " groups, the most tried, may not be all there are; try more"
          << " (--max-groups " << 2 * o.max_groups << ")\n";
    s << "points in no group: " << r.stray << " (pieces of the graph and groups of fewer than " << r.min_group_size
      << " points; --min-group-size)\n";
    if (!r.candidates.empty()) {
        s << "graph choice (neighbours=count/score, ? unconfirmed) on " << r.choice_points << " points:";
        for (const graph_candidate& c : r.candidates) {
            char score[32];
            std::snprintf(score, sizeof score, "%.3g", c.score);
            s << ' ' << c.neighbours << '=' << c.chosen << '/' << score << (c.confirmed ? "" : "?");
        }
        s << '\n';
    }
    if (r.choice_points > 0 && r.choice_points < r.groups.size())
        s << "groups of all " << r.groups.size() << " points: each takes the group of its nearest of the "
          << r.choice_points << " sampled points\n";
    if (r.graph == graph_kind::knn) {
        s << "graph: knn, " << r.graph_neighbours << " nearest neighbours per point by " << name_of(r.search) << ", "
          << r.graph_entries << " entries";
        if (r.exact_neighbours) {
            s << " (exact)\n";
        } else {
            char recall[32];
            std::snprintf(recall, sizeof recall, "%.4f", r.recall);
            s << " (approximate: recall " << recall << " on a sample)\n";
        }
    } else {
        s << "graph: dense\n";
    }
    s << "eigen-solver: " << r.eigen_method << '\n';
    if (r.searched_rows < r.groups.size())
        s << "rotation searches on " << r.searched_rows << " of " << r.groups.size() << " rows\n";
    print_times(s, r.times, r.graph);
}

}  // namespace rotalign
