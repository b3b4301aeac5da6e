// The Lanczos operator's product y = M x in the layouts it could take, on the matrix that the
// chain hands the eigen-step: the normalised affinity of two-moons points (7 neighbours,
// brenmoss) at N = 2,000, 5,000 and 10,000.
//
//   dense_dsymv       BLAS dsymv on the lower triangle: n^2/2 values read per product
//   dense_dgemv       BLAS dgemv on the whole matrix: n^2 values
//   skipped_scatter   the kept entries below the diagonal (above 1e-12/N) by columns, each
//                     column spreading its terms and summing its own in one loop
//   skipped           the operator the eigen-step uses (symmetric_operator): the same entries
//                     in bands of 512 rows with 16-bit row offsets, each band's column loops
//                     touching 512 rows of x and y, which stay in the nearest cache
//   full_rows         both triangles' kept entries by rows, one gather per row: twice the
//                     entries, no scattered writes
//   read_bound        one read of the sparse copy's values and indices: what bounds the above
//   build_one_thread  the scans that make the sparse copy, on one thread
//   build             the same, shared out between two threads on two cores
//   eigenpairs        the whole eigen-step, 10 leading pairs (counter: products)
// All sparse forms give bit for bit the products of skipped_scatter (checked here once).
#include "chain_affinity.h"
#include "eigen/pieces.h"
#include "eigen/symmetric_operator.h"
#include "rotalign/datasets/datasets.h"
#include "rotalign/eigen/eigen.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <map>
#include <stdexcept>
#include <vector>

extern "C" {
void dsymv_(const char* uplo, const int* n, const double* alpha, const double* a, const int* lda, const double* x,
            const int* incx, const double* beta, double* y, const int* incy, std::size_t uplo_len);
void dgemv_(const char* trans, const int* m, const int* n, const double* alpha, const double* a, const int* lda,
            const double* x, const int* incx, const double* beta, double* y, const int* incy, std::size_t trans_len);
}

namespace {

struct problem {
    std::size_t n = 0;
    std::vector<double> m;  // the normalised affinity, by columns
    double least = 0.0;     // entries at most this are skipped
    std::vector<double> x;
};

// The chain up to the eigen-step, through the library and the plug-ins as the program runs it.
problem make_problem(std::size_t n) {
    using setter = void (*)(int);
    if (auto set = reinterpret_cast<setter>(dlsym(RTLD_DEFAULT, "openblas_set_num_threads"))) set(1);
    problem out;
    out.n = n;
    out.m = bench::dense_affinity(rotalign::two_moons(n, 7).data, 7).values;
    out.least = rotalign::negligible_at(n);
    out.x.resize(n);
    for (std::size_t i = 0; i < n; ++i) out.x[i] = std::sin(static_cast<double>(i) + 0.5);
    return out;
}

const problem& cached(std::size_t n) {
    static std::map<std::size_t, problem> made;
    auto it = made.find(n);
    if (it == made.end()) it = made.emplace(n, make_problem(n)).first;
    return it->second;
}

// The kept entries below the diagonal by columns, the product as one loop per column.
struct scatter_layout {
    std::vector<double> diagonal, values;
    std::vector<std::size_t> starts;
    std::vector<std::uint32_t> rows;

    explicit scatter_layout(const problem& p) {
        for (std::size_t j = 0; j < p.n; ++j) {
            starts.push_back(values.size());
            diagonal.push_back(p.m[j + j * p.n]);
            for (std::size_t i = j + 1; i < p.n; ++i)
                if (std::fabs(p.m[i + j * p.n]) > p.least) {
                    rows.push_back(static_cast<std::uint32_t>(i));
                    values.push_back(p.m[i + j * p.n]);
                }
        }
        starts.push_back(values.size());
    }

