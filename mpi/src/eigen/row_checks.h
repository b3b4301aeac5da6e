// The checks of the distributed eigen-step's input: the same facts the one-process step checks
// on a sparse_view, for rows spread over the ranks.
#pragma once

#include "eigen/ghost_columns.h"
#include "graph/local_rows.h"

#include <mpi.h>

namespace rotalign::mpi {

// Throws input_error on every rank unless every rank has the same N, the blocks of rows follow
// one another from 0 to N, and each rank's rows are well formed: offsets from 0 that never
// decrease and end at the number of entries, columns inside the matrix and strictly ascending in
// each row, finite values. Returns where the blocks start. Collective.
block_starts check_rows(MPI_Comm comm, const local_rows& m);

// Throws input_error on every rank unless the matrix is exactly symmetric, in pattern and in
// values: each entry above the diagonal is looked up by the owner of its mirror, and the entries
// above and below the diagonal are counted. Collective; m passed check_rows.
void check_symmetric(MPI_Comm comm, const local_rows& m, const block_starts& blocks);

}  // namespace rotalign::mpi
