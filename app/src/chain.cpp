#include "rotalign/chain.h"
#include "rotalign/chain_normalised.h"

#include "mexhost/errors.h"
#include "mexhost/host.h"

#include "neighbours/neighbour_parts.h"
#include "rotalign/affinity/local_scales.h"
#include "rotalign/affinity/normalise.h"
#include "rotalign/affinity/plugin_affinities.h"
#include "rotalign/eigen/canonical_basis.h"
#include "rotalign/eigen/sparse_eigen.h"
#include "rotalign/graph/graph.h"
#include "rotalign/graph/graph_size.h"
#include "rotalign/graph/small_pieces.h"
#include "rotalign/groups/nearest_sample.h"
#include "rotalign/groups/rotation.h"
#include "rotalign/input/standardise.h"
#include "rotalign/support/memory.h"
#include "rotalign/support/sample_rows.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <utility>

extern "C" {
// Fortran BLAS; the trailing argument is the hidden length of the character.
void dgemv_(const char* trans, const int* m, const int* n, const double* alpha, const double* a, const int* lda,
            const double* x, const int* incx, const double* beta, double* y, const int* incy, std::size_t trans_len);
}

namespace rotalign {
namespace {

// OpenBLAS maps a work buffer of 128 MiB on its first matrix-vector product and, when the mapping
// fails, tries again forever. One tiny product before the chain takes its memory maps it while
// there is room, so that a limit on memory is met later by an allocation that fails with a message.
void map_blas_buffer() {
    const int one = 1;
    const double alpha = 1.0, beta = 0.0, a = 1.0, x = 1.0;
    double y = 0.0;
    dgemv_("N", &one, &one, &alpha, &a, &one, &x, &one, &beta, &y, &one, 1);
}

// The room for the BLAS library's work buffer (see above): below it no route is started.
constexpr double blas_buffers = 128.0 * 1024 * 1024;

// The chain's current step, for the message when memory runs out in it: what the step does and
// the arrays it builds, with their size.
struct chain_step {
    std::string doing, building;

