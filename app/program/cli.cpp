#include "cli.h"

#include "cautions.h"
#include "command_parts.h"
#include "demo_command.h"
#include "generate_command.h"
#include "output_checks.h"
#include "summary.h"
#include "rotalign/chain.h"
#include "rotalign/eigen/sparse_eigen.h"
#include "rotalign/output/svg.h"
#include "rotalign/support/memory.h"

#include <CLI/CLI.hpp>

#include <cstdio>

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
                     (count_stands_clear(r) ? ")" : ", no count stands clear)");
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
