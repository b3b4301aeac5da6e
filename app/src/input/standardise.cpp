#include "rotalign/input/standardise.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace rotalign {
namespace {

// x * 2^-e, exactly: by one multiplication where 2^-e is a normal double, else by ldexp.
struct power_of_two {
    int exponent = 0;
    double factor = 1.0;
    explicit power_of_two(int e) : exponent(e), factor(e > -1022 && e < 1022 ? std::ldexp(1.0, -e) : 0.0) {}
    double down(double x) const { return factor != 0.0 ? x * factor : std::ldexp(x, -exponent); }
};

std::vector<power_of_two> powers_of(const std::vector<int>& exponents) {
    return std::vector<power_of_two>(exponents.begin(), exponents.end());
}

}  // namespace

column_extent::column_extent(std::size_t dims)
    : largest(dims, 0.0), low(dims, std::numeric_limits<double>::infinity()),
      high(dims, -std::numeric_limits<double>::infinity()) {}

void column_extent::add(const points& block) {
    for (std::size_t i = 0; i < block.count; ++i)
        for (std::size_t k = 0; k < block.dims; ++k) {
            const double v = block.values[i * block.dims + k];
            largest[k] = std::max(largest[k], std::fabs(v));
            low[k] = std::min(low[k], v);
            high[k] = std::max(high[k], v);
        }
}

std::vector<int> column_exponents(const column_extent& extent) {
    std::vector<int> exponents(extent.largest.size(), 0);
    for (std::size_t k = 0; k < exponents.size(); ++k) std::frexp(extent.largest[k], &exponents[k]);
    return exponents;
}

void add_scaled_sums(const points& block, const std::vector<int>& exponents, std::vector<double>& sums) {
    const std::vector<power_of_two> scale = powers_of(exponents);
    for (std::size_t i = 0; i < block.count; ++i)
        for (std::size_t k = 0; k < block.dims; ++k) sums[k] += scale[k].down(block.values[i * block.dims + k]);
}

void add_deviation_sums(const points& block, const std::vector<int>& exponents, const std::vector<double>& mean,
                        deviation_sums& sums) {
    const std::vector<power_of_two> scale = powers_of(exponents);
    for (std::size_t i = 0; i < block.count; ++i)
        for (std::size_t k = 0; k < block.dims; ++k) {
            const double deviation = scale[k].down(block.values[i * block.dims + k]) - mean[k];
            sums.residual[k] += deviation;
            sums.squares[k] += deviation * deviation;
        }
}

std::vector<double> first_means(const std::vector<double>& sums, std::size_t count) {
    std::vector<double> mean(sums.size(), 0.0);
    if (count == 0) return mean;
    for (std::size_t k = 0; k < sums.size(); ++k) mean[k] = sums[k] / static_cast<double>(count);
    return mean;
}

column_moments moments_from(const column_extent& extent, std::vector<int> exponents, std::vector<double> mean,
                            const deviation_sums& sums, std::size_t count) {
    const std::size_t dims = exponents.size();
    column_moments m{std::move(mean), std::vector<double>(dims, 0.0), std::move(exponents)};
    if (count == 0) return m;
    const std::vector<power_of_two> scale = powers_of(m.exponents);
    for (std::size_t k = 0; k < dims; ++k) {
        if (extent.low[k] == extent.high[k]) {
            // A constant column: the sums' rounding would leave a mean a hair off the value and
            // turn the column into noise of unit spread.
            m.mean[k] = scale[k].down(extent.low[k]);
            m.spread[k] = 0.0;
            continue;
        }
        // The residual takes out most of the first sum's rounding: that matters for columns whose
        // spread is small beside their mean.
        const double shift = sums.residual[k] / static_cast<double>(count);
        m.mean[k] += shift;
        m.spread[k] = std::sqrt(std::max(sums.squares[k] / static_cast<double>(count) - shift * shift, 0.0));
    }
    return m;
}

column_moments column_moments_of(const points& p) {
    column_extent extent(p.dims);
    extent.add(p);
    std::vector<int> exponents = column_exponents(extent);
    std::vector<double> sums(p.dims, 0.0);
    add_scaled_sums(p, exponents, sums);
    std::vector<double> mean = first_means(sums, p.count);
    deviation_sums deviations(p.dims);
    add_deviation_sums(p, exponents, mean, deviations);
    return moments_from(extent, std::move(exponents), std::move(mean), deviations, p.count);
}

std::vector<double> spreads_of(const column_moments& m) {
    std::vector<double> spreads(m.spread.size());
    for (std::size_t k = 0; k < spreads.size(); ++k) spreads[k] = std::ldexp(m.spread[k], m.exponents[k]);
    return spreads;
}

points standardised_with(const points& p, const column_moments& m) {
    const std::vector<power_of_two> scale = powers_of(m.exponents);
    // Both terms are in the scaled units, so the ratio is the same as in the column's own.
    std::vector<double> divisor(p.dims);
    for (std::size_t k = 0; k < p.dims; ++k) divisor[k] = m.spread[k] > 0.0 ? m.spread[k] : 1.0;
    points s{p.count, p.dims, std::vector<double>(p.values.size())};
    for (std::size_t i = 0; i < p.count; ++i)
        for (std::size_t k = 0; k < p.dims; ++k) {
            const std::size_t at = i * p.dims + k;
            s.values[at] = (scale[k].down(p.values[at]) - m.mean[k]) / divisor[k];
        }
    return s;
}

std::vector<double> column_spreads(const points& p) { return spreads_of(column_moments_of(p)); }

points standardised(const points& p) { return standardised_with(p, column_moments_of(p)); }

std::optional<spread_contrast> spread_contrast_above(const std::vector<double>& spreads, double limit) {
    std::optional<spread_contrast> c;
    for (std::size_t k = 0; k < spreads.size(); ++k) {
        if (!(spreads[k] > 0.0)) continue;
        if (!c) {
            c = spread_contrast{k, k, spreads[k], spreads[k]};
            continue;
        }
        if (spreads[k] > c->widest_spread) {
            c->widest = k;
            c->widest_spread = spreads[k];
        }
        if (spreads[k] < c->narrowest_spread) {
            c->narrowest = k;
            c->narrowest_spread = spreads[k];
        }
    }
    if (c && c->ratio() > limit) return c;
    return std::nullopt;
}

}  // namespace rotalign
