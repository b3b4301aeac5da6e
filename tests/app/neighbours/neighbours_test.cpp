// Nearest neighbours: every exact backend equals an exhaustive search over the dense route's
// distance matrix, bit for bit and in the same order, also where equal distances abound; the
// approximate search reports a recall that matches its lists; bad input is refused.
#include "rotalign/datasets/datasets.h"
#include "rotalign/neighbours/block_search.h"
#include "rotalign/neighbours/neighbours.h"

#include "app_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <numeric>

using rotalign::neighbour_backend;
using rotalign::points;

using app_test::message_of;

namespace {

// The reference: each column of squared_distances sorted by (distance, index), the point itself
// left out.
rotalign::neighbour_lists reference(const points& p, std::size_t m) {
    const rotalign::square d = rotalign::squared_distances(p);
    rotalign::neighbour_lists out{p.count, m, {}, {}};
    std::vector<std::uint32_t> order;
    for (std::size_t i = 0; i < p.count; ++i) {
        order.resize(p.count);
        std::iota(order.begin(), order.end(), 0u);
        order.erase(order.begin() + static_cast<std::ptrdiff_t>(i));
        std::partial_sort(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(m), order.end(),
                          [&](std::uint32_t a, std::uint32_t b) {
                              return d.at(a, i) < d.at(b, i) || (d.at(a, i) == d.at(b, i) && a < b);
                          });
        for (std::size_t r = 0; r < m; ++r) {
            out.index.push_back(order[r]);
            out.distance.push_back(d.at(order[r], i));
        }
    }
    return out;
}

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The first point whose list differs, or -1.
long first_difference(const rotalign::neighbour_lists& a, const rotalign::neighbour_lists& b) {
    if (a.count != b.count || a.per_point != b.per_point) return 0;
    for (std::size_t i = 0; i < a.count; ++i)
        for (std::size_t r = 0; r < a.per_point; ++r) {
            const std::size_t at = i * a.per_point + r;
            if (a.index[at] != b.index[at] || !same_bits(a.distance[at], b.distance[at])) return static_cast<long>(i);
        }
    return -1;
}

// A small generator of our own, so that the sets are the same everywhere.
struct noise {
    std::uint64_t state;
    double next() {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return static_cast<double>((z ^ (z >> 31)) >> 11) * 0x1.0p-53;
    }
};

points random_points(std::size_t n, std::size_t dims, std::uint64_t seed, double scale = 1.0, double offset = 0.0) {
    noise g{seed};
    points p{n, dims, {}};
    for (std::size_t i = 0; i < n * dims; ++i) p.values.push_back(offset + scale * (g.next() - 0.5));
    return p;
}

// Copies of earlier points put in at every seventh place: distance 0 to a distinct point.
points with_duplicates(points p) {
    for (std::size_t i = 7; i < p.count; i += 7)
        std::copy_n(&p.values[(i / 3) * p.dims], p.dims, &p.values[i * p.dims]);
    return p;
}

// Integer lattice points: most distances are shared by many pairs.
points lattice(std::size_t side, std::size_t dims) {
    points p{1, dims, {}};
    for (std::size_t k = 0; k < dims; ++k) p.count *= side;
    for (std::size_t i = 0; i < p.count; ++i)
        for (std::size_t k = 0, rest = i; k < dims; ++k, rest /= side) p.values.push_back(static_cast<double>(rest % side));
    return p;
}

// Four clusters of spread 1e-4 whose centres lie 1000 apart: single precision cannot order a
// point's neighbours, so the brute-force backends must fall back to double precision.
points tight_clusters() {
    points p = random_points(400, 16, 12, 1e-4);
    for (std::size_t i = 0; i < p.count; ++i)
        for (std::size_t k = 0; k < p.dims; ++k) p.values[i * p.dims + k] += 1000.0 * static_cast<double>((i + k) % 4);
    return p;
}

// Five blobs of unit spread whose centres lie about 10 apart.
points blobs(std::size_t n, std::size_t dims, std::uint64_t seed) {
    points p = random_points(n, dims, seed, 2.0);
    const points centres = random_points(5, dims, seed + 1, 10.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < dims; ++k) p.values[i * dims + k] += centres.values[(i % 5) * dims + k];
    return p;
}

struct data_set {
    const char* name;
    points p;
};

std::vector<data_set> hard_sets() {
    std::vector<data_set> sets;
    sets.push_back({"2-D uniform with duplicates", with_duplicates(random_points(700, 2, 1))});
    sets.push_back({"2-D lattice", lattice(24, 2)});
    points line{300, 2, {}};
    for (std::size_t i = 0; i < line.count; ++i) {
        line.values.push_back(0.5 * static_cast<double>(i % 100));
        line.values.push_back(0.25 * static_cast<double>(i % 100));  // each point three times
    }
    sets.push_back({"collinear, each point three times", line});
    sets.push_back({"3-D lattice", lattice(8, 3)});
    sets.push_back({"2-D far from the origin", random_points(500, 2, 2, 1e-3, 1e8)});
    sets.push_back({"2-D where squares underflow", random_points(400, 2, 3, 1e-160)});
    sets.push_back({"two moons", rotalign::two_moons(600, 4).data});
    sets.push_back({"10-D with duplicates", with_duplicates(random_points(500, 10, 5))});
    sets.push_back({"4-D lattice", lattice(5, 4)});
    sets.push_back({"10-D lattice, two values", lattice(2, 10)});
    sets.push_back({"20-D uniform", random_points(400, 20, 6)});
    sets.push_back({"30-D with duplicates", with_duplicates(random_points(300, 30, 7, 10.0, -3.0))});
    sets.push_back({"16-D tight clusters far apart", tight_clusters()});
    // Enough points that the brute-force backends skip whole cells of points as too far.
    sets.push_back({"two moons, 3,000 points", rotalign::two_moons(3000, 13).data});
    sets.push_back({"12-D blobs with duplicates", with_duplicates(blobs(2000, 12, 14))});
    return sets;
}

std::vector<neighbour_backend> exact_backends() {
    std::vector<neighbour_backend> all{neighbour_backend::kd_tree, neighbour_backend::blas};
    if (rotalign::available(neighbour_backend::faiss)) all.push_back(neighbour_backend::faiss);
    return all;
}

}  // namespace