    void apply(const double* x, double* y) const {
        const std::size_t n = diagonal.size();
        for (std::size_t j = 0; j < n; ++j) y[j] = diagonal[j] * x[j];
        for (std::size_t j = 0; j < n; ++j) {
            const double xj = x[j];
            double sum = 0.0;
            for (std::size_t k = starts[j]; k < starts[j + 1]; ++k) {
                const std::size_t i = rows[k];
                y[i] += values[k] * xj;
                sum += values[k] * x[i];
            }
            y[j] += sum;
        }
    }
};

// Both triangles by rows: row i holds its entries left of the diagonal, then those right of it,
// each part in ascending columns. The left part adds to the diagonal term, the right part is
// summed from zero and added last: the order of the column scheme.
struct row_layout {
    std::vector<double> diagonal, values;
    std::vector<std::size_t> starts, middle;
    std::vector<std::uint32_t> columns;

    explicit row_layout(const scatter_layout& by_columns, const problem& p) {
        const std::size_t n = p.n;
        const auto& cs = by_columns.starts;
        const auto& rs = by_columns.rows;
        const auto& vs = by_columns.values;
        starts.assign(n + 1, 0);
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t k = cs[j]; k < cs[j + 1]; ++k) ++starts[rs[k] + 1], ++starts[j + 1];
        for (std::size_t i = 0; i < n; ++i) starts[i + 1] += starts[i];
        columns.resize(starts[n]);
        values.resize(starts[n]);
        std::vector<std::size_t> fill(starts.begin(), starts.end() - 1);
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t k = cs[j]; k < cs[j + 1]; ++k) {
                const std::size_t at = fill[rs[k]]++;
                columns[at] = static_cast<std::uint32_t>(j), values[at] = vs[k];
            }
        middle = fill;
        for (std::size_t j = 0; j < n; ++j)
            for (std::size_t k = cs[j]; k < cs[j + 1]; ++k) {
                const std::size_t at = fill[j]++;
                columns[at] = rs[k], values[at] = vs[k];
            }
        for (std::size_t j = 0; j < n; ++j) diagonal.push_back(p.m[j + j * n]);
    }

    void apply(const double* x, double* y) const {
        for (std::size_t i = 0; i < diagonal.size(); ++i) {
            double left = diagonal[i] * x[i], right = 0.0;
            for (std::size_t k = starts[i]; k < middle[i]; ++k) left += values[k] * x[columns[k]];
            for (std::size_t k = middle[i]; k < starts[i + 1]; ++k) right += values[k] * x[columns[k]];
            y[i] = left + right;
        }
    }
};

std::size_t order_of(const benchmark::State& state) { return static_cast<std::size_t>(state.range(0)); }

template <typename apply_fn>
void time_products(benchmark::State& state, const problem& p, std::size_t bytes, apply_fn apply) {
    std::vector<double> y(p.n);
    for (auto _ : state) {
        apply(p.x.data(), y.data());
        benchmark::DoNotOptimize(y.data());
        benchmark::ClobberMemory();
    }
    state.counters["MB/product"] = static_cast<double>(bytes) / 1e6;
}

void check_same(const problem& p, const std::vector<double>& expected, const std::vector<double>& got) {
    if (std::memcmp(expected.data(), got.data(), p.n * sizeof(double)) != 0)
        throw std::logic_error("a sparse layout gave other bits than the column scheme");
}

void dense_dsymv(benchmark::State& state) {
    const problem& p = cached(order_of(state));
    const int n = static_cast<int>(p.n), one = 1;
    const double alpha = 1.0, beta = 0.0;
    time_products(state, p, p.n * p.n / 2 * sizeof(double), [&](const double* x, double* y) {
        dsymv_("L", &n, &alpha, p.m.data(), &n, x, &one, &beta, y, &one, 1);
    });
}

void dense_dgemv(benchmark::State& state) {
    const problem& p = cached(order_of(state));
    const int n = static_cast<int>(p.n), one = 1;
    const double alpha = 1.0, beta = 0.0;
    time_products(state, p, p.n * p.n * sizeof(double), [&](const double* x, double* y) {
        dgemv_("T", &n, &n, &alpha, p.m.data(), &n, x, &one, &beta, y, &one, 1);
    });
}

// A kept entry: a value and a 32-bit index (a 16-bit one in the banded operator).
constexpr std::size_t entry_bytes = sizeof(double) + sizeof(std::uint32_t);

