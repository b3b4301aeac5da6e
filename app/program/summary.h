// What the program prints about a run: the summary of the choice and the time of each stage.
#pragma once

#include "rotalign/chain.h"

#include <ostream>
#include <string>

namespace rotalign {

// Seconds as milliseconds, one decimal below ten seconds.
std::string milliseconds(double seconds);

// The chosen number of groups, then for every c the quality, the eigenvalues and the clear cuts
// that made the choice, the graph, the solver and the stage times; first a warning when the
// columns' units differ so much that a few columns make the distances.
void print_summary(std::ostream& s, const cluster_result& r, const cluster_options& o);

}  // namespace rotalign
