// Reading points at scale: a CSV file of two-moons points (as `rotalign generate` writes them,
// 17 significant digits) and the same points as .npy, in bytes per second. The baseline is the
// field-by-field strtod parse that the reader used before, so one run gives the ratio. Beside
// them, what every unstandardised run adds after reading, the columns' spreads for the units
// warning, and what --standardise adds, against one plain sum over the same values (the bound
// that reading memory once sets).
#include "rotalign/datasets/datasets.h"
#include "rotalign/input/points.h"
#include "rotalign/input/standardise.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <string>

namespace {

const std::string& csv_text(std::size_t n) {
    static std::string text;
    static std::size_t made = 0;
    if (made != n) {
        const rotalign::labelled_points data = rotalign::two_moons(n, 1);
        std::ostringstream out;
        out << "x,y\n";
        out.precision(17);
        for (std::size_t i = 0; i < n; ++i) out << data.data.at(i, 0) << ',' << data.data.at(i, 1) << '\n';
        text = out.str();
        made = n;
    }
    return text;
}

std::string npy_bytes(std::size_t n) {
    const rotalign::labelled_points data = rotalign::two_moons(n, 1);
    std::string header = "{'descr': '<f8', 'fortran_order': False, 'shape': (" + std::to_string(n) + ", 2), }";
    while ((10 + header.size() + 1) % 64 != 0) header += ' ';
    header += '\n';
    std::string out = "\x93NUMPY\x01";
    out += '\0';
    out += static_cast<char>(header.size() & 0xff);
    out += static_cast<char>(header.size() >> 8);
    out += header;
    const std::size_t bytes = data.data.values.size() * sizeof(double);
    out.append(reinterpret_cast<const char*>(data.data.values.data()), bytes);
    return out;
}

void read_csv(benchmark::State& state) {
    const std::string& text = csv_text(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::istringstream in(text);
        benchmark::DoNotOptimize(rotalign::read_points(in, "moons.csv"));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// What every field cost before: a line at a time, a copy of each field, strtod.
void read_csv_with_strtod(benchmark::State& state) {
    const std::string& text = csv_text(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::istringstream in(text);
        std::string line;
        std::vector<double> values;
        std::getline(in, line);
        while (std::getline(in, line)) {
            std::size_t start = 0;
            for (;;) {
                const std::size_t comma = line.find(',', start);
                const std::string field = line.substr(start, comma - start);
                values.push_back(std::strtod(field.c_str(), nullptr));
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        }
        benchmark::DoNotOptimize(values.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

void read_npy(benchmark::State& state) {
    const std::string bytes = npy_bytes(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::istringstream in(bytes);
        benchmark::DoNotOptimize(rotalign::read_points(in, "moons.npy"));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * bytes.size()));
}

// n points of d coordinates, uniform in [-1, 1].
const rotalign::points& uniform_points(std::size_t n, std::size_t d) {
    static rotalign::points p;
    if (p.count != n || p.dims != d) {
        p = rotalign::points{n, d, std::vector<double>(n * d)};
        std::mt19937_64 random(1);
        std::uniform_real_distribution<double> unit(-1.0, 1.0);
        for (double& v : p.values) v = unit(random);
    }
    return p;
}

void column_spreads(benchmark::State& state) {
    const rotalign::points& p = uniform_points(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) benchmark::DoNotOptimize(rotalign::column_spreads(p));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.values.size() * sizeof(double)));
}

void standardised(benchmark::State& state) {
    const rotalign::points& p = uniform_points(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) benchmark::DoNotOptimize(rotalign::standardised(p));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.values.size() * sizeof(double)));
}

void plain_sum(benchmark::State& state) {
    const rotalign::points& p = uniform_points(static_cast<std::size_t>(state.range(0)), static_cast<std::size_t>(state.range(1)));
    for (auto _ : state) {
        double sum = 0.0;
        for (double v : p.values) sum += v;
        benchmark::DoNotOptimize(sum);
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * p.values.size() * sizeof(double)));
}

}  // namespace

BENCHMARK(read_csv)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(read_csv_with_strtod)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(read_npy)->Arg(1000000)->Unit(benchmark::kMillisecond);
BENCHMARK(column_spreads)->Args({1000000, 2})->Args({200000, 64})->Unit(benchmark::kMillisecond);
BENCHMARK(standardised)->Args({1000000, 2})->Args({200000, 64})->Unit(benchmark::kMillisecond);
BENCHMARK(plain_sum)->Args({1000000, 2})->Args({200000, 64})->Unit(benchmark::kMillisecond);
