// The eigen-step on matrices that fall apart into pieces, through both entry points (dense and
// sparse) and every method: random normalised affinities whose pieces interleave over the
// points, so that a pair taken from the wrong piece, scattered to the wrong rows or missing a
// repeated copy shows. The reference solves each piece alone.
#include "rotalign/eigen/eigen.h"
#include "rotalign/eigen/sparse_eigen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <functional>
#include <random>
#include <vector>

using rotalign::eigen_solver;

namespace {

struct pieced_matrix {
    std::size_t n = 0;
    std::vector<int> piece_of;       // piece of each point
    std::vector<double> dense;       // n-by-n by columns
    std::vector<std::int32_t> starts, rows;
    std::vector<double> values;
    std::vector<double> reference;   // every eigenvalue of every piece, descending

    rotalign::sparse_view view() const { return {n, starts.data(), rows.data(), values.data()}; }
};

// Pieces of the given sizes on points dealt out at random; within a piece a ring with random
// chords and weights in [0.1, 1), normalised as D^(-1/2) W D^(-1/2).
pieced_matrix make_pieced(const std::vector<std::size_t>& sizes, std::mt19937_64& random) {
    pieced_matrix m;
    for (std::size_t p = 0; p < sizes.size(); ++p) m.piece_of.insert(m.piece_of.end(), sizes[p], static_cast<int>(p));
    std::shuffle(m.piece_of.begin(), m.piece_of.end(), random);
    const std::size_t n = m.n = m.piece_of.size();
    m.dense.assign(n * n, 0.0);
    std::uniform_real_distribution<double> weight(0.1, 1.0);
    for (std::size_t p = 0; p < sizes.size(); ++p) {
        std::vector<std::size_t> points;
        for (std::size_t i = 0; i < n; ++i)
            if (m.piece_of[i] == static_cast<int>(p)) points.push_back(i);
        const std::size_t s = points.size();
        auto link = [&](std::size_t a, std::size_t b) {
            if (a != b) m.dense[points[a] + points[b] * n] = m.dense[points[b] + points[a] * n] = weight(random);
        };
        for (std::size_t a = 0; a + 1 < s; ++a) link(a, a + 1);
        if (s > 2) link(s - 1, 0);
        std::uniform_int_distribution<std::size_t> any(0, s - 1);
        for (std::size_t c = 0; c < s / 2; ++c) link(any(random), any(random));
        std::vector<double> factor(s, 0.0);
        for (std::size_t a = 0; a < s; ++a) {
            double degree = 0.0;
            for (std::size_t b = 0; b < s; ++b) degree += m.dense[points[a] + points[b] * n];
            factor[a] = degree > 0.0 ? 1.0 / std::sqrt(degree) : 0.0;
        }
        std::vector<double> block(s * s);
        for (std::size_t b = 0; b < s; ++b)
            for (std::size_t a = 0; a < s; ++a)
                block[a + b * s] = m.dense[points[a] + points[b] * n] *= factor[a] * factor[b];
        const rotalign::eigenpairs all = rotalign::leading_eigenpairs(block.data(), s, s, eigen_solver::dense);
        m.reference.insert(m.reference.end(), all.values.begin(), all.values.end());
    }
    std::sort(m.reference.begin(), m.reference.end(), std::greater<double>());
    m.starts.assign(1, 0);
    for (std::size_t j = 0; j < n; ++j) {
        for (std::size_t i = 0; i < n; ++i)
            if (m.dense[i + j * n] != 0.0) {
                m.rows.push_back(static_cast<std::int32_t>(i));
                m.values.push_back(m.dense[i + j * n]);
            }
        m.starts.push_back(static_cast<std::int32_t>(m.rows.size()));
    }
    return m;
}

// The reference's leading values; unit, orthogonal eigenvectors of the whole matrix, each
// lying on one piece (zero elsewhere) when the pieces were solved apart.
void expect_piecewise_pairs(const pieced_matrix& m, const rotalign::eigenpairs& e, std::size_t count,
                            bool on_one_piece = true) {
    ASSERT_EQ(e.values.size(), count);
    ASSERT_EQ(e.vectors.size(), m.n * count);
    const std::size_t n = m.n;
    for (std::size_t k = 0; k < count; ++k) {
        EXPECT_NEAR(e.values[k], m.reference[k], 1e-9) << "pair " << k;
        const double* v = e.column(k);
        int piece = -1;
        double residual = 0.0;
        for (std::size_t i = 0; i < n; ++i) {
            if (v[i] != 0.0 && piece < 0) piece = m.piece_of[i];
            if (on_one_piece) {
                EXPECT_TRUE(v[i] == 0.0 || m.piece_of[i] == piece) << "pair " << k << " spreads over two pieces";
            }
            double mv = 0.0;
            for (std::size_t j = 0; j < n; ++j) mv += m.dense[i + j * n] * v[j];
            residual += (mv - e.values[k] * v[i]) * (mv - e.values[k] * v[i]);
        }
        EXPECT_LE(std::sqrt(residual), 1e-7) << "pair " << k;
        for (std::size_t l = 0; l <= k; ++l) {
            double dot = 0.0;
            for (std::size_t i = 0; i < n; ++i) dot += v[i] * e.column(l)[i];
            EXPECT_NEAR(dot, k == l ? 1.0 : 0.0, 1e-9) << "pairs " << k << ", " << l;
        }
    }
}

}  // namespace

TEST(eigen_pieces, both_entry_points_give_the_leading_pairs_over_all_pieces) {
    std::mt19937_64 random(20261208);
    // Piece sizes from lone points to pieces above the dense solver's limit, where each entry
    // point runs its Krylov solver on the piece.
    const std::vector<std::size_t> size_choices{1, 2, 3, 7, 20, 60, 129, 170};
    std::uniform_int_distribution<std::size_t> pick(0, size_choices.size() - 1), piece_count(1, 5), wanted(1, 12);
    for (int trial = 0; trial < 16; ++trial) {
        std::vector<std::size_t> sizes(piece_count(random));
        for (std::size_t& s : sizes) s = size_choices[pick(random)];
        const pieced_matrix m = make_pieced(sizes, random);
        const std::size_t count = std::min(m.n, wanted(random));
        SCOPED_TRACE(::testing::Message() << "trial " << trial << ": " << sizes.size() << " pieces, " << m.n
                                          << " points, " << count << " pairs");
        for (eigen_solver method : {eigen_solver::automatic, eigen_solver::lanczos, eigen_solver::dense}) {
            SCOPED_TRACE("dense matrix, " + rotalign::name_of(method));
            const rotalign::eigenpairs e = rotalign::leading_eigenpairs(m.dense.data(), m.n, count, method);
            EXPECT_EQ(e.components, sizes.size());
            // The dense solver takes the whole matrix at once: a basis of a repeated eigenvalue
            // may mix pieces there.
            expect_piecewise_pairs(m, e, count, e.used == eigen_solver::lanczos);
        }
        for (eigen_solver method :
             {eigen_solver::automatic, eigen_solver::lanczos, eigen_solver::shift_invert, eigen_solver::dense}) {
            SCOPED_TRACE("sparse matrix, " + rotalign::name_of(method));
            rotalign::sparse_eigen_options options;
            options.method = method;
            options.dense_limit = 16;  // so that the Krylov solvers meet the smaller pieces too
            rotalign::sparse_eigen_work work;
            const rotalign::eigenpairs e = rotalign::leading_eigenpairs(m.view(), count, options, &work);
            EXPECT_EQ(work.components, sizes.size());
            expect_piecewise_pairs(m, e, count);
        }
    }
}
