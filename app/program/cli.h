// The command line of rotalign: commands `cluster`, `demo` and `generate`.
#pragma once

#include "rotalign/chain.h"
#include "rotalign/input/points.h"

#include <ostream>
#include <string>
#include <vector>

namespace rotalign {

// Exit statuses of the program.
enum exit_status { exit_ok = 0, exit_failure = 1, exit_usage = 2 };

// Runs the program on its arguments (without the program name), writing results to `out` and
// messages to `err`. `executable_folder` is where the plug-ins are looked for by default.
// `show_progress`: a person watches `err` (a terminal), so long stages show their progress there.
// Returns the exit status; never throws.
int run(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
        const std::string& executable_folder, bool show_progress = false);

// A `cluster` command line, read and checked as far as it can be without the data, for a front
// end that runs the chain its own way (over several processes).
struct cluster_call {
    std::string file, output, plot, plot_quality;
    std::string plugins_folder;  // where the plug-ins are loaded from
    bool distances = false, quiet = false, csv = false;
    bool to_file = false;      // the groups go to `output`, the summary to standard output
    bool plot_points = false, plot_choice = false;
    cluster_options options;
};

// Reads `cluster POINTS [options]` as `run` does. Returns -1 with `call` filled in; otherwise the
// program has answered (the help on `out`, a mistake on `err`) and this is its exit status.
// `program` names the program in its messages, help and usage.
int read_cluster_call(const std::vector<std::string>& args, cluster_call& call, std::ostream& out, std::ostream& err,
                      const std::string& executable_folder, const std::string& program = "rotalign");

// Writes what `rotalign cluster` writes after the chain: the groups, the pictures (`pts`: the
// points, needed for --plot only) and the summary. Throws input_error when an output fails.
void write_cluster_outputs(const cluster_call& call, const cluster_result& r, const points& pts, std::ostream& out,
                           std::ostream& err);

// Inside a catch block: writes the caught failure to `err` as the program words it and returns
// the exit status (exit_usage for a mistake on the command line, exit_failure otherwise).
// `program` starts every message; a program other than rotalign shows its own one-command usage.
int report_failure(std::ostream& err, const std::string& program = "rotalign");

}  // namespace rotalign
