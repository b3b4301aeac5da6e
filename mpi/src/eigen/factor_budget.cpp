#include "eigen/factor_budget.h"

#include "rotalign/eigen/sparse_eigen.h"
#include "rotalign/support/memory.h"

#include <optional>
#include <vector>

namespace rotalign::mpi {
namespace {

// The limit on the whole factor where some rank cannot measure its memory.
constexpr double unmeasured_limit = 1024.0 * 1024.0 * 1024.0;

std::string broadcast_text(MPI_Comm comm, std::string text, int root) {
    unsigned long long length = text.size();
    MPI_Bcast(&length, 1, MPI_UNSIGNED_LONG_LONG, root, comm);
    text.resize(static_cast<std::size_t>(length));
    MPI_Bcast(text.data(), static_cast<int>(length), MPI_CHAR, root, comm);
    return text;
}

}  // namespace

spread_factor_fit fit_spread_factor(MPI_Comm comm, double share_bytes, double total_bytes, std::size_t rows,
                                    std::size_t basis, double limit_set) {
    spread_factor_fit fit;
    const std::optional<memory_room> left = limit_set > 0.0 ? std::nullopt : memory_left_now();
    int measured = left ? 1 : 0;
    MPI_Allreduce(MPI_IN_PLACE, &measured, 1, MPI_INT, MPI_MIN, comm);
    if (limit_set > 0.0 || measured == 0) {
        fit.budget = limit_set > 0.0 ? limit_set : unmeasured_limit;
        fit.budget_source = limit_set > 0.0 ? "the limit set" : "the limit where the memory cannot be measured";
        fit.need = total_bytes;
        fit.fits = total_bytes <= fit.budget;
        return fit;
    }

    // The ranks that share one room: those of a machine, except that a limit of the process's
    // own (ulimit -v) makes a room of one.
    int rank = 0;
    MPI_Comm_rank(comm, &rank);
    MPI_Comm machine = MPI_COMM_NULL, sharers = MPI_COMM_NULL;
    MPI_Comm_split_type(comm, MPI_COMM_TYPE_SHARED, rank, MPI_INFO_NULL, &machine);
    MPI_Comm_split(machine, left->per_process ? rank + 1 : 0, rank, &sharers);
    MPI_Comm_free(&machine);
    int sharing = 1;
    MPI_Comm_size(sharers, &sharing);
    double need = share_bytes, room = left->bytes;
    unsigned long long shared_rows = rows;
    MPI_Allreduce(MPI_IN_PLACE, &need, 1, MPI_DOUBLE, MPI_SUM, sharers);
    MPI_Allreduce(MPI_IN_PLACE, &room, 1, MPI_DOUBLE, MPI_MIN, sharers);
    MPI_Allreduce(MPI_IN_PLACE, &shared_rows, 1, MPI_UNSIGNED_LONG_LONG, MPI_SUM, sharers);
    MPI_Comm_free(&sharers);
    const double budget = factor_bytes_budget(room, static_cast<std::size_t>(shared_rows), basis);

    // The room where the factor fits worst speaks for all: its rank of lowest number tells.
    struct {
        double over;
        int rank;
    } worst{need - budget, rank};
    MPI_Allreduce(MPI_IN_PLACE, &worst, 1, MPI_DOUBLE_INT, MPI_MAXLOC, comm);
    double figures[2] = {need, budget};
    MPI_Bcast(figures, 2, MPI_DOUBLE, worst.rank, comm);
    fit.need = figures[0];
    fit.budget = figures[1];
    fit.fits = worst.over <= 0.0;
    const std::string words = "the budget of the memory left (" + left->reason + ")" +
                              (sharing == 1 ? std::string() : ", shared by the " + std::to_string(sharing) + " ranks there");
    fit.budget_source = broadcast_text(comm, words, worst.rank);
    return fit;
}

}  // namespace rotalign::mpi
