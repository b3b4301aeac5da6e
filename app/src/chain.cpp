#include "rotalign/chain.h"

#include "rotalign/normalise.h"
#include "rotalign/rotation.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <utility>

#include <unistd.h>

namespace rotalign {
namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
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
    out[0].reset();
    return std::move(out[1]);
}

}  // namespace

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

// The storage of the affinity plug-in's two outputs, prepared while the caller fills the
// distance matrix: their pages are faulted in beside that work instead of in the plug-in. The
// distance matrix itself is made without clearing, since the chain writes all of it.
void prepare_affinity_outputs(std::size_t n) { mexhost::prepare_memory(n * n * sizeof(double), 2); }

// The chain from the distance matrix d (n-by-n host matrix) on. Every N-by-N matrix is dropped
// as soon as the next step has it, so that the host hands its block to the next one: at most
// three are in use at once (the distances and the plug-in's two outputs), and the cleared
// diagonal takes the block of the scaled distances.
cluster_result chain_from(toolbox& plugins, mexhost::array_ptr d, const cluster_options& options) {
    const std::size_t n = mxGetM(d.get());
    const int largest = options.fixed_groups >= 2 ? options.fixed_groups : options.max_groups;
    cluster_result result;

    auto start = clock_type::now();
    mexhost::array_ptr a = affinities(plugins, d.get(), options);
    d.reset();
    result.times.affinity = seconds_since(start);

    start = clock_type::now();
    mexhost::array_ptr l = std::move(plugins.get("nimbrel").call(1, {a.get()}, trusted_inputs)[0]);
    a.reset();
    result.times.diagonal = seconds_since(start);

    // The cleared affinity is ours now; it becomes the normalised affinity in place.
    start = clock_type::now();
    normalise(mxGetPr(l.get()), n);
    result.times.normalise = seconds_since(start);

    start = clock_type::now();
    const eigenpairs e = leading_eigenpairs(mxGetPr(l.get()), n, static_cast<std::size_t>(largest), options.solver);
    l.reset();
    result.solver = e.used;
    result.times.eigen = seconds_since(start);

    start = clock_type::now();
    rotation_searches searches = rotate_all(plugins, e, largest, options.numerical_search);
    result.quality = std::move(searches.quality);
    result.times.rotation = seconds_since(start);

    result.chosen = options.fixed_groups >= 2 ? options.fixed_groups : choose_groups(result.quality, options.tolerance);
    if (result.chosen == 0) throw std::runtime_error("no rotation search reached a quality that is a number");
    result.groups = std::move(searches.groups[static_cast<std::size_t>(result.chosen - 2)]);
    return result;
}

}  // namespace

cluster_result cluster_distances(toolbox& plugins, const square& distances, const cluster_options& options) {
    check_options(options, distances.n);
    mexhost::array_ptr d = mexhost::make_matrix_for_overwrite(static_cast<mwSize>(distances.n),
                                                              static_cast<mwSize>(distances.n));
    prepare_affinity_outputs(distances.n);
    if (!distances.values.empty())
        std::memcpy(mxGetPr(d.get()), distances.values.data(), distances.values.size() * sizeof(double));
    return chain_from(plugins, std::move(d), options);
}

cluster_result cluster_points(toolbox& plugins, const points& p, const cluster_options& options) {
    check_options(options, p.count);
    const auto start = clock_type::now();
    mexhost::array_ptr d =
        mexhost::make_matrix_for_overwrite(static_cast<mwSize>(p.count), static_cast<mwSize>(p.count));
    prepare_affinity_outputs(p.count);
    squared_distances(p, mxGetPr(d.get()));
    const double seconds = seconds_since(start);
    cluster_result result = chain_from(plugins, std::move(d), options);
    result.times.distances = seconds;
    return result;
}

}  // namespace rotalign
