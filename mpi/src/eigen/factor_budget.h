// Whether a factor spread over the ranks fits the memory of the machines that hold it. Ranks on
// one machine share its memory, so each machine's shares of the factor are summed against what
// is left there (a rank under a limit of its own, ulimit -v, is held to that alone).
#pragma once

#include <mpi.h>

#include <cstddef>
#include <string>

namespace rotalign::mpi {

struct spread_factor_fit {
    bool fits = true;
    // Where the factor fits worst (or, with a limit set, in all): bytes needed,
    // the budget, and the words that say where the budget comes from.
    double need = 0.0;
    double budget = 0.0;
    std::string budget_source;
};

// Collective over comm; every rank gets the same answer. `share_bytes` is this rank's share of
// the factor with its workspace, `rows` its rows of the piece, `basis` the Krylov vectors held
// beside the factor. A positive `limit_set` caps the whole factor (`total_bytes`) instead of the
// memory. Where a rank cannot measure its memory, the whole factor is held to 1 GiB.
spread_factor_fit fit_spread_factor(MPI_Comm comm, double share_bytes, double total_bytes, std::size_t rows,
                                    std::size_t basis, double limit_set);

}  // namespace rotalign::mpi
