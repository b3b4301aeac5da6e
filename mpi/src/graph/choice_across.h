// The automatic graph's choice with its candidate graphs shared out over the ranks.
#pragma once

#include "rotalign/chain.h"
#include "support/ranks.h"

#include <optional>

namespace rotalign::mpi {

// The chain on every candidate graph of `sample` (on every rank alike), each candidate on one
// rank, then the decision among them, which every rank takes alike, and the result of the
// candidate taken completed on rank 0 as one process completes it (the other ranks get an
// empty result). Nothing when no candidate gave a count; too_many_pieces, thrown on every rank,
// when none did and some fell apart; a failure on one rank reaches all (together).
std::optional<cluster_result> choice_across(const rank_context& c, toolbox& plugins, const points& sample,
                                            const cluster_options& options);

}  // namespace rotalign::mpi
