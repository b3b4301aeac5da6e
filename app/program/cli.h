// The command line of rotalign: commands `cluster`, `demo` and `generate`.
#pragma once

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

}  // namespace rotalign