void skipped_scatter(benchmark::State& state) {
    const problem& p = cached(order_of(state));
    const scatter_layout layout(p);
    time_products(state, p, layout.values.size() * entry_bytes,
                  [&](const double* x, double* y) { layout.apply(x, y); });
    state.counters["kept"] = static_cast<double>(layout.values.size()) / (static_cast<double>(p.n * (p.n - 1)) / 2.0);
}

void skipped(benchmark::State& state) {
    const problem& p = cached(order_of(state));
    const rotalign::symmetric_operator op(p.m.data(), p.n, p.least);
    std::vector<double> expected(p.n), got(p.n);
    scatter_layout(p).apply(p.x.data(), expected.data());
    op.apply(p.x.data(), got.data());
    check_same(p, expected, got);
    time_products(state, p, op.kept() * (sizeof(double) + sizeof(std::uint16_t)),
                  [&](const double* x, double* y) { op.apply(x, y); });
}

void full_rows(benchmark::State& state) {
    const problem& p = cached(order_of(state));
    const scatter_layout by_columns(p);
    const row_layout layout(by_columns, p);
    std::vector<double> expected(p.n), got(p.n);
    by_columns.apply(p.x.data(), expected.data());
    layout.apply(p.x.data(), got.data());
    check_same(p, expected, got);
    time_products(state, p, layout.values.size() * entry_bytes,
                  [&](const double* x, double* y) { layout.apply(x, y); });
}

// What bounds every sparse product of the column scheme: one read of its values and indices.
void read_bound(benchmark::State& state) {
    const problem& p = cached(order_of(state));
    const scatter_layout layout(p);
    const std::vector<double>& values = layout.values;
    const std::vector<std::uint32_t>& rows = layout.rows;
    for (auto _ : state) {
        double a = 0.0, b = 0.0, c = 0.0, d = 0.0;
        std::uint64_t r = 0;
        for (std::size_t k = 0; k + 4 <= values.size(); k += 4) {
            a += values[k], b += values[k + 1], c += values[k + 2], d += values[k + 3];
            r += rows[k] ^ rows[k + 1] ^ rows[k + 2] ^ rows[k + 3];
        }
        benchmark::DoNotOptimize(a + b + c + d);
        benchmark::DoNotOptimize(r);
    }
    state.counters["MB/product"] = static_cast<double>(values.size() * entry_bytes) / 1e6;
}

void time_build(benchmark::State& state, rotalign::copy_threads threads) {
    const problem& p = cached(order_of(state));
    for (auto _ : state) {
        rotalign::symmetric_operator op(p.m.data(), p.n, p.least, threads);
        benchmark::DoNotOptimize(op.kept());
    }
}

void build_one_thread(benchmark::State& state) { time_build(state, rotalign::copy_threads::one); }
void build(benchmark::State& state) { time_build(state, rotalign::copy_threads::automatic); }

void eigenpairs(benchmark::State& state) {
    const problem& p = cached(order_of(state));
    int products = 0;
    for (auto _ : state) {
        const rotalign::eigenpairs e = rotalign::leading_eigenpairs(p.m.data(), p.n, 10);
        products = e.products;
        benchmark::DoNotOptimize(e.vectors.data());
    }
    state.counters["products"] = products;
}

// With --benchmark_repetitions, "min" is the run least disturbed by other work on the machine.
void sizes(benchmark::internal::Benchmark* b) {
    b->ArgName("N")->Arg(2000)->Arg(5000)->Arg(10000)->Unit(benchmark::kMillisecond);
    b->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

}  // namespace

BENCHMARK(dense_dsymv)->Apply(sizes);
BENCHMARK(dense_dgemv)->Apply(sizes);
BENCHMARK(skipped_scatter)->Apply(sizes);
BENCHMARK(skipped)->Apply(sizes);
BENCHMARK(full_rows)->Apply(sizes);
BENCHMARK(read_bound)->Apply(sizes);
BENCHMARK(build_one_thread)->Apply(sizes);
BENCHMARK(build)->Apply(sizes);
BENCHMARK(eigenpairs)->Apply(sizes)->Iterations(1);
