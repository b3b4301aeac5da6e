// rotalign: spectral clustering of points from the command line, through the plug-ins.
#include "rotalign/cli.h"

#include <filesystem>
#include <iostream>
#include <system_error>

int main(int argc, char** argv) {
    // The plug-ins are looked for beside the executable itself, wherever it was called from.
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv[0], ec);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return rotalign::run(args, std::cout, std::cerr, self.parent_path().string());
}
