// Nearest neighbours and the neighbour graph. `graph/...` builds the graph of 14 neighbours
// (local scales of 7) on the sets of the large-data goals: two moons of 20,000, 100,000 and
// 1,000,000 points, and 100,000 points in 50 dimensions (ten Gaussian blobs), with every
// backend where it finishes in reasonable time. `search/...` runs the exact backends side by
// side across dimensions on ten blobs; where the k-d tree stops winning sets
// kd_tree_dimension_limit.
//
// Counters: search_s and build_s, the two stages; cpu_s, the process's CPU time (all threads;
// on a busy machine the steadier figure); stored, entries per point; rechecked, points whose
// first candidates failed the margin test; recall, of the approximate search; peak_MB, the
// process's peak resident memory, which belongs to one benchmark only when it runs alone
// (bench/app/neighbours.sh runs each so).
#include "rotalign/datasets/datasets.h"
#include "rotalign/graph/graph.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <map>

#include <sys/resource.h>

using rotalign::neighbour_backend;

namespace {

// `count` points in `dims` dimensions around ten centres drawn uniformly from [-8, 8]^dims,
// with unit normal spread; reproducible from the seed on every platform.
rotalign::points gaussian_blobs(std::size_t count, std::size_t dims, std::uint64_t seed) {
    std::uint64_t state = seed;
    auto uniform = [&state] {
        std::uint64_t z = (state += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return static_cast<double>((z ^ (z >> 31)) >> 11) * 0x1.0p-53;
    };
    const std::size_t blobs = 10;
    std::vector<double> centres(blobs * dims);
    for (double& c : centres) c = -8.0 + 16.0 * uniform();
    rotalign::points p{count, dims, {}};
    p.values.reserve(count * dims);
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t k = 0; k < dims; ++k) {
            const double u = 1.0 - uniform(), v = uniform();
            const double normal = std::sqrt(-2.0 * std::log(u)) * std::cos(6.283185307179586 * v);
            p.values.push_back(centres[(i % blobs) * dims + k] + normal);
        }
    return p;
}

const rotalign::points& moons(std::size_t n) {
    static std::map<std::size_t, rotalign::points> made;
    auto it = made.find(n);
    if (it == made.end()) it = made.emplace(n, rotalign::two_moons(n, 1).data).first;
    return it->second;
}

const rotalign::points& blobs(std::size_t n, std::size_t dims) {
    static std::map<std::pair<std::size_t, std::size_t>, rotalign::points> made;
    auto it = made.find({n, dims});
    if (it == made.end()) it = made.emplace(std::make_pair(n, dims), gaussian_blobs(n, dims, 1)).first;
    return it->second;
}

double cpu_seconds() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return static_cast<double>(use.ru_utime.tv_sec + use.ru_stime.tv_sec) +
           1e-6 * static_cast<double>(use.ru_utime.tv_usec + use.ru_stime.tv_usec);
}

double peak_megabytes() {
    rusage use{};
    getrusage(RUSAGE_SELF, &use);
    return static_cast<double>(use.ru_maxrss) / 1024.0;
}

void graph(benchmark::State& state, const rotalign::points& p, neighbour_backend backend) {
    if (!rotalign::available(backend)) {
        state.SkipWithError("not in this build");
        return;
    }
    rotalign::neighbour_options options;
    options.backend = backend;
    const std::size_t m = rotalign::graph_neighbours(7);
    double search = 0.0, build = 0.0, cpu = 0.0;
    rotalign::neighbour_graph g;
    for (auto _ : state) {
        g = rotalign::neighbour_graph{};  // the last graph's memory goes before the next is built
        const double before = cpu_seconds();
        g = rotalign::build_graph(p, m, options);
        cpu += cpu_seconds() - before;
        search += g.search_seconds;
        build += g.build_seconds;
        benchmark::DoNotOptimize(g.distances.get());
    }
    const auto runs = static_cast<double>(state.iterations());
    state.counters["search_s"] = search / runs;
    state.counters["build_s"] = build / runs;
    state.counters["cpu_s"] = cpu / runs;
    state.counters["stored"] = static_cast<double>(g.stored) / static_cast<double>(p.count);
    state.counters["rechecked"] = static_cast<double>(g.rechecked);
    state.counters["recall"] = g.recall;
    state.counters["peak_MB"] = peak_megabytes();
}

