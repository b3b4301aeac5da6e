#include "rotalign/chain.h"

#include "rotalign/canonical_basis.h"
#include "rotalign/components.h"
#include "rotalign/normalise.h"
#include "rotalign/rotation.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <utility>

#include <unistd.h>

namespace rotalign {
namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

mexhost::array_ptr host_matrix(std::size_t rows, std::size_t columns, const double* values) {
    mexhost::array_ptr a = mexhost::make_matrix(static_cast<mwSize>(rows), static_cast<mwSize>(columns));
    if (rows * columns > 0) std::memcpy(mxGetPr(a.get()), values, rows * columns * sizeof(double));
    return a;
}

// The affinities of the distance matrix d (the plug-in's dense N-by-N output).
mexhost::array_ptr affinities(toolbox& plugins, const mxArray* d, const cluster_options& options) {
    if (options.affinity == affinity_kind::global) {
        mexhost::array_ptr scale = mexhost::make_scalar(options.scale);
        return std::move(plugins.get("pellor").call(1, {d, scale.get()}, trusted_inputs)[0]);
    }
    const char* name = options.affinity == affinity_kind::local ? "brenmoss" : "olvane";
    mexhost::array_ptr k = mexhost::make_scalar(options.neighbours);
    // The scaled distances come first and are dropped at once; the affinities are the second output.
    auto out = plugins.get(name).call(2, {d, k.get()}, trusted_inputs);
    return std::move(out[1]);
}

}  // namespace

group_count_settings settings_of(const cluster_options& options) {
    group_count_settings s;
    s.tolerance = options.tolerance;
    return s;
}

void check_options(const cluster_options& o, std::size_t points) {
    // At the peak the chain holds four N-by-N matrices of doubles (the distances, the plug-in's two
    // outputs and, for a distance file, the matrix as read). More than the machine's memory would
    // end in the kernel killing the program, without a message.
    const double needed = 4.0 * 8.0 * static_cast<double>(points) * static_cast<double>(points);
    const double memory = static_cast<double>(sysconf(_SC_PHYS_PAGES)) * static_cast<double>(sysconf(_SC_PAGESIZE));
    if (memory > 0.0 && needed > memory) {
        constexpr double gib = 1024.0 * 1024.0 * 1024.0;
        throw input_error(std::to_string(points) + " points need about " +
                          std::to_string(static_cast<long long>(std::ceil(needed / gib))) +
                          " GiB for the chain's N-by-N matrices; this machine has " +
                          std::to_string(static_cast<long long>(memory / gib)) + " GiB");
    }
    if (o.affinity == affinity_kind::global) {
        if (!(o.scale > 0.0) || !std::isfinite(o.scale))
            throw input_error("the global scale must be a positive number");
    } else {
        if (o.neighbours < 1) throw input_error("the neighbour count must be at least 1");
        // The local scale of a point is the distance to its K-th nearest other point.
        if (points < static_cast<std::size_t>(o.neighbours) + 1)
            throw input_error(std::to_string(points) + " points are too few for " + std::to_string(o.neighbours) +
                              " neighbours: at least " + std::to_string(o.neighbours + 1) + " are needed");
    }
    if (o.fixed_groups == 1 || o.fixed_groups < 0) throw input_error("the number of groups must be at least 2");
    const int largest = o.fixed_groups >= 2 ? o.fixed_groups : o.max_groups;
    if (largest < 2) throw input_error("the largest number of groups must be at least 2");
    if (static_cast<std::size_t>(largest) > points)
        throw input_error(std::to_string(points) + " points cannot form " + std::to_string(largest) + " groups");
    if (!(o.tolerance >= 0.0) || !std::isfinite(o.tolerance))
        throw input_error("the tolerance must be a non-negative number");
}

