#include "rotalign/graph/small_pieces.h"

#include "support/disjoint_sets.h"

#include <cmath>
#include <cstring>

namespace rotalign {

std::vector<std::size_t> piece_roots(const mxArray* l) {
    const std::size_t n = mxGetM(l);
    const double least = 1e-12 / static_cast<double>(n);
    const double* v = mxGetPr(l);
    detail::disjoint_sets sets(n);
    if (mxIsSparse(l)) {
        const mwIndex* jc = mxGetJc(l);
        const mwIndex* ir = mxGetIr(l);
        for (std::size_t j = 0; j < n; ++j)
            for (mwIndex k = jc[j]; k < jc[j + 1]; ++k)
                if (std::fabs(v[k]) > least) sets.join(ir[k], j);
    } else {
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t i = j + 1; i < n; ++i)
                if (std::fabs(v[i + j * n]) > least) sets.join(i, j);
    }
    std::vector<std::size_t> root(n);
    for (std::size_t i = 0; i < n; ++i) root[i] = sets.root(i);
    return root;
}

std::vector<char> points_in_small_pieces(const mxArray* l, std::size_t min_size) {
    const std::size_t n = mxGetM(l);
    if (min_size <= 1 || n == 0) return {};
    const std::vector<std::size_t> root = piece_roots(l);
    std::vector<std::size_t> size(n, 0);
    for (std::size_t i = 0; i < n; ++i) ++size[root[i]];
    std::vector<char> small(n, 0);
    bool any = false;
    for (std::size_t i = 0; i < n; ++i)
        if (size[root[i]] < min_size) {
            small[i] = 1;
            any = true;
        }
    if (!any) small.clear();
    return small;
}

mexhost::array_ptr without_points(const mxArray* l, const std::vector<char>& left_out) {
    const std::size_t n = mxGetM(l);
    // The new index of every kept point.
    std::vector<std::size_t> index(n, 0);
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (!left_out[i]) index[i] = kept++;
    const double* v = mxGetPr(l);
    if (!mxIsSparse(l)) {
        mexhost::array_ptr out =
            mexhost::make_matrix_for_overwrite(static_cast<mwSize>(kept), static_cast<mwSize>(kept));
        double* o = mxGetPr(out.get());
        for (std::size_t j = 0; j < n; ++j) {
            if (left_out[j]) continue;
            double* column = o + index[j] * kept;
            for (std::size_t i = 0; i < n; ++i)
                if (!left_out[i]) column[index[i]] = v[i + j * n];
        }
        return out;
    }
    const mwIndex* jc = mxGetJc(l);
    const mwIndex* ir = mxGetIr(l);
    std::vector<mwIndex> starts{0}, rows;
    std::vector<double> values;
    for (std::size_t j = 0; j < n; ++j) {
        if (left_out[j]) continue;
        for (mwIndex k = jc[j]; k < jc[j + 1]; ++k) {
            if (left_out[ir[k]]) continue;
            rows.push_back(static_cast<mwIndex>(index[ir[k]]));
            values.push_back(v[k]);
        }
        starts.push_back(static_cast<mwIndex>(rows.size()));
    }
    return mexhost::make_sparse(static_cast<mwSize>(kept), static_cast<mwSize>(kept), starts, rows, values);
}

std::size_t default_min_group_size(std::size_t n) {
    const std::size_t share = (n + 99) / 100;
    return share < 2 ? 2 : share;
}

}  // namespace rotalign
