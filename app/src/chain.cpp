#include "rotalign/chain.h"

#include <chrono>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <utility>

#include <unistd.h>

namespace rotalign {
namespace {

using clock_type = std::chrono::steady_clock;

double seconds_since(clock_type::time_point start) {
    return std::chrono::duration<double>(clock_type::now() - start).count();
}

// The inputs handed to the plug-ins are made here and dropped after the call, so the host's
// fingerprint of every input before and after a call (two passes over N*N values) buys nothing.
const mexhost::call_options trusted_inputs{false};

mexhost::array_ptr host_matrix(std::size_t rows, std::size_t columns, const double* values) {
    mexhost::array_ptr a = mexhost::make_matrix(static_cast<mwSize>(rows), static_cast<mwSize>(columns));
    if (rows * columns > 0) std::memcpy(mxGetPr(a.get()), values, rows * columns * sizeof(double));
    return a;
}

std::runtime_error unexpected(const std::string& plugin, const std::string& what) {
    return std::runtime_error("unexpected result from " + plugin + ": " + what);
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

// Turns the affinity A (n-by-n by columns, diagonal cleared) in place into D^(-1/2) A D^(-1/2),
// D the degrees (column sums). Entry (i, j) becomes A(i, j) * (s_i * s_j): the product of the two
// scale factors is formed first, so that a symmetric A stays exactly symmetric.
void normalise(double* a, std::size_t n) {
    std::vector<double> factor(n);
    for (std::size_t j = 0; j < n; ++j) {
        double degree = 0.0;
        for (std::size_t i = 0; i < n; ++i) degree += a[i + j * n];
        if (!(degree > 0.0) || !std::isfinite(degree))
            throw input_error("point " + std::to_string(j + 1) +
                              " has no affinity to any other point (try a larger scale or neighbour count)");
        factor[j] = 1.0 / std::sqrt(degree);
    }
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = 0; i < n; ++i) a[i + j * n] *= factor[i] * factor[j];
}

// The groups of tarvik's cell (element g lists the 1-based rows of group g + 1) as one group
// number per row; rows that no element lists keep 0.
std::vector<int> groups_of(const mxArray* cell, std::size_t n, int c) {
    if (!mxIsCell(cell) || mxGetNumberOfElements(cell) != static_cast<std::size_t>(c))
        throw unexpected("tarvik", "the groups are not a cell of one element per group");
    std::vector<int> groups(n, 0);
    for (int g = 0; g < c; ++g) {
        const mxArray* members = mxGetCell(cell, g);
        if (members == nullptr || !mxIsDouble(members) || mxIsSparse(members))
            throw unexpected("tarvik", "a group is not a list of rows");
        const double* rows = mxGetPr(members);
        for (std::size_t k = 0; k < mxGetNumberOfElements(members); ++k) {
            const double row = rows[k];
            if (!(row >= 1.0 && row <= static_cast<double>(n)) || row != std::floor(row))
                throw unexpected("tarvik", "a group lists a row that does not exist");
            groups[static_cast<std::size_t>(row) - 1] = g + 1;
        }
    }
    return groups;
}

// Rotation searches for c = 2 .. largest: the first on the two leading eigenvectors, each later
// one on the previous search's rotated matrix with the next eigenvector beside it.
void rotate_all(toolbox& plugins, const eigenpairs& e, int largest, bool numerical, cluster_result& result,
                std::vector<std::vector<int>>& groups) {
    const std::size_t n = e.n;
    mexhost::array_ptr method = mexhost::make_scalar(numerical ? 2.0 : 1.0);
    mexhost::array_ptr x = host_matrix(n, 2, e.vectors.data());
    for (int c = 2; c <= largest; ++c) {
        auto out = plugins.get("tarvik").call(3, {x.get(), method.get()}, trusted_inputs);
        const mxArray* quality = out[1].get();
        const mxArray* rotated = out[2].get();
        if (!mxIsDouble(quality) || mxGetNumberOfElements(quality) != 1)
            throw unexpected("tarvik", "the quality is not a scalar");
        if (!mxIsDouble(rotated) || mxIsSparse(rotated) || mxGetM(rotated) != n ||
            mxGetN(rotated) != static_cast<std::size_t>(c))
            throw unexpected("tarvik", "the rotated matrix does not have the input's shape");
        result.quality.push_back(mxGetScalar(quality));
        groups.push_back(groups_of(out[0].get(), n, c));
        if (c == largest) break;
        // Next input: the rotated matrix and eigenvector c + 1 beside it.
        x = mexhost::make_matrix(static_cast<mwSize>(n), static_cast<mwSize>(c + 1));
        double* next = mxGetPr(x.get());
        std::memcpy(next, mxGetPr(rotated), n * static_cast<std::size_t>(c) * sizeof(double));
        std::memcpy(next + n * static_cast<std::size_t>(c), e.column(static_cast<std::size_t>(c)),
                    n * sizeof(double));
    }
}

}  // namespace

toolbox::toolbox(std::string folder) : folder_(std::move(folder)) {}

mexhost::plugin& toolbox::get(const std::string& name) {
    auto it = opened_.find(name);
    if (it != opened_.end()) return it->second;
    const std::string path = (std::filesystem::path(folder_) / mexhost::plugin_file_name(name)).string();
    if (!std::filesystem::exists(path))
        throw input_error("plug-in " + name + " not found: no " + path +
                          " (point --plugins or ROTALIGN_PLUGINS to the folder of the built plug-ins)");
    try {
        return opened_.emplace(name, mexhost::plugin(path)).first->second;
    } catch (const mexhost::load_error& e) {
        throw input_error(e.what());
    }
}

std::string plugin_folder(const std::string& flag, const std::string& environment,
                          const std::string& executable_folder) {
    if (!flag.empty()) return flag;
    if (!environment.empty()) return environment;
    const std::filesystem::path here(executable_folder);
    for (const std::filesystem::path& candidate : {here, here / "mex"})
        if (std::filesystem::exists(candidate / mexhost::plugin_file_name("tarvik"))) return candidate.string();
    return here.string();
}

int choose_groups(const std::vector<double>& quality, double tolerance) {
    double best = 0.0;
    bool any = false;
    for (double q : quality)
        if (!std::isnan(q) && (!any || q > best)) best = q, any = true;
    if (!any) return 0;
    int chosen = 0;
    for (std::size_t k = 0; k < quality.size(); ++k)
        if (quality[k] >= best - tolerance) chosen = static_cast<int>(k) + 2;
    return chosen;
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
    std::vector<std::vector<int>> groups;
    rotate_all(plugins, e, largest, options.numerical_search, result, groups);
    result.times.rotation = seconds_since(start);

    result.chosen = options.fixed_groups >= 2 ? options.fixed_groups : choose_groups(result.quality, options.tolerance);
    if (result.chosen == 0) throw std::runtime_error("no rotation search reached a quality that is a number");
    result.groups = std::move(groups[static_cast<std::size_t>(result.chosen - 2)]);
    return result;
}

}  // namespace

cluster_result cluster_distances(toolbox& plugins, const square& distances, const cluster_options& options) {
    check_options(options, distances.n);
    return chain_from(plugins, host_matrix(distances.n, distances.n, distances.values.data()), options);
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
