#include "support/together.h"

#include "support/ranks.h"

#include <chrono>
#include <exception>
#include <thread>

namespace rotalign::mpi {

void together(MPI_Comm comm, const std::function<void()>& stage) {
    std::exception_ptr failure;
    try {
        stage();
    } catch (...) {
        failure = std::current_exception();
    }
    const rank_context c = context_of(comm);
    int mine = failure ? c.rank : c.size, lowest = c.size;
    // A rank that finished early (often all but rank 0) waits asleep instead of spinning inside
    // MPI, so that the ranks on the same cores keep them.
    MPI_Request request;
    MPI_Iallreduce(&mine, &lowest, 1, MPI_INT, MPI_MIN, comm, &request);
    for (int done = 0;;) {
        MPI_Test(&request, &done, MPI_STATUS_IGNORE);
        if (done) break;
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    if (lowest == c.size) return;
    if (lowest == c.rank) std::rethrow_exception(failure);
    throw failed_elsewhere();
}

}  // namespace rotalign::mpi
