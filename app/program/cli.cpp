#include "cli.h"

#include "rotalign/chain.h"
#include "rotalign/datasets/datasets.h"
#include "rotalign/datasets/suite_sets.h"
#include "rotalign/groups/scores.h"
#include "rotalign/output/svg.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <map>
#include <sstream>

namespace rotalign {
namespace {

const char* const usage_text =
    "usage: rotalign cluster POINTS [options]   groups of the points of a CSV file\n"
    "       rotalign demo [--output DIR] [--plugins DIR] [--solver S]\n"
    "       rotalign generate NAME [--points N] [--seed S] [--truth FILE]\n"
    "       rotalign generate --list\n"
    "\n"
    "cluster options:\n"
    "  --distances         POINTS holds a square matrix of distances, not points\n"
    "  --standardise       shift every column to zero mean and divide it by its spread before\n"
    "                      the distances, for columns in different units (a column of zero spread\n"
    "                      is only shifted)\n"
    "  --affinity A        brenmoss (default), olvane, or pellor (needs --scale)\n"
    "  --neighbours K      neighbour count of the local scales (default 7)\n"
    "  --scale S           global scale of pellor\n"
    "  --max-groups C      try every number of groups from 2 to C (default 10)\n"
    "  --groups C          take C groups instead of choosing\n"
    "  --tolerance T       of the group-count rule: qualities within T of the best count as equal\n"
    "                      (default 0.001)\n"
    "  --search S          rotation search: gradient (default) or numerical\n"
    "  --graph G           distances between every pair (dense) or each point's nearest neighbours\n"
    "                      (knn, a sparse graph); auto (default): knn from 5000 points on\n"
    "  --graph-neighbours M  nearest neighbours per point of the knn graph (default 2 K)\n"
    "  --neighbour-search S  how the knn graph finds them: auto (default), kd-tree, blas, faiss\n"
    "                      (all exact), or hnsw (approximate; its measured recall is shown)\n"
    "  --solver S          eigen-solver: auto (default), lanczos or dense\n"
    "  --rotation-sample N choose the number of groups by rotation searches on N rows drawn at\n"
    "                      random, then search again on every row for that number only; 0: every\n"
    "                      row (default: 20000 rows from 60000 points on)\n"
    "  --format F          groups as lines (default) or csv\n"
    "  --output FILE       write the groups to FILE; the summary then goes to standard output\n"
    "  --plot FILE.svg     draw the points coloured by group\n"
    "  --plot-quality FILE.svg  draw the eigenvalues and qualities against c, the choice marked\n"
    "  --plugins DIR       load the plug-ins from DIR (else ROTALIGN_PLUGINS, else beside rotalign)\n"
    "  --quiet             no summary\n"
    "\n"
    "generate: NAME is moons, circles, blobs or lines (2-D, --points and --seed apply), or a set of\n"
    "the group-count suite (fixed size; --seed replaces its seed); --list shows the suite.\n";

// A mistake in the command line itself: exit status 2 with the usage.
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Options by name ("--x VALUE" or "--x=VALUE"), flags, and the positional arguments.
struct parsed {
    std::map<std::string, std::string> values;
    std::map<std::string, bool> flags;
    std::vector<std::string> positional;

    bool has(const std::string& name) const { return values.count(name) != 0; }
    std::string value(const std::string& name, const std::string& otherwise = "") const {
        auto it = values.find(name);
        return it == values.end() ? otherwise : it->second;
    }
    bool flag(const std::string& name) const { return flags.count(name) != 0; }
};

parsed parse(const std::vector<std::string>& args, std::size_t first, const std::vector<std::string>& with_value,
             const std::vector<std::string>& flags) {
    auto known = [](const std::vector<std::string>& names, const std::string& n) {
        for (const std::string& name : names)
            if (name == n) return true;
        return false;
    };
    parsed p;
    for (std::size_t i = first; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a.size() < 3 || a.compare(0, 2, "--") != 0) {
            p.positional.push_back(a);
            continue;
        }
        const auto eq = a.find('=');
        const std::string name = a.substr(2, eq == std::string::npos ? std::string::npos : eq - 2);
        if (known(flags, name) && eq == std::string::npos) {
            p.flags[name] = true;
        } else if (known(with_value, name)) {
            if (eq != std::string::npos) {
                p.values[name] = a.substr(eq + 1);
            } else {
                if (i + 1 >= args.size()) throw usage_error("option --" + name + " needs a value");
                p.values[name] = args[++i];
            }
        } else {
            throw usage_error("unknown option " + a);
        }
    }
    return p;
}

int integer(const parsed& p, const std::string& name, int otherwise) {
    if (!p.has(name)) return otherwise;
    const std::string text = p.value(name);
    char* end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno == ERANGE || v < INT32_MIN || v > INT32_MAX)
        throw usage_error("--" + name + " needs a whole number, not '" + text + "'");
    return static_cast<int>(v);
}

