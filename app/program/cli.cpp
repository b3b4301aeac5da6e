#include "cli.h"

#include "cautions.h"
#include "output_checks.h"
#include "summary.h"
#include "rotalign/chain.h"
#include "rotalign/datasets/datasets.h"
#include "rotalign/eigen/sparse_eigen.h"
#include "rotalign/datasets/suite_sets.h"
#include "rotalign/groups/scores.h"
#include "rotalign/output/svg.h"
#include "rotalign/support/memory.h"

#include <CLI/CLI.hpp>

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

// What a mistake on the command line prints after its message.
const char* const usage_hint =
    "usage: rotalign cluster POINTS [options]   groups of the points of a CSV file\n"
    "       rotalign demo [--output DIR] [--plugins DIR] [--solver S]\n"
    "       rotalign generate NAME [--points N] [--seed S] [--truth FILE]\n"
    "       rotalign generate --list\n"
    "'rotalign COMMAND --help' shows the options of a command.\n";

// The usage of a program that has only the cluster command (the one over MPI ranks).
std::string usage_hint_of(const std::string& program) {
    if (program == "rotalign") return usage_hint;
    return "usage: " + program + " cluster POINTS [options]   groups of the points of a CSV or .npy file\n'" +
           program + " cluster --help' shows the options.\n";
}

// A mistake in the command line itself: exit status 2 with the usage.
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A remedy as the command line spells it: "--max-groups 16".
std::string spelled(const remedy& r) {
    if (r.option == "plugins") return "--plugins or ROTALIGN_PLUGINS";
    if (r.value.empty()) return "";
    const option_description* o = nullptr;
    for (const option_description& d : chain_options())
        if (d.name == r.option) o = &d;
    if (o == nullptr) return "";
    return "--" + o->flag + " " + spelled_in(*o, r.value, option_vocabulary::program);
}

