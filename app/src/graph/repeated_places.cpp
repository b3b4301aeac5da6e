#include "rotalign/graph/repeated_places.h"

#include "rotalign/graph/small_pieces.h"

#include <algorithm>
#include <limits>

namespace rotalign {
namespace {

// The stored off-diagonal distances of column j of d, dense or sparse, with their rows.
template <typename Visit>
void each_entry(const mxArray* d, std::size_t j, Visit visit) {
    const double* v = mxGetPr(d);
    if (mxIsSparse(d)) {
        const mwIndex* jc = mxGetJc(d);
        const mwIndex* ir = mxGetIr(d);
        for (mwIndex k = jc[j]; k < jc[j + 1]; ++k)
            if (static_cast<std::size_t>(ir[k]) != j) visit(static_cast<std::size_t>(ir[k]), v[k]);
    } else {
        const std::size_t n = mxGetM(d);
        for (std::size_t i = 0; i < n; ++i)
            if (i != j) visit(i, v[i + j * n]);
    }
}

// A distance this small is a copy's: the smallest positive double stands for 0 where a sparse
// matrix cannot store zeros (Octave's).
bool copy_distance(double distance) { return distance <= std::numeric_limits<double>::denorm_min(); }

}  // namespace

repeated_places find_repeated_places(const mxArray* d, const std::vector<double>& sigma) {
    if (std::none_of(sigma.begin(), sigma.end(), copy_distance)) return {};
    const std::size_t n = sigma.size();
    repeated_places places{std::vector<char>(n, 0), std::vector<std::size_t>(n, no_point)};
    std::vector<std::size_t>& reach = places.reach;
    for (std::size_t i = 0; i < n; ++i) {
        if (!copy_distance(sigma[i])) continue;
        places.zero_scale[i] = 1;
        // The column is symmetric with the rows: every point that has i among its nearest is in it.
        double nearest = std::numeric_limits<double>::infinity();
        each_entry(d, i, [&](std::size_t j, double distance) {
            if (copy_distance(sigma[j]) || !(distance <= sigma[j])) return;
            if (distance < nearest || (distance == nearest && j < reach[i])) {
                nearest = distance;
                reach[i] = j;
            }
        });
    }
    return places;
}

std::vector<std::size_t> joins_of_cut_off_places(const mxArray* l, const repeated_places& places) {
    if (places.empty()) return {};
    const std::vector<std::size_t>& reach = places.reach;
    const std::size_t n = mxGetM(l);
    const std::vector<std::size_t> root = piece_roots(l);
    // Per piece: whether all its points have a zero scale, and the reach of its first point with one.
    std::vector<char> all_repeated(n, 1);
    std::vector<std::size_t> target(n, no_point);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t r = root[i];
        if (!places.zero_scale[i]) all_repeated[r] = 0;
        if (target[r] == no_point) target[r] = reach[i];
    }
    std::vector<std::size_t> joins(n, no_point);
    bool any = false;
    for (std::size_t i = 0; i < n; ++i)
        if (all_repeated[root[i]] && target[root[i]] != no_point) {
            joins[i] = target[root[i]];
            any = true;
        }
    if (!any) joins.clear();
    return joins;
}

}  // namespace rotalign
