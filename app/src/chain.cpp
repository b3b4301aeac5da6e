#include "rotalign/chain.h"
#include "rotalign/chain_normalised.h"

#include "chain_parts.h"

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
#include "rotalign/graph/repeated_places.h"
#include "rotalign/graph/small_pieces.h"
#include "rotalign/groups/rotation.h"
#include "rotalign/groups/valleys.h"
#include "rotalign/input/standardise.h"
#include "rotalign/support/memory.h"

#include <algorithm>
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

// The points of places cut off by their zero scale take the group of the point they join (see
// repeated_places.h), and the note says how many.
void join_cut_off_places(cluster_result& result, const std::vector<std::size_t>& joins, int neighbours) {
    std::size_t joined = 0;
    for (std::size_t i = 0; i < joins.size(); ++i)
        if (joins[i] != no_point) {
            result.groups[i] = result.groups[joins[i]];
            ++joined;
        }
    result.note += std::string(result.note.empty() ? "" : "; ") + std::to_string(joined) +
                   (joined == 1 ? " point" : " points") + " on places of more than " + std::to_string(neighbours) +
                   " points, whose local scale of 0 cut them off from the graph, joined the groups of their "
                   "nearest other points";
}

// The normalised affinity of the distance matrix d (n-by-n host matrix, dense or sparse). Both
// graphs take the same steps: the plug-ins keep a sparse input's pattern. Every matrix is dropped
// as soon as the next step has it, so that the host hands its block to the next one: on the
// dense graph at most three N-by-N matrices are in use at once (the distances and the plug-in's
// two outputs), and the cleared diagonal takes the block of the scaled distances.
// With `places`, the places that a local scale of 0 cuts off (repeated_places.h) are found there
// too, from the same local scales, while the distances are at hand.
mexhost::array_ptr normalised_from(toolbox& plugins, mexhost::array_ptr d, const cluster_options& options,
                                   cluster_result& result, chain_step& step, repeated_places* places = nullptr) {
    const std::size_t n = mxGetM(d.get());
    mexhost::array_ptr a, l;
    check_interrupt(options);
    {
        stage_timer stage(options.report, "affinities", result.times.affinity);
        step = {"computing the affinities of " + std::to_string(n) + " points", plugin_outputs(d.get(), "two", 2)};
        const bool floor = floor_applies(options, d.get());
        // Only a local scale can vanish.
        const bool repeats = places != nullptr && options.affinity != affinity_kind::global;
        if (floor || repeats) {
            std::vector<double> sigma =
                local_scales(d.get(), static_cast<std::size_t>(std::max(options.neighbours, 0)));
            if (repeats) *places = find_repeated_places(d.get(), sigma);
            if (floor) {
                const local_scale_summary scales = summarise_local_scales(std::move(sigma));
                result.scales_at_floor = scales.below_floor;
                result.median_local_scale = scales.median;
            }
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
// With `valleys` (the graph's probe), a larger strong cut whose boundaries run through density
// valleys is taken over the rule's count.
cluster_result chain_from(toolbox& plugins, mexhost::array_ptr d, const cluster_options& options,
                          cluster_result result, chain_step& step, bool normalised = false,
                          eigenpairs* given = nullptr, std::size_t given_components = 0,
                          const neighbour_probe* valleys = nullptr) {
    const std::size_t n = mxGetM(d.get());
    const bool sparse = mxIsSparse(d.get());
    const int largest = options.fixed_groups >= 2 ? options.fixed_groups : options.max_groups;
    const group_count_settings settings = settings_of(options);
    // Places whose copies outnumber the local scales' neighbours.
    repeated_places places;
    mexhost::array_ptr l =
        normalised ? std::move(d)
                   : normalised_from(plugins, std::move(d), options, result, step, given == nullptr ? &places : nullptr);

    // Pieces of the graph too small to be a group, and places that only their zero scale cut off,
    // are set aside (in no group), so that they take no count; unless too few points would be
    // left for the groups tried. The places join their neighbours' groups at the end.
    const std::size_t min_size = options.min_group_size > 0 ? options.min_group_size : default_min_group_size(n);
    result.min_group_size = min_size;
    std::vector<char> left_out = given != nullptr ? std::vector<char>{} : points_in_small_pieces(l.get(), min_size);
    std::vector<std::size_t> joins = joins_of_cut_off_places(l.get(), places);
    if (!joins.empty()) {
        left_out.resize(n, 0);
        for (std::size_t i = 0; i < n; ++i)
            if (joins[i] != no_point) left_out[i] = 1;
    }
    if (!left_out.empty()) {
        const std::size_t out = static_cast<std::size_t>(std::count(left_out.begin(), left_out.end(), 1));
        if (n - out >= std::max(static_cast<std::size_t>(largest) + 1, min_size)) {
            l = without_points(l.get(), left_out);
        } else {
            left_out.clear();
            joins.clear();
        }
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
        throw too_many_pieces(components, largest);

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
        // The size of each count's smallest group (unknown where no search gave groups; 0 where a
        // search left one empty, which is below any smallest size).
        std::vector<std::size_t> smallest(searches.groups.size());
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
        if (valleys != nullptr && g.chosen >= 2 && searches.searched_rows == kept) {
            const valley_count v = look_across_valleys(
                result.eigenvalues, result.quality, with_size, smallest, g.chosen, *valleys,
                [&](int c) {
                    const std::vector<int>& groups = searches.groups[static_cast<std::size_t>(c - 2)];
                    return groups.empty() ? groups : of_all_points(groups);  // empty: not searched
                });
            if (v.chosen != g.chosen) {
                auto quality_of = [&result](int c) { return result.quality[static_cast<std::size_t>(c - 2)]; };
                result.chosen = v.chosen;
                result.note = v.note;
                result.runner_up = g.chosen;
                result.margin = quality_of(v.chosen) - quality_of(g.chosen);
                result.clear = true;
            }
        }
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
    result.at_largest_tried = options.fixed_groups < 2 && result.chosen == largest;
    result.groups = of_all_points(std::move(result.groups));
    if (options.fixed_groups < 2) drop_small_groups(result, min_size);
    if (!joins.empty()) join_cut_off_places(result, joins, options.neighbours);
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
        std::size_t m = neighbours_per_point(options);
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

}  // namespace

cluster_result cluster_on_graph(toolbox& plugins, const points& p, const cluster_options& options,
                                chain_step& step, bool across_valleys) {
    cluster_result result;
    mexhost::array_ptr d = distances_of(p, options, result, step);
    std::optional<neighbour_probe> probe;
    if (across_valleys && mxIsSparse(d.get()))
        probe.emplace(d.get(),
                      options.neighbours > 0 ? static_cast<std::size_t>(options.neighbours)
                                             : static_cast<std::size_t>(option_defaults::neighbours),
                      result.graph_neighbours);
    return chain_from(plugins, std::move(d), options, std::move(result), step, false, nullptr, 0,
                      probe ? &*probe : nullptr);
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

cluster_result cluster_distance_graph(toolbox& plugins, mexhost::array_ptr d, const cluster_options& options,
                                      cluster_result facts) {
    map_blas_buffer();
    chain_step step;
    return reporting_memory(step, [&] { return chain_from(plugins, std::move(d), options, std::move(facts), step); });
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