// Help text broken into lines of at most 64 characters; CLI11 indents the lines after the first.
std::string wrapped(const std::string& text) {
    std::string out, line;
    std::istringstream words(text);
    for (std::string word; words >> word;) {
        if (!line.empty() && line.size() + 1 + word.size() > 64) {
            out += line + '\n';
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line;
}

// The table's options of the chain on a command, as given (text) and by name.
struct chain_flags {
    std::map<std::string, std::string> text;
    std::map<std::string, CLI::Option*> given;

    bool has(const std::string& name) const { return given.at(name)->count() > 0; }
};

// The help line of a table option: its help, its words, its default.
std::string help_of(const option_description& o) {
    std::string help = o.help;
    if (o.kind == option_kind::word) help += "; " + requirement(o, option_vocabulary::program);
    if (!o.default_text.empty() && o.kind != option_kind::flag)
        help += " (default " + spelled_in(o, o.default_text, option_vocabulary::program) + ")";
    return wrapped(help);
}

void add_chain_option(CLI::App& command, chain_flags& flags, const option_description& o) {
    if (o.kind == option_kind::flag) {
        flags.text[o.name] = "true";
        flags.given[o.name] = command.add_flag("--" + o.flag)->description(wrapped(o.help));
        return;
    }
    const char* type = o.kind == option_kind::whole ? "N" : o.kind == option_kind::real ? "X" : "WORD";
    flags.given[o.name] = command.add_option("--" + o.flag, flags.text[o.name], help_of(o))->type_name(type);
}

// The options that were given, read into `options`; a value the option does not take is a
// usage mistake.
void read_chain_flags(const chain_flags& flags, cluster_options& options) {
    for (const option_description& o : chain_options()) {
        const auto it = flags.given.find(o.name);
        if (it == flags.given.end() || it->second->count() == 0) continue;
        try {
            set_option(options, o.name, read_option(o, flags.text.at(o.name), option_vocabulary::program));
        } catch (const option_error& e) {
            throw usage_error("--" + o.flag + " needs " + e.needed() + ", not '" + e.given() + "'");
        }
    }
}

// A file option that was given must name a file.
void require_name(const CLI::Option* option, const std::string& value) {
    if (option->count() > 0 && value.empty()) throw usage_error(option->get_name() + " needs a file name");
}

// Refuses outputs that would overwrite an input or each other, and outputs that cannot be
// written, before any work.
void check_outputs(const std::vector<named_file>& inputs, const std::vector<named_file>& outputs) {
    const std::vector<file_clash> found = clashes(inputs, outputs);
    if (!found.empty()) {
        const file_clash& c = found.front();
        throw usage_error(c.output.option + " " + c.output.path + " is the same file as " +
                          (c.other.option.empty() ? "the input" : c.other.option) + " " + c.other.path);
    }
    for (const named_file& f : outputs) {
        const std::string reason = unwritable_reason(f.path);
        if (!reason.empty()) throw input_error("cannot write " + f.path + ": " + reason);
    }
}

std::string folder_of_plugins(const std::string& flag, const std::string& executable_folder) {
    const char* env = std::getenv("ROTALIGN_PLUGINS");
    return plugin_folder(flag, env != nullptr ? env : "", executable_folder);
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

// What `rotalign cluster` was asked to do.
struct cluster_request {
    std::string file, output, plot, plot_quality, plugins, format = "lines";
    bool distances = false, quiet = false;
    chain_flags chain;
    CLI::App* command = nullptr;
    CLI::Option *output_given = nullptr, *plot_given = nullptr, *plot_quality_given = nullptr,
                *plugins_given = nullptr;
};

void declare_cluster(CLI::App& app, cluster_request& q) {
    q.command = app.add_subcommand("cluster", "groups of the points of a CSV file")->allow_extras();
    CLI::App& c = *q.command;
    c.add_option("POINTS", q.file, "the CSV file of points, one a row")->required();
    c.add_flag("--distances", q.distances, "POINTS holds a square matrix of distances, not points");
    for (const option_description& o : chain_options()) add_chain_option(c, q.chain, o);
    c.add_option("--format", q.format, "groups as lines (default) or csv")->type_name("F");
    q.output_given =
        c.add_option("--output", q.output, wrapped("write the groups to FILE; the summary then goes to standard output"))
            ->type_name("FILE");
    q.plot_given = c.add_option("--plot", q.plot, "draw the points coloured by group")->type_name("FILE.svg");
    q.plot_quality_given = c.add_option("--plot-quality", q.plot_quality,
                                        "draw the eigenvalues and qualities against c, the choice marked")
                               ->type_name("FILE.svg");
    q.plugins_given = c.add_option("--plugins", q.plugins,
                                   "load the plug-ins from DIR (else ROTALIGN_PLUGINS, else beside rotalign)")
                          ->type_name("DIR");
    c.add_flag("--quiet", q.quiet, "no summary");
}

// The request's options, checked as far as they can be without the data.
cluster_options cluster_options_of(const cluster_request& q) {
    cluster_options o;
    read_chain_flags(q.chain, o);
    if (q.format != "lines" && q.format != "csv")
        throw usage_error("--format needs one of lines or csv, not '" + q.format + "'");
    if (o.affinity == affinity_kind::global && !q.chain.has("scale")) throw usage_error("--affinity pellor needs --scale");
    if (o.affinity != affinity_kind::global && q.chain.has("scale"))
        throw usage_error("--scale belongs to --affinity pellor");
    if (q.distances && q.plot_given->count() > 0) throw usage_error("--plot needs points, not distances");
    if (q.distances && o.graph == graph_kind::knn) throw usage_error("--graph knn needs points, not distances");
    if (q.distances && o.standardise) throw usage_error("--standardise needs points, not distances");
    for (const auto& [option, value] : {std::pair<CLI::Option*, std::string>{q.output_given, q.output},
                                        {q.plot_given, q.plot},
                                        {q.plot_quality_given, q.plot_quality},
                                        {q.plugins_given, q.plugins}})
        require_name(option, value);
    std::vector<named_file> outputs;
    if (q.output_given->count() > 0) outputs.push_back({"--output", q.output});
    if (q.plot_given->count() > 0) outputs.push_back({"--plot", q.plot});
    if (q.plot_quality_given->count() > 0) outputs.push_back({"--plot-quality", q.plot_quality});
    check_outputs({{"", q.file}}, outputs);
    return o;
}

// The request as the front ends take it.
cluster_call call_of(const cluster_request& q, const std::string& executable_folder) {
    cluster_call c;
    c.options = cluster_options_of(q);
    c.file = q.file;
    c.output = q.output;
    c.plot = q.plot;
    c.plot_quality = q.plot_quality;
    c.distances = q.distances;
    c.quiet = q.quiet;
    c.csv = q.format == "csv";
    c.to_file = q.output_given->count() > 0;
    c.plot_points = q.plot_given->count() > 0;
    c.plot_choice = q.plot_quality_given->count() > 0;
    c.plugins_folder = folder_of_plugins(q.plugins, executable_folder);
    return c;
}

int cluster_command(const cluster_request& q, std::ostream& out, std::ostream& err,
                    const std::string& executable_folder, bool show_progress) {
    const cluster_call call = call_of(q, executable_folder);
    cluster_options o = call.options;

    // Read and check everything before the plug-ins are loaded.
    points pts;
    square d;
    if (q.distances) d = read_distances_file(q.file);
    else pts = read_points_file(q.file);
    check_options(o, q.distances ? d.n : pts.count, !q.distances);
    if (call.plot_points && pts.dims < 2) throw input_error("--plot needs points of at least two coordinates");

    if (const auto warning = group_count_warning(q.distances ? d.n : pts.count, o))
        err << "rotalign: warning: " << *warning << '\n';

    toolbox plugins(call.plugins_folder);
    progress report(err, show_progress);
    o.report = &report;
    const cluster_result r = q.distances ? cluster_distances(plugins, d, o) : cluster_points(plugins, pts, o);
    write_cluster_outputs(call, r, pts, out, err);
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

struct demo_request {
    std::string folder = "rotalign-demo", plugins;
    chain_flags chain;
    CLI::App* command = nullptr;
    CLI::Option *folder_given = nullptr, *plugins_given = nullptr;
};

void declare_demo(CLI::App& app, demo_request& q) {
    q.command = app.add_subcommand("demo", "clusters four generated data sets and draws each")->allow_extras();
    q.folder_given = q.command->add_option("--output", q.folder, "folder of the pictures (default rotalign-demo)")
                         ->type_name("DIR");
    q.plugins_given = q.command->add_option("--plugins", q.plugins, "load the plug-ins from DIR")->type_name("DIR");
    add_chain_option(*q.command, q.chain, option_named("solver"));
}

int demo_command(const demo_request& q, std::ostream& out, std::ostream& err, const std::string& executable_folder) {
    cluster_options chosen;
    read_chain_flags(q.chain, chosen);
    require_name(q.folder_given, q.folder);
    require_name(q.plugins_given, q.plugins);
    std::error_code ec;
    std::filesystem::create_directories(q.folder, ec);
    if (ec) throw input_error("cannot create " + q.folder + ": " + ec.message());
    toolbox plugins(folder_of_plugins(q.plugins, executable_folder));

    out << "data set            points  true  chosen     ARI   distances  affinity  diagonal  normalise"
           "     eigen  rotation     total  (ms)\n";
    int missed = 0;
    for (const demo_case& c : demo_cases) {
        const labelled_points data = generate(c.dataset, c.count, c.seed);
        cluster_options o;
        o.neighbours = c.neighbours;
        o.solver = chosen.solver;
        const cluster_result r = cluster_points(plugins, data.data, o);
        const double ari = adjusted_rand_index(data.truth, r.groups);
        const std::string picture = (std::filesystem::path(q.folder) / (std::string(c.dataset) + ".svg")).string();
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
    out << "pictures in " << q.folder << '\n';
    check_written(out, "the table to standard output");
    return missed == 0 ? exit_ok : exit_failure;
}

struct generate_request {
    std::string name, points, seed, truth;
    bool list = false;
    CLI::App* command = nullptr;
    CLI::Option *name_given = nullptr, *points_given = nullptr, *seed_given = nullptr, *truth_given = nullptr;
};

void declare_generate(CLI::App& app, generate_request& q) {
    q.command = app.add_subcommand("generate", wrapped("writes a data set as CSV: moons, circles, blobs or lines (2-D; "
                                                       "--points and --seed apply), or a set of the group-count suite "
                                                       "(fixed size; --seed replaces its seed)"))
                    ->allow_extras();
    CLI::App& g = *q.command;
    q.name_given = g.add_option("NAME", q.name, "the data set");
    q.points_given = g.add_option("--points", q.points, "number of points (default 600)")->type_name("N");
    q.seed_given = g.add_option("--seed", q.seed, "seed of the random numbers (default 1)")->type_name("S");
    q.truth_given = g.add_option("--truth", q.truth, "write the true groups to FILE")->type_name("FILE");
    g.add_flag("--list", q.list, "show the sets of the group-count suite");
}

// A whole number of at least `least` for a generate option, or a usage mistake.
unsigned long long whole_number(const std::string& flag, const std::string& text, unsigned long long least) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || errno == ERANGE || v < least)
        throw usage_error(flag + " needs a whole number of at least " + std::to_string(least) + ", not '" + text + "'");
    return v;
}

int generate_command(const generate_request& q, std::ostream& out) {
    if (q.list) {
        if (q.name_given->count() + q.points_given->count() + q.seed_given->count() + q.truth_given->count() > 0)
            throw usage_error("generate --list takes nothing else");
        out << "name\tpoints\tdims\tgroups\tmax_groups\tdescription\n";
        for (const suite_set& s : suite_sets())
            out << s.name << '\t' << s.count << '\t' << s.dims << '\t' << s.groups << '\t' << s.max_groups << '\t'
                << s.description << '\n';
        check_written(out, "the list to standard output");
        return exit_ok;
    }
    if (q.name_given->count() == 0) throw usage_error("generate needs the name of a data set");
    const std::uint64_t seed = q.seed_given->count() > 0 ? whole_number("--seed", q.seed, 0) : 1;
    require_name(q.truth_given, q.truth);
    const auto& demo = dataset_names();
    const bool planar = std::find(demo.begin(), demo.end(), q.name) != demo.end();
    std::size_t count = 600;
    if (planar && q.points_given->count() > 0) {
        const unsigned long long n = whole_number("--points", q.points, 1);
        if (n > static_cast<unsigned long long>(largest_whole))
            throw usage_error("--points needs a whole number from 1 to " + std::to_string(static_cast<int>(largest_whole)) +
                              ", not '" + q.points + "'");
        count = static_cast<std::size_t>(n);
    }
    if (!planar) {
        const auto& suite = suite_sets();
        if (std::none_of(suite.begin(), suite.end(), [&q](const suite_set& s) { return s.name == q.name; }))
            throw input_error("unknown data set '" + q.name +
                              "': moons, circles, blobs, lines, or a name that 'rotalign generate --list' shows");
        if (q.points_given->count() > 0) throw usage_error("--points applies to moons, circles, blobs and lines only");
    }
    // The points and their truth, grown by doubling (up to three times their size while a vector
    // moves): more than the machine holds would end in the allocator's failure long after the start.
    const double needed = 3.0 * static_cast<double>(count) * (2.0 * sizeof(double) + sizeof(int));
    const double memory = physical_memory();
    if (memory > 0.0 && needed > memory)
        throw input_error(std::to_string(count) + " points need about " +
                          std::to_string(static_cast<long long>(std::ceil(needed / (1024.0 * 1024.0 * 1024.0)))) +
                          " GiB; this machine has " +
                          std::to_string(static_cast<long long>(memory / (1024.0 * 1024.0 * 1024.0))) + " GiB");
    if (q.truth_given->count() > 0) check_outputs({}, {{"--truth", q.truth}});

    // A suite set keeps its own seed unless one is given.
    const labelled_points data =
        planar ? generate(q.name, count, seed) : suite_points(q.name, q.seed_given->count() > 0 ? seed : 0);
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
    check_written(out, "the points to standard output");
    if (q.truth_given->count() > 0) write_groups_file(q.truth, data.truth, false);
    return exit_ok;
}

// The first argument that names no command, when the arguments start with one.
void check_command(const std::vector<std::string>& args) {
    if (args.empty()) throw usage_error("no command given");
    const std::string& first = args[0];
    if (first != "cluster" && first != "demo" && first != "generate" && first.rfind("-", 0) != 0)
        throw usage_error("unknown command '" + first + "'");
}

}  // namespace

void write_cluster_outputs(const cluster_call& call, const cluster_result& r, const points& pts, std::ostream& out,
                           std::ostream& err) {
    std::ostream* summary = &err;
    if (call.to_file) {
        write_groups_file(call.output, r.groups, call.csv);
        summary = &out;
    } else {
        write_groups(out, r.groups, call.csv);
        check_written(out, "the groups to standard output");
    }
    if (call.plot_points)
        write_svg_file(call.plot, pts, r.groups, call.file + ": " + std::to_string(r.chosen) + " groups");
    if (call.plot_choice) {
        std::string title = call.file + ": " + std::to_string(r.chosen) + (r.chosen == 1 ? " group" : " groups");
        if (call.options.fixed_groups < 2 && r.runner_up != 0) {
            char margin[32];
            std::snprintf(margin, sizeof margin, "%.4f", r.margin);
            title += std::string(", runner-up ") + std::to_string(r.runner_up) + " (quality margin " + margin +
                     (r.clear ? ")" : ", no count stands clear)");
        }
        write_choice_svg_file(call.plot_quality, r.eigenvalues, r.quality, r.chosen, settings_of(call.options), title);
    }
    if (!call.quiet) {
        print_summary(*summary, r, call.options);
        if (const auto warning = scale_floor_warning(r, call.options, call.distances))
            *summary << "warning: " << *warning << '\n';
    }
    if (summary == &out) check_written(out, "the summary to standard output");
}

int report_failure(std::ostream& err, const std::string& program) {
    const std::string me = program + ": ";
    try {
        throw;
    } catch (const usage_error& e) {
        err << me << e.what() << "\n\n" << usage_hint_of(program);
        return exit_usage;
    } catch (const mexhost::plugin_error& e) {
        err << me << "a plug-in stopped with: " << e.what() << '\n';
    } catch (const input_error& e) {
        err << me << worded(e, spelled) << '\n';
    } catch (const resource_error& e) {
        err << me << e.what() << ".\n";
        if (program == "rotalign")
            err << "rotalign-mpi, the same chain over several processes or machines, is the route for such sizes\n";
    } catch (const memory_error& e) {
        err << me << e.what() << '\n';  // what was being built, and its size
    } catch (const std::bad_alloc&) {
        err << me << "out of memory\n";
    } catch (const std::exception& e) {
        err << me << e.what() << '\n';
    } catch (...) {
        err << me << "an unknown error\n";
    }
    return exit_failure;
}

int read_cluster_call(const std::vector<std::string>& args, cluster_call& call, std::ostream& out, std::ostream& err,
                      const std::string& executable_folder, const std::string& program) {
    try {
        CLI::App app(program + ": spectral clustering through the toolbox's plug-ins", program);
        app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app.require_subcommand(1);
        cluster_request cluster;
        declare_cluster(app, cluster);
        try {
            std::vector<std::string> reversed(args.rbegin(), args.rend());
            // Help without the command is the command's help: it is the only one.
            if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "help"))
                reversed = {"--help", "cluster"};
            else if (args.empty() || args[0] != "cluster")
                throw usage_error("the only command here is cluster");
            app.parse(reversed);
        } catch (const CLI::CallForHelp&) {
            out << cluster.command->help();
            check_written(out, "the help to standard output");
            return exit_ok;
        } catch (const CLI::ParseError& e) {
            throw usage_error(e.what());
        }
        for (const std::string& extra : cluster.command->remaining())
            throw usage_error(extra.rfind("-", 0) == 0 && extra.size() > 1 ? "unknown option " + extra
                                                                          : "unexpected argument '" + extra + "'");
        call = call_of(cluster, executable_folder);
        return -1;
    } catch (...) {
        return report_failure(err, program);
    }
}