void graph_moons(benchmark::State& state, neighbour_backend backend) {
    graph(state, moons(static_cast<std::size_t>(state.range(0))), backend);
}

void graph_blobs(benchmark::State& state, neighbour_backend backend) {
    graph(state, blobs(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1))), backend);
}

void search_blobs(benchmark::State& state, neighbour_backend backend) {
    const rotalign::points& p = blobs(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    rotalign::neighbour_options options;
    options.backend = backend;
    double cpu = 0.0;
    for (auto _ : state) {
        const double before = cpu_seconds();
        rotalign::neighbour_search s = rotalign::nearest_neighbours(p, 14, options);
        cpu += cpu_seconds() - before;
        benchmark::DoNotOptimize(s.lists.index.data());
    }
    state.counters["cpu_s"] = cpu / static_cast<double>(state.iterations());
}

// Blobs of range(0) points in range(2) dimensions, all at the first range(1) of them: points at
// one location must cost what distinct ones do (the run with range(1) = range(0) is the baseline).
void search_duplicates(benchmark::State& state, neighbour_backend backend) {
    const std::size_t n = static_cast<std::size_t>(state.range(0)), locations = static_cast<std::size_t>(state.range(1));
    rotalign::points p = blobs(n, static_cast<std::size_t>(state.range(2)));
    for (std::size_t i = locations; i < n; ++i)
        std::copy_n(&p.values[(i % locations) * p.dims], p.dims, &p.values[i * p.dims]);
    rotalign::neighbour_options options;
    options.backend = backend;
    for (auto _ : state) {
        rotalign::neighbour_search s = rotalign::nearest_neighbours(p, 14, options);
        benchmark::DoNotOptimize(s.lists.index.data());
    }
}

void dimensions(benchmark::internal::Benchmark* b, std::int64_t n, std::vector<std::int64_t> dims) {
    for (const std::int64_t d : dims) b->Args({n, d});
}

}  // namespace

#define GRAPH_MOONS(backend) \
    BENCHMARK_CAPTURE(graph_moons, backend, neighbour_backend::backend)->Name("graph/moons/" #backend)
#define GRAPH_BLOBS(backend) \
    BENCHMARK_CAPTURE(graph_blobs, backend, neighbour_backend::backend)->Name("graph/blobs/" #backend)
#define SEARCH_BLOBS(backend) \
    BENCHMARK_CAPTURE(search_blobs, backend, neighbour_backend::backend)->Name("search/blobs/" #backend)

GRAPH_MOONS(kd_tree)->Arg(20000)->Arg(100000)->Arg(1000000)->Unit(benchmark::kMillisecond)->UseRealTime();
GRAPH_MOONS(blas)->Arg(20000)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime();
GRAPH_BLOBS(blas)->Args({100000, 50})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
GRAPH_BLOBS(kd_tree)->Args({20000, 50})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
GRAPH_MOONS(faiss)->Arg(20000)->Unit(benchmark::kMillisecond)->UseRealTime();
GRAPH_BLOBS(faiss)->Args({100000, 50})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
GRAPH_MOONS(hnsw)->Arg(100000)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
GRAPH_BLOBS(hnsw)->Args({100000, 50})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

SEARCH_BLOBS(kd_tree)
    ->Apply([](benchmark::internal::Benchmark* b) {
        dimensions(b, 20000, {2, 3, 5, 8, 10, 12, 16, 24, 32});
        dimensions(b, 100000, {5, 8, 10, 12, 16});
    })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
SEARCH_BLOBS(blas)
    ->Apply([](benchmark::internal::Benchmark* b) {
        dimensions(b, 20000, {2, 3, 5, 8, 10, 12, 16, 24, 32});
        dimensions(b, 100000, {5, 8, 10, 12, 16});
    })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(search_duplicates, kd_tree, neighbour_backend::kd_tree)
    ->Name("search/duplicates/kd_tree")
    ->Args({20000, 20000, 2})->Args({20000, 100, 2})->Args({20000, 1, 2})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(search_duplicates, blas, neighbour_backend::blas)
    ->Name("search/duplicates/blas")
    ->Args({20000, 20000, 50})->Args({20000, 100, 50})->Args({20000, 1, 50})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
