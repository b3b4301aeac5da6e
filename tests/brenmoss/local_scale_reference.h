// What the tests of the two local-scaling plug-ins share: a direct reading of the computation
// (every column fully sorted with mysort, the order statistic read out of it, then every
// entry), random inputs, and the calls through the host.
#pragma once

#include "column_sort.h"
#include "plugins.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <random>
#include <vector>

namespace toolbox_test {

struct local_scaling_result {
    std::vector<double> scaled, affinities, scales;
};

using pair_scale = double (*)(double sigma_i, double sigma_j);
using affinity_of = double (*)(double q);

inline double bounded_geometric_scale(double sigma_i, double sigma_j) {
    const double g = std::sqrt(sigma_i * sigma_j);
    return g < 0.004 ? 0.004 : g;
}
inline double mean_of_scales(double sigma_i, double sigma_j) { return (sigma_i + sigma_j) * 0.5; }
inline double exp_of_minus(double q) { return std::exp(-q); }
inline double exp_of_minus_square(double q) { return std::exp(-(q * q)); }

inline double sorted_at(std::vector<double> column, std::size_t index) {
    mysort(column.data(), static_cast<mwSize>(column.size()));
    return column[index];
}

// Dense: `values` holds at least n*n values (further pages are copied unchanged).
inline local_scaling_result dense_reference(const std::vector<double>& values, std::size_t n, std::size_t k,
                                            pair_scale scale, affinity_of affinity) {
    std::vector<double> sigma(n);
    for (std::size_t j = 0; j < n; ++j)
        sigma[j] = sorted_at(std::vector<double>(values.begin() + j * n, values.begin() + (j + 1) * n), k);
    local_scaling_result r{values, values, values};
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = 0; i < n; ++i) {
            const std::size_t at = i + j * n;
            const double s = scale(sigma[i], sigma[j]);
            r.scaled[at] = values[at] / s;
            r.affinities[at] = affinity(r.scaled[at]);
            r.scales[at] = s;
        }
    return r;
}

// Sparse: the stored values of the columns given by jc and ir, with the geometric scale.
inline local_scaling_result sparse_reference(const std::vector<mwIndex>& jc, const std::vector<mwIndex>& ir,
                                             const std::vector<double>& values, std::size_t k) {
    const std::size_t n = jc.size() - 1;
    std::vector<double> sigma(n, 0.0);
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t count = static_cast<std::size_t>(jc[j + 1] - jc[j]);
        if (count > 0)
            sigma[j] = sorted_at(std::vector<double>(values.begin() + jc[j], values.begin() + jc[j + 1]),
                                 std::min(k, count) - 1);
    }
    local_scaling_result r{values, values, values};
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t at = static_cast<std::size_t>(jc[j]); at < static_cast<std::size_t>(jc[j + 1]); ++at) {
            const double s = bounded_geometric_scale(sigma[static_cast<std::size_t>(ir[at])], sigma[j]);
            r.scaled[at] = values[at] / s;
            r.affinities[at] = exp_of_minus(r.scaled[at]);
            r.scales[at] = s;
        }
    return r;
}

// A value for a random distance matrix: mostly small distances, so that columns hold equal
// values, with now and then a zero of either sign, a negative value, an infinity or a NaN.
inline double random_distance(std::mt19937_64& rng) {
    switch (rng() % 16) {
        case 0: return 0.0;
        case 1: return -0.0;
        case 2: return std::numeric_limits<double>::quiet_NaN();
        case 3: return std::numeric_limits<double>::infinity();
        case 4: return -1.5;
        default: return static_cast<double>(rng() % 9) * 0.75;
    }
}

// A random sparse n-by-n pattern with empty columns and stored zeros.
struct random_sparse {
    std::vector<mwIndex> jc{0}, ir;
    std::vector<double> values;
};

inline random_sparse make_random_sparse(std::mt19937_64& rng, std::size_t n) {
    random_sparse s;
    for (std::size_t j = 0; j < n; ++j) {
        if (rng() % 5 != 0)
            for (std::size_t i = 0; i < n; ++i)
                if (rng() % 3 != 0) {
                    s.ir.push_back(static_cast<mwIndex>(i));
                    s.values.push_back(random_distance(rng));
                }
        s.jc.push_back(static_cast<mwIndex>(s.ir.size()));
    }
    return s;
}

// A random n-by-n distance matrix, column by column.
inline std::vector<double> random_dense(std::mt19937_64& rng, std::size_t n) {
    std::vector<double> values(n * n);
    for (double& v : values) v = random_distance(rng);
    return values;
}

// Calls plug-in `name` with D and K; the call must leave nothing for the host to reclaim.
inline std::vector<array_ptr> local_scaling_call(const char* name, int nlhs, const mxArray* d, double k) {
    array_ptr count = mexhost::make_scalar(k);
    auto out = plugin(name).call(nlhs, {d, count.get()});
    EXPECT_TRUE(plugin(name).last_stats().left_nothing());
    return out;
}

// Bit for bit, except on x87 builds, which carry the root and the quotient in extended precision
// and may round them elsewhere than the expected values were; exp then magnifies the quotient's
// last-bit difference by the quotient.
// The outputs of a call, as many as it returned, against the expected ones (three unless told).
// x87 builds may differ in the last bits; exp magnifies that in the affinities.
inline void expect_outputs(const std::vector<array_ptr>& out, const local_scaling_result& expected,
                           std::size_t requested = 3) {
    ASSERT_EQ(out.size(), requested);
    const std::vector<double>* values[] = {&expected.scaled, &expected.affinities, &expected.scales};
    const std::uint64_t ulps[] = {2, 16, 2};
    for (std::size_t o = 0; o < out.size(); ++o)
        EXPECT_TRUE(same_bits_or_x87_near(mexhost::real_values(out[o].get()), *values[o], ulps[o])) << "output " << o + 1;
}

// Plug-in `name` against the reference with the given dense formula, on random matrices of
// every size up to 12 and random K, with each number of outputs.
inline void expect_reference_on_random_dense(const char* name, pair_scale scale, affinity_of affinity) {
    std::mt19937_64 rng(3);
    for (int run = 0; run < 40; ++run) {
        const std::size_t n = 1 + rng() % 12;
        const std::vector<double> values = random_dense(rng, n);
        array_ptr d = mexhost::make_matrix(static_cast<mwSize>(n), static_cast<mwSize>(n), values);
        const std::size_t k = rng() % n;
        const local_scaling_result expected = dense_reference(values, n, k, scale, affinity);
        for (int nlhs = 1; nlhs <= 3; ++nlhs)
            expect_outputs(local_scaling_call(name, nlhs, d.get(), static_cast<double>(k)), expected,
                           static_cast<std::size_t>(nlhs));
    }
}

}  // namespace toolbox_test