TEST(nearest_neighbours, every_exact_backend_equals_exhaustive_search) {
    for (const data_set& s : hard_sets())
        for (const std::size_t m : {std::size_t{1}, std::size_t{6}, std::size_t{25}}) {
            const rotalign::neighbour_lists truth = reference(s.p, m);
            for (const neighbour_backend backend : exact_backends())
                for (const unsigned threads : {1u, 2u}) {
                    // One thread, and FAISS, which costs tens of milliseconds a call, at one count.
                    if ((threads == 1 || backend == neighbour_backend::faiss) && m != 6) continue;
                    rotalign::neighbour_options o;
                    o.backend = backend;
                    o.threads = threads;
                    const rotalign::neighbour_search r = rotalign::nearest_neighbours(s.p, m, o);
                    EXPECT_EQ(r.backend, backend);
                    EXPECT_TRUE(r.exact);
                    EXPECT_EQ(first_difference(r.lists, truth), -1)
                        << s.name << ", " << m << " neighbours, " << rotalign::name_of(backend) << ", " << threads
                        << " threads";
                    if (backend != neighbour_backend::kd_tree && std::strstr(s.name, "far apart") != nullptr) {
                        EXPECT_EQ(r.rechecked, s.p.count) << rotalign::name_of(backend);
                    }
                }
        }
}

// Points drawn from a few locations, most of them at one: lattice locations where distances tie
// between locations, random ones elsewhere; some zeros negative. Every exact backend must give
// each point the lists of an exhaustive search, whatever the share of duplicates.
TEST(nearest_neighbours, duplicate_heavy_sets_equal_exhaustive_search) {
    for (std::uint64_t seed = 1; seed <= 60; ++seed) {
        noise g{seed * 7919};
        const std::size_t dims = std::vector<std::size_t>{1, 2, 3, 5, 12}[seed % 5];
        const std::size_t locations = 1 + static_cast<std::size_t>(g.next() * 25);
        const std::size_t n = 20 + static_cast<std::size_t>(g.next() * 280);
        const bool on_lattice = seed % 3 != 0;
        points at = random_points(locations, dims, seed, 4.0);
        for (double& v : at.values)
            if (on_lattice) v = std::round(v) == 0.0 && g.next() < 0.5 ? -0.0 : std::round(v);
        points p{n, dims, {}};
        for (std::size_t i = 0; i < n; ++i) {
            const double r = g.next();
            const std::size_t l = std::min(locations - 1, static_cast<std::size_t>(r * r * r * static_cast<double>(locations)));
            p.values.insert(p.values.end(), &at.values[l * dims], &at.values[l * dims] + dims);
        }
        const std::size_t m = 1 + static_cast<std::size_t>(g.next() * g.next() * static_cast<double>(n - 1));
        const rotalign::neighbour_lists truth = reference(p, m);
        for (const neighbour_backend backend : exact_backends()) {
            rotalign::neighbour_options o;
            o.backend = backend;
            o.threads = 1 + static_cast<unsigned>(seed % 2);
            EXPECT_EQ(first_difference(rotalign::nearest_neighbours(p, m, o).lists, truth), -1)
                << "seed " << seed << ": " << n << " points at " << locations << " locations in " << dims << "-D, "
                << m << " neighbours, " << rotalign::name_of(backend);
        }
    }
}