double real(const parsed& p, const std::string& name, double otherwise) {
    if (!p.has(name)) return otherwise;
    const std::string text = p.value(name);
    char* end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (text.empty() || *end != '\0' || !std::isfinite(v))
        throw usage_error("--" + name + " needs a finite number, not '" + text + "'");
    return v;
}

std::string choice(const parsed& p, const std::string& name, const std::vector<std::string>& allowed) {
    const std::string v = p.value(name, allowed.front());
    for (const std::string& a : allowed)
        if (v == a) return v;
    std::string list;
    for (const std::string& a : allowed) list += (list.empty() ? "" : ", ") + a;
    throw usage_error("--" + name + " must be one of " + list + ", not '" + v + "'");
}

eigen_solver solver_option(const parsed& p) {
    const std::string s = choice(p, "solver", {"auto", "lanczos", "dense"});
    return s == "lanczos" ? eigen_solver::lanczos : s == "dense" ? eigen_solver::dense : eigen_solver::automatic;
}

std::string folder_of_plugins(const parsed& p, const std::string& executable_folder) {
    const char* env = std::getenv("ROTALIGN_PLUGINS");
    return plugin_folder(p.value("plugins"), env != nullptr ? env : "", executable_folder);
}

std::string milliseconds(double seconds) {
    std::ostringstream s;
    s << std::fixed << std::setprecision(seconds < 10.0 ? 1 : 0) << seconds * 1000.0;
    return s.str();
}

void print_times(std::ostream& o, const stage_times& t, graph_kind graph) {
    o << "stage times (ms): " << (graph == graph_kind::knn ? "neighbours " : "distances ") << milliseconds(t.distances) << ", affinity " << milliseconds(t.affinity)
      << ", diagonal " << milliseconds(t.diagonal) << ", normalise " << milliseconds(t.normalise) << ", eigen "
      << milliseconds(t.eigen) << ", rotation " << milliseconds(t.rotation) << ", total " << milliseconds(t.total())
      << '\n';
}

void write_groups(std::ostream& o, const std::vector<int>& groups, bool csv) {
    if (csv) o << "point,group\n";
    for (std::size_t i = 0; i < groups.size(); ++i) {
        if (csv) o << i + 1 << ',';
        o << groups[i] << '\n';
    }
}

void write_groups_file(const std::string& path, const std::vector<int>& groups, bool csv) {
    std::ofstream f(path);
    if (!f) throw input_error("cannot write " + path + ": " + std::strerror(errno));
    write_groups(f, groups, csv);
    f.close();
    if (!f) throw input_error("cannot write " + path);
}

std::string short_number(double v) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4g", v);
    return text;
}

// The columns whose spreads differ so much that the widest one rules the squared distances.
void print_spread_warning(std::ostream& s, const spread_contrast& c) {
    s << "warning: the columns' spreads differ " << short_number(c.ratio()) << " times (column " << c.widest + 1
      << ": " << short_number(c.widest_spread) << ", column " << c.narrowest + 1 << ": "
      << short_number(c.narrowest_spread) << "), so the widest columns rule the distances; if the columns are in"
      << " different units, --standardise gives each one unit spread\n";
}

