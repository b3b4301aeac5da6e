// The symmetrised neighbour graph: its form as a host sparse matrix, its pattern and values, and
// the property the sparse route rests on: the local-scaling plug-in gives on the graph exactly
// the scales, scaled distances and affinities that it gives on the dense distance matrix.
#include "rotalign/datasets/datasets.h"
#include "rotalign/graph/graph.h"
#include "rotalign/support/toolbox.h"

#include "app_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>

using rotalign::neighbour_backend;
using rotalign::points;

using app_test::plugins;

namespace {

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

points scattered_points(std::size_t n, std::size_t dims, std::uint64_t seed) {
    // Coordinates taken from noisy two-moons draws, which are reproducible everywhere.
    const rotalign::labelled_points source = rotalign::two_moons((n * dims + 1) / 2 + 1, seed, 0.3);
    return points{n, dims, std::vector<double>(source.data.values.begin(), source.data.values.begin() + n * dims)};
}

points with_duplicates(points p) {
    for (std::size_t i = 5; i < p.count; i += 9) std::copy_n(&p.values[(i / 2) * p.dims], p.dims, &p.values[i * p.dims]);
    return p;
}

struct data_set {
    const char* name;
    points p;
};

std::vector<data_set> sets() {
    return {{"two moons with duplicates", with_duplicates(rotalign::two_moons(900, 5).data)},
            {"3-D", scattered_points(700, 3, 6)},
            {"10-D with duplicates", with_duplicates(scattered_points(600, 10, 7))},
            {"20-D", scattered_points(500, 20, 8)}};
}

}  // namespace

TEST(neighbour_graph, symmetric_pattern_and_values_without_diagonal) {
    for (const data_set& s : sets()) {
        const std::size_t n = s.p.count, m = 8;
        const rotalign::neighbour_search search = rotalign::nearest_neighbours(s.p, m);
        const mexhost::array_ptr g = rotalign::symmetric_graph(s.p, search.lists, 2);
        ASSERT_TRUE(mxIsSparse(g.get()));
        ASSERT_EQ(mexhost::dims_of(g.get()), (std::vector<mwSize>{static_cast<mwSize>(n), static_cast<mwSize>(n)}));
        const std::vector<mwIndex> jc = mexhost::jc_of(g.get()), ir = mexhost::ir_of(g.get());
        const std::vector<double> values = mexhost::real_values(g.get());
        const rotalign::square d = rotalign::squared_distances(s.p);
        std::set<std::pair<std::size_t, std::size_t>> stored;
        std::size_t zeros = 0;
        for (std::size_t j = 0; j < n; ++j) {
            // Exactly the union of j's own list and the points that list j.
            std::set<std::size_t> expected(search.lists.neighbours_of(j), search.lists.neighbours_of(j) + m);
            for (std::size_t i = 0; i < n; ++i)
                if (std::count(search.lists.neighbours_of(i), search.lists.neighbours_of(i) + m, j) != 0) expected.insert(i);
            std::set<std::size_t> rows;
            for (mwIndex k = jc[j]; k < jc[j + 1]; ++k) {
                const auto i = static_cast<std::size_t>(ir[k]);
                if (k > jc[j]) {
                    EXPECT_LT(ir[k - 1], ir[k]) << s.name << ", column " << j;
                }
                EXPECT_NE(i, j) << s.name;
                EXPECT_TRUE(same_bits(values[k], d.at(i, j))) << s.name << " (" << i << ", " << j << ")";
                zeros += values[k] == 0.0;
                rows.insert(i);
                stored.insert({i, j});
            }
            EXPECT_EQ(rows, expected) << s.name << ", column " << j;
        }
        for (const auto& [i, j] : stored) EXPECT_EQ(stored.count({j, i}), 1u) << s.name;
        EXPECT_EQ(static_cast<std::size_t>(jc[n]), stored.size());
        if (std::string(s.name).find("duplicates") != std::string::npos) {
            EXPECT_GT(zeros, 0u) << s.name;
        }
    }
}

TEST(neighbour_graph, local_scales_equal_the_dense_route_bit_for_bit) {
    for (const data_set& s : sets()) {
        const std::size_t n = s.p.count, m = rotalign::graph_neighbours(7);
        const rotalign::neighbour_graph graph = rotalign::build_graph(s.p, m);
        const mexhost::array_ptr dense =
            mexhost::make_matrix(static_cast<mwSize>(n), static_cast<mwSize>(n), rotalign::squared_distances(s.p).values);
        const std::vector<mwIndex> jc = mexhost::jc_of(graph.distances.get()), ir = mexhost::ir_of(graph.distances.get());
        for (const std::size_t k : {std::size_t{1}, std::size_t{7}, m}) {
            const mexhost::array_ptr count = mexhost::make_scalar(static_cast<double>(k));
            auto from_dense = plugins().get("brenmoss").call(3, {dense.get(), count.get()});
            auto from_graph = plugins().get("brenmoss").call(3, {graph.distances.get(), count.get()});
            // Scaled distances, affinities and pairwise scales, at every stored entry.
            for (std::size_t out = 0; out < 3; ++out) {
                const std::vector<double> a = mexhost::real_values(from_dense[out].get());
                const std::vector<double> b = mexhost::real_values(from_graph[out].get());
                std::size_t differ = 0;
                for (std::size_t j = 0; j < n; ++j)
                    for (mwIndex e = jc[j]; e < jc[j + 1]; ++e) differ += !same_bits(a[static_cast<std::size_t>(ir[e]) + j * n], b[e]);
                EXPECT_EQ(differ, 0u) << s.name << ", K = " << k << ", output " << out + 1;
            }
        }
    }
}

TEST(neighbour_graph, reports_how_it_was_searched) {
    const points p = scattered_points(400, 2, 9);
    rotalign::neighbour_options o;
    o.backend = neighbour_backend::blas;
    const rotalign::neighbour_graph g = rotalign::build_graph(p, 6, o);
    EXPECT_EQ(g.backend, neighbour_backend::blas);
    EXPECT_TRUE(g.exact);
    EXPECT_EQ(g.recall, 1.0);
    EXPECT_EQ(g.stored, static_cast<std::size_t>(mexhost::jc_of(g.distances.get())[400]));
    EXPECT_GE(g.stored, 400u * 6u);
    EXPECT_LE(g.stored, 2u * 400u * 6u);
}

TEST(neighbour_graph, refuses_more_entries_than_a_host_matrix_holds) {
    const rotalign::neighbour_lists lists{50000, 50000, {}, {}};
    try {
        rotalign::symmetric_graph(points{}, lists);
        FAIL() << "no error";
    } catch (const rotalign::input_error& e) {
        EXPECT_STREQ(e.what(),
                     "neighbour graph: 50000 points with 50000 neighbours each store more entries than a host sparse "
                     "matrix holds (2147483647)");
    }
}
