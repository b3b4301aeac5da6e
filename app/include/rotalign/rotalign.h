// The whole public interface of the rotalign library in one include: the clustering chain and
// every stage it is built from, in the order the data take through them.
#pragma once

#include "rotalign/support/affinity_kind.h"
#include "rotalign/support/blas_threads.h"
#include "rotalign/support/errors.h"
#include "rotalign/support/memory.h"
#include "rotalign/support/options.h"
#include "rotalign/support/progress.h"
#include "rotalign/support/sample_rows.h"
#include "rotalign/support/sparse_view.h"
#include "rotalign/support/toolbox.h"

#include "rotalign/input/npy_rows.h"
#include "rotalign/input/points.h"
#include "rotalign/input/standardise.h"

#include "rotalign/neighbours/block_search.h"
#include "rotalign/neighbours/neighbours.h"

#include "rotalign/graph/graph.h"
#include "rotalign/graph/graph_size.h"
#include "rotalign/graph/repeated_places.h"
#include "rotalign/graph/small_pieces.h"

#include "rotalign/affinity/local_scales.h"
#include "rotalign/affinity/normalise.h"
#include "rotalign/affinity/plugin_affinities.h"

#include "rotalign/eigen/canonical_basis.h"
#include "rotalign/eigen/eigen.h"
#include "rotalign/eigen/sparse_eigen.h"

#include "rotalign/groups/group_count.h"
#include "rotalign/groups/nearest_sample.h"
#include "rotalign/groups/rotation.h"
#include "rotalign/groups/scores.h"
#include "rotalign/groups/valleys.h"

#include "rotalign/output/svg.h"

#include "rotalign/datasets/datasets.h"
#include "rotalign/datasets/suite_sets.h"

#include "rotalign/chain.h"
#include "rotalign/chain_normalised.h"
#include "rotalign/graph_choice.h"
