// The chain's options: their table's names set on the struct, the settings the stages take from
// them, and the checks that turn options the points cannot carry into a clear message before any
// work.
#include "rotalign/chain.h"

#include "chain_parts.h"
#include "rotalign/graph/graph.h"
#include "rotalign/support/memory.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>
#include <string>
#include <vector>

namespace rotalign {

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

std::size_t neighbours_per_point(const cluster_options& o) {
    return o.graph_neighbours > 0 ? o.graph_neighbours
                                  : graph_neighbours(static_cast<std::size_t>(std::max(o.neighbours, 1)));
}

namespace {

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
        const std::size_t m = neighbours_per_point(o);
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

}  // namespace rotalign
