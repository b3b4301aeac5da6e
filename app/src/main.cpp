// rotalign: spectral clustering of points from the command line, through the plug-ins.
#include "rotalign/cli.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

namespace {

// The BLAS work of the chain is small: the rotation search's n-by-c times c-by-c products and
// the Lanczos solver's vector operations. OpenBLAS's threads cost more there in hand-offs than
// they save (a third of the eigen and rotation time on two cores), so it gets one thread,
// unless the user chose a number. Other BLAS libraries are left as they are.
void single_threaded_blas() {
    if (std::getenv("OPENBLAS_NUM_THREADS") != nullptr) return;
    using setter = void (*)(int);
    if (auto set = reinterpret_cast<setter>(dlsym(RTLD_DEFAULT, "openblas_set_num_threads"))) set(1);
}

}  // namespace

int main(int argc, char** argv) {
    single_threaded_blas();
    // The plug-ins are looked for beside the executable itself, wherever it was called from.
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv[0], ec);
    const std::vector<std::string> args(argv + 1, argv + argc);
    return rotalign::run(args, std::cout, std::cerr, self.parent_path().string(), isatty(STDERR_FILENO) == 1);
}
