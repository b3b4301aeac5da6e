// rotalign: spectral clustering of points from the command line, through the plug-ins.
#include "cli.h"
#include "rotalign/support/blas_threads.h"

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

int main(int argc, char** argv) {
    // The chain's BLAS work is small, so OpenBLAS gets one thread unless the user chose a number.
    const rotalign::single_blas_thread one_thread(true);
    // The plug-ins are looked for beside the executable itself, wherever it was called from.
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv[0], ec);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return rotalign::run(args, std::cout, std::cerr, self.parent_path().string(), isatty(STDERR_FILENO) == 1);
}
