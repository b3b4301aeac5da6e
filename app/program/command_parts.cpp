#include "command_parts.h"

#include "rotalign/support/toolbox.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

namespace rotalign {

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

namespace {

// The help line of a table option: its help, its words, its default.
std::string help_of(const option_description& o) {
    std::string help = o.help;
    if (o.kind == option_kind::word) help += "; " + requirement(o, option_vocabulary::program);
    if (!o.default_text.empty() && o.kind != option_kind::flag)
        help += " (default " + spelled_in(o, o.default_text, option_vocabulary::program) + ")";
    return wrapped(help);
}

}  // namespace

void add_chain_option(CLI::App& command, chain_flags& flags, const option_description& o) {
    if (o.kind == option_kind::flag) {
        flags.text[o.name] = "true";
        flags.given[o.name] = command.add_flag("--" + o.flag)->description(wrapped(o.help));
        return;
    }
    const char* type = o.kind == option_kind::whole ? "N" : o.kind == option_kind::real ? "X" : "WORD";
    flags.given[o.name] = command.add_option("--" + o.flag, flags.text[o.name], help_of(o))->type_name(type);
}

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

void require_name(const CLI::Option* option, const std::string& value) {
    if (option->count() > 0 && value.empty()) throw usage_error(option->get_name() + " needs a file name");
}

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

}  // namespace rotalign
