#include "support/together.h"

#include "support/ranks.h"

#include <exception>

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
    MPI_Allreduce(&mine, &lowest, 1, MPI_INT, MPI_MIN, comm);
    if (lowest == c.size) return;
    if (lowest == c.rank) std::rethrow_exception(failure);
    throw failed_elsewhere();
}

}  // namespace rotalign::mpi
