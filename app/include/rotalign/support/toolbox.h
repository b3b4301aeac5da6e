// The plug-ins that the chain calls, opened by file name from one folder.
#pragma once

#include "mexhost/host.h"

#include <map>
#include <string>

namespace rotalign {

// The plug-ins of one folder, each opened on first use.
class toolbox {
public:
    explicit toolbox(std::string folder);
    const std::string& folder() const noexcept { return folder_; }
    // Throws input_error naming the file when the plug-in is missing or cannot be loaded.
    mexhost::plugin& get(const std::string& name);

private:
    std::string folder_;
    std::map<std::string, mexhost::plugin> opened_;
};

// The folder to load plug-ins from: `flag` when not empty, else `environment` when not empty,
// else the first of `executable_folder` and its mex/ sub-folder that holds the rotation plug-in
// (the installed layout, then the build tree). Falls back to `executable_folder`.
std::string plugin_folder(const std::string& flag, const std::string& environment,
                          const std::string& executable_folder);

// The inputs that the chain hands to the plug-ins are its own and are dropped after the call, so
// the host's fingerprint of every input before and after a call (two passes over the values)
// buys nothing there.
inline const mexhost::call_options trusted_inputs{false};

}  // namespace rotalign
