#include "rotalign/groups/rotation.h"

#include "rotalign/support/sample_rows.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
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

// Turns the first two columns of the n-by-c matrix x by 45 degrees, in place.
void turn_first_two_columns(mxArray* x) {
    const std::size_t n = mxGetM(x);
    double* first = mxGetPr(x);
    double* second = first + n;
    const double half = std::sqrt(0.5);
    for (std::size_t i = 0; i < n; ++i) {
        const double a = first[i], b = second[i];
        first[i] = half * (a - b);
        second[i] = half * (a + b);
    }
}

// Searches as rotate_all describes, on every row of e.
rotation_searches search_all(toolbox& plugins, const eigenpairs& e, int largest, bool numerical,
                             const std::vector<std::size_t>& block_starts, const before_search_fn& before_search) {
    const std::size_t n = e.n;
    rotation_searches result;
    result.searched_rows = n;
    mexhost::array_ptr method = mexhost::make_scalar(numerical ? 2.0 : 1.0);
    // Every c counts as the end of a block when no blocks are given.
    auto block_end = [&block_starts](std::size_t c) {
        return block_starts.empty() || std::find(block_starts.begin(), block_starts.end(), c) != block_starts.end();
    };
    // The rotated matrix of the last search at the end of a block, and its number of columns.
    mexhost::array_ptr anchor;
    std::size_t anchored = 0;
    // The n-by-c input: `from` (its `kept` columns) and eigenvectors kept .. c - 1 beside it.
    auto input = [&e, n](const mxArray* from, std::size_t kept, std::size_t c) {
        mexhost::array_ptr x = mexhost::make_matrix(static_cast<mwSize>(n), static_cast<mwSize>(c));
        double* to = mxGetPr(x.get());
        if (kept > 0) std::memcpy(to, mxGetPr(from), n * kept * sizeof(double));
        for (std::size_t k = kept; k < c; ++k) std::memcpy(to + n * k, e.column(k), n * sizeof(double));
        return x;
    };
    // tarvik on x, its outputs checked.
    auto search = [&plugins, &method, n](const mxArray* x) {
        const std::size_t columns = mxGetN(x);
        auto out = plugins.get("tarvik").call(3, {x, method.get()}, trusted_inputs);
        const mxArray* quality = out[1].get();
        const mxArray* rotated = out[2].get();
        if (!mxIsDouble(quality) || mxGetNumberOfElements(quality) != 1)
            throw unexpected("the quality is not a scalar");
        if (!mxIsDouble(rotated) || mxIsSparse(rotated) || mxGetM(rotated) != n || mxGetN(rotated) != columns)
            throw unexpected("the rotated matrix does not have the input's shape");
        return out;
    };
    int searches = 0, done = 0;
    for (int c = 2; c <= largest; ++c)
        if (c == largest || block_end(static_cast<std::size_t>(c))) ++searches;
    for (int c = 2; c <= largest; ++c) {
        const std::size_t columns = static_cast<std::size_t>(c);
        const bool at_end = block_end(columns);
        if (!at_end && c < largest) {
            result.quality.push_back(std::numeric_limits<double>::quiet_NaN());
            result.groups.emplace_back();
            continue;
        }
        if (before_search) before_search(c, done++, searches);
        mexhost::array_ptr x = input(anchor.get(), anchored, columns);
        auto out = search(x.get());
        if (anchored == 0) {
            turn_first_two_columns(x.get());
            auto turned = search(x.get());
            if (mxGetScalar(turned[1].get()) > mxGetScalar(out[1].get())) out = std::move(turned);
        }
        result.quality.push_back(mxGetScalar(out[1].get()));
        result.groups.push_back(groups_of(out[0].get(), n, c));
        if (at_end) {
            anchor = std::move(out[2]);
            anchored = columns;
        }
    }
    return result;
}

}  // namespace

double rotation_work(std::size_t rows, int largest) {
    double sum = 0.0;
    for (int c = 2; c <= largest; ++c) sum += static_cast<double>(c) * c * c;
    return static_cast<double>(rows) * sum;
}

rotation_searches rotate_all(toolbox& plugins, const eigenpairs& e, int largest, bool numerical,
                             const std::vector<std::size_t>& block_starts, const row_sample& sample,
                             const before_search_fn& before_search) {
    const std::size_t n = e.n;
    if (sample.rows == 0 || sample.rows >= n)
        return search_all(plugins, e, largest, numerical, block_starts, before_search);

    const std::vector<std::size_t> rows = sample_rows(n, std::max(sample.rows, e.count), sample.seed);
    const std::size_t m = rows.size();
    eigenpairs on_sample;
    on_sample.n = m;
    on_sample.count = e.count;
    on_sample.values = e.values;
    on_sample.vectors.resize(m * e.count);
    for (std::size_t k = 0; k < e.count; ++k)
        for (std::size_t i = 0; i < m; ++i) on_sample.vectors[i + k * m] = e.vectors[rows[i] + k * n];
    rotation_searches result = search_all(plugins, on_sample, largest, numerical, block_starts, before_search);
    // Groups of the sampled rows only: they are not the points' groups.
    for (std::vector<int>& g : result.groups) g.clear();
    return result;
}

}  // namespace rotalign
