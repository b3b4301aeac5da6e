#pragma once
// What the chain's own files share: the step being run (named when memory runs out in it), the
// room the BLAS library needs, and the chain on one graph, which the automatic graph's choice runs
// on every candidate.

#include "rotalign/chain.h"
#include "rotalign/graph_choice.h"
#include "rotalign/support/memory.h"

#include <optional>
#include <string>

namespace rotalign {

// The room for the BLAS library's work buffer, which the chain maps before it takes its memory:
// below it no route is started.
constexpr double blas_buffers = 128.0 * 1024 * 1024;

// The chain's current step, for the message when memory runs out in it: what the step does and
// the arrays it builds, with their size.
struct chain_step {
    std::string doing, building;

    memory_error out_of_memory() const { return memory_error("out of memory while " + doing + " (" + building + ")"); }
};

// Neighbours per point in the nearest-neighbour graph that the options give.
std::size_t neighbours_per_point(const cluster_options& options);

// The chain on the graph that the options give; with `across_valleys`, on a nearest-neighbour
// graph, a larger strong cut whose groups part along density valleys is taken over the rule's
// count (valleys.h).
cluster_result cluster_on_graph(toolbox& plugins, const points& p, const cluster_options& options, chain_step& step,
                                bool across_valleys = false);

// run_candidate within the chain's current step.
std::optional<cluster_result> run_candidate_in(toolbox& plugins, const points& on, std::size_t total,
                                               const cluster_options& options, std::size_t m,
                                               candidate_outcome& out, chain_step& step);

// The automatic graph: the chain on each candidate graph of (a sample of) the points, the best
// score taken; on more points than the sample every other point joins the group of its nearest
// sampled point. Nothing when no candidate fits the points and options.
std::optional<cluster_result> chosen_graph(toolbox& plugins, const points& p, const cluster_options& options,
                                          chain_step& step);

}  // namespace rotalign
