#include "generate_command.h"

#include "cli.h"
#include "rotalign/datasets/datasets.h"
#include "rotalign/datasets/suite_sets.h"
#include "rotalign/support/memory.h"

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <iomanip>

namespace rotalign {

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

namespace {

// A whole number of at least `least` for a generate option, or a usage mistake.
unsigned long long whole_number(const std::string& flag, const std::string& text, unsigned long long least) {
    char* end = nullptr;
    errno = 0;
    const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || text[0] == '-' || errno == ERANGE || v < least)
        throw usage_error(flag + " needs a whole number of at least " + std::to_string(least) + ", not '" + text + "'");
    return v;
}

}  // namespace

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

}  // namespace rotalign
