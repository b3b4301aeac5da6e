// rotalign-mpi: `rotalign cluster` across MPI ranks (mpirun -n P rotalign-mpi cluster POINTS ...).
// Every rank reads the same command line; rank 0 alone writes the groups and the summary.
#include "cautions.h"
#include "cli.h"
#include "distributed_chain.h"
#include "huge_pages.h"
#include "input/local_points.h"
#include "rotalign/support/blas_threads.h"
#include "rotalign/support/progress.h"
#include "support/collective_section.h"
#include "support/freed_memory.h"
#include "support/together.h"

#include <mpi.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <system_error>

#include <unistd.h>

namespace {

using namespace rotalign;
using namespace rotalign::mpi;

// Whether a person watches this rank's standard error: a terminal, or, as mpiexec hands its
// ranks pipes, the standard error of the launcher that started this rank on the same machine.
bool watched() {
    if (isatty(STDERR_FILENO) == 1) return true;
    std::error_code ec;
    const std::filesystem::path launcher = "/proc/" + std::to_string(getppid()) + "/fd/2";
    const std::string target = std::filesystem::read_symlink(launcher, ec).string();
    return !ec && (target.rfind("/dev/pts/", 0) == 0 || target.rfind("/dev/tty", 0) == 0);
}

// The chain on the points of all ranks and rank 0's outputs.
int cluster_on_ranks(const rank_context& c, const cluster_call& call, std::ostream& out, std::ostream& err) {
    const local_points p = read_local_points(c, call.file);
    if (call.plot_points)
        together(c.comm, [&] {
            if (p.own.dims < 2) throw input_error("--plot needs points of at least two coordinates");
        });
    if (c.root())
        if (const auto warning = group_count_warning(p.total, call.options))
            err << "rotalign-mpi: warning: " << *warning << '\n';
    std::optional<toolbox> plugins;
    together(c.comm, [&] { plugins.emplace(call.plugins_folder); });
    // Rank 0 shows the long stages' progress where a person watches its standard error.
    progress report(err, c.root() && watched());
    cluster_options options = call.options;
    options.report = c.root() ? &report : nullptr;
    const distributed_result d = cluster_across(c, *plugins, p, options);
    report.end();
    const points all = call.plot_points ? gather_points(c, p) : points{};
    together(c.comm, [&] {
        if (c.root()) write_cluster_outputs(call, d.result, all, out, err);
    });
    return exit_ok;
}

// The failure being handled, reported in one write to standard error: written piece by piece,
// the notice of another process that MPI_Abort ends (Open MPI's own) could fall between the
// program's name and the message.
int report_in_one_write() {
    std::ostringstream message;
    const int status = report_failure(message, "rotalign-mpi");
    const std::string text = message.str();
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    restart_with_huge_pages(argv);
    MPI_Init(&argc, &argv);
    return_freed_memory();
    const rank_context c = context_of(MPI_COMM_WORLD);
    // A failure that ends the run from inside collective work reads as any other failure.
    set_failure_report(report_in_one_write);
    // The chain's BLAS work is small, and the ranks share the machine's cores.
    const single_blas_thread one_thread(true);
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv[0], ec);
    const std::string folder = self.parent_path().string();
    const std::vector<std::string> args(argv + 1, argv + argc);

    // Every rank reads the command line alike; only rank 0 speaks about it.
    std::ostringstream quiet;
    std::ostream& out = c.root() ? std::cout : quiet;
    std::ostream& err = c.root() ? std::cerr : quiet;
    cluster_call call;
    int status = read_cluster_call(args, call, out, err, folder, "rotalign-mpi");
    if (status < 0) {
        try {
            if (call.distances) {
                // A distance matrix holds N^2 values: one process runs on it.
                if (c.root()) status = run(args, std::cout, std::cerr, folder, false);
                MPI_Bcast(&status, 1, MPI_INT, 0, c.comm);
            } else {
                status = cluster_on_ranks(c, call, out, err);
            }
        } catch (const failed_elsewhere&) {
            status = exit_failure;
        } catch (...) {
            // This rank failed first: its message is the run's only one.
            status = report_in_one_write();
        }
    }
    std::cout.flush();
    if (c.root()) {
        errno = 0;
        if (std::fflush(stdout) != 0 && status == exit_ok) {
            std::fprintf(stderr, "rotalign-mpi: cannot write to standard output: %s\n", std::strerror(errno));
            status = exit_failure;
        }
    }
    // Every rank ends with the worst status of any.
    int worst = status;
    MPI_Allreduce(&status, &worst, 1, MPI_INT, MPI_MAX, c.comm);
    MPI_Finalize();
    return worst;
}
