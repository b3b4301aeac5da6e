#include "graph/sparse_graph.h"

#include "rotalign/support/errors.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rotalign {

void check_symmetric(const sparse_view& m) {
    const std::size_t n = m.n;
    if (n > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max()))
        throw input_error("sparse matrix: too many rows for 32-bit indices");
    if (m.starts == nullptr) throw input_error("sparse matrix: no column offsets");
    if (m.starts[0] != 0) throw input_error("sparse matrix: column offsets must start at 0 and never decrease");
    for (std::size_t j = 0; j < n; ++j)
        if (m.starts[j + 1] < m.starts[j])
            throw input_error("sparse matrix: column offsets must start at 0 and never decrease");
    if (m.entries() > 0 && (m.rows == nullptr || m.values == nullptr))
        throw input_error("sparse matrix: no row indices or values");
    const auto limit = static_cast<std::int32_t>(n);
    for (std::size_t j = 0; j < n; ++j)
        for (std::int32_t k = m.starts[j]; k < m.starts[j + 1]; ++k) {
            if (m.rows[k] < 0 || m.rows[k] >= limit || (k > m.starts[j] && m.rows[k] <= m.rows[k - 1]))
                throw input_error("sparse matrix: row indices must lie in the matrix and ascend in each column");
            if (!std::isfinite(m.values[k])) throw input_error("sparse matrix: a value is not a finite number");
        }
    // Entry (i, j) below the diagonal must meet (j, i) in column i. Taking the columns j in
    // ascending order visits the entries above the diagonal of each column i in their stored
    // order, so one cursor per column finds every partner, or its absence, in a single pass.
    std::vector<std::int32_t> upper(m.starts, m.starts + n);
    for (std::size_t j = 0; j < n; ++j)
        for (std::int32_t k = m.starts[j]; k < m.starts[j + 1]; ++k) {
            const auto i = static_cast<std::size_t>(m.rows[k]);
            if (i <= j) continue;
            const std::int32_t partner = upper[i]++;
            if (partner >= m.starts[i + 1] || static_cast<std::size_t>(m.rows[partner]) != j ||
                m.values[partner] != m.values[k])
                throw input_error("sparse matrix: not symmetric");
        }
    for (std::size_t i = 0; i < n; ++i)
        if (upper[i] < m.starts[i + 1] && static_cast<std::size_t>(m.rows[upper[i]]) < i)
            throw input_error("sparse matrix: not symmetric");
}

void multiply(const sparse_view& m, const double* x, double* y) {
    for (std::size_t j = 0; j < m.n; ++j) {
        double sum = 0.0;
        for (std::int32_t k = m.starts[j]; k < m.starts[j + 1]; ++k) sum += m.values[k] * x[m.rows[k]];
        y[j] = sum;
    }
}

void multiply_rows(const sparse_view& m, const double* x, std::size_t k, double* y) {
    for (std::size_t j = 0; j < m.n; ++j) {
        double* yj = y + j * k;
        std::fill(yj, yj + k, 0.0);
        for (std::int32_t e = m.starts[j]; e < m.starts[j + 1]; ++e) {
            const double v = m.values[e];
            const double* xi = x + static_cast<std::size_t>(m.rows[e]) * k;
            for (std::size_t c = 0; c < k; ++c) yj[c] += v * xi[c];
        }
    }
}

graph_pieces connected_pieces(const sparse_view& m, double least) {
    const std::size_t n = m.n;
    detail::disjoint_sets sets(n);
    for (std::size_t j = 0; j < n; ++j)
        for (std::int32_t k = m.starts[j]; k < m.starts[j + 1]; ++k)
            if (static_cast<std::size_t>(m.rows[k]) > j && std::fabs(m.values[k]) > least)
                sets.join(static_cast<std::size_t>(m.rows[k]), j);
    return pieces_of(sets, n);
}

graph_pieces pieces_of(detail::disjoint_sets& sets, std::size_t n) {
    graph_pieces out;
    // Number the pieces, then lay their points out piece after piece (a counting sort). A root is
    // the least point of its piece, so in ascending order it is numbered before its members, and
    // the pieces come out in the order of their first points.
    out.piece_of.resize(n);
    std::vector<std::size_t> size;
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t r = sets.root(i);
        if (r == i) {
            out.piece_of[i] = static_cast<std::int32_t>(size.size());
            size.push_back(0);
        } else {
            out.piece_of[i] = out.piece_of[r];
        }
        ++size[static_cast<std::size_t>(out.piece_of[i])];
    }
    out.first.assign(size.size() + 1, 0);
    for (std::size_t p = 0; p < size.size(); ++p) out.first[p + 1] = out.first[p] + size[p];
    out.members.resize(n);
    out.position.resize(n);
    std::vector<std::size_t> next(out.first.begin(), out.first.end() - 1);
    for (std::size_t i = 0; i < n; ++i) {
        const auto p = static_cast<std::size_t>(out.piece_of[i]);
        out.position[i] = static_cast<std::int32_t>(next[p] - out.first[p]);
        out.members[next[p]++] = static_cast<std::int32_t>(i);
    }
    return out;
}

sparse_matrix submatrix(const sparse_view& m, const graph_pieces& pieces, std::size_t p) {
    const std::size_t size = pieces.size(p);
    const std::int32_t* points = pieces.points(p);
    const auto piece = static_cast<std::int32_t>(p);
    sparse_matrix out;
    out.n = size;
    out.starts.reserve(size + 1);
    out.starts.push_back(0);
    for (std::size_t c = 0; c < size; ++c) {
        const auto j = static_cast<std::size_t>(points[c]);
        for (std::int32_t k = m.starts[j]; k < m.starts[j + 1]; ++k) {
            const auto i = static_cast<std::size_t>(m.rows[k]);
            if (pieces.piece_of[i] != piece) continue;
            // Positions ascend with the points, so the rows stay in order.
            out.rows.push_back(pieces.position[i]);
            out.values.push_back(m.values[k]);
        }
        out.starts.push_back(static_cast<std::int32_t>(out.rows.size()));
    }
    return out;
}

std::vector<double> dense_copy(const sparse_view& m) {
    std::vector<double> a(m.n * m.n, 0.0);
    for (std::size_t j = 0; j < m.n; ++j)
        for (std::int32_t k = m.starts[j]; k < m.starts[j + 1]; ++k)
            a[static_cast<std::size_t>(m.rows[k]) + j * m.n] = m.values[k];
    return a;
}

}  // namespace rotalign
