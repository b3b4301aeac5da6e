// The communicator a run works on, and how the ranks agree that a stage failed.
#pragma once

#include <mpi.h>

#include <string>

namespace rotalign::mpi {

struct rank_context {
    MPI_Comm comm = MPI_COMM_WORLD;
    int rank = 0;
    int size = 1;

    bool root() const { return rank == 0; }
};

rank_context context_of(MPI_Comm comm);

// A collective: true on every rank when any rank passes `failed`.
bool any_failed(MPI_Comm comm, bool failed);

// A collective after a stage: when some rank failed, the lowest failing rank's message reaches
// rank 0 (on every rank the result is that message; empty when no rank failed).
std::string first_failure(MPI_Comm comm, const std::string& message_or_empty);

}  // namespace rotalign::mpi