// The chosen number of groups, then for every c the quality, the eigenvalues and the clear cuts
// that made the choice, the solver and the stage times; first a warning when the columns' units
// differ so much that a few columns make the distances.
void print_summary(std::ostream& s, const cluster_result& r, const cluster_options& o) {
    if (r.unit_contrast) print_spread_warning(s, *r.unit_contrast);
    s << "groups: " << r.chosen << (o.fixed_groups >= 2 ? " (fixed)" : "") << '\n';
    if (!r.note.empty()) s << "note: " << r.note << '\n';
    const group_count_settings settings = settings_of(o);
    s << "quality:";
    // Inside a block of repeated eigenvalues no search runs (-), except for the largest c; a
    // search on eigenvectors with an all-zero row has no quality (nan).
    for (std::size_t k = 0; k < r.quality.size(); ++k) {
        s << ' ' << k + 2 << '=';
        if (k + 1 < r.quality.size() && !clear_cut(r.eigenvalues, k + 2, settings)) s << '-';
        else if (std::isnan(r.quality[k])) s << "nan";
        else s << std::fixed << std::setprecision(6) << r.quality[k];
    }
    // Ten decimals: eigenvalues a hair below 1 are what tell nearly separate pieces apart.
    s << "\neigenvalues:";
    for (std::size_t k = 0; k < r.eigenvalues.size(); ++k)
        s << ' ' << k + 1 << '=' << std::fixed << std::setprecision(10) << r.eigenvalues[k];
    s << "\nclear cuts (c=how many times farther from 1 eigenvalue c+1 lies than c; * strong):";
    bool any = false;
    for (std::size_t c = 2; c < r.eigenvalues.size(); ++c) {
        if (!clear_cut(r.eigenvalues, c, settings)) continue;
        const double ratio = distance_ratio(r.eigenvalues, c);
        s << ' ' << c << '=';
        if (std::isinf(ratio)) {
            s << "inf";
        } else {
            char text[32];
            std::snprintf(text, sizeof text, "%.3g", ratio);
            s << text;
        }
        if (ratio >= settings.strong_ratio) s << '*';
        any = true;
    }
    if (!any) s << " none";
    s << '\n';
    if (r.graph == graph_kind::knn) {
        s << "graph: knn, " << r.graph_neighbours << " nearest neighbours per point by " << name_of(r.search) << ", "
          << r.graph_entries << " entries";
        if (r.exact_neighbours) {
            s << " (exact)\n";
        } else {
            char recall[32];
            std::snprintf(recall, sizeof recall, "%.4f", r.recall);
            s << " (approximate: recall " << recall << " on a sample)\n";
        }
    } else {
        s << "graph: dense\n";
    }
    s << "eigen-solver: " << r.eigen_method << '\n';
    if (r.searched_rows < r.groups.size())
        s << "rotation searches on " << r.searched_rows << " of " << r.groups.size() << " rows\n";
    print_times(s, r.times, r.graph);
}

