// rotalign-mpi: `rotalign cluster` across MPI ranks (mpirun -n P rotalign-mpi cluster POINTS ...).
#include "cli.h"
#include "rotalign/support/blas_threads.h"

#include <mpi.h>

#include <cstdio>
#include <filesystem>
#include <iostream>
#include <system_error>

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    const rotalign::single_blas_thread one_thread(true);
    std::error_code ec;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) self = std::filesystem::absolute(argv[0], ec);
    const std::vector<std::string> args(argv + 1, argv + argc);
    // Rank 0 runs the whole chain; the others wait for its status.
    int status = 0;
    if (rank == 0) status = rotalign::run(args, std::cout, std::cerr, self.parent_path().string(), false);
    std::cout.flush();
    MPI_Bcast(&status, 1, MPI_INT, 0, MPI_COMM_WORLD);
    MPI_Finalize();
    return status;
}
