// Linked only into the test copy of rotalign-mpi, with -Wl,--wrap for each call below: on rank 1
// alone, the call named by ROTALIGN_TEST_FAILING_CALL fails (as running out of memory there
// would), while the other ranks go on into the collective work that waits for rank 1. Every
// other call, and every call when the variable is unset, goes to the real one. Which call of
// that name fails is fixed below, except where ROTALIGN_TEST_FAILING_NTH names another.
#include <mpi.h>
#include <petscmat.h>

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

// Whether this call of `name` is the one that fails: its `nth` call on rank 1.
bool fails_now(const char* name, int nth) {
    const char* chosen = std::getenv("ROTALIGN_TEST_FAILING_CALL");
    if (chosen == nullptr || std::strcmp(chosen, name) != 0) return false;
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    const char* given = std::getenv("ROTALIGN_TEST_FAILING_NTH");
    if (given != nullptr) nth = std::atoi(given);
    static int calls = 0;
    return rank == 1 && ++calls == nth;
}

}  // namespace

extern "C" {

PetscErrorCode __real_MatSolve(Mat factor, Vec x, Vec y);
PetscErrorCode __real_MatCholeskyFactorNumeric(Mat factor, Mat a, const MatFactorInfo* info);
int __real_MPI_Sendrecv(const void* sent, int sent_count, MPI_Datatype sent_type, int to, int sent_tag,
                        void* received, int received_count, MPI_Datatype received_type, int from, int received_tag,
                        MPI_Comm comm, MPI_Status* status);
int __real_MPI_Alltoall(const void* sent, int sent_count, MPI_Datatype sent_type, void* received, int received_count,
                        MPI_Datatype received_type, MPI_Comm comm);

// A solve inside the Krylov iteration: the other rank sits in the next distributed solve or in
// the iteration's reductions.
PetscErrorCode __wrap_MatSolve(Mat factor, Vec x, Vec y) {
    if (fails_now("MatSolve", 3)) return PETSC_ERR_MEM;
    return __real_MatSolve(factor, x, y);
}

// The factorisation: the other rank sits inside the distributed factorisation itself.
PetscErrorCode __wrap_MatCholeskyFactorNumeric(Mat factor, Mat a, const MatFactorInfo* info) {
    if (fails_now("MatCholeskyFactorNumeric", 1)) return PETSC_ERR_MEM;
    return __real_MatCholeskyFactorNumeric(factor, a, info);
}

// The neighbour ring's first exchange: the other rank waits for rank 1's block.
int __wrap_MPI_Sendrecv(const void* sent, int sent_count, MPI_Datatype sent_type, int to, int sent_tag,
                        void* received, int received_count, MPI_Datatype received_type, int from, int received_tag,
                        MPI_Comm comm, MPI_Status* status) {
    if (fails_now("MPI_Sendrecv", 1)) throw std::bad_alloc();
    return __real_MPI_Sendrecv(sent, sent_count, sent_type, to, sent_tag, received, received_count, received_type,
                               from, received_tag, comm, status);
}

// The first exchange of the graph's mirrored entries: the other rank waits in it for rank 1's.
int __wrap_MPI_Alltoall(const void* sent, int sent_count, MPI_Datatype sent_type, void* received, int received_count,
                        MPI_Datatype received_type, MPI_Comm comm) {
    if (fails_now("MPI_Alltoall", 1)) throw std::bad_alloc();
    return __real_MPI_Alltoall(sent, sent_count, sent_type, received, received_count, received_type, comm);
}

}  // extern "C"
