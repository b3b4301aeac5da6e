#include "rotalign/support/toolbox.h"

#include "rotalign/support/errors.h"

#include <filesystem>
#include <utility>

namespace rotalign {

toolbox::toolbox(std::string folder) : folder_(std::move(folder)) {}

mexhost::plugin& toolbox::get(const std::string& name) {
    auto it = opened_.find(name);
    if (it != opened_.end()) return it->second;
    const std::string path = (std::filesystem::path(folder_) / mexhost::plugin_file_name(name)).string();
    if (!std::filesystem::exists(path))
        throw input_error("plug-in " + name + " not found: no " + path,
                          {{"point to the folder of the built plug-ins", "plugins", ""}});
    try {
        return opened_.emplace(name, mexhost::plugin(path)).first->second;
    } catch (const mexhost::load_error& e) {
        throw input_error(e.what());
    }
}

std::string plugin_folder(const std::string& flag, const std::string& environment,
                          const std::string& executable_folder) {
    if (!flag.empty()) return flag;
    if (!environment.empty()) return environment;
    const std::filesystem::path here(executable_folder);
    for (const std::filesystem::path& candidate : {here, here / "mex"})
        if (std::filesystem::exists(candidate / mexhost::plugin_file_name("tarvik"))) return candidate.string();
    return here.string();
}

}  // namespace rotalign
