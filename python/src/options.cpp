#include "options.h"

#include "arrays.h"

#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace rotalign_python {
namespace {

using rotalign::cluster_options;
using rotalign::cluster_result;

// The value of a string option among `choices`, or ValueError naming them.
template <typename T>
T choice(const std::string& key, py::handle value, const std::vector<std::pair<const char*, T>>& choices) {
    const std::string given = py::str(value);
    std::string names;
    for (const auto& [name, result] : choices) {
        if (given == name) return result;
        names += (names.empty() ? "'" : ", '") + std::string(name) + "'";
    }
    throw py::value_error(key + " must be one of " + names + ", not '" + given + "'");
}

using setter = std::function<void(cluster_options&, py::handle)>;

const std::map<std::string, setter>& setters() {
    using rotalign::affinity_kind;
    using rotalign::eigen_solver;
    static const std::map<std::string, setter> table = {
        {"affinity",
         [](cluster_options& o, py::handle v) {
             o.affinity = choice<affinity_kind>(
                 "affinity", v,
                 {{"local", affinity_kind::local}, {"mean", affinity_kind::local_mean}, {"global", affinity_kind::global}});
         }},
        {"neighbours", [](cluster_options& o, py::handle v) { o.neighbours = v.cast<int>(); }},
        {"scale", [](cluster_options& o, py::handle v) { o.scale = v.cast<double>(); }},
        {"max_groups", [](cluster_options& o, py::handle v) { o.max_groups = v.cast<int>(); }},
        {"fixed_groups", [](cluster_options& o, py::handle v) { o.fixed_groups = v.cast<int>(); }},
        {"tolerance", [](cluster_options& o, py::handle v) { o.tolerance = v.cast<double>(); }},
        {"search",
         [](cluster_options& o, py::handle v) {
             o.numerical_search = choice<bool>("search", v, {{"gradient", false}, {"numerical", true}});
         }},
        {"solver",
         [](cluster_options& o, py::handle v) {
             o.solver = choice<eigen_solver>(
                 "solver", v,
                 {{"auto", eigen_solver::automatic}, {"lanczos", eigen_solver::lanczos}, {"dense", eigen_solver::dense}});
         }},
        {"graph",
         [](cluster_options& o, py::handle v) {
             using rotalign::graph_kind;
             o.graph = choice<graph_kind>("graph", v,
                                          {{"auto", graph_kind::automatic}, {"dense", graph_kind::dense},
                                           {"knn", graph_kind::knn}});
         }},
        {"graph_neighbours", [](cluster_options& o, py::handle v) { o.graph_neighbours = v.cast<std::size_t>(); }},
        {"neighbour_search",
         [](cluster_options& o, py::handle v) {
             using rotalign::neighbour_backend;
             o.search = choice<neighbour_backend>("neighbor_search", v,
                                                  {{"auto", neighbour_backend::automatic},
                                                   {"kd-tree", neighbour_backend::kd_tree},
                                                   {"blas", neighbour_backend::blas},
                                                   {"faiss", neighbour_backend::faiss},
                                                   {"hnsw", neighbour_backend::hnsw}});
         }},
        {"rotation_sample",
         [](cluster_options& o, py::handle v) {
             o.rotation_sample = v.is_none() ? rotalign::automatic_rotation_sample : v.cast<std::size_t>();
         }},
        {"keep_affinity", [](cluster_options& o, py::handle v) { o.keep_affinity = v.cast<bool>(); }},
        {"standardise", [](cluster_options& o, py::handle v) { o.standardise = v.cast<bool>(); }},
    };
    return table;
}

py::array_t<double> values_of(const std::vector<double>& v) {
    return py::array_t<double>(static_cast<py::ssize_t>(v.size()), v.data());
}

using getter = std::function<py::object(cluster_result&)>;

const std::vector<std::pair<const char*, getter>>& getters() {
    static const std::vector<std::pair<const char*, getter>> table = {
        {"groups",
         [](cluster_result& r) {
             return py::array_t<int>(static_cast<py::ssize_t>(r.groups.size()), r.groups.data());
         }},
        {"chosen", [](cluster_result& r) { return py::int_(r.chosen); }},
        {"note", [](cluster_result& r) { return py::object(py::str(r.note)); }},
        {"quality", [](cluster_result& r) { return values_of(r.quality); }},
        {"eigenvalues", [](cluster_result& r) { return values_of(r.eigenvalues); }},
        {"solver", [](cluster_result& r) { return py::object(py::str(r.eigen_method)); }},
        {"graph", [](cluster_result& r) { return py::object(py::str(rotalign::name_of(r.graph))); }},
        {"graph_neighbours", [](cluster_result& r) { return py::object(py::int_(r.graph_neighbours)); }},
        {"recall", [](cluster_result& r) { return py::object(py::float_(r.recall)); }},
        {"times",
         [](cluster_result& r) {
             const rotalign::stage_times& t = r.times;
             py::dict d;
             d["distances"] = t.distances, d["affinity"] = t.affinity, d["diagonal"] = t.diagonal;
             d["normalise"] = t.normalise, d["eigen"] = t.eigen, d["rotation"] = t.rotation;
             return py::object(std::move(d));
         }},
        {"unit_contrast",
         [](cluster_result& r) {
             if (!r.unit_contrast) return py::object(py::none());
             const rotalign::spread_contrast& c = *r.unit_contrast;
             py::dict d;
             d["widest"] = c.widest, d["narrowest"] = c.narrowest;
             d["widest_spread"] = c.widest_spread, d["narrowest_spread"] = c.narrowest_spread;
             return py::object(std::move(d));
         }},
        {"affinity",
         [](cluster_result& r) { return r.affinity ? from_host(std::move(r.affinity)) : py::object(py::none()); }},
    };
    return table;
}

}  // namespace

cluster_options options_from(const py::dict& given) {
    cluster_options o;
    for (const auto& [key, value] : given) {
        const std::string name = py::str(key);
        const auto it = setters().find(name);
        if (it == setters().end()) throw py::value_error("unknown option '" + name + "'");
        try {
            it->second(o, value);
        } catch (const py::cast_error&) {
            throw py::value_error("option '" + name + "' has the wrong type");
        }
    }
    return o;
}

py::dict result_to_dict(cluster_result result) {
    py::dict d;
    for (const auto& [name, get] : getters()) d[name] = get(result);
    return d;
}

}  // namespace rotalign_python
