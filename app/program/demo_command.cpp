#include "demo_command.h"

#include "cli.h"
#include "rotalign/datasets/datasets.h"
#include "rotalign/groups/scores.h"
#include "rotalign/output/svg.h"
#include "summary.h"

#include <filesystem>
#include <iomanip>
#include <sstream>

namespace rotalign {

namespace {

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

}  // namespace

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

}  // namespace rotalign