TEST(nearest_neighbours, approximate_search_finds_every_duplicate) {
    if (!rotalign::available(neighbour_backend::hnsw)) GTEST_SKIP() << "no hnswlib in this build";
    // Three locations only: every list is all ties, which an exact search settles by index; the
    // approximate one finds points at the very same distances, a recall of 1.
    points p{900, 3, {}};
    for (std::size_t i = 0; i < p.count; ++i)
        for (std::size_t k = 0; k < 3; ++k) p.values.push_back(static_cast<double>((i * 7 % 3) * (k + 1)));
    rotalign::neighbour_options o;
    o.backend = neighbour_backend::hnsw;
    const rotalign::neighbour_search r = rotalign::nearest_neighbours(p, 12, o);
    EXPECT_FALSE(r.exact);
    EXPECT_EQ(r.recall, 1.0);
    EXPECT_EQ(first_difference(r.lists, reference(p, 12)), -1);
}

TEST(nearest_neighbours, all_other_points_as_neighbours) {
    const points p = with_duplicates(random_points(40, 3, 8));
    const rotalign::neighbour_lists truth = reference(p, 39);
    for (const neighbour_backend backend : exact_backends()) {
        rotalign::neighbour_options o;
        o.backend = backend;
        EXPECT_EQ(first_difference(rotalign::nearest_neighbours(p, 39, o).lists, truth), -1) << rotalign::name_of(backend);
    }
}

TEST(nearest_neighbours, automatic_choice_by_dimension) {
    EXPECT_EQ(rotalign::choose_backend(2), neighbour_backend::kd_tree);
    EXPECT_EQ(rotalign::choose_backend(rotalign::kd_tree_dimension_limit), neighbour_backend::kd_tree);
    EXPECT_NE(rotalign::choose_backend(rotalign::kd_tree_dimension_limit + 1), neighbour_backend::kd_tree);
    const points p = random_points(300, 16, 9);
    const rotalign::neighbour_search r = rotalign::nearest_neighbours(p, 5);
    EXPECT_EQ(r.backend, rotalign::choose_backend(p.dims));
    EXPECT_EQ(first_difference(r.lists, reference(p, 5)), -1);
}

TEST(nearest_neighbours, approximate_search_reports_the_recall_of_its_lists) {
    if (!rotalign::available(neighbour_backend::hnsw)) GTEST_SKIP() << "no hnswlib in this build";
    for (const data_set& s : {data_set{"two moons", rotalign::two_moons(800, 2).data},
                              data_set{"12-D with duplicates", with_duplicates(random_points(600, 12, 10))}}) {
        const std::size_t m = 10;
        const rotalign::neighbour_lists truth = reference(s.p, m);
        rotalign::neighbour_options o;
        o.backend = neighbour_backend::hnsw;
        o.recall_sample = s.p.count;  // every point: the recall is then exact
        o.hnsw_search_width = 12;     // narrow, so that some neighbours are missed
        o.hnsw_links = 4;
        const rotalign::neighbour_search r = rotalign::nearest_neighbours(s.p, m, o);
        const rotalign::square d = rotalign::squared_distances(s.p);
        EXPECT_FALSE(r.exact);
        // A neighbour counts as found when a point at its distance was: duplicates tie.
        std::size_t found = 0;
        for (std::size_t i = 0; i < s.p.count; ++i) {
            std::vector<double> missing(truth.distances_of(i), truth.distances_of(i) + m);
            for (std::size_t a = 0; a < m; ++a) {
                const auto hit = std::find(missing.begin(), missing.end(), r.lists.distances_of(i)[a]);
                if (hit != missing.end()) {
                    missing.erase(hit);
                    ++found;
                }
            }
            const std::uint32_t* got = r.lists.neighbours_of(i);
            for (std::size_t a = 0; a < m; ++a) {
                // Whatever was found carries the exact distance and comes in our order.
                const std::uint32_t j = got[a];
                EXPECT_NE(j, i);
                EXPECT_TRUE(same_bits(r.lists.distances_of(i)[a], d.at(j, i)));
                if (a > 0) {
                    const double before = r.lists.distances_of(i)[a - 1], here = r.lists.distances_of(i)[a];
                    EXPECT_TRUE(before < here || (before == here && got[a - 1] < j));
                }
            }
        }
        EXPECT_DOUBLE_EQ(r.recall, static_cast<double>(found) / static_cast<double>(s.p.count * m)) << s.name;
        EXPECT_GT(r.recall, 0.5) << s.name;
        // The same lists with any number of threads.
        o.threads = 1;
        const rotalign::neighbour_search one = rotalign::nearest_neighbours(s.p, m, o);
        o.threads = 2;
        EXPECT_EQ(first_difference(one.lists, rotalign::nearest_neighbours(s.p, m, o).lists), -1) << s.name;
    }
}