namespace {

// The chain from the distance matrix d (n-by-n host matrix, dropped as soon as it is used) on.
cluster_result chain_from(toolbox& plugins, mexhost::array_ptr d, const cluster_options& options) {
    const std::size_t n = mxGetM(d.get());
    const int largest = options.fixed_groups >= 2 ? options.fixed_groups : options.max_groups;
    const group_count_settings settings = settings_of(options);
    cluster_result result;

    auto start = clock_type::now();
    mexhost::array_ptr a = affinities(plugins, d.get(), options);
    d.reset();
    result.times.affinity = seconds_since(start);

    start = clock_type::now();
    mexhost::array_ptr l = std::move(plugins.get("nimbrel").call(1, {a.get()}, trusted_inputs)[0]);
    if (options.keep_affinity) result.affinity = std::move(a);
    a.reset();
    result.times.diagonal = seconds_since(start);

    // The cleared affinity is ours now; it becomes the normalised affinity in place.
    start = clock_type::now();
    normalise(mxGetPr(l.get()), n);
    result.times.normalise = seconds_since(start);

    // One eigenpair beyond the most groups searched: whether the leading c eigenvalues stand apart
    // from the next one decides whether c groups are admissible, also for the largest c.
    start = clock_type::now();
    const std::size_t wanted = std::min(n, static_cast<std::size_t>(largest) + 1);
    eigenpairs e = leading_eigenpairs(mxGetPr(l.get()), n, wanted, options.solver);
    // Every component of the graph brings an eigenvalue 1. When even the last one wanted is 1,
    // there are more components than groups searched, and the message says how many.
    std::size_t components = 0;
    if (wanted > static_cast<std::size_t>(largest) && 1.0 - e.values.back() <= settings.near_one)
        components = count_components(mxGetPr(l.get()), n, 1e-12 / static_cast<double>(n));
    l.reset();
    result.solver = e.used;
    result.eigenvalues = e.values;
    // Blocks of repeated eigenvalues get a basis that does not depend on the solver, so that the
    // searches start alike whichever solver ran.
    const std::vector<std::size_t> blocks = eigenvalue_blocks(e.values, settings);
    canonical_basis(e, blocks);
    result.times.eigen = seconds_since(start);

    start = clock_type::now();
    rotation_searches searches =
        rotate_all(plugins, e, largest, options.numerical_search, blocks, row_sample{options.rotation_sample, 1});
    result.quality = std::move(searches.quality);
    result.searched_rows = searches.searched_rows;
    result.times.rotation = seconds_since(start);

    if (options.fixed_groups >= 2) {
        result.chosen = options.fixed_groups;
        if (!clear_cut(result.eigenvalues, static_cast<std::size_t>(result.chosen), settings))
            result.note = "eigenvalue " + std::to_string(result.chosen) + " is (nearly) repeated by the next one: " +
                          std::to_string(result.chosen) + " groups split points that the eigenvectors do not tell apart";
    } else {
        if (components > static_cast<std::size_t>(largest))
            throw input_error("the affinity graph falls apart into " + std::to_string(components) +
                              " components, more than the " + std::to_string(largest) + " groups tried: allow " +
                              std::to_string(components) + " or more groups (--max-groups " +
                              std::to_string(components) + "), or use a larger neighbour count");
        const group_count g = choose_groups(result.eigenvalues, result.quality, settings);
        result.chosen = g.chosen;
        result.note = g.note;
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
    if (result.chosen == 1) result.groups.assign(n, 1);
    else result.groups = std::move(searches.groups[static_cast<std::size_t>(result.chosen - 2)]);
    return result;
}

}  // namespace

cluster_result cluster_distances(toolbox& plugins, const square& distances, const cluster_options& options) {
    return cluster_distances(plugins, distances.values.data(), distances.n, options);
}

cluster_result cluster_distances(toolbox& plugins, const double* values, std::size_t n,
                                 const cluster_options& options) {
    check_options(options, n);
    return chain_from(plugins, host_matrix(n, n, values), options);
}

cluster_result cluster_points(toolbox& plugins, const points& p, const cluster_options& options) {
    check_options(options, p.count);
    const auto start = clock_type::now();
    mexhost::array_ptr d = mexhost::make_matrix(static_cast<mwSize>(p.count), static_cast<mwSize>(p.count));
    squared_distances(p, mxGetPr(d.get()));
    const double seconds = seconds_since(start);
    cluster_result result = chain_from(plugins, std::move(d), options);
    result.times.distances = seconds;
    return result;
}

}  // namespace rotalign