    memory_error out_of_memory() const { return memory_error("out of memory while " + doing + " (" + building + ")"); }
};

// "two 2000-by-2000 matrices of doubles: 61.0 MiB"
std::string dense_matrices(const char* count, std::size_t n, double matrices) {
    const double bytes = matrices * 8.0 * static_cast<double>(n) * static_cast<double>(n);
    return std::string(count) + " " + std::to_string(n) + "-by-" + std::to_string(n) + " matri" +
           (matrices == 1.0 ? "x" : "ces") + " of doubles: " + byte_size(bytes);
}

// The arrays of the affinity plug-ins' outputs for the distance matrix d, dense or sparse.
std::string plugin_outputs(const mxArray* d, const char* count, double matrices) {
    const std::size_t n = mxGetM(d);
    if (!mxIsSparse(d)) return dense_matrices(count, n, matrices);
    const double entries = static_cast<double>(mxGetJc(d)[n]);
    return std::string(count) + " sparse " + std::to_string(n) + "-by-" + std::to_string(n) + " matri" +
           (matrices == 1.0 ? "x" : "ces") + " of " + std::to_string(mxGetJc(d)[n]) + " entries: " +
           byte_size(matrices * entries * (8.0 + sizeof(mwIndex)));
}

// Runs a route of the chain, turning an allocation that fails in it into a memory_error that names
// the step.
template <typename Run>
auto reporting_memory(const chain_step& step, Run run) -> decltype(run()) {
    try {
        return run();
    } catch (const memory_error&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw step.out_of_memory();
    }
}

// A dense n-by-n host matrix of the given values, made without clearing since all of it is
// written.
mexhost::array_ptr host_matrix(std::size_t n, const double* values) {
    mexhost::array_ptr a = mexhost::make_matrix_for_overwrite(static_cast<mwSize>(n), static_cast<mwSize>(n));
    if (n > 0) std::memcpy(mxGetPr(a.get()), values, n * n * sizeof(double));
    return a;
}

// The storage of the affinity plug-in's two outputs, prepared while the caller fills the
// distance matrix: their pages are faulted in beside that work instead of in the plug-in.
void prepare_affinity_outputs(std::size_t n) { mexhost::prepare_memory(n * n * sizeof(double), 2); }

// Lets the front end stop the run between two stages.
void check_interrupt(const cluster_options& options) {
    if (options.interrupt_check) options.interrupt_check();
}

// Whether the affinity plug-in holds the pair scale at local_scale_floor or above.
bool floor_applies(const cluster_options& options, const mxArray* d) {
    switch (options.affinity) {
    case affinity_kind::local: return true;
    case affinity_kind::local_mean: return mxIsSparse(d);
    case affinity_kind::global: return false;
    }
    return false;
}

}  // namespace

group_count_settings settings_of(const cluster_options& options) {
    group_count_settings s;
    s.tolerance = options.tolerance;
    return s;
}

affinity_kernel kernel_of(const cluster_options& options) {
    affinity_kernel kernel;
    kernel.kind = options.affinity;
    kernel.neighbours = static_cast<std::size_t>(std::max(options.neighbours, 1));
    kernel.scale = options.scale;
    return kernel;
}

std::string name_of(graph_kind graph) {
    return word_of(option_named("graph"), static_cast<std::size_t>(graph), option_vocabulary::library);
}

void set_option(cluster_options& o, const std::string& name, const option_value& v) {
    const int whole = static_cast<int>(v.number);
    if (name == "affinity") o.affinity = static_cast<affinity_kind>(v.word);
    else if (name == "neighbours") o.neighbours = whole;
    else if (name == "scale") o.scale = v.number;
    else if (name == "max_groups") o.max_groups = whole;
    else if (name == "fixed_groups") o.fixed_groups = whole;
    else if (name == "tolerance") o.tolerance = v.number;
    else if (name == "search") o.numerical_search = v.word == 1;
    else if (name == "graph") o.graph = static_cast<graph_kind>(v.word);
    else if (name == "graph_neighbours") o.graph_neighbours = static_cast<std::size_t>(whole);
    else if (name == "neighbour_search") o.search = static_cast<neighbour_backend>(v.word);
    else if (name == "solver") o.solver = static_cast<eigen_solver>(v.word);
    else if (name == "rotation_sample") o.rotation_sample = static_cast<std::size_t>(whole);
    else if (name == "min_group_size") o.min_group_size = static_cast<std::size_t>(whole);
    else if (name == "standardise") o.standardise = v.number != 0.0;
    else throw std::out_of_range("no option named " + name);
}

graph_kind graph_for(const cluster_options& options, std::size_t points) {
    if (options.graph != graph_kind::automatic) return options.graph;
    return points >= knn_graph_from ? graph_kind::knn : graph_kind::dense;
}

std::size_t rotation_sample_for(const cluster_options& options, std::size_t points) {
    if (options.rotation_sample != automatic_rotation_sample) return options.rotation_sample;
    return points >= rotation_sample_from ? rotation_sample_rows : 0;
}

namespace {

// Neighbours per point in the knn graph.
std::size_t graph_neighbours(const cluster_options& o) {
    return o.graph_neighbours > 0 ? o.graph_neighbours
                                  : rotalign::graph_neighbours(static_cast<std::size_t>(std::max(o.neighbours, 1)));
}

// Throws option_error when `value` lies outside the range of the option `name`.
void check_range(const std::string& name, double value) {
    const option_description& option = option_named(name);
    if (in_range(option, value)) return;
    const std::string needed = requirement(option, option_vocabulary::library);
    throw option_error(name, value_text(option, value), needed, option.noun + " must be " + needed);
}

}  // namespace

void check_options(const cluster_options& o, std::size_t points, bool from_points) {
    const graph_kind graph = from_points ? graph_for(o, points) : graph_kind::dense;
    if (!from_points && o.graph == graph_kind::knn)
        throw input_error("the nearest-neighbour graph is built from points, not from a distance matrix");
    if (!from_points && o.standardise)
        throw input_error("standardising the columns needs points, not a distance matrix");
    if (graph == graph_kind::dense) {
        // At the peak the dense chain holds three N-by-N matrices of doubles (the distances and the
        // plug-in's two outputs), four for a distance file, and the BLAS library's work buffer.
        // More than the process may take would end in the kernel killing the program, or in an
        // allocation failing minutes later.
        const double needed = 4.0 * 8.0 * static_cast<double>(points) * static_cast<double>(points) + blas_buffers;
        if (const auto room = memory_room_now(); room && needed > room->bytes) {
            constexpr double gib = 1024.0 * 1024.0 * 1024.0;
            std::vector<remedy> remedies;
            if (from_points) remedies.push_back({"the nearest-neighbour graph needs far less", "graph", "knn"});
            throw input_error(std::to_string(points) + " points need about " +
                                  std::to_string(static_cast<long long>(std::ceil(needed / gib))) +
                                  " GiB for the chain's N-by-N matrices; " + room->reason,
                              std::move(remedies));
        }
    } else {
        if (const auto room = memory_room_now(); room && room->bytes < blas_buffers)
            throw input_error("the chain needs at least " + byte_size(blas_buffers) +
                              " for the work buffer of the BLAS library; " + room->reason);
        const std::size_t m = graph_neighbours(o);
        if (m >= points)
            throw input_error(std::to_string(points) + " points are too few for a graph of " + std::to_string(m) +
                              " neighbours per point");
        if (o.affinity != affinity_kind::global && m < static_cast<std::size_t>(std::max(o.neighbours, 0)))
            throw input_error("the graph needs at least as many neighbours per point (" + std::to_string(m) +
                              ") as the local scales (" + std::to_string(o.neighbours) + ")");
    }
    if (o.affinity == affinity_kind::global) {
        check_range("scale", o.scale);
    } else {
        check_range("neighbours", o.neighbours);
        // The local scale of a point is the distance to its K-th nearest other point.
        if (points < static_cast<std::size_t>(o.neighbours) + 1)
            throw input_error(std::to_string(points) + " points are too few for " + std::to_string(o.neighbours) +
                              " neighbours: at least " + std::to_string(o.neighbours + 1) + " are needed");
    }
    // No fixed number of groups (0): the count is chosen up to max_groups.
    if (o.fixed_groups != 0) check_range("fixed_groups", o.fixed_groups);
    else check_range("max_groups", o.max_groups);
    const int largest = o.fixed_groups >= 2 ? o.fixed_groups : o.max_groups;
    if (static_cast<std::size_t>(largest) > points)
        throw input_error(std::to_string(points) + " points cannot form " + std::to_string(largest) + " groups");
    check_range("tolerance", o.tolerance);
}

namespace {

// Kept blocks of the host are released before the sparse eigen-step from this many bytes on; below
// it the samples of the automatic graph's choice keep reusing theirs from one candidate to the next.
constexpr std::size_t kept_blocks_released_from = std::size_t{64} << 20;

// The leading eigenpairs of the normalised affinity l, dense or sparse; `components` receives the
// number of connected pieces of its graph, each of which brings an eigenvalue 1.
eigenpairs leading_of(const mxArray* l, std::size_t wanted, const cluster_options& options, cluster_result& result,
                      std::size_t& components) {
    const std::size_t n = mxGetM(l);
    eigenpairs e;
    if (mxIsSparse(l)) {
        // The blocks that the graph's and the affinities' arrays left for reuse (at 10^7 points
        // about 4 GB) would stay resident beside the Cholesky factor, whose memory comes from
        // elsewhere and whose budget is what the process does not hold; nothing after this step
        // takes arrays of their size.
        if (mexhost::host_memory_usage().kept >= kept_blocks_released_from) mexhost::release_kept_memory();
        const sparse_view view = sparse_view_of(l);
        sparse_eigen_options so;
        so.method = options.solver;
        so.interrupt_check = options.interrupt_check;
        if (options.report != nullptr)
            so.report = [report = options.report](const std::string& where) { report->detail(where); };
        sparse_eigen_work work;
        e = leading_eigenpairs(view, wanted, so, &work);
        components = work.components;
        result.eigen_method = name_of(work.used);
    } else {
        e = leading_eigenpairs(mxGetPr(l), n, wanted, options.solver);
        components = e.components;
        result.eigen_method = name_of(e.used);
    }
    result.solver = e.used;
    return e;
}

// Groups of fewer than min_size points become no group (0); the others are numbered 1, 2, ...
// in their order, and the count is theirs. Keeps at least one group.
void drop_small_groups(cluster_result& result, std::size_t min_size) {
    if (result.chosen < 2) return;
    std::vector<std::size_t> size(static_cast<std::size_t>(result.chosen) + 1, 0);
    for (int g : result.groups)
        if (g > 0) ++size[static_cast<std::size_t>(g)];
    std::vector<int> renumbered(size.size(), 0);
    int kept = 0;
    for (std::size_t g = 1; g < size.size(); ++g)
        if (size[g] >= min_size) renumbered[g] = ++kept;
    if (kept == result.chosen || kept == 0) return;
    for (int& g : result.groups) g = renumbered[static_cast<std::size_t>(g)];
    const int dropped = result.chosen - kept;
    result.chosen = kept;
    result.note += std::string(result.note.empty() ? "" : "; ") + std::to_string(dropped) +
                   (dropped == 1 ? " group" : " groups") + " of fewer than " + std::to_string(min_size) +
                   " points left as points in no group";
}

// The normalised affinity of the distance matrix d (n-by-n host matrix, dense or sparse). Both
// graphs take the same steps: the plug-ins keep a sparse input's pattern. Every matrix is dropped
// as soon as the next step has it, so that the host hands its block to the next one: on the
// dense graph at most three N-by-N matrices are in use at once (the distances and the plug-in's
// two outputs), and the cleared diagonal takes the block of the scaled distances.
mexhost::array_ptr normalised_from(toolbox& plugins, mexhost::array_ptr d, const cluster_options& options,
                                   cluster_result& result, chain_step& step) {
    const std::size_t n = mxGetM(d.get());
    mexhost::array_ptr a, l;
    check_interrupt(options);
    {
        stage_timer stage(options.report, "affinities", result.times.affinity);
        step = {"computing the affinities of " + std::to_string(n) + " points", plugin_outputs(d.get(), "two", 2)};
        if (floor_applies(options, d.get())) {
            const local_scale_summary scales =
                summarise_local_scales(d.get(), static_cast<std::size_t>(std::max(options.neighbours, 0)));
            result.scales_at_floor = scales.below_floor;
            result.median_local_scale = scales.median;
        }
        a = plugin_affinities(plugins, d.get(), kernel_of(options));
        d.reset();
    }
    check_interrupt(options);
    {
        stage_timer stage(options.report, "diagonal", result.times.diagonal);
        step = {"clearing the diagonal of the affinities", plugin_outputs(a.get(), "one", 1)};
        l = std::move(plugins.get("nimbrel").call(1, {a.get()}, trusted_inputs)[0]);
        if (options.keep_affinity) result.affinity = std::move(a);
        a.reset();
    }
    check_interrupt(options);
    {
        // The cleared affinity is ours now; it becomes the normalised affinity in place.
        stage_timer stage(options.report, "normalisation", result.times.normalise);
        step = {"normalising the affinities", "the degrees of " + std::to_string(n) + " points"};
        if (mxIsSparse(l.get())) normalise(n, mxGetJc(l.get()), mxGetIr(l.get()), mxGetPr(l.get()));
        else normalise(mxGetPr(l.get()), n);
    }
    return l;
}

// The chain from the distance matrix d on; or, with `normalised`, from d as the normalised
// affinity already; or, with `given` eigenpairs (found elsewhere, on the whole graph, with
// `given_components` pieces, taken over), from the rotations on (d then only gives the size).
cluster_result chain_from(toolbox& plugins, mexhost::array_ptr d, const cluster_options& options,
                          cluster_result result, chain_step& step, bool normalised = false,
                          eigenpairs* given = nullptr, std::size_t given_components = 0) {
    const std::size_t n = mxGetM(d.get());
    const bool sparse = mxIsSparse(d.get());
    const int largest = options.fixed_groups >= 2 ? options.fixed_groups : options.max_groups;
    const group_count_settings settings = settings_of(options);
    mexhost::array_ptr l = normalised ? std::move(d) : normalised_from(plugins, std::move(d), options, result, step);

    // Pieces of the graph too small to be a group are set aside (in no group), so that they take
    // no count; unless too few points would be left for the groups tried.
    const std::size_t min_size = options.min_group_size > 0 ? options.min_group_size : default_min_group_size(n);
    result.min_group_size = min_size;
    std::vector<char> left_out = given != nullptr ? std::vector<char>{} : points_in_small_pieces(l.get(), min_size);
    if (!left_out.empty()) {
        const std::size_t out = static_cast<std::size_t>(std::count(left_out.begin(), left_out.end(), 1));
        if (n - out >= std::max(static_cast<std::size_t>(largest) + 1, min_size)) l = without_points(l.get(), left_out);
        else left_out.clear();
    }
    const std::size_t kept = mxGetM(l.get());
    // Groups of the kept points as groups of all points, 0 for those set aside.
    auto of_all_points = [&left_out, n](std::vector<int> groups) {
        if (left_out.empty()) return groups;
        std::vector<int> all(n, 0);
        for (std::size_t i = 0, k = 0; i < n; ++i)
            if (!left_out[i]) all[i] = groups[k++];
        return all;
    };

    // One eigenpair beyond the most groups searched: whether the leading c eigenvalues stand apart
    // from the next one decides whether c groups are admissible, also for the largest c.
    std::size_t components = 0;
    eigenpairs e;
    std::vector<std::size_t> blocks;
    check_interrupt(options);
    {
        stage_timer stage(options.report, "eigenvectors", result.times.eigen);
        const std::size_t wanted = std::min(kept, static_cast<std::size_t>(largest) + 1);
        step = {"computing the leading " + std::to_string(wanted) + " eigenvectors",
                sparse ? std::to_string(wanted) + " vectors of " + std::to_string(kept) + " values: " +
                             byte_size(8.0 * static_cast<double>(wanted * kept)) + ", and the solver's workspace"
                       : "a working copy of the " + dense_matrices("one", kept, 1).substr(4)};
        if (given != nullptr) {
            e = std::move(*given);
            components = given_components;
        } else {
            e = leading_of(l.get(), wanted, options, result, components);
        }
        l.reset();
        result.eigenvalues = e.values;
        // Blocks of repeated eigenvalues get a basis that does not depend on the solver, so that
        // the searches start alike whichever solver ran.
        blocks = eigenvalue_blocks(e.values, settings);
        canonical_basis(e, blocks);
    }
    // A graph in more pieces than the groups tried cannot be told apart: said before the
    // searches, which cannot change it.
    if (options.fixed_groups < 2 && components > static_cast<std::size_t>(largest))
        throw input_error("the affinity graph falls apart into " + std::to_string(components) +
                              " components, more than the " + std::to_string(largest) + " groups tried",
                          {{"allow " + std::to_string(components) + " or more groups", "max_groups",
                            std::to_string(components)},
                           {"use a larger neighbour count", "neighbours", ""}});

    // Each search may take long: the caller may stop between them, and sees which one runs.
    const before_search_fn before_search = [&options](int groups, int done, int searches) {
        check_interrupt(options);
        if (options.report != nullptr)
            options.report->detail("c = " + std::to_string(groups) + ", " + std::to_string(done) + " of " +
                                   std::to_string(searches) + " searches done");
    };
    rotation_searches searches;
    check_interrupt(options);
    {
        stage_timer stage(options.report, "rotations", result.times.rotation);
        step = {"searching rotations for 2 to " + std::to_string(largest) + " groups",
                "eigenvectors of " + std::to_string(kept) + " rows"};
        searches = rotate_all(plugins, e, largest, options.numerical_search, blocks,
                              row_sample{rotation_sample_for(options, kept), 1}, before_search);
    }
    result.quality = std::move(searches.quality);
    result.searched_rows = searches.searched_rows;

    if (options.fixed_groups >= 2) {
        result.chosen = options.fixed_groups;
        if (!clear_cut(result.eigenvalues, static_cast<std::size_t>(result.chosen), settings))
            result.note = "eigenvalue " + std::to_string(result.chosen) + " is (nearly) repeated by the next one: " +
                          std::to_string(result.chosen) + " groups split points that the eigenvectors do not tell apart";
    } else {
        // The size of each count's smallest group, where the searches gave groups.
        std::vector<std::size_t> smallest(searches.groups.size(), 0);
        for (std::size_t k = 0; k < searches.groups.size(); ++k)
            smallest[k] = smallest_group(searches.groups[k], static_cast<int>(k + 2));
        group_count_settings with_size = settings;
        with_size.min_group_size = min_size;
        const group_count g = choose_groups(result.eigenvalues, result.quality, with_size, smallest);
        result.chosen = g.chosen;
        result.note = g.note;
        result.runner_up = g.runner_up;
        result.margin = g.margin;
        result.clear = g.clear;
        if (result.chosen == 0 && 1.0 - result.eigenvalues.back() <= settings.near_one) {
            std::ostringstream m;
            m << "all " << result.eigenvalues.size() << " leading eigenvalues lie within " << settings.near_one
              << " of 1: the graph is as good as apart in more pieces than the " << largest
              << " groups tried; allow more groups or use a larger neighbour count";
            throw input_error(m.str());
        }
        if (result.chosen == 0)
            throw std::runtime_error("no number of groups from 2 to " + std::to_string(largest) +
                                     " has eigenvalues that stand apart and a quality that is a number");
    }
    if (result.chosen == 1) {
        result.groups.assign(kept, 1);
    } else if (searches.searched_rows < kept) {
        // The searches ran on a sample and chose the count. The chained searches up to that count
        // then run again on every row, from the same start, so that the groups and the quality
        // are exactly those that searches on every row give for that count.
        check_interrupt(options);
        stage_timer stage(options.report, "rotations", result.times.rotation);
        rotation_searches full =
            rotate_all(plugins, e, result.chosen, options.numerical_search, blocks, {}, before_search);
        const std::size_t k = static_cast<std::size_t>(result.chosen - 2);
        result.quality[k] = full.quality[k];
        result.groups = std::move(full.groups[k]);
    } else {
        result.groups = std::move(searches.groups[static_cast<std::size_t>(result.chosen - 2)]);
    }
    result.groups = of_all_points(std::move(result.groups));
    if (options.fixed_groups < 2) drop_small_groups(result, min_size);
    result.stray = static_cast<std::size_t>(std::count(result.groups.begin(), result.groups.end(), 0));
    return result;
}

}  // namespace

cluster_result cluster_distances(toolbox& plugins, const square& distances, const cluster_options& options) {
    return cluster_distances(plugins, distances.values.data(), distances.n, options);
}

cluster_result cluster_distances(toolbox& plugins, const double* values, std::size_t n,
                                 const cluster_options& options) {
    check_options(options, n, false);
    check_interrupt(options);
    map_blas_buffer();
    chain_step step{"copying the distance matrix", dense_matrices("three", n, 3) + ", with room for the affinities"};
    return reporting_memory(step, [&] {
        mexhost::array_ptr d = host_matrix(n, values);
        prepare_affinity_outputs(n);
        return chain_from(plugins, std::move(d), options, cluster_result{}, step);
    });
}

namespace {

// The distance matrix of the points on the graph that the options give (the dense N-by-N one or
// the sparse nearest-neighbour one); `result` receives the graph's facts.
mexhost::array_ptr distances_of(const points& p, const cluster_options& options, cluster_result& result,
                                chain_step& step) {
    result.graph = graph_for(options, p.count);
    result.unit_contrast = spread_contrast_above(column_spreads(p), spread_warning_ratio);
    mexhost::array_ptr d;
    if (result.graph == graph_kind::knn) {
        stage_timer stage(options.report, "neighbours", result.times.distances);
        const detail::interrupt_scope interruptible(options.interrupt_check);
        neighbour_options search;
        search.backend = options.search;
        search.interrupt_check = options.interrupt_check;
        std::size_t m = graph_neighbours(options);
        const auto lists = [&] {
            return std::to_string(p.count) + " lists of " + std::to_string(m) + " neighbours: " +
                   byte_size(static_cast<double>(p.count * m) * (sizeof(double) + sizeof(std::uint32_t)));
        };
        step = {"finding the nearest neighbours of " + std::to_string(p.count) + " points", lists()};
        neighbour_search found = nearest_neighbours(p, m, search);
        if (options.graph_neighbours == 0) {
            // As many neighbours as hold nearly all of a point's affinity, within the budget.
            const std::size_t wanted = neighbours_for_share(p, found.lists, kernel_of(options),
                                                            graph_entry_budget / std::max<std::size_t>(p.count, 1));
            check_interrupt(options);
            if (wanted > m) {
                m = wanted;
                step.building = lists();
                found = nearest_neighbours(p, m, search);
            }
        }
        check_interrupt(options);
        // Symmetrised, the graph holds at most twice the entries of the lists.
        step = {"building the nearest-neighbour graph of " + std::to_string(p.count) + " points",
                "a sparse matrix of up to " + std::to_string(2 * p.count * m) + " entries: " +
                    byte_size(2.0 * static_cast<double>(p.count * m) * (8.0 + sizeof(mwIndex)))};
        neighbour_graph g = build_graph(p, std::move(found), search.threads);
        d = std::move(g.distances);
        result.graph_neighbours = m;
        result.graph_entries = g.stored;
        result.search = g.backend;
        result.exact_neighbours = g.exact;
        result.recall = g.recall;
    } else {
        // Overflowing squared distances would reach the affinities as infinities, and a point as
        // without affinity to any other: the cause is said instead.
        if (squared_distances_overflow(p))
            throw input_error("the points spread so far that their squared distances overflow");
        stage_timer stage(options.report, "distances", result.times.distances);
        step = {"computing the distances of " + std::to_string(p.count) + " points",
                dense_matrices("three", p.count, 3) + ", with room for the affinities"};
        d = mexhost::make_matrix_for_overwrite(static_cast<mwSize>(p.count), static_cast<mwSize>(p.count));
        prepare_affinity_outputs(p.count);
        squared_distances(p, mxGetPr(d.get()));
    }
    return d;
}

// The chain on the graph that the options give.
cluster_result cluster_on_graph(toolbox& plugins, const points& p, const cluster_options& options,
                                chain_step& step) {
    cluster_result result;
    mexhost::array_ptr d = distances_of(p, options, result, step);
    return chain_from(plugins, std::move(d), options, std::move(result), step);
}

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

// The automatic graph: the chain on each candidate graph of (a sample of) the points, the best
// score taken; on more points than the sample every other point joins the group of its nearest
// sampled point. Nothing when no candidate fits the points and options.
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
            results.push_back(cluster_on_graph(plugins, on, o, step));
            const cluster_result& last = results.back();
            tried.push_back({m, last.chosen,
                             options.fixed_groups >= 2 ? told_count_score(last.quality, options.fixed_groups)
                                                       : graph_choice_score(last.eigenvalues, last.chosen)});
        } catch (const mexhost::plugin_error&) {
            throw;
        } catch (const std::runtime_error&) {
            if (interrupted) throw;
            continue;
        }
    }
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
    r.candidates = std::move(tried);
    r.choice_points = on.count;
    r.times.choice = std::max(0.0, seconds_since(start) - r.times.total());
    return r;
}

}  // namespace

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

