#include "rotalign/rotation.h"

#include <cmath>
#include <cstring>
#include <stdexcept>
#include <string>

namespace rotalign {
namespace {

std::runtime_error unexpected(const std::string& what) {
    return std::runtime_error("unexpected result from tarvik: " + what);
}

// The groups of tarvik's cell (element g lists the 1-based rows of group g + 1) as one group
// number per row; rows that no element lists keep 0.
std::vector<int> groups_of(const mxArray* cell, std::size_t n, int c) {
    if (!mxIsCell(cell) || mxGetNumberOfElements(cell) != static_cast<std::size_t>(c))
        throw unexpected("the groups are not a cell of one element per group");
    std::vector<int> groups(n, 0);
    for (int g = 0; g < c; ++g) {
        const mxArray* members = mxGetCell(cell, g);
        if (members == nullptr || !mxIsDouble(members) || mxIsSparse(members))
            throw unexpected("a group is not a list of rows");
        const double* rows = mxGetPr(members);
        for (std::size_t k = 0; k < mxGetNumberOfElements(members); ++k) {
            const double row = rows[k];
            if (!(row >= 1.0 && row <= static_cast<double>(n)) || row != std::floor(row))
                throw unexpected("a group lists a row that does not exist");
            groups[static_cast<std::size_t>(row) - 1] = g + 1;
        }
    }
    return groups;
}

}  // namespace

rotation_searches rotate_all(toolbox& plugins, const eigenpairs& e, int largest, bool numerical) {
    const std::size_t n = e.n;
    rotation_searches result;
    mexhost::array_ptr method = mexhost::make_scalar(numerical ? 2.0 : 1.0);
    mexhost::array_ptr x = mexhost::make_matrix(static_cast<mwSize>(n), 2);
    if (n > 0) std::memcpy(mxGetPr(x.get()), e.vectors.data(), 2 * n * sizeof(double));
    for (int c = 2; c <= largest; ++c) {
        auto out = plugins.get("tarvik").call(3, {x.get(), method.get()}, trusted_inputs);
        const mxArray* quality = out[1].get();
        const mxArray* rotated = out[2].get();
        if (!mxIsDouble(quality) || mxGetNumberOfElements(quality) != 1)
            throw unexpected("the quality is not a scalar");
        if (!mxIsDouble(rotated) || mxIsSparse(rotated) || mxGetM(rotated) != n ||
            mxGetN(rotated) != static_cast<std::size_t>(c))
            throw unexpected("the rotated matrix does not have the input's shape");
        result.quality.push_back(mxGetScalar(quality));
        result.groups.push_back(groups_of(out[0].get(), n, c));
        if (c == largest) break;
        // Next input: the rotated matrix and eigenvector c + 1 beside it.
        x = mexhost::make_matrix(static_cast<mwSize>(n), static_cast<mwSize>(c + 1));
        double* next = mxGetPr(x.get());
        std::memcpy(next, mxGetPr(rotated), n * static_cast<std::size_t>(c) * sizeof(double));
        std::memcpy(next + n * static_cast<std::size_t>(c), e.column(static_cast<std::size_t>(c)),
                    n * sizeof(double));
    }
    return result;
}

}  // namespace rotalign
