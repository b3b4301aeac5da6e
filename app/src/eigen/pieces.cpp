#include "eigen/pieces.h"

#include <algorithm>
#include <utility>

namespace rotalign {

eigenpairs leading_over_pieces(std::size_t n, std::size_t count, const graph_pieces& pieces,
                               const piece_solver& solve) {
    struct candidate {
        double value;
        std::size_t piece, k;
    };
    std::vector<piece_pairs> solved(pieces.count());
    std::vector<candidate> candidates;
    for (std::size_t p = 0; p < pieces.count(); ++p) {
        const std::size_t wanted = std::min(count, pieces.size(p));
        solved[p] = solve(p, wanted);
        for (std::size_t k = 0; k < wanted; ++k) candidates.push_back({solved[p].values[k], p, k});
    }

    eigenpairs out;
    out.n = n;
    out.count = count;
    if (pieces.count() == 1) {
        // One piece in the original numbering: its pairs are the result.
        out.values = std::move(solved[0].values);
        out.vectors = std::move(solved[0].vectors);
        return out;
    }
    std::stable_sort(candidates.begin(), candidates.end(),
                     [](const candidate& a, const candidate& b) { return a.value > b.value; });
    out.values.resize(count);
    out.vectors.assign(n * count, 0.0);
    for (std::size_t k = 0; k < count; ++k) {
        const candidate& c = candidates[k];
        out.values[k] = c.value;
        const std::size_t size = pieces.size(c.piece);
        const double* v = &solved[c.piece].vectors[c.k * size];
        const std::int32_t* points = pieces.points(c.piece);
        for (std::size_t i = 0; i < size; ++i) out.vectors[static_cast<std::size_t>(points[i]) + k * n] = v[i];
    }
    return out;
}

}  // namespace rotalign
