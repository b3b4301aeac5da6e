// The two eigen-solvers side by side on the matrix the chain hands them: the normalised
// affinity of two-moons points, ten leading pairs. The crossing of the two curves sets
// dense_solver_limit.
#include "chain_affinity.h"

#include "rotalign/datasets/datasets.h"
#include "rotalign/eigen/eigen.h"

#include <benchmark/benchmark.h>

#include <map>

namespace {

// The normalised affinity of two-moons points as the chain makes it on the dense graph. local:
// one scale per point (its 7th nearest squared distance, brenmoss), the chain's default, with
// most entries small enough for the Lanczos operator to skip; otherwise one wide global scale
// (pellor, scale 1), under which every entry counts.
rotalign::square moons_affinity(std::size_t n, bool local) {
    const rotalign::points p = rotalign::two_moons(n, 5).data;
    return local ? bench::dense_affinity(p, 7) : bench::dense_affinity(p, 0, 1.0);
}

const rotalign::square& cached(std::size_t n, bool local) {
    static std::map<std::pair<std::size_t, bool>, rotalign::square> made;
    auto it = made.find({n, local});
    if (it == made.end()) it = made.emplace(std::make_pair(n, local), moons_affinity(n, local)).first;
    return it->second;
}

void solve(benchmark::State& state, rotalign::eigen_solver solver, bool local = true) {
    const rotalign::square& a = cached(static_cast<std::size_t>(state.range(0)), local);
    int products = 0;
    for (auto _ : state) {
        rotalign::eigenpairs e = rotalign::leading_eigenpairs(a, 10, solver);
        products = e.products;
        benchmark::DoNotOptimize(e.vectors.data());
    }
    state.counters["products"] = products;
}

void lanczos(benchmark::State& state) { solve(state, rotalign::eigen_solver::lanczos); }
void dense(benchmark::State& state) { solve(state, rotalign::eigen_solver::dense); }
void lanczos_wide_scale(benchmark::State& state) { solve(state, rotalign::eigen_solver::lanczos, false); }

}  // namespace

// N from 100 up to `largest`, doubling. Process CPU time counts the BLAS threads that the dense
// solver starts, so the CPU column compares the two fairly on a busy machine too.
template <int largest>
void sizes(benchmark::internal::Benchmark* b) {
    b->ArgName("N")->RangeMultiplier(2)->Range(100, largest)->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
}

BENCHMARK(lanczos)->Apply(sizes<6400>);
BENCHMARK(lanczos_wide_scale)->Apply(sizes<1600>);
BENCHMARK(dense)->Apply(sizes<1600>);
