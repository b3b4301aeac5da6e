// Failures inside a collective step: a rank that fails must not leave the others waiting.
#pragma once

#include <mpi.h>

#include <exception>

namespace rotalign::mpi {

// A collective after a step that may have failed on some ranks (failure empty where it did not):
// returns when no rank failed. Otherwise every rank throws: a failed rank its own exception, the
// others one of the kind of the lowest failed rank's (input_error or std::runtime_error) with its
// message.
void leave_together(MPI_Comm comm, const std::exception_ptr& failure);

}  // namespace rotalign::mpi
