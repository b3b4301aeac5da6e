// The automatic graph's choice in its parts: the chain on each candidate graph, the decision
// among their outcomes, and the note and facts that complete the result taken. cluster_points
// runs them one after another; a caller with several processes may run the candidates apart and
// decide on the outcomes of all (every process alike, since the decision reads the outcomes
// alone).
#pragma once

#include "rotalign/chain.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace rotalign {

// How the chain on one candidate graph came out.
struct candidate_outcome {
    std::size_t neighbours = 0;  // the candidate's neighbours per point
    int chosen = 0;              // the count it chose; 0 when it gave none
    double score = 0.0;          // graph_choice_score (told_count_score with a fixed count)
    // When its graph fell apart into more pieces than the groups tried: how many, and the groups
    // tried.
    std::size_t pieces = 0;
    int groups_tried = 0;
};

// The candidates' neighbour counts on `points` points: those of graph_choice_neighbours that keep
// fewer than half the points as each one's neighbours.
std::vector<std::size_t> candidate_neighbours(std::size_t points);

// The chain on the candidate graph of m neighbours per point of `on`, the points the choice runs
// on (all `total` points, or a sample of them). Its result when it gave a count; nothing when the
// points cannot carry the candidate, no count fits, or its graph falls apart (`out` says how).
// A plug-in's failure and the caller's interrupt are thrown.
std::optional<cluster_result> run_candidate(toolbox& plugins, const points& on, std::size_t total,
                                            const cluster_options& options, std::size_t m, candidate_outcome& out);

// The outcome taken, by its position: among the outcomes with a count that another confirms (all
// of them when none is confirmed), the count of the largest summed score, then that count's
// best-scored graph. Throws too_many_pieces when none gave a count and some fell apart; nothing
// when none gave a count otherwise.
std::optional<std::size_t> taken_candidate(const std::vector<candidate_outcome>& outcomes);

// Completes the result of the outcome taken: the candidates and their agreement, the points the
// choice ran on, and the note on graphs that fell apart into more pieces than it has groups.
void complete_choice(cluster_result& r, const std::vector<candidate_outcome>& outcomes, const cluster_options& options,
                     std::size_t choice_points);

}  // namespace rotalign
