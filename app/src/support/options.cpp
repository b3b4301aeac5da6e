#include "rotalign/support/options.h"

#include "rotalign/support/errors.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <limits>
#include <stdexcept>

namespace rotalign {
namespace {

// A whole number as text: 7, not 7.0.
std::string whole_text(double v) { return std::to_string(static_cast<long long>(v)); }

// A real number as text in its shortest usual form: 0.001.
std::string real_text(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.15g", v);
    return text;
}

// What every kind of option has: its names, noun, kind, default and help.
option_description described(std::string name, std::string flag, std::string parameter, std::string noun,
                             option_kind kind, std::string default_text, std::string help) {
    option_description o;
    o.name = std::move(name);
    o.flag = std::move(flag);
    o.parameter = std::move(parameter);
    o.noun = std::move(noun);
    o.kind = kind;
    o.default_text = std::move(default_text);
    o.help = std::move(help);
    return o;
}

option_description whole(std::string name, std::string flag, std::string parameter, std::string noun, double least,
                         std::string default_text, std::string help) {
    option_description o = described(std::move(name), std::move(flag), std::move(parameter), std::move(noun),
                                     option_kind::whole, std::move(default_text), std::move(help));
    o.least = least;
    o.most = largest_whole;
    return o;
}

option_description real(const std::string& name, std::string noun, bool positive, std::string default_text,
                        std::string help) {
    option_description o =
        described(name, name, name, std::move(noun), option_kind::real, std::move(default_text), std::move(help));
    o.least = 0.0;
    o.most = std::numeric_limits<double>::max();
    o.least_excluded = positive;
    return o;
}

option_description word(std::string name, std::string flag, std::string parameter, std::string noun,
                        std::vector<option_word> words, std::string help) {
    std::string first = words.front().word;
    option_description o = described(std::move(name), std::move(flag), std::move(parameter), std::move(noun),
                                     option_kind::word, std::move(first), std::move(help));
    o.words = std::move(words);
    return o;
}

option_description flag(const std::string& name, std::string noun, std::string help) {
    option_description o = described(name, name, name, std::move(noun), option_kind::flag, "false", std::move(help));
    o.most = 1.0;
    return o;
}

std::vector<option_description> make_table() {
    std::string candidates;
    const std::size_t count = std::size(graph_choice_neighbours);
    for (std::size_t k = 0; k < count; ++k)
        candidates += std::string(k == 0 ? "" : k + 1 == count ? " or " : ", ") +
                      std::to_string(graph_choice_neighbours[k]);
    return {
        word("affinity", "affinity", "affinity", "the affinity",
             {{"local", "brenmoss"}, {"mean", "olvane"}, {"global", "pellor"}},
             "distances to affinities: local scales sqrt(s_i s_j) (brenmoss), their mean (olvane), or one global "
             "scale (pellor, which needs the scale)"),
        whole("neighbours", "neighbours", "n_neighbors", "the neighbour count", 1,
              whole_text(option_defaults::neighbours),
              "neighbour count of the local scales: a point's scale is its distance to this nearest other point"),
        real("scale", "the global scale", true, "", "global scale of pellor (required by it, used by it only)"),
        whole("max_groups", "max-groups", "max_groups", "the largest number of groups", 2,
              whole_text(option_defaults::max_groups), "try every number of groups from 2 to this one"),
        whole("fixed_groups", "groups", "n_groups", "the number of groups", 2, "",
              "take this number of groups instead of choosing (the searches from 2 on still run)"),
        real("tolerance", "the tolerance", false, real_text(option_defaults::tolerance),
             "of the group-count rule: qualities within it of the best count as equal"),
        word("search", "search", "search", "the rotation search", {{"gradient", nullptr}, {"numerical", nullptr}},
             "rotation search: along the gradient, or by fixed numerical steps"),
        word("graph", "graph", "graph", "the graph", {{"auto", nullptr}, {"dense", nullptr}, {"knn", nullptr}},
             "distances between every pair (dense) or each point's nearest neighbours (knn, a sparse graph); "
             "auto: on points the knn graph whose neighbour count (" + candidates +
                 ") sets the chosen count farthest apart, chosen with the count on " +
                 std::to_string(graph_choice_sample) +
                 " points drawn at random when there are more, whose groups the other points join (each its "
                 "nearest); on distances dense"),
        whole("graph_neighbours", "graph-neighbours", "graph_neighbors", "the neighbours per point of the graph", 1,
              "",
              "nearest neighbours per point of the knn graph (default: as many as hold nearly all of a point's "
              "affinity, from twice the neighbour count, within a budget of entries)"),
        word("neighbour_search", "neighbour-search", "neighbor_search", "the neighbour search",
             {{"auto", nullptr}, {"kd-tree", nullptr}, {"blas", nullptr}, {"faiss", nullptr}, {"hnsw", nullptr}},
             "how the knn graph finds the neighbours: kd-tree, blas, faiss (all exact), or hnsw (approximate; its "
             "measured recall is shown)"),
        word("solver", "solver", "eigen_solver", "the eigen-solver",
             {{"auto", nullptr}, {"lanczos", nullptr}, {"dense", nullptr}}, "eigen-solver"),
        whole("rotation_sample", "rotation-sample", "rotation_sample", "the rotation sample", 0, "",
              "choose the number of groups by rotation searches on this many rows drawn at random, then search "
              "again on every row for that number only; 0: every row (default: " +
                  std::to_string(rotation_sample_rows) + " rows from " + std::to_string(rotation_sample_from) +
                  " points on)"),
        whole("min_group_size", "min-group-size", "min_group_size", "the smallest group size", 1, "",
              "points in pieces of the graph or in groups of fewer than this many points are in no group (0 in "
              "the output, -1 in Python), and such groups take no count; 1: any size (default: 1% of the "
              "points, at least 2)"),
        flag("standardise", "standardising",
             "shift every column to zero mean and divide it by its spread before the distances, for columns in "
             "different units (a column of zero spread is only shifted); points only"),
    };
}

const char* spelling(const option_word& w, option_vocabulary vocabulary) {
    return vocabulary == option_vocabulary::program && w.program_word != nullptr ? w.program_word : w.word;
}

}  // namespace

const std::vector<option_description>& chain_options() {
    static const std::vector<option_description> table = make_table();
    return table;
}

const option_description& option_named(const std::string& name) {
    for (const option_description& o : chain_options())
        if (o.name == name) return o;
    throw std::out_of_range("no option named " + name);
}

std::string word_of(const option_description& option, std::size_t index, option_vocabulary vocabulary) {
    return spelling(option.words.at(index), vocabulary);
}

std::string spelled_in(const option_description& option, const std::string& word, option_vocabulary vocabulary) {
    for (const option_word& w : option.words)
        if (word == w.word) return spelling(w, vocabulary);
    return word;
}

bool in_range(const option_description& option, double value) {
    if (!std::isfinite(value)) return false;
    const bool above = option.least_excluded ? value > option.least : value >= option.least;
    return above && value <= option.most;
}

std::string value_text(const option_description& option, double value) {
    return option.kind == option_kind::whole ? whole_text(value) : real_text(value);
}

std::string requirement(const option_description& option, option_vocabulary vocabulary) {
    switch (option.kind) {
    case option_kind::whole:
        if (option.most < largest_whole) return "from " + whole_text(option.least) + " to " + whole_text(option.most);
        return "at least " + whole_text(option.least);
    case option_kind::real:
        return option.least_excluded ? "a positive number" : "a non-negative number";
    case option_kind::flag:
        return "true or false";
    case option_kind::word: {
        std::string list;
        for (std::size_t k = 0; k < option.words.size(); ++k)
            list += std::string(k == 0 ? "" : k + 1 == option.words.size() ? " or " : ", ") +
                    spelling(option.words[k], vocabulary);
        return "one of " + list;
    }
    }
    return "";
}

option_value read_option(const option_description& option, const std::string& text, option_vocabulary vocabulary) {
    std::string needed = requirement(option, vocabulary);
    if (option.kind == option_kind::whole) needed = std::string("a whole number ") + (option.most < largest_whole ? "" : "of ") + needed;
    const auto refuse = [&] {
        return option_error(option.name, text, needed, option.noun + " must be " + needed + ", not '" + text + "'");
    };
    option_value v;
    switch (option.kind) {
    case option_kind::whole: {
        char* end = nullptr;
        errno = 0;
        const long long n = std::strtoll(text.c_str(), &end, 10);
        if (text.empty() || *end != '\0' || errno == ERANGE) throw refuse();
        v.number = static_cast<double>(n);
        break;
    }
    case option_kind::real: {
        char* end = nullptr;
        v.number = std::strtod(text.c_str(), &end);
        if (text.empty() || *end != '\0') throw refuse();
        break;
    }
    case option_kind::flag:
        if (text != "true" && text != "false") throw refuse();
        v.number = text == "true" ? 1.0 : 0.0;
        break;
    case option_kind::word:
        for (v.word = 0; v.word < option.words.size(); ++v.word)
            if (text == spelling(option.words[v.word], vocabulary)) return v;
        throw refuse();
    }
    if (!in_range(option, v.number)) throw refuse();
    return v;
}

}  // namespace rotalign
