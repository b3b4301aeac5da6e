#include "graph/choice_across.h"

#include "rotalign/graph_choice.h"
#include "support/collective_section.h"
#include "support/exchange.h"
#include "support/result_bytes.h"
#include "support/together.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <vector>

namespace rotalign::mpi {
namespace {

// The rank that runs candidate k: the last rank the first, so that rank 0, which also completes
// the result taken and reports it, runs the fewest.
int runner_of(std::size_t k, int ranks) { return ranks - 1 - static_cast<int>(k % static_cast<std::size_t>(ranks)); }

}  // namespace

std::optional<cluster_result> choice_across(const rank_context& c, toolbox& plugins, const points& sample,
                                            const cluster_options& options) {
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::size_t> neighbours = candidate_neighbours(sample.count);
    std::vector<candidate_outcome> outcomes(neighbours.size());
    std::vector<std::optional<cluster_result>> results(neighbours.size());
    together(c.comm, [&] {
        for (std::size_t k = 0; k < neighbours.size(); ++k)
            if (runner_of(k, c.size) == c.rank)
                results[k] = run_candidate(plugins, sample, sample.count, options, neighbours[k], outcomes[k]);
    });
    // Every rank learns every outcome, and so decides alike.
    for (std::size_t k = 0; k < outcomes.size(); ++k)
        MPI_Bcast(&outcomes[k], sizeof(candidate_outcome), MPI_BYTE, runner_of(k, c.size), c.comm);
    std::optional<std::size_t> taken;
    together(c.comm, [&] { taken = taken_candidate(outcomes); });
    if (!taken) return std::nullopt;

    // The result taken travels to rank 0, unless it was made there. Only the two ranks take part,
    // while the others go on to wait for rank 0: a failure here ends the run.
    const int runner = runner_of(*taken, c.size);
    constexpr int tag = 72;
    cluster_result r;
    collective_section([&] {
        if (runner != 0 && c.rank == runner) {
            const std::vector<char> bytes = result_bytes(*results[*taken]);
            const std::uint64_t count = bytes.size();
            MPI_Send(&count, 1, MPI_UINT64_T, 0, tag, c.comm);
            send_array(c.comm, bytes.data(), bytes.size(), 0, tag);
        }
        if (!c.root()) return;
        if (runner == 0) {
            r = std::move(*results[*taken]);
        } else {
            std::uint64_t count = 0;
            MPI_Recv(&count, 1, MPI_UINT64_T, runner, tag, c.comm, MPI_STATUS_IGNORE);
            std::vector<char> bytes(count);
            receive_array(c.comm, bytes.data(), bytes.size(), runner, tag);
            r = result_from_bytes(bytes);
        }
        complete_choice(r, outcomes, options, sample.count);
        r.times.choice = std::max(0.0, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() -
                                           r.times.total());
    });
    return r;
}

}  // namespace rotalign::mpi
