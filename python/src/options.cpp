#include "options.h"

#include "arrays.h"

#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace rotalign_python {
namespace {

using rotalign::cluster_options;
using rotalign::cluster_result;
using rotalign::option_description;
using rotalign::option_kind;

const option_description* described(const std::string& name) {
    for (const option_description& o : rotalign::chain_options())
        if (o.name == name) return &o;
    return nullptr;
}

// A Python value as the text that the table's reader takes: a str for a word, an integer (not a
// bool) for a whole number, an integer or a float for a real (written so that it reads back
// exactly), a bool for a flag.
std::string text_of(const option_description& o, py::handle value) {
    const bool is_bool = py::isinstance<py::bool_>(value);
    switch (o.kind) {
    case option_kind::word:
        if (py::isinstance<py::str>(value)) return value.cast<std::string>();
        break;
    case option_kind::whole:
        if (PyIndex_Check(value.ptr()) && !is_bool) return py::str(value.attr("__index__")());
        break;
    case option_kind::flag:
        if (is_bool) return value.cast<bool>() ? "true" : "false";
        break;
    case option_kind::real:
        if ((PyIndex_Check(value.ptr()) || PyFloat_Check(value.ptr())) && !is_bool) {
            char text[40];
            std::snprintf(text, sizeof text, "%.17g", value.cast<double>());
            return text;
        }
        break;
    }
    throw py::value_error("option '" + o.name + "' has the wrong type");
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
        {"runner_up", [](cluster_result& r) { return py::object(py::int_(r.runner_up)); }},
        {"margin", [](cluster_result& r) { return py::object(py::float_(r.margin)); }},
        {"clear", [](cluster_result& r) { return py::object(py::bool_(count_stands_clear(r))); }},
        {"min_group_size", [](cluster_result& r) { return py::object(py::int_(r.min_group_size)); }},
        {"stray", [](cluster_result& r) { return py::object(py::int_(r.stray)); }},
        {"candidates",
         [](cluster_result& r) {
             py::list l;
             for (const rotalign::graph_candidate& c : r.candidates)
                 l.append(py::make_tuple(c.neighbours, c.chosen, c.score, c.confirmed));
             return py::object(std::move(l));
         }},
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
             d["choice"] = t.choice;
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
        if (name == "keep_affinity") {
            o.keep_affinity = value.cast<bool>();
            continue;
        }
        const option_description* d = described(name);
        if (d == nullptr) throw py::value_error("unknown option '" + name + "'");
        if (value.is_none()) continue;
        rotalign::set_option(o, name, rotalign::read_option(*d, text_of(*d, value), rotalign::option_vocabulary::library));
    }
    return o;
}

py::list option_table() {
    static const char* const kinds[] = {"whole", "real", "word", "flag"};
    py::list table;
    for (const option_description& o : rotalign::chain_options()) {
        py::dict d;
        d["name"] = o.name;
        d["parameter"] = o.parameter;
        d["kind"] = kinds[static_cast<int>(o.kind)];
        d["least"] = o.least;
        d["most"] = o.most;
        d["least_excluded"] = o.least_excluded;
        py::list words;
        for (const rotalign::option_word& w : o.words) words.append(w.word);
        d["words"] = py::tuple(words);
        py::object default_value = py::none();
        if (!o.default_text.empty()) {
            if (o.kind == option_kind::word) default_value = py::str(o.default_text);
            else if (o.kind == option_kind::flag) default_value = py::bool_(o.default_text == "true");
            else if (o.kind == option_kind::whole) default_value = py::int_(std::stoll(o.default_text));
            else default_value = py::float_(std::stod(o.default_text));
        }
        d["default"] = default_value;
        d["help"] = o.help;
        table.append(d);
    }
    return table;
}

std::string spelled(const rotalign::remedy& r) {
    const option_description* d = described(r.option);
    if (d == nullptr || r.value.empty()) return "";
    return d->parameter + "=" + (d->kind == option_kind::word ? "'" + r.value + "'" : r.value);
}

py::dict result_to_dict(cluster_result result) {
    py::dict d;
    for (const auto& [name, get] : getters()) d[name] = get(result);
    return d;
}

}  // namespace rotalign_python
