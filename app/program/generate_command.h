// `rotalign generate`: a data set of the demo or of the group-count suite written as CSV.
#pragma once

#include "command_parts.h"

#include <ostream>
#include <string>

namespace rotalign {

struct generate_request {
    std::string name, points, seed, truth;
    bool list = false;
    CLI::App* command = nullptr;
    CLI::Option *name_given = nullptr, *points_given = nullptr, *seed_given = nullptr, *truth_given = nullptr;
};

void declare_generate(CLI::App& app, generate_request& q);
int generate_command(const generate_request& q, std::ostream& out);

}  // namespace rotalign
