// The main of the MPI test programs: every rank runs every test between MPI_Init and MPI_Finalize.
#include <gtest/gtest.h>
#include <mpi.h>

int main(int argc, char** argv) {
    MPI_Init(&argc, &argv);
    testing::InitGoogleTest(&argc, argv);
    const int failed = RUN_ALL_TESTS();
    MPI_Finalize();
    return failed;
}
