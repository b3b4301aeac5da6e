// The eigen-step across ranks against the one-process sparse eigen-step on the same normalised
// affinities, each rank holding a block of rows: the same eigenvalues (1e-10 relative), the same
// eigenspaces (per block of equal values; a lone value's vector equal up to sign), the same
// pieces; pieces solved on one rank bit for bit; bad input refused on every rank.
#include "eigen/distributed_eigen.h"
#include "eigen/row_checks.h"
#include "support/row_blocks.h"

#include "rotalign/chain.h"
#include "rotalign/datasets/datasets.h"
#include "rotalign/eigen/sparse_eigen.h"
#include "rotalign/support/errors.h"
#include "rotalign/support/toolbox.h"

#include <gtest/gtest.h>
#include <mpi.h>
#include <slepcsys.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace rotalign::mpi {
namespace {

// SLEPc, once started by the eigen-step, ends before MPI does.
class slepc_environment : public testing::Environment {
public:
    void TearDown() override {
        PetscBool started = PETSC_FALSE;
        SlepcInitialized(&started);
        if (started == PETSC_TRUE) SlepcFinalize();
    }
};
const testing::Environment* const slepc_finaliser = testing::AddGlobalTestEnvironment(new slepc_environment);

int rank_of() {
    int rank = 0;
    MPI_Comm_rank(MPI_COMM_WORLD, &rank);
    return rank;
}
int ranks() {
    int size = 1;
    MPI_Comm_size(MPI_COMM_WORLD, &size);
    return size;
}

// A normalised affinity that the one-process library built, with the view of it (symmetric, so
// its columns are its rows).
struct affinity {
    std::vector<std::int32_t> starts, rows;
    std::vector<double> values;
    sparse_view view() const { return {starts.size() - 1, starts.data(), rows.data(), values.data()}; }
};

affinity knn_affinity(const points& p) {
    static toolbox plugins(TOOLBOX_PLUGIN_DIR);
    cluster_options options;
    options.graph = graph_kind::knn;
    const mexhost::array_ptr m = normalised_affinity(plugins, p, options);
    const sparse_view v = sparse_view_of(m.get());
    affinity out;
    out.starts.assign(v.starts, v.starts + v.n + 1);
    out.rows.assign(v.rows, v.rows + v.entries());
    out.values.assign(v.values, v.values + v.entries());
    return out;
}

// Points of several sets side by side, each moved along x so that they stay apart.
points side_by_side(const std::vector<points>& sets) {
    points out;
    out.dims = 2;
    double dx = 0.0;
    for (const points& s : sets) {
        double right = 0.0;
        for (std::size_t i = 0; i < s.count; ++i) {
            out.values.push_back(s.at(i, 0) + dx);
            out.values.push_back(s.at(i, 1));
            right = std::max(right, s.at(i, 0));
        }
        out.count += s.count;
        dx += right + 10.0;
    }
    return out;
}

// `copies` copies of each of `groups` points, far apart: pieces of duplicates.
points duplicates(std::size_t groups, std::size_t copies) {
    points out;
    out.dims = 2;
    for (std::size_t g = 0; g < groups; ++g)
        for (std::size_t c = 0; c < copies; ++c) {
            out.values.push_back(static_cast<double>(g) * 7.0);
            out.values.push_back(50.0);
            ++out.count;
        }
    return out;
}

// Rows [first, first + count) of m as a rank holds them.
local_rows rows_of(const sparse_view& m, std::size_t first, std::size_t count) {
    local_rows out;
    out.global_size = m.n;
    out.first = first;
    for (std::size_t i = first; i < first + count; ++i) {
        for (std::int32_t k = m.starts[i]; k < m.starts[i + 1]; ++k) {
            out.columns.push_back(m.rows[k]);
            out.values.push_back(m.values[k]);
        }
        out.starts.push_back(out.columns.size());
    }
    return out;
}

// This rank's block: even blocks, or uneven ones: on two ranks a third and the rest, on more
// half on the first rank, nothing on the last.
std::pair<std::size_t, std::size_t> block_of(std::size_t n, bool uneven) {
    const int r = rank_of(), size = ranks();
    if (!uneven || size == 1) {
        const row_blocks blocks{n, size};
        return {blocks.first(r), blocks.count(r)};
    }
    if (size == 2)
        return r == 0 ? std::pair<std::size_t, std::size_t>{0, n / 3}
                      : std::pair<std::size_t, std::size_t>{n / 3, n - n / 3};
    const std::size_t half = n / 2;
    if (r == 0) return {0, half};
    if (r == size - 1) return {n, 0};
    const row_blocks rest{n - half, size - 2};
    return {half + rest.first(r - 1), rest.count(r - 1)};
}

// All ranks' rows of the vectors, in global order (n by wanted by columns).
std::vector<double> gather_vectors(const distributed_pairs& got, std::size_t rows, std::size_t n) {
    const std::size_t wanted = got.values.size();
    std::vector<double> out(n * wanted);
    std::vector<int> counts(static_cast<std::size_t>(ranks())), offsets(counts.size());
    const int mine = static_cast<int>(rows);
    MPI_Allgather(&mine, 1, MPI_INT, counts.data(), 1, MPI_INT, MPI_COMM_WORLD);
    for (std::size_t r = 1; r < counts.size(); ++r) offsets[r] = offsets[r - 1] + counts[r - 1];
    for (std::size_t c = 0; c < wanted; ++c)
        MPI_Allgatherv(got.vectors.data() + c * rows, mine, MPI_DOUBLE, out.data() + c * n, counts.data(),
                       offsets.data(), MPI_DOUBLE, MPI_COMM_WORLD);
    return out;
}

// got and want: the same values, and over each run of equal values the same subspace; a lone
// value's vector equal up to sign. Values count as equal within 1e-6: a vector is determined to
// about its residual over the gap to the next value, and the copies of 1 of nearly separate
// pieces (two moons) differ by less than 1e-8.
void expect_same_pairs(const std::vector<double>& got_values, const std::vector<double>& got_vectors,
                       const eigenpairs& want, const std::string& what) {
    const std::size_t n = want.n, wanted = want.values.size();
    ASSERT_EQ(got_values.size(), wanted) << what;
    for (std::size_t k = 0; k < wanted; ++k)
        EXPECT_NEAR(got_values[k], want.values[k], 1e-10 * std::max(std::fabs(want.values[k]), 1e-3))
            << what << " pair " << k;
    for (std::size_t a = 0; a < wanted;) {
        std::size_t b = a + 1;
        while (b < wanted && std::fabs(want.values[b] - want.values[b - 1]) < 1e-6) ++b;
        if (b == a + 1) {
            double dot = 0.0;
            for (std::size_t i = 0; i < n; ++i) dot += got_vectors[a * n + i] * want.vectors[a * n + i];
            const double sign = dot < 0.0 ? -1.0 : 1.0;
            double largest = 0.0;
            for (std::size_t i = 0; i < n; ++i)
                largest = std::max(largest, std::fabs(sign * got_vectors[a * n + i] - want.vectors[a * n + i]));
            EXPECT_LT(largest, 1e-8) << what << " vector " << a;
        } else {
            // Orthonormal bases of one subspace: the projections of the one onto the other keep
            // all their length.
            double kept = 0.0;
            for (std::size_t x = a; x < b; ++x)
                for (std::size_t y = a; y < b; ++y) {
                    double dot = 0.0;
                    for (std::size_t i = 0; i < n; ++i) dot += got_vectors[x * n + i] * want.vectors[y * n + i];
                    kept += dot * dot;
                }
            EXPECT_NEAR(kept, static_cast<double>(b - a), 1e-8) << what << " pairs " << a << " to " << b - 1;
        }
        a = b;
    }
}

struct outcome {
    distributed_pairs pairs;
    std::vector<double> vectors;  // all rows
};

// With `pieces_first`, the pieces are found by pieces_of and handed to the step, as the chain does.
outcome solve_spread(const affinity& a, std::size_t wanted, const sparse_eigen_options& options, bool uneven,
                     bool pieces_first = false) {
    const sparse_view v = a.view();
    const auto [first, count] = block_of(v.n, uneven);
    const local_rows rows = rows_of(v, first, count);
    outcome out;
    if (pieces_first) {
        out.pairs = leading_eigenpairs(MPI_COMM_WORLD, rows, wanted, options, nullptr, pieces_of(MPI_COMM_WORLD, rows));
    } else {
        out.pairs = leading_eigenpairs(MPI_COMM_WORLD, rows, wanted, options);
    }
    out.vectors = gather_vectors(out.pairs, count, v.n);
    return out;
}

sparse_eigen_options with_method(eigen_solver method) {
    sparse_eigen_options o;
    o.method = method;
    return o;
}

// One connected set, one set in several pieces with duplicates and pieces of a few points:
// every method, even and uneven blocks. At these sizes the automatic choice refuses the factor
// (it would fill more than 2% of a triangle), as the one-process step does.
TEST(DistributedEigen, GivesTheOneProcessPairs) {
    const affinity moons = knn_affinity(two_moons(1500, 3).data);
    const affinity pieces = knn_affinity(side_by_side(
        {two_moons(700, 5).data, uneven_blobs(600, 9).data, duplicates(6, 4), parallel_lines(300, 2).data}));
    struct setting {
        const char* name;
        const affinity* matrix;
        std::size_t wanted;
        eigen_solver method;
    };
    const setting settings[] = {
        {"moons", &moons, 6, eigen_solver::automatic},    {"moons", &moons, 6, eigen_solver::lanczos},
        {"moons", &moons, 6, eigen_solver::shift_invert}, {"pieces", &pieces, 14, eigen_solver::automatic},
        {"pieces", &pieces, 14, eigen_solver::lanczos},
    };
    for (const setting& s : settings)
        for (const bool uneven : {false, true}) {
            const std::string what = std::string(s.name) + " by " + name_of(s.method) + (uneven ? ", uneven" : "");
            const sparse_eigen_options options = with_method(s.method);
            sparse_eigen_work work;
            const eigenpairs want = leading_eigenpairs(s.matrix->view(), s.wanted, options, &work);
            const outcome got = solve_spread(*s.matrix, s.wanted, options, uneven);
            EXPECT_EQ(got.pairs.components, want.components) << what;
            // The same choice: shift-invert where the one-process step factored the largest piece.
            EXPECT_EQ(got.pairs.method,
                      work.used == eigen_solver::shift_invert ? "shift-invert Krylov-Schur (MUMPS)" : "Krylov-Schur")
                << what;
            expect_same_pairs(got.pairs.values, got.vectors, want, what);
        }
}

// Pieces solved on one rank run the one-process code on the same matrices: the same bits, in
// the same order, whatever the blocks.
TEST(DistributedEigen, GatheredPiecesMatchBitForBit) {
    const affinity pieces =
        knn_affinity(side_by_side({two_moons(400, 4).data, duplicates(9, 3), uneven_blobs(300, 6).data}));
    sparse_eigen_options options = with_method(eigen_solver::dense);
    for (const std::size_t wanted : {1u, 5u, 12u, 40u})
        for (const bool uneven : {false, true}) {
            const eigenpairs want = leading_eigenpairs(pieces.view(), wanted, options);
            const outcome got = solve_spread(pieces, wanted, options, uneven);
            EXPECT_EQ(got.pairs.values, want.values) << wanted;
            EXPECT_EQ(got.vectors, want.vectors) << wanted;
            EXPECT_EQ(got.pairs.components, want.components);
            EXPECT_EQ(got.pairs.method, "dense");
        }
}

// Random symmetric graphs of many small pieces, some joined only by entries at or below the
// negligible bound (which must not join them) or just above it (which must), split at random
// places: the same pieces, pairs and bits as on one process, also with the pieces found first.
TEST(DistributedEigen, RandomGraphsSplitAnywhere) {
    std::mt19937_64 random(11);
    for (int round = 0; round < 12; ++round) {
        const std::size_t n = 40 + random() % 400;
        const double least = 1e-12 / static_cast<double>(n);
        std::vector<std::vector<std::pair<std::int32_t, double>>> columns(n);
        const auto link = [&columns](std::size_t i, std::size_t j, double v) {
            columns[i].push_back({static_cast<std::int32_t>(j), v});
            if (i != j) columns[j].push_back({static_cast<std::int32_t>(i), v});
        };
        for (std::size_t i = 0; i < n; ++i) {
            if (random() % 3 == 0) link(i, i, 0.5);
            // Mostly near neighbours, so that pieces form and cross the ranks' borders.
            for (int e = 0; e < 2; ++e) {
                const std::size_t j = random() % 5 == 0 ? random() % n : (i + 1 + random() % 7) % n;
                if (j == i) continue;
                const int kind = static_cast<int>(random() % 10);
                link(i, j,
                     kind == 0   ? least
                     : kind == 1 ? 2.0 * least
                                 : 0.1 + 0.001 * static_cast<double>(random() % 900));
            }
        }
        affinity a;
        a.starts.push_back(0);
        for (auto& column : columns) {
            std::sort(column.begin(), column.end());
            // A repeated link sums, as a sparse matrix built from triplets would.
            for (std::size_t k = 0; k < column.size(); ++k) {
                if (k > 0 && column[k].first == column[k - 1].first) {
                    a.values.back() += column[k].second;
                    continue;
                }
                a.rows.push_back(column[k].first);
                a.values.push_back(column[k].second);
            }
            a.starts.push_back(static_cast<std::int32_t>(a.rows.size()));
        }
        const std::size_t wanted = 1 + random() % std::min<std::size_t>(n, 30);
        const sparse_eigen_options options = with_method(eigen_solver::dense);
        const eigenpairs want = leading_eigenpairs(a.view(), wanted, options);
        for (const bool pieces_first : {false, true}) {
            const outcome got = solve_spread(a, wanted, options, round % 2 == 1, pieces_first);
            EXPECT_EQ(got.pairs.components, want.components) << round << (pieces_first ? ", pieces first" : "");
            EXPECT_EQ(got.pairs.values, want.values) << round << (pieces_first ? ", pieces first" : "");
            EXPECT_EQ(got.vectors, want.vectors) << round << (pieces_first ? ", pieces first" : "");
        }
    }
}

// Twice L has eigenvalues near 2: (1 + shift) I - 2L is indefinite, its factor's inertia says so
// and the piece goes to plain Krylov-Schur, as the one-process step leaves it to plain Lanczos.
TEST(DistributedEigen, AnIndefiniteShiftFallsBackToPlainKrylovSchur) {
    affinity doubled = knn_affinity(two_moons(900, 8).data);
    for (double& v : doubled.values) v *= 2.0;
    const eigenpairs want = leading_eigenpairs(doubled.view(), 4);
    const outcome got = solve_spread(doubled, 4, {}, false, true);
    EXPECT_EQ(got.pairs.method, "Krylov-Schur");
    expect_same_pairs(got.pairs.values, got.vectors, want, "doubled");
}

// Above plain_lanczos_limit points, where plain Krylov-Schur would run on without end, a piece is
// factored whatever the operations; a factor beyond the memory, or one that MUMPS cannot compute,
// ends the solve with one message on every rank instead.
TEST(DistributedEigen, ALargePieceIsFactoredOrRefusedNeverLeftToPlainKrylovSchur) {
    const affinity moons = knn_affinity(two_moons(1500, 3).data);
    sparse_eigen_options large;
    large.plain_lanczos_limit = 1000;
    large.factor_density_limit = 1.0;  // these small pieces fill more than a large graph's would
    large.factor_flops_limit = 1.0;
    std::vector<std::string> told;  // what a person watching is told, as the solve goes
    large.report = [&told](const std::string& where) { told.push_back(where); };
    const eigenpairs want = leading_eigenpairs(moons.view(), 6);
    const outcome got = solve_spread(moons, 6, large, false);
    EXPECT_EQ(got.pairs.method, "shift-invert Krylov-Schur (MUMPS)");
    expect_same_pairs(got.pairs.values, got.vectors, want, "flops over the limit");
    ASSERT_GE(told.size(), 3u);
    EXPECT_EQ(told.front(), "ordering the factor");
    EXPECT_EQ(told.back().rfind("shift-invert Krylov-Schur: ", 0), 0u) << told.back();
    EXPECT_NE(told.back().find(" of 6 pairs converged"), std::string::npos) << told.back();
    large.report = {};

    large.factor_bytes_limit = 1024.0;
    std::string message;
    try {
        solve_spread(moons, 6, large, true);
    } catch (const resource_error& e) {
        message = e.what();
    }
    EXPECT_NE(message.find("a piece of 1500 points needs a distributed Cholesky factor of "), std::string::npos)
        << message;
    EXPECT_NE(message.find("beyond 1.0 KiB, the limit set; plain Krylov-Schur"), std::string::npos) << message;
    // Below the limit the same refusal leaves the piece to plain Krylov-Schur.
    large.plain_lanczos_limit = 1500;
    EXPECT_EQ(solve_spread(moons, 6, large, true).pairs.method, "Krylov-Schur");
}

// The message every rank throws, or "" when none throws.
std::string refusal(const std::function<void()>& run) {
    try {
        run();
    } catch (const input_error& e) {
        return e.what();
    }
    return "";
}

TEST(DistributedEigen, RefusesBadInputOnEveryRank) {
    const affinity moons = knn_affinity(two_moons(300, 1).data);
    const sparse_view v = moons.view();
    const auto [first, count] = block_of(v.n, false);
    const local_rows good = rows_of(v, first, count);
    const auto solve = [](const local_rows& rows, std::size_t wanted, const sparse_eigen_options& options = {}) {
        return [rows, wanted, options] { leading_eigenpairs(MPI_COMM_WORLD, rows, wanted, options); };
    };
    EXPECT_NE(refusal(solve(good, 0)).find("cannot take 0 eigenvectors"), std::string::npos);
    EXPECT_NE(refusal(solve(good, v.n + 1)).find("cannot take"), std::string::npos);
    sparse_eigen_options negative_shift;
    negative_shift.shift = -1.0;
    EXPECT_EQ(refusal(solve(good, 3, negative_shift)), "the shift must be a positive number");

    // Only the last rank's rows are wrong; every rank must throw.
    const bool last = rank_of() == ranks() - 1;
    local_rows asymmetric = good;
    if (last) asymmetric.values.back() *= 1.0 + 1e-15;
    EXPECT_EQ(refusal(solve(asymmetric, 3)), "sparse matrix: not symmetric");
    local_rows unordered = good;
    if (last) std::swap(unordered.columns[0], unordered.columns[1]);
    EXPECT_NE(refusal(solve(unordered, 3)).find("ascend in each row"), std::string::npos);
    local_rows not_finite = good;
    if (last) not_finite.values[0] = std::nan("");
    EXPECT_NE(refusal(solve(not_finite, 3)).find("not a finite number"), std::string::npos);
    local_rows outside = good;
    if (last) outside.columns.back() = static_cast<std::int64_t>(v.n);
    EXPECT_NE(refusal(solve(outside, 3)).find("lie in the matrix"), std::string::npos);
    local_rows shifted = good;
    if (last && ranks() > 1) shifted = rows_of(v, first - 1, count + 1);
    if (ranks() == 1) shifted.global_size += 1;
    EXPECT_NE(refusal(solve(shifted, 3)).find("local rows"), std::string::npos);
    local_rows truncated = good;
    if (last) truncated.starts.back() -= 1;
    EXPECT_NE(refusal(solve(truncated, 3)).find("agree in number"), std::string::npos);
}

// Random symmetric matrices in even and uneven blocks pass the symmetry check; each one changed
// in one place (a value, an entry dropped, an entry added, above or below the diagonal, with its
// mirror on the same rank or another) is refused on every rank.
TEST(DistributedEigen, SymmetryCheckFindsEveryOneSidedChange) {
    std::mt19937_64 random(11);
    for (int trial = 0; trial < 60; ++trial) {
        const std::size_t n = 5 + random() % 60;
        std::map<std::pair<std::size_t, std::size_t>, double> entries;
        for (std::size_t e = random() % (3 * n); e > 0; --e) {
            const std::size_t i = random() % n, j = random() % n;
            entries[{i, j}] = entries[{j, i}] = 0.01 * static_cast<double>(1 + random() % 100);
        }
        const auto [first, count] = block_of(n, trial % 2 == 1);
        // The change, drawn alike on every rank: 0 none, 1 a value, 2 an entry dropped, 3 one added.
        const int change = static_cast<int>(random() % 4);
        const std::size_t at_i = random() % n, at_j = (at_i + 1 + random() % (n - 1)) % n;
        std::map<std::pair<std::size_t, std::size_t>, double> changed = entries;
        if (change == 1 && entries.count({at_i, at_j}) == 1) changed[{at_i, at_j}] *= 1.0 + 1e-15;
        if (change == 2) changed.erase({at_i, at_j});
        if (change == 3 && entries.count({at_i, at_j}) == 0) changed[{at_i, at_j}] = 0.5;
        const bool symmetric = changed == entries;
        local_rows m;
        m.global_size = n;
        m.first = first;
        for (std::size_t i = first; i < first + count; ++i) {
            for (auto e = changed.lower_bound({i, 0}); e != changed.end() && e->first.first == i; ++e) {
                m.columns.push_back(static_cast<std::int64_t>(e->first.second));
                m.values.push_back(e->second);
            }
            m.starts.push_back(m.columns.size());
        }
        const block_starts blocks = block_starts::gather(MPI_COMM_WORLD, static_cast<std::int64_t>(first),
                                                         static_cast<std::int64_t>(count));
        const std::string refused = refusal([&] { check_symmetric(MPI_COMM_WORLD, m, blocks); });
        EXPECT_EQ(refused, symmetric ? "" : "sparse matrix: not symmetric")
            << "trial " << trial << ", change " << change << " at " << at_i << ", " << at_j;
    }
}

// An interrupt thrown on one rank alone ends the solve on every rank; the rank that threw sees
// its own exception.
TEST(DistributedEigen, AnInterruptOnOneRankEndsTheSolveOnAll) {
    struct stop {};
    const affinity moons = knn_affinity(two_moons(1200, 2).data);
    const auto [first, count] = block_of(moons.view().n, false);
    const local_rows rows = rows_of(moons.view(), first, count);
    sparse_eigen_options options;
    int calls = 0;
    const bool last = rank_of() == ranks() - 1;
    options.interrupt_check = [&calls, last] {
        if (last && ++calls == 5) throw stop{};
    };
    bool own = false, other = false;
    try {
        leading_eigenpairs(MPI_COMM_WORLD, rows, 4, options);
    } catch (const stop&) {
        own = true;
    } catch (const std::runtime_error&) {
        other = true;
    }
    EXPECT_EQ(own, last);
    EXPECT_EQ(other, !last);
}

}  // namespace
}  // namespace rotalign::mpi
