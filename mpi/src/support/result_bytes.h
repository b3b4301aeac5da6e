// A cluster_result as bytes, to travel from the rank that made it to the rank that reports it.
#pragma once

#include "rotalign/chain.h"

#include <vector>

namespace rotalign::mpi {

// Every field but the affinity matrix, which stays where it was made.
std::vector<char> result_bytes(const cluster_result& r);
// The result that result_bytes gave these bytes for; throws std::runtime_error when they end early.
cluster_result result_from_bytes(const std::vector<char>& bytes);

}  // namespace rotalign::mpi
