// What the program's commands share: the mistakes on the command line, the chain's options as
// flags, the checks of file names and outputs, and the writing of groups.
#pragma once

#include "output_checks.h"
#include "rotalign/chain.h"

#include <CLI/CLI.hpp>

#include <map>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

namespace rotalign {

// A mistake in the command line itself: exit status 2 with the usage.
class usage_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Help text broken into lines of at most 64 characters; CLI11 indents the lines after the first.
std::string wrapped(const std::string& text);

// The table's options of the chain on a command, as given (text) and by name.
struct chain_flags {
    std::map<std::string, std::string> text;
    std::map<std::string, CLI::Option*> given;

    bool has(const std::string& name) const { return given.at(name)->count() > 0; }
};

// Declares the table option `o` on `command`, its text kept in `flags`.
void add_chain_option(CLI::App& command, chain_flags& flags, const option_description& o);

// The options that were given, read into `options`; a value the option does not take is a
// usage mistake.
void read_chain_flags(const chain_flags& flags, cluster_options& options);

// A file option that was given must name a file.
void require_name(const CLI::Option* option, const std::string& value);

// Refuses outputs that would overwrite an input or each other, and outputs that cannot be
// written, before any work.
void check_outputs(const std::vector<named_file>& inputs, const std::vector<named_file>& outputs);

// The folder of the plug-ins: the flag's, else ROTALIGN_PLUGINS, else beside the program.
std::string folder_of_plugins(const std::string& flag, const std::string& executable_folder);

// The groups, one a line, or as CSV with the point's number.
void write_groups(std::ostream& o, const std::vector<int>& groups, bool csv);
void write_groups_file(const std::string& path, const std::vector<int>& groups, bool csv);

}  // namespace rotalign
