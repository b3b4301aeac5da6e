// The sparse eigen-step's methods side by side on the normalised nearest-neighbour affinities it
// is built for, as the chain makes them (chain_affinity.h): two moons at 20,000, 100,000 and
// 1,000,000 points, and 100,000 points in 50 dimensions (ten Gaussian blobs), 14 neighbours,
// local scales from the 7th, 10 leading pairs.
// Each run reports the time, the peak memory the solve added, its work and its accuracy (the
// largest residual, and the largest distance of its eigenvalues from the first method's).
//
//   OPENBLAS_NUM_THREADS=1 build/default/bench/app/bench_app_sparse_eigen --benchmark_filter=moons/100000
#include "chain_affinity.h"
#include "peak_memory.h"

#include "rotalign/datasets/datasets.h"
#include "rotalign/eigen/sparse_eigen.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <functional>
#include <map>
#include <random>
#include <string>

namespace {

constexpr std::size_t pairs = 10, neighbours = 14;
constexpr int scale_index = 7;

struct test_matrix {
    bench::sparse_affinity a;
    std::vector<double> reference;  // eigenvalues of the first run on it
};

test_matrix& matrix(const std::string& name, const std::function<rotalign::points()>& make) {
    static std::map<std::string, test_matrix> made;
    auto it = made.find(name);
    if (it == made.end()) it = made.emplace(name, test_matrix{bench::knn_affinity(make(), neighbours, scale_index), {}}).first;
    return it->second;
}

// `count` points of `dims` coordinates in `groups` Gaussian blobs of unit deviation, whose
// centres are drawn with deviation `spread` per coordinate.
rotalign::points gaussian_blobs(std::size_t count, std::size_t dims, std::size_t groups, double spread,
                                std::uint64_t seed) {
    std::mt19937_64 random(seed);
    std::normal_distribution<double> normal(0.0, 1.0);
    std::vector<double> centres(groups * dims);
    for (double& c : centres) c = spread * normal(random);
    rotalign::points p;
    p.count = count;
    p.dims = dims;
    p.values.resize(count * dims);
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t k = 0; k < dims; ++k) p.values[i * dims + k] = centres[(i % groups) * dims + k] + normal(random);
    return p;
}

void solve(benchmark::State& state, const std::string& name, const std::function<rotalign::points()>& make,
           rotalign::sparse_eigen_options options) {
    test_matrix& m = matrix(name, make);
    const double before = bench::reset_peak_kib();
    rotalign::sparse_eigen_work work;
    rotalign::eigenpairs e;
    for (auto _ : state) {
        e = rotalign::leading_eigenpairs(m.a.view(), pairs, options, &work);
        benchmark::DoNotOptimize(e.vectors.data());
    }
    state.counters["peak_MB"] = (bench::status_kib("VmHWM") - before) / 1024.0;
    if (m.reference.empty()) m.reference = e.values;
    double distance = 0.0;
    for (std::size_t k = 0; k < pairs; ++k) distance = std::max(distance, std::fabs(e.values[k] - m.reference[k]));
    state.counters["dlambda"] = distance;
    state.counters["residual"] = work.largest_residual;
    state.counters["products"] = static_cast<double>(work.products);
    state.counters["solves"] = static_cast<double>(work.solves);
    state.counters["restarts"] = static_cast<double>(work.restarts);
    state.counters["pieces"] = static_cast<double>(work.components);
    state.counters["factor_MB"] = work.factor_bytes / (1024.0 * 1024.0);
    state.counters["refused_MB"] = work.refused_factor_bytes / (1024.0 * 1024.0);
    state.counters["analyse_s"] = work.analyse_seconds;
    state.counters["factor_s"] = work.factorise_seconds;
    state.counters["1-l2"] = 1.0 - e.values[1];
    state.counters["1-l10"] = 1.0 - e.values[pairs - 1];
    state.SetLabel(name_of(work.used) + (work.refused_factors > 0 ? ", factor refused" : ""));
}

rotalign::points moons(std::size_t n) { return rotalign::two_moons(n, 7).data; }
// Ten blobs whose centres lie about 15 apart, against about 10 between two points of one blob:
// the graph falls apart into the blobs.
rotalign::points blobs(std::size_t n) { return gaussian_blobs(n, 50, 10, 1.5, 7); }

void add(const std::string& matrix_name, const std::function<rotalign::points()>& make, const std::string& label,
         rotalign::sparse_eigen_options options) {
    benchmark::RegisterBenchmark((matrix_name + "/" + label).c_str(),
                                 [=](benchmark::State& s) { solve(s, matrix_name, make, options); })
        ->Iterations(1)
        ->UseRealTime()
        ->Unit(benchmark::kSecond);
}

rotalign::sparse_eigen_options with(rotalign::eigen_solver method, double shift = rotalign::sparse_eigen_options{}.shift) {
    rotalign::sparse_eigen_options o;
    o.method = method;
    o.shift = shift;
    return o;
}

int registered = [] {
    using rotalign::eigen_solver;
    // Plain Lanczos is left out at 10^6 points, where it would take most of an hour.
    for (std::size_t n : {20000, 100000, 1000000}) {
        const std::string name = "moons/" + std::to_string(n);
        const auto make = [n] { return moons(n); };
        add(name, make, "shift_invert", with(eigen_solver::shift_invert));
        add(name, make, "automatic", with(eigen_solver::automatic));
        if (n < 1000000) add(name, make, "lanczos", with(eigen_solver::lanczos));
    }
    // The shift: solves against tau (the default is 1e-8).
    for (double tau : {1e-3, 1e-5}) {
        char label[40];
        std::snprintf(label, sizeof label, "shift_invert/tau:%g", tau);
        add("moons/100000", [] { return moons(100000); }, label, with(eigen_solver::shift_invert, tau));
    }
    const auto make = [] { return blobs(100000); };
    add("blobs50/100000", make, "automatic", with(eigen_solver::automatic));
    add("blobs50/100000", make, "lanczos", with(eigen_solver::lanczos));
    add("blobs50/100000", make, "shift_invert", with(eigen_solver::shift_invert));
    return 0;
}();

}  // namespace
