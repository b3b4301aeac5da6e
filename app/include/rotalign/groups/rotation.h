// The rotation searches of tarvik over the leading eigenvectors, one per number of groups.
#pragma once

#include "rotalign/eigen/eigen.h"
#include "rotalign/support/toolbox.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

namespace rotalign {

// Rotation searches on a sample of the rows: the searches run on `rows` rows chosen at random
// (fixed by `seed`). 0 rows, or at least as many as there are, searches on every row.
struct row_sample {
    std::size_t rows = 0;
    std::uint64_t seed = 1;
};

struct rotation_searches {
    std::vector<double> quality;            // alignment quality for c = 2, 3, ..., largest
    std::vector<std::vector<int>> groups;   // groups[k]: group of each point (1 .. k + 2, 0 none);
                                            // empty when the search for k + 2 was skipped
    std::size_t searched_rows = 0;          // rows the searches ran on
};

// Rotation searches for c = 2 .. largest on the leading eigenvectors of e. `numerical` selects
// tarvik's search by fixed steps. The search for c starts from the rotated matrix of the last
// search with eigenvector c beside it. With blocks of nearly repeated eigenvalues given
// (`block_starts`, see eigenvalue_blocks; empty: every c ends a block), only the c that end a
// block, and `largest`, are searched; each starts from the rotated matrix of the last block's
// end with the whole new block beside it. The space of the leading c eigenvectors for a c inside
// a block is not well defined (the solver's arithmetic picks it), and such searches are slow: an
// all-zero row, as a block of separate components gives, costs tarvik its 200 sweeps. A skipped
// c has quality NaN and no groups.
//
// The first search also starts from its first two columns turned by 45 degrees, and keeps the
// start that reaches the higher quality (the unturned one on a tie). The leading eigenvector
// follows the square roots of the degrees, so where two groups hold equal shares of the
// affinity their rows lie at +-45 degrees from the axes: a point where the search's gradient
// vanishes, so that it stops where it began, with a quality near 0.63 for rows that two axes
// part cleanly.
//
// With a sample, the qualities are those of the searches on the sampled rows, and no groups come
// back: the caller chooses the count from the qualities and runs the searches up to that count
// again on every row (rotate_all with that count as `largest`), whose chained searches start as
// these did, so that the chosen count's groups are exactly those of searches on every row.
// `before_search`, when given, is called before each search that runs, with its number of
// groups, the searches done and the searches that run in all; an exception it throws ends the
// searches and leaves rotate_all.
// Throws std::runtime_error when tarvik's outputs do not have the promised form.
using before_search_fn = std::function<void(int groups, int done, int searches)>;
rotation_searches rotate_all(toolbox& plugins, const eigenpairs& e, int largest, bool numerical,
                             const std::vector<std::size_t>& block_starts = {}, const row_sample& sample = {},
                             const before_search_fn& before_search = {});

// The work of the chained searches for c = 2 .. largest on `rows` rows, in units of one search
// step on one row: rows * sum of c^3. The gradient search costs about c^3 per row and step, and
// measured times follow that sum (6,000 points: 0.23, 4.6, 20 and 59 s for the searches up to
// 10, 20, 30 and 40 groups, where the sum predicts 0.28, 4.2, 20 and 63 s from the third).
double rotation_work(std::size_t rows, int largest);

}  // namespace rotalign
