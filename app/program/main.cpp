// rotalign: spectral clustering of points from the command line, through the plug-ins.
#include "cli.h"
#include "huge_pages.h"
#include "rotalign/support/blas_threads.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <system_error>

namespace {

// A closed standard stream keeps its descriptor taken by /dev/null opened the wrong way round, so
// that its writes (or reads) still fail and no file the program opens lands on it: the groups
// would otherwise go into the file that received the summary.
void hold_closed_streams() {
    for (int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO})
        if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", fd == STDIN_FILENO ? O_WRONLY : O_RDONLY);
}

}  // namespace

int main(int argc, char** argv) {
    rotalign::restart_with_huge_pages(argv);
    hold_closed_streams();
    // The chain's BLAS work is small, so OpenBLAS gets one thread unless the user chose a number.
    const rotalign::single_blas_thread one_thread(true);
    // The plug-ins are looked for beside the executable itself, wherever it was called from.
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv[0], ec);
    const std::vector<std::string> args(argv + 1, argv + argc);
    int status = rotalign::run(args, std::cout, std::cerr, self.parent_path().string(), isatty(STDERR_FILENO) == 1);
    // The last of the output leaves with the close: a failure there loses results too.
    errno = 0;
    if (std::fclose(stdout) != 0 && status == rotalign::exit_ok) {
        std::fprintf(stderr, "rotalign: cannot write to standard output: %s\n", std::strerror(errno));
        status = rotalign::exit_failure;
    }
    // Under an address-space limit an OpenBLAS worker thread may still be retrying, forever, to map
    // its work buffer, and OpenBLAS joins its threads when the program ends: the program then
    // leaves without running the libraries' finalisers, once its output is out.
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
        std::fflush(stderr);
        std::_Exit(status);
    }
    return status;
}