namespace {

// Runs `run(points, options, step)` on the points as the options give them: checked, standardised
// when asked (a copy: the caller's points stay as they are), with the BLAS buffer mapped and an
// allocation that fails named by its step.
template <typename Run>
auto on_points(const points& p, const cluster_options& options, Run run)
    -> decltype(run(p, options, std::declval<chain_step&>())) {
    check_options(options, p.count);
    if (options.standardise) {
        cluster_options rest = options;
        rest.standardise = false;
        return on_points(standardised(p), rest, run);
    }
    map_blas_buffer();
    chain_step step;
    return reporting_memory(step, [&] { return run(p, options, step); });
}

}  // namespace

cluster_result cluster_points(toolbox& plugins, const points& p, const cluster_options& options) {
    return on_points(p, options, [&plugins](const points& q, const cluster_options& o, chain_step& step) {
        if (o.graph == graph_kind::automatic && o.graph_neighbours == 0) {
            std::optional<cluster_result> r = chosen_graph(plugins, q, o, step);
            if (r) return std::move(*r);
        }
        return cluster_on_graph(plugins, q, o, step);
    });
}

mexhost::array_ptr normalised_affinity(toolbox& plugins, const points& p, const cluster_options& options) {
    return on_points(p, options, [&plugins](const points& q, const cluster_options& o, chain_step& step) {
        cluster_result result;
        mexhost::array_ptr d = distances_of(q, o, result, step);
        return normalised_from(plugins, std::move(d), o, result, step);
    });
}

