// Stages that every rank runs and that fail on all ranks together.
#pragma once

#include <mpi.h>

#include <functional>
#include <stdexcept>

namespace rotalign::mpi {

// Another rank failed in the same stage and reports why; this rank only ends.
class failed_elsewhere : public std::runtime_error {
public:
    failed_elsewhere() : std::runtime_error("another rank failed") {}
};

// Runs `stage` on this rank, then agrees with the others (a collective). When it threw anywhere,
// the lowest failing rank rethrows its own exception, and every other rank throws
// failed_elsewhere: one message for the whole run, and no rank left waiting.
void together(MPI_Comm comm, const std::function<void()>& stage);

}  // namespace rotalign::mpi
