// tarvik through the host: time per sweep, host products per sweep, and how much of a sweep the
// host's "mtimes" takes, measured during the same calls.
//
// This program stands in for mexCallMATLAB: it exports its own definition, which the plug-in
// binds to ahead of the host's library, times the call and passes it on to the host's. Run with
// a single-threaded BLAS (OPENBLAS_NUM_THREADS=1) so that the shares are those of one core.
#include "mex.h"
#include "mexhost/host.h"

#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <time.h>

#include <cmath>
#include <cstdlib>
#include <random>
#include <string>

namespace {

// Processor time of the calling thread: other load on the machine does not count.
double thread_seconds() {
    timespec now{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
}

double host_seconds = 0.0;  // inside the host's functions, called back from the plug-in

mexhost::plugin& tarvik() {
    static mexhost::plugin opened(std::string(TOOLBOX_PLUGIN_DIR) + "/" + mexhost::plugin_file_name("tarvik"));
    return opened;
}

// Eigenvectors of c well separated groups as a clustering gives them: each row close to one
// axis, with noise, and turned a little out of line so that the search has work to do.
mexhost::array_ptr eigenvectors(mwSize n, mwSize c) {
    std::mt19937 gen(42);
    std::normal_distribution<double> noise(0.0, 0.05);
    mexhost::array_ptr x = mexhost::make_matrix(n, c);
    double* v = mxGetPr(x.get());
    const auto rows = static_cast<std::size_t>(n), cols = static_cast<std::size_t>(c);
    for (std::size_t r = 0; r < rows; ++r)
        for (std::size_t j = 0; j < cols; ++j) v[r + j * rows] = (r % cols == j ? 1.0 : 0.0) + noise(gen);
    // Turn every pair of columns by 0.15 rad.
    for (std::size_t p = 0; p < cols; ++p)
        for (std::size_t q = p + 1; q < cols; ++q)
            for (std::size_t r = 0; r < rows; ++r) {
                const double a = v[r + p * rows], b = v[r + q * rows];
                v[r + p * rows] = std::cos(0.15) * a - std::sin(0.15) * b;
                v[r + q * rows] = std::sin(0.15) * a + std::cos(0.15) * b;
            }
    return x;
}

// Arguments: n rows, c columns, method (1 gradient, 2 numerical).
void sweep(benchmark::State& state) {
    const auto n = static_cast<mwSize>(state.range(0));
    const auto c = static_cast<mwSize>(state.range(1));
    const bool numerical = state.range(2) == 2;
    mexhost::array_ptr x = eigenvectors(n, c);
    mexhost::array_ptr method = mexhost::make_scalar(static_cast<double>(state.range(2)));

    double call_seconds = 0.0;
    double products = 0.0;
    host_seconds = 0.0;
    for (auto _ : state) {
        const double start = thread_seconds();
        auto out = tarvik().call(3, {x.get(), method.get()}, {false});
        call_seconds += thread_seconds() - start;
        benchmark::DoNotOptimize(out.data());
        products = static_cast<double>(tarvik().last_stats().host_calls_of("mtimes"));
    }

    // A numerical sweep rotates X twice per angle; a gradient sweep makes five products per
    // angle. One more rotation gives the output.
    const double per_sweep = (numerical ? 2.0 : 5.0) * c * (c - 1) / 2;
    const double sweeps = (products - 1) / per_sweep;
    state.counters["sweeps"] = sweeps;
    state.counters["products/sweep"] = per_sweep;
    state.counters["ms/sweep"] = 1e3 * call_seconds / static_cast<double>(state.iterations()) / sweeps;
    state.counters["mtimes_share"] = host_seconds / call_seconds;
    state.counters["outside/inside"] = (call_seconds - host_seconds) / host_seconds;
}

}  // namespace

extern "C" int mexCallMATLAB(int nlhs, mxArray* plhs[], int nrhs, mxArray* prhs[], const char* name) {
    using entry = int (*)(int, mxArray*[], int, mxArray*[], const char*);
    // The host's library is loaded by now, as the plug-in that calls here depends on it.
    static const auto host = [] {
        void* library = dlopen("libmex.so", RTLD_NOW | RTLD_NOLOAD);
        void* function = library != nullptr ? dlsym(library, "mexCallMATLAB") : nullptr;
        if (function == nullptr) std::abort();
        return reinterpret_cast<entry>(function);
    }();
    const double start = thread_seconds();
    const int status = host(nlhs, plhs, nrhs, prhs, name);
    host_seconds += thread_seconds() - start;
    return status;
}

BENCHMARK(sweep)
    ->ArgNames({"n", "c", "method"})
    ->ArgsProduct({{1000, 10000}, {4, 8, 20}, {1, 2}})
    ->Unit(benchmark::kMillisecond);
// Tall eigenvector matrices, as the nearest-neighbour route hands them over at 10^5 points.
BENCHMARK(sweep)
    ->Name("tall")
    ->ArgNames({"n", "c", "method"})
    ->ArgsProduct({{100000}, {2, 4, 10}, {1}})
    ->Unit(benchmark::kMillisecond);
