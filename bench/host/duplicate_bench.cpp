// What huge pages and the reuse of released blocks buy a large mxDuplicateArray.
#include "mexhost/host.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

// Arguments: N (an N-by-N matrix), huge pages on/off, reuse on/off.
void duplicate(benchmark::State& state) {
    const auto n = static_cast<mwSize>(state.range(0));
    mexhost::set_huge_pages(state.range(1) != 0);
    mexhost::set_memory_reuse(state.range(2) != 0);
    mexhost::array_ptr source = mexhost::make_matrix(n, n);
    double* values = mxGetPr(source.get());
    for (std::size_t i = 0; i < static_cast<std::size_t>(n) * static_cast<std::size_t>(n); ++i)
        values[i] = static_cast<double>(i % 97);
    for (auto _ : state) {
        mexhost::array_ptr copy(mxDuplicateArray(source.get()));
        benchmark::DoNotOptimize(mxGetPr(copy.get()));
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(n) * n * 8);
    mexhost::set_huge_pages(true);
    mexhost::set_memory_reuse(true);
}

// The bound set by memory traffic: copying the same values into memory that is already mapped.
void copy_into_mapped_memory(benchmark::State& state) {
    const auto count = static_cast<std::size_t>(state.range(0)) * static_cast<std::size_t>(state.range(0));
    std::vector<double> source(count, 1.5), target(count, 0.0);
    for (auto _ : state) {
        std::memcpy(target.data(), source.data(), count * sizeof(double));
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(count) * 8);
}

}  // namespace

BENCHMARK(copy_into_mapped_memory)->ArgName("N")->Arg(4000)->Unit(benchmark::kMillisecond);
BENCHMARK(duplicate)
    ->ArgNames({"N", "huge", "reuse"})
    ->Args({4000, 0, 0})
    ->Args({4000, 1, 0})
    ->Args({4000, 1, 1})
    ->Unit(benchmark::kMillisecond);
