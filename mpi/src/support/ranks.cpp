#include "support/ranks.h"

#include <vector>

namespace rotalign::mpi {

rank_context context_of(MPI_Comm comm) {
    rank_context c;
    c.comm = comm;
    MPI_Comm_rank(comm, &c.rank);
    MPI_Comm_size(comm, &c.size);
    return c;
}

bool any_failed(MPI_Comm comm, bool failed) {
    int mine = failed ? 1 : 0, any = 0;
    MPI_Allreduce(&mine, &any, 1, MPI_INT, MPI_MAX, comm);
    return any != 0;
}

std::string first_failure(MPI_Comm comm, const std::string& message_or_empty) {
    const rank_context c = context_of(comm);
    // The lowest failing rank (size when none failed) sends its message to everyone.
    int mine = message_or_empty.empty() ? c.size : c.rank, lowest = c.size;
    MPI_Allreduce(&mine, &lowest, 1, MPI_INT, MPI_MIN, comm);
    if (lowest == c.size) return {};
    unsigned long long length = message_or_empty.size();
    MPI_Bcast(&length, 1, MPI_UNSIGNED_LONG_LONG, lowest, comm);
    std::vector<char> text(message_or_empty.begin(), message_or_empty.end());
    text.resize(static_cast<std::size_t>(length));
    MPI_Bcast(text.data(), static_cast<int>(length), MPI_CHAR, lowest, comm);
    return std::string(text.begin(), text.end());
}

}  // namespace rotalign::mpi