int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const std::string& executable_folder, bool show_progress) {
    try {
        CLI::App app("rotalign: spectral clustering through the toolbox's plug-ins", "rotalign");
        app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast);
        app.require_subcommand(1);
        app.footer("'rotalign COMMAND --help' shows the options of a command.\n");
        cluster_request cluster;
        demo_request demo;
        generate_request generate;
        declare_cluster(app, cluster);
        declare_demo(app, demo);
        declare_generate(app, generate);
        try {
            // "rotalign help" asks for the help as "rotalign --help" does.
            std::vector<std::string> reversed(args.rbegin(), args.rend());
            if (args.size() == 1 && args[0] == "help") reversed = {"--help"};
            else check_command(args);
            app.parse(reversed);
        } catch (const CLI::CallForHelp&) {
            out << app.help();
            check_written(out, "the help to standard output");
            return exit_ok;
        } catch (const CLI::ParseError& e) {
            throw usage_error(e.what());
        }
        for (CLI::App* command : {cluster.command, demo.command, generate.command})
            for (const std::string& extra : command->remaining())
                throw usage_error(extra.rfind("-", 0) == 0 && extra.size() > 1 ? "unknown option " + extra
                                                                              : "unexpected argument '" + extra + "'");
        if (cluster.command->parsed()) return cluster_command(cluster, out, err, executable_folder, show_progress);
        if (demo.command->parsed()) return demo_command(demo, out, err, executable_folder);
        return generate_command(generate, out);
    } catch (...) {
        return report_failure(err);
    }
}

}  // namespace rotalign
