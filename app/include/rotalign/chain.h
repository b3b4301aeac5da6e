// The clustering chain: distances, affinities, cleared diagonal, normalised affinity, leading
// eigenvectors, and the rotation search for every number of groups, through the plug-ins.
#pragma once

#include "rotalign/eigen/eigen.h"
#include "rotalign/groups/group_count.h"
#include "rotalign/input/points.h"
#include "rotalign/input/standardise.h"
#include "rotalign/neighbours/neighbours.h"
#include "rotalign/support/affinity_kind.h"
#include "rotalign/support/options.h"
#include "rotalign/support/progress.h"
#include "rotalign/support/sparse_view.h"
#include "rotalign/support/toolbox.h"

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace rotalign {

// The distance matrix that the plug-ins take: every pair (dense, N-by-N) or each point's nearest
// neighbours (a sparse N-by-N matrix; memory grows with N, not N^2).
enum class graph_kind {
    automatic,  // on points: the knn graph whose neighbour count the data choose (see below)
    dense,
    knn,
};

std::string name_of(graph_kind graph);

// The automatic graph on points: see graph_choice_neighbours (support/options.h).

// The rotation searches' rows: `automatic_rotation_sample` takes rotation_sample_rows rows from
// rotation_sample_from points on (see support/options.h), and every row below.
constexpr std::size_t automatic_rotation_sample = static_cast<std::size_t>(-1);

struct cluster_options {
    affinity_kind affinity = affinity_kind::local;
    int neighbours = option_defaults::neighbours;  // local scale: distance to this nearest neighbour
    double scale = 0.0;          // global scale; must be positive for affinity_kind::global
    int max_groups = option_defaults::max_groups;  // every number of groups from 2 to this one is tried
    int fixed_groups = 0;        // when 2 or more: this number of groups, whatever the qualities
    bool numerical_search = false;  // the rotation search by fixed steps instead of the gradient
    double tolerance = option_defaults::tolerance;  // of the group-count rule
    eigen_solver solver = eigen_solver::automatic;
    // The rotation searches run on this many rows chosen at random (fixed seed) to choose the
    // count; the searches up to the chosen count then run again on every row. 0: every row.
    std::size_t rotation_sample = automatic_rotation_sample;
    graph_kind graph = graph_kind::automatic;
    // Nearest neighbours per point in the knn graph; 0: twice the neighbour count.
    std::size_t graph_neighbours = 0;
    neighbour_backend search = neighbour_backend::automatic;
    // Every coordinate shifted to zero mean and divided by its spread before the distances (see
    // standardised), so that no column rules them by its units alone. Points only.
    bool standardise = false;
    // Shows the running stage, when given (see progress).
    progress* report = nullptr;
    // Points in pieces of the graph or in groups of fewer points than this are in no group (0),
    // and such groups take no count; 0: default_min_group_size(N); 1: any size.
    std::size_t min_group_size = 0;
    // Hand the affinity plug-in's N-by-N output back in cluster_result::affinity instead of
    // releasing it. It is no copy: the chain only holds it on, one N-by-N matrix beyond the end.
    bool keep_affinity = false;
    // Called between the stages and inside their long loops (each rotation search, the sparse
    // eigen-solver's iterations, blocks of the neighbour search), always on the calling thread.
    // An exception it throws leaves cluster_points or cluster_distances with every host array
    // released. Empty: never called.
    std::function<void()> interrupt_check;
};

// Seconds spent in each stage of one run.
struct stage_times {
    double distances = 0, affinity = 0, diagonal = 0, normalise = 0, eigen = 0, rotation = 0;
    double choice = 0;  // the chains on the candidate graphs of the automatic graph
    double total() const { return distances + affinity + diagonal + normalise + eigen + rotation + choice; }
};

// One candidate graph of the automatic choice: its neighbours per point, the count the chain
// chose on it and its score (graph_choice_score).
struct graph_candidate {
    std::size_t neighbours = 0;
    int chosen = 0;
    double score = 0.0;
    bool confirmed = false;  // another candidate chose the same count
};

struct cluster_result {
    std::vector<int> groups;      // group of each point, 1 .. chosen (0: in no group)
    int chosen = 0;               // number of groups; 1 when the data show no groups
    std::string note;             // why the choice is not an ordinary one, when it is not
    // The best other count (0: none), the chosen count's quality less its quality, and whether
    // the choice stands clear of it (see group_count).
    int runner_up = 0;
    double margin = 0.0;
    bool clear = true;
    std::size_t min_group_size = 0;  // the smallest group taken
    std::size_t stray = 0;           // points in no group: in pieces or groups below that size
    // The automatic graph: the candidates tried, and the points they ran on (0: none tried).
    // With fewer of them than points, the eigenvalues, qualities and graph are the sample's,
    // the groups those of each point's nearest sampled point, and no affinity is kept.
    std::vector<graph_candidate> candidates;
    std::size_t choice_points = 0;
    // With the automatic graph: whether at least half of the candidates chose the count taken.
    // Where fewer did, no count stands clear either (on the suite's sets and the real data, 7 of
    // the 8 counts so taken were wrong).
    bool graphs_agree = true;
    // The rule chose the largest count tried (max_groups; `chosen` is less when groups below the
    // smallest size were then dropped): more groups may lie beyond it, and the rule has seen no
    // count to compare it with there.
    bool at_largest_tried = false;
    std::vector<double> quality;  // alignment quality for c = 2, 3, ..., in that order
    std::vector<double> eigenvalues;  // the leading eigenvalues, one more than the largest c searched
    eigen_solver solver = eigen_solver::dense;
    std::size_t searched_rows = 0;  // rows the rotation searches ran on
    std::string eigen_method;       // "dense", "lanczos" or "shift-invert" (the largest piece's)
    graph_kind graph = graph_kind::dense;
    // The knn graph: neighbours per point, entries stored, how they were found.
    std::size_t graph_neighbours = 0, graph_entries = 0;
    neighbour_backend search = neighbour_backend::automatic;
    bool exact_neighbours = true;
    double recall = 1.0;  // share of the true neighbours an approximate search found (sample)
    // On points not standardised: the widest and narrowest columns when their spreads differ by
    // more than spread_warning_ratio times, so that the widest columns rule the distances.
    std::optional<spread_contrast> unit_contrast;
    // Points whose local scale (the distance to their K-th neighbour, as the affinity plug-in
    // takes it) lies below the plug-in's floor on the pair scale, local_scale_floor, and the
    // median local scale. Among such points the floor, not the data, sets the affinities. Both
    // 0 where no floor applies (the global scale; olvane on the dense graph).
    std::size_t scales_at_floor = 0;
    double median_local_scale = 0.0;
    stage_times times;
    mexhost::array_ptr affinity;  // with cluster_options::keep_affinity: the affinity plug-in's output
};

// Whether the count taken stands clear: of the runner-up, among the candidate graphs, and of the
// counts beyond the largest tried.
inline bool count_stands_clear(const cluster_result& r) {
    return r.clear && r.graphs_agree && !r.at_largest_tried;
}

// The group-count rule's settings that the options give.
group_count_settings settings_of(const cluster_options& options);
// The affinity that the options ask of the plug-ins.
affinity_kernel kernel_of(const cluster_options& options);

// The graph that the options give for this many points (never automatic).
graph_kind graph_for(const cluster_options& options, std::size_t points);
// The rows the rotation searches run on for this many points (0: every row).
std::size_t rotation_sample_for(const cluster_options& options, std::size_t points);

// How far apart the chosen count c stands on a graph, comparable across graphs: the gap between
// the eigenvalues c and c + 1 of the normalised affinity, over the spread of all the leading
// ones (1 - the last). A graph that keeps too few neighbours falls into many loose pieces and
// a dense one blurs the groups together; either narrows this gap against the spectrum's scale.
// 0 for no count of 2 or more.
double graph_choice_score(const std::vector<double>& eigenvalues, int chosen);
// Told the count C, every candidate graph gives C groups, and the one taken is the graph whose
// eigenvectors line up best with C groups: the rotation's quality at C (0 when it is not a
// number). Qualities at one count compare across graphs; a gap would also weigh how far the
// graph's own spectrum spreads, which the told count makes beside the point.
double told_count_score(const std::vector<double>& quality, int groups);

// Sets the option of the option table named `name` to a value that read_option gave.
void set_option(cluster_options& options, const std::string& name, const option_value& value);

// Checks options against the option table's ranges (option_error), each other and the number of
// points (input_error).
// `from_points` says whether the chain starts from points or from a given distance matrix.
void check_options(const cluster_options& options, std::size_t points, bool from_points = true);

// The whole chain on points (squared Euclidean distances) or on a given distance matrix.
// Throws input_error for data or options that the chain cannot use.
cluster_result cluster_points(toolbox& plugins, const points& p, const cluster_options& options);
// The chain up to the eigen-step: the normalised affinity D^(-1/2) A D^(-1/2) of the points,
// dense or sparse as the options' graph is, through the same neighbour search, plug-in calls
// and normalisation as cluster_points. The matrix that the eigen-step takes, for benchmarks and
// studies of it. Throws what cluster_points throws for the options.
mexhost::array_ptr normalised_affinity(toolbox& plugins, const points& p, const cluster_options& options);
// The sparse host matrix m as the eigen-step's view of it (m must stay alive while it is used).
// Throws input_error when m is dense.
sparse_view sparse_view_of(const mxArray* m);
cluster_result cluster_distances(toolbox& plugins, const square& distances, const cluster_options& options);
// The same for the n-by-n matrix stored by columns at `values`, which must stay valid during the
// call; it is copied once into the host's matrix, as the form above copies `distances.values`.
cluster_result cluster_distances(toolbox& plugins, const double* values, std::size_t n,
                                 const cluster_options& options);

}  // namespace rotalign
