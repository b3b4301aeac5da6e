// `rotalign demo`: four generated data sets clustered, drawn and scored.
#pragma once

#include "command_parts.h"

#include <ostream>
#include <string>

namespace rotalign {

struct demo_request {
    std::string folder = "rotalign-demo", plugins;
    chain_flags chain;
    CLI::App* command = nullptr;
    CLI::Option *folder_given = nullptr, *plugins_given = nullptr;
};

void declare_demo(CLI::App& app, demo_request& q);
int demo_command(const demo_request& q, std::ostream& out, std::ostream& err, const std::string& executable_folder);

}  // namespace rotalign