int cluster_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                    const std::string& executable_folder, bool show_progress) {
    const parsed p = parse(args, 1,
                           {"affinity", "neighbours", "scale", "max-groups", "groups", "tolerance", "search",
                            "solver", "format", "output", "plot", "plot-quality", "plugins", "rotation-sample", "graph",
                            "graph-neighbours", "neighbour-search"},
                           {"distances", "quiet", "standardise"});
    if (p.positional.size() != 1) throw usage_error("cluster needs one file of points");
    cluster_options o;
    const std::string affinity = choice(p, "affinity", {"brenmoss", "olvane", "pellor"});
    o.affinity = affinity == "olvane" ? affinity_kind::local_mean
                 : affinity == "pellor" ? affinity_kind::global
                                        : affinity_kind::local;
    if (o.affinity == affinity_kind::global && !p.has("scale")) throw usage_error("--affinity pellor needs --scale");
    if (o.affinity != affinity_kind::global && p.has("scale"))
        throw usage_error("--scale belongs to --affinity pellor");
    o.neighbours = integer(p, "neighbours", o.neighbours);
    o.scale = real(p, "scale", o.scale);
    o.max_groups = integer(p, "max-groups", o.max_groups);
    o.fixed_groups = integer(p, "groups", 0);
    if (p.has("groups") && o.fixed_groups < 2) throw usage_error("--groups needs at least 2");
    o.tolerance = real(p, "tolerance", o.tolerance);
    o.numerical_search = choice(p, "search", {"gradient", "numerical"}) == "numerical";
    o.solver = solver_option(p);
    if (p.has("rotation-sample")) {
        const int sample = integer(p, "rotation-sample", 0);
        if (sample < 0) throw usage_error("--rotation-sample needs a number of rows, or 0 for all");
        o.rotation_sample = static_cast<std::size_t>(sample);
    }
    const std::string graph = choice(p, "graph", {"auto", "dense", "knn"});
    o.graph = graph == "dense" ? graph_kind::dense : graph == "knn" ? graph_kind::knn : graph_kind::automatic;
    const int graph_neighbours = integer(p, "graph-neighbours", 0);
    if (p.has("graph-neighbours") && graph_neighbours < 1) throw usage_error("--graph-neighbours needs at least 1");
    o.graph_neighbours = static_cast<std::size_t>(graph_neighbours);
    const std::string search = choice(p, "neighbour-search", {"auto", "kd-tree", "blas", "faiss", "hnsw"});
    for (neighbour_backend b : {neighbour_backend::kd_tree, neighbour_backend::blas, neighbour_backend::faiss,
                                neighbour_backend::hnsw})
        if (search == name_of(b)) o.search = b;
    const bool csv = choice(p, "format", {"lines", "csv"}) == "csv";
    const std::string& file = p.positional[0];
    const bool distances = p.flag("distances");
    if (distances && p.has("plot")) throw usage_error("--plot needs points, not distances");
    if (distances && o.graph == graph_kind::knn) throw usage_error("--graph knn needs points, not distances");
    o.standardise = p.flag("standardise");
    if (distances && o.standardise) throw usage_error("--standardise needs points, not distances");

    // Read and check everything before the plug-ins are loaded.
    points pts;
    square d;
    if (distances) d = read_distances_file(file);
    else pts = read_points_file(file);
    check_options(o, distances ? d.n : pts.count, !distances);
    if (p.has("plot") && pts.dims < 2) throw input_error("--plot needs points of at least two coordinates");

    toolbox plugins(folder_of_plugins(p, executable_folder));
    progress report(err, show_progress);
    o.report = &report;
    const cluster_result r = distances ? cluster_distances(plugins, d, o) : cluster_points(plugins, pts, o);

    std::ostream* summary = &err;
    if (p.has("output")) {
        write_groups_file(p.value("output"), r.groups, csv);
        summary = &out;
    } else {
        write_groups(out, r.groups, csv);
    }
    if (p.has("plot"))
        write_svg_file(p.value("plot"), pts, r.groups, file + ": " + std::to_string(r.chosen) + " groups");
    if (p.has("plot-quality"))
        write_choice_svg_file(p.value("plot-quality"), r.eigenvalues, r.quality, r.chosen, settings_of(o),
                              file + ": " + std::to_string(r.chosen) + (r.chosen == 1 ? " group" : " groups"));
    if (!p.flag("quiet")) print_summary(*summary, r, o);
    return exit_ok;
}

// The demo's data sets: name, picture file, size, seed and the options that suit it.
struct demo_case {
    const char* title;
    const char* dataset;
    std::size_t count;
    std::uint64_t seed;
    int neighbours;
};

const demo_case demo_cases[] = {
    {"two moons", "moons", 600, 11, 7},
    {"concentric circles", "circles", 600, 12, 7},
    {"uneven blobs", "blobs", 600, 13, 7},
    {"parallel lines", "lines", 600, 14, 7},
};

int demo_command(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                 const std::string& executable_folder) {
    const parsed p = parse(args, 1, {"output", "plugins", "solver"}, {});
    if (!p.positional.empty()) throw usage_error("demo takes no file");
    const std::string folder = p.value("output", "rotalign-demo");
    std::error_code ec;
    std::filesystem::create_directories(folder, ec);
    if (ec) throw input_error("cannot create " + folder + ": " + ec.message());
    toolbox plugins(folder_of_plugins(p, executable_folder));

    out << "data set            points  true  chosen     ARI   distances  affinity  diagonal  normalise"
           "     eigen  rotation     total  (ms)\n";
    int missed = 0;
    for (const demo_case& c : demo_cases) {
        const labelled_points data = generate(c.dataset, c.count, c.seed);
        cluster_options o;
        o.neighbours = c.neighbours;
        o.solver = solver_option(p);
        const cluster_result r = cluster_points(plugins, data.data, o);
        const double ari = adjusted_rand_index(data.truth, r.groups);
        const std::string picture = (std::filesystem::path(folder) / (std::string(c.dataset) + ".svg")).string();
        std::ostringstream title;
        title << c.title << ": " << r.chosen << " groups, adjusted Rand index " << std::fixed << std::setprecision(3)
              << ari;
        write_svg_file(picture, data.data, r.groups, title.str());
        const stage_times& t = r.times;
        out << std::left << std::setw(18) << c.title << std::right << std::setw(8) << data.data.count << std::setw(6)
            << data.groups << std::setw(8) << r.chosen << std::setw(8) << std::fixed << std::setprecision(4) << ari;
        for (double s : {t.distances, t.affinity, t.diagonal, t.normalise, t.eigen, t.rotation, t.total()})
            out << std::setw(10) << milliseconds(s);
        out << '\n';
        if (r.chosen != data.groups || !(ari >= 0.95)) {
            err << "rotalign: " << c.title << " missed the goal (true number of groups and an adjusted Rand index"
                << " of at least 0.95)\n";
            ++missed;
        }
    }
    out << "pictures in " << folder << '\n';
    return missed == 0 ? exit_ok : exit_failure;
}

