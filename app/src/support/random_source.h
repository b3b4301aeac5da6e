// A random source of our own for the generated data sets, so that a seed gives the same points
// with any standard library (the distributions of <random> are not specified bit for bit).
#pragma once

#include <cmath>
#include <cstdint>

namespace rotalign {

constexpr double pi = 3.14159265358979323846;

// splitmix64: small, fast and well mixed; enough for test data.
class random_source {
public:
    explicit random_source(std::uint64_t seed) : state_(seed) {}

    std::uint64_t next() {
        std::uint64_t z = (state_ += 0x9e3779b97f4a7c15ULL);
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
        z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
        return z ^ (z >> 31);
    }
    // Uniform in [0, 1), 53 random bits.
    double uniform() { return static_cast<double>(next() >> 11) * 0x1.0p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * uniform(); }
    // Standard normal by the Box-Muller transform; 1 - u keeps the logarithm finite.
    double normal() {
        const double u = 1.0 - uniform();
        const double v = uniform();
        return std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * pi * v);
    }

private:
    std::uint64_t state_;
};

}  // namespace rotalign