TEST(nearest_neighbours, refuses_what_it_cannot_search) {
    const points p = random_points(10, 2, 11);
    EXPECT_EQ(message_of([&] { rotalign::nearest_neighbours(p, 10); }),
              "nearest neighbours: 10 neighbours per point need at least 11 points, and at least one neighbour; "
              "there are 10 points");
    EXPECT_NE(message_of([&] { rotalign::nearest_neighbours(p, 0); }), "");
    points bad = p;
    bad.values[7] = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(message_of([&] { rotalign::nearest_neighbours(bad, 3); }),
              "nearest neighbours: coordinate 2 of point 4 is not finite");
    bad.values[7] = 1e300;
    EXPECT_EQ(message_of([&] { rotalign::nearest_neighbours(bad, 3); }),
              "nearest neighbours: the points spread so far that their squared distances overflow");
    EXPECT_EQ(message_of([&] { rotalign::nearest_neighbours(points{3, 0, {}}, 1); }),
              "nearest neighbours: the points have no coordinates");
    for (const neighbour_backend backend : {neighbour_backend::faiss, neighbour_backend::hnsw})
        if (!rotalign::available(backend)) {
            rotalign::neighbour_options o;
            o.backend = backend;
            EXPECT_EQ(message_of([&] { rotalign::nearest_neighbours(p, 3, o); }),
                      "nearest neighbours: this build has no " + rotalign::name_of(backend) + " search");
        }
}

namespace {

// The rows [first, first + count) of p.
points rows(const points& p, std::size_t first, std::size_t count) {
    return {count, p.dims,
            std::vector<double>(p.values.begin() + static_cast<std::ptrdiff_t>(first * p.dims),
                                p.values.begin() + static_cast<std::ptrdiff_t>((first + count) * p.dims))};
}

// The points `which` of p, in that order.
points picked(const points& p, const std::vector<std::uint32_t>& which) {
    points out{which.size(), p.dims, {}};
    for (const std::uint32_t i : which)
        out.values.insert(out.values.end(), p.values.begin() + static_cast<std::ptrdiff_t>(i * p.dims),
                          p.values.begin() + static_cast<std::ptrdiff_t>((i + 1) * p.dims));
    return out;
}

}  // namespace

