// The dense path of brenmoss against what bounds it and against sorting every column in full.
//
// Each case is one call through the host, outputs released, for an N-by-N distance matrix and
// K = 7, with 1, 2 or 3 outputs:
//   selection  the plug-in, on the distances between random points in the unit square;
//   full_sort  the same source built to sort every column in full, on the same matrix;
//   ascending  the plug-in on a matrix whose every column is already in ascending order;
//   line       the plug-in on the distances between evenly spaced points on a line;
//   bound      a gateway that only duplicates the input once per output and takes one scalar
//              exp per entry: what no local-scaling call can go below.
#include "mexhost/host.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

const double neighbours = 7.0;

std::size_t entries(mwSize n) { return static_cast<std::size_t>(n) * static_cast<std::size_t>(n); }

mexhost::array_ptr random_points_distances(mwSize n) {
    std::mt19937_64 rng(1);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> x(static_cast<std::size_t>(n)), y(static_cast<std::size_t>(n));
    for (mwSize i = 0; i < n; ++i) {
        x[static_cast<std::size_t>(i)] = unit(rng);
        y[static_cast<std::size_t>(i)] = unit(rng);
    }
    mexhost::array_ptr d = mexhost::make_matrix(n, n);
    double* v = mxGetPr(d.get());
    for (mwSize j = 0; j < n; ++j)
        for (mwSize i = 0; i < n; ++i)
            v[static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * static_cast<std::size_t>(n)] =
                std::hypot(x[static_cast<std::size_t>(i)] - x[static_cast<std::size_t>(j)],
                           y[static_cast<std::size_t>(i)] - y[static_cast<std::size_t>(j)]);
    return d;
}

// Column j holds i + j / N at row i: every column ascending, no two entries alike.
mexhost::array_ptr ascending_columns(mwSize n) {
    mexhost::array_ptr d = mexhost::make_matrix(n, n);
    double* v = mxGetPr(d.get());
    for (std::size_t at = 0; at < entries(n); ++at)
        v[at] = static_cast<double>(at % static_cast<std::size_t>(n)) +
                static_cast<double>(at / static_cast<std::size_t>(n)) / static_cast<double>(n);
    return d;
}

// Points 0, 1, ..., N-1 on a line: column j falls to 0 at row j and rises after it.
mexhost::array_ptr points_on_a_line(mwSize n) {
    mexhost::array_ptr d = mexhost::make_matrix(n, n);
    double* v = mxGetPr(d.get());
    for (std::size_t at = 0; at < entries(n); ++at)
        v[at] = std::fabs(static_cast<double>(at % static_cast<std::size_t>(n)) -
                          static_cast<double>(at / static_cast<std::size_t>(n)));
    return d;
}

// Duplicates input 1 once per requested output and writes exp(-d) for every entry of output 1.
void bound_gateway(int nlhs, mxArray* plhs[], int, const mxArray* prhs[]) {
    for (int out = 0; out < nlhs; ++out) plhs[out] = mxDuplicateArray(prhs[0]);
    const std::size_t count = entries(mxGetDimensions(prhs[0])[0]);
    const double* d = mxGetPr(prhs[0]);
    double* a = mxGetPr(plhs[0]);
    for (std::size_t at = 0; at < count; ++at) a[at] = std::exp(-d[at]);
}

mexhost::plugin& plugin_at(const std::string& path) {
    static std::vector<std::unique_ptr<mexhost::plugin>> opened;
    for (auto& p : opened)
        if (p->path() == path) return *p;
    opened.push_back(std::make_unique<mexhost::plugin>(path));
    return *opened.back();
}

mexhost::plugin& selection_plugin() {
    return plugin_at(std::string(TOOLBOX_PLUGIN_DIR) + "/" + mexhost::plugin_file_name("brenmoss"));
}

// Times calls of `entry` (or of `plugin` when entry is null) on `d` with state.range(1) outputs.
void time_calls(benchmark::State& state, const mxArray* d, mexhost::plugin* plugin, mexhost::gateway entry) {
    const int nlhs = static_cast<int>(state.range(1));
    mexhost::array_ptr k = mexhost::make_scalar(neighbours);
    const std::vector<const mxArray*> inputs = {d, k.get()};
    mexhost::call_options unchecked;
    unchecked.check_inputs = false;  // fingerprinting the input would cost more than the call
    for (auto _ : state) {
        auto out = plugin != nullptr ? plugin->call(nlhs, inputs, unchecked)
                                     : mexhost::call_gateway(entry, nlhs, inputs, nullptr, unchecked);
        benchmark::DoNotOptimize(mxGetPr(out[0].get()));
    }
    state.counters["ns/entry"] = benchmark::Counter(static_cast<double>(entries(mxGetDimensions(d)[0])),
                                                    benchmark::Counter::kIsIterationInvariantRate |
                                                        benchmark::Counter::kInvert);
}

void selection(benchmark::State& state) {
    mexhost::array_ptr d = random_points_distances(static_cast<mwSize>(state.range(0)));
    time_calls(state, d.get(), &selection_plugin(), nullptr);
}

void full_sort(benchmark::State& state) {
    mexhost::array_ptr d = random_points_distances(static_cast<mwSize>(state.range(0)));
    time_calls(state, d.get(), &plugin_at(FULL_SORT_PLUGIN), nullptr);
}

void ascending(benchmark::State& state) {
    mexhost::array_ptr d = ascending_columns(static_cast<mwSize>(state.range(0)));
    time_calls(state, d.get(), &selection_plugin(), nullptr);
}

void line(benchmark::State& state) {
    mexhost::array_ptr d = points_on_a_line(static_cast<mwSize>(state.range(0)));
    time_calls(state, d.get(), &selection_plugin(), nullptr);
}

void bound(benchmark::State& state) {
    mexhost::array_ptr d = random_points_distances(static_cast<mwSize>(state.range(0)));
    time_calls(state, d.get(), nullptr, bound_gateway);
}

// With --benchmark_repetitions, "min" is the run least disturbed by other work on the machine.
void sizes(benchmark::internal::Benchmark* b) {
    b->ArgNames({"N", "outputs"})->ArgsProduct({{1000, 2000, 4000}, {1, 2, 3}})->Unit(benchmark::kMillisecond);
    b->ComputeStatistics("min", [](const std::vector<double>& v) { return *std::min_element(v.begin(), v.end()); });
}

}  // namespace

BENCHMARK(bound)->Apply(sizes);
BENCHMARK(selection)->Apply(sizes);
BENCHMARK(ascending)->Apply(sizes);
BENCHMARK(line)->Apply(sizes);
BENCHMARK(full_sort)->Apply(sizes);