int generate_command(const std::vector<std::string>& args, std::ostream& out) {
    const parsed p = parse(args, 1, {"points", "seed", "truth"}, {"list"});
    if (p.flag("list")) {
        if (!p.positional.empty() || !p.values.empty()) throw usage_error("generate --list takes nothing else");
        out << "name\tpoints\tdims\tgroups\tmax_groups\tdescription\n";
        for (const suite_set& s : suite_sets())
            out << s.name << '\t' << s.count << '\t' << s.dims << '\t' << s.groups << '\t' << s.max_groups << '\t'
                << s.description << '\n';
        return exit_ok;
    }
    if (p.positional.size() != 1) throw usage_error("generate needs the name of a data set");
    const std::string& name = p.positional[0];
    const std::string seed_text = p.value("seed", "1");
    char* end = nullptr;
    const unsigned long long seed = std::strtoull(seed_text.c_str(), &end, 10);
    if (seed_text.empty() || *end != '\0' || seed_text[0] == '-')
        throw usage_error("--seed needs a whole number, not '" + seed_text + "'");
    labelled_points data;
    const auto& demo = dataset_names();
    if (std::find(demo.begin(), demo.end(), name) != demo.end()) {
        const int count = integer(p, "points", 600);
        if (count < 1) throw usage_error("--points needs at least 1");
        data = generate(name, static_cast<std::size_t>(count), seed);
    } else {
        const auto& suite = suite_sets();
        if (std::none_of(suite.begin(), suite.end(), [&name](const suite_set& s) { return s.name == name; }))
            throw input_error("unknown data set '" + name +
                              "': moons, circles, blobs, lines, or a name that 'rotalign generate --list' shows");
        if (p.has("points")) throw usage_error("--points applies to moons, circles, blobs and lines only");
        // A suite set keeps its own seed unless one is given.
        data = suite_points(name, p.has("seed") ? seed : 0);
    }
    const std::size_t dims = data.data.dims;
    if (dims == 2) {
        out << "x,y\n";
    } else {
        for (std::size_t k = 0; k < dims; ++k) out << (k ? ",x" : "x") << k + 1;
        out << '\n';
    }
    out << std::setprecision(17);
    for (std::size_t i = 0; i < data.data.count; ++i)
        for (std::size_t k = 0; k < dims; ++k) out << data.data.at(i, k) << (k + 1 < dims ? ',' : '\n');
    if (p.has("truth")) write_groups_file(p.value("truth"), data.truth, false);
    return exit_ok;
}

}  // namespace

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const std::string& executable_folder, bool show_progress) {
    try {
        if (args.empty()) throw usage_error("no command given");
        const std::string& command = args[0];
        if (command == "help" || command == "--help" || command == "-h") {
            out << usage_text;
            return exit_ok;
        }
        if (command == "cluster") return cluster_command(args, out, err, executable_folder, show_progress);
        if (command == "demo") return demo_command(args, out, err, executable_folder);
        if (command == "generate") return generate_command(args, out);
        throw usage_error("unknown command '" + command + "'");
    } catch (const usage_error& e) {
        err << "rotalign: " << e.what() << "\n\n" << usage_text;
        return exit_usage;
    } catch (const mexhost::plugin_error& e) {
        err << "rotalign: a plug-in stopped with: " << e.what() << '\n';
    } catch (const std::exception& e) {
        err << "rotalign: " << e.what() << '\n';
    }
    return exit_failure;
}

}  // namespace rotalign