// Lists built block by block, the blocks of the reference offered in any order and the queries
// searched in any order, equal nearest_neighbours' over all points bit for bit: on sets with
// many duplicates, in 2, 3 and 6 dimensions, for lists longer than some blocks.
TEST(BlockSearch, BlocksInAnyOrderGiveTheWholeLists) {
    std::vector<points> sets{rotalign::generate("moons", 400, 7).data, rotalign::generate("blobs", 300, 2).data};
    points copies = sets[0];
    for (std::size_t i = 0; i < 400; i += 3)  // every third point twice more, at the end
        for (int twice = 0; twice < 2; ++twice) {
            copies.values.insert(copies.values.end(), sets[0].values.begin() + static_cast<std::ptrdiff_t>(i * 2),
                                 sets[0].values.begin() + static_cast<std::ptrdiff_t>(i * 2 + 2));
            ++copies.count;
        }
    sets.push_back(copies);
    points wide{250, 6, std::vector<double>(1500)};
    for (std::size_t at = 0; at < wide.values.size(); ++at) wide.values[at] = std::round(std::sin(at * 0.7) * 4) / 2;
    sets.push_back(wide);
    for (const points& p : sets)
        for (const std::size_t blocks : {1u, 3u, 7u})
            for (const std::size_t m : {1u, 9u, 40u}) {
                const rotalign::neighbour_lists expected = rotalign::nearest_neighbours(p, m).lists;
                std::vector<std::size_t> first(blocks + 1);
                for (std::size_t b = 0; b <= blocks; ++b) first[b] = p.count * b / blocks;
                for (std::size_t q = 0; q < blocks; ++q) {
                    const points queries = rows(p, first[q], first[q + 1] - first[q]);
                    rotalign::neighbour_lists lists = rotalign::unfilled_lists(queries.count, m);
                    const std::vector<std::uint32_t> order = q % 2 ? rotalign::search_order(queries) : std::vector<std::uint32_t>{};
                    // The query block's own points last, the others from the far end.
                    for (std::size_t b = blocks; b-- > 0;)
                        if (b != q) rotalign::offer_block(rows(p, first[b], first[b + 1] - first[b]), first[b], queries,
                                                          first[q], lists, 2, order);
                    rotalign::offer_block(queries, first[q], queries, first[q], lists, 2, order);
                    for (std::size_t i = 0; i < queries.count * m; ++i) {
                        const std::size_t at = first[q] * m + i;
                        ASSERT_EQ(lists.index[i], expected.index[at]) << p.count << " points, " << blocks << " blocks, m " << m;
                        ASSERT_EQ(std::memcmp(&lists.distance[i], &expected.distance[at], sizeof(double)), 0);
                    }
                }
            }
}

// Blocks of points that lie together, their indices listed (as the ranks hold the points of their
// cells): the lists still equal nearest_neighbours' bit for bit, though most blocks lie beyond
// most lists and are skipped, and copies of one place straddle the blocks' edges.
TEST(BlockSearch, BlocksOfPlacesWithListedIndicesGiveTheWholeLists) {
    points copies = rotalign::generate("lines", 300, 4).data;
    for (std::size_t i = 0; i < 300; i += 2) {  // every other point once more, at the end
        copies.values.insert(copies.values.end(), copies.values.begin() + static_cast<std::ptrdiff_t>(i * 2),
                             copies.values.begin() + static_cast<std::ptrdiff_t>(i * 2 + 2));
        ++copies.count;
    }
    for (const points& p : {rotalign::generate("moons", 500, 3).data, rotalign::generate("blobs", 400, 5).data, copies})
        for (const std::size_t blocks : {2u, 5u})
            for (const std::size_t m : {1u, 12u}) {
                const rotalign::neighbour_lists expected = rotalign::nearest_neighbours(p, m).lists;
                // The blocks: runs of the points ordered by their first coordinate.
                std::vector<std::uint32_t> by_place(p.count);
                std::iota(by_place.begin(), by_place.end(), 0u);
                std::stable_sort(by_place.begin(), by_place.end(), [&p](std::uint32_t a, std::uint32_t b) {
                    return p.values[a * p.dims] < p.values[b * p.dims];
                });
                std::vector<std::vector<std::uint32_t>> index(blocks);
                for (std::size_t b = 0; b < blocks; ++b)
                    index[b].assign(by_place.begin() + static_cast<std::ptrdiff_t>(p.count * b / blocks),
                                    by_place.begin() + static_cast<std::ptrdiff_t>(p.count * (b + 1) / blocks));
                for (std::size_t q = 0; q < blocks; ++q) {
                    const points queries = picked(p, index[q]);
                    rotalign::neighbour_lists lists = rotalign::unfilled_lists(queries.count, m);
                    rotalign::offer_block(queries, index[q], queries, index[q], lists, 2, rotalign::search_order(queries));
                    for (std::size_t b = 0; b < blocks; ++b)
                        if (b != q) rotalign::offer_block(picked(p, index[b]), index[b], queries, index[q], lists, 2);
                    for (std::size_t k = 0; k < queries.count; ++k)
                        for (std::size_t e = 0; e < m; ++e) {
                            const std::size_t got = k * m + e, want = index[q][k] * m + e;
                            ASSERT_EQ(lists.index[got], expected.index[want]) << p.count << " points, " << blocks << " blocks, m " << m;
                            ASSERT_EQ(std::memcmp(&lists.distance[got], &expected.distance[want], sizeof(double)), 0);
                        }
                }
            }
}