cluster_result cluster_normalised(toolbox& plugins, mexhost::array_ptr l, const cluster_options& options,
                                  cluster_result facts) {
    map_blas_buffer();
    chain_step step;
    return reporting_memory(step, [&] { return chain_from(plugins, std::move(l), options, std::move(facts), step, true); });
}

cluster_result cluster_eigenpairs(toolbox& plugins, std::size_t n, eigenpairs e, std::size_t components,
                                  const cluster_options& options, cluster_result facts) {
    map_blas_buffer();
    chain_step step;
    return reporting_memory(step, [&] {
        // An n-by-n matrix without entries stands for the graph, which the rotations do not read.
        mexhost::array_ptr size_only = mexhost::make_sparse(static_cast<mwSize>(n), static_cast<mwSize>(n),
                                                            std::vector<mwIndex>(n + 1, 0), {}, {});
        return chain_from(plugins, std::move(size_only), options, std::move(facts), step, true, &e, components);
    });
}

sparse_view sparse_view_of(const mxArray* m) {
    static_assert(sizeof(mwIndex) == sizeof(std::int32_t), "the host's sparse indices are 32-bit");
    if (!mxIsSparse(m)) throw input_error("a sparse view of a dense matrix");
    return {mxGetM(m), mxGetJc(m), mxGetIr(m), mxGetPr(m)};
}

}  // namespace rotalign
