#include "rotalign/input/standardise.h"

#include <algorithm>
#include <cmath>

namespace rotalign {
namespace {

// x * 2^-e, exactly: by one multiplication where 2^-e is a normal double, else by ldexp.
struct power_of_two {
    int exponent = 0;
    double factor = 1.0;
    explicit power_of_two(int e) : exponent(e), factor(e > -1022 && e < 1022 ? std::ldexp(1.0, -e) : 0.0) {}
    double down(double x) const { return factor != 0.0 ? x * factor : std::ldexp(x, -exponent); }
};

// Mean and spread of every column, each computed on the column multiplied by 2^-e_k, where 2^e_k
// bounds its largest magnitude: scaling by a power of two is exact, so ordinary columns get the
// plain sums' values, and columns near the largest doubles do not overflow in the sums. The
// passes walk the points row by row, all columns at once, as they are stored.
struct column_moments {
    std::vector<double> mean, spread;  // of the scaled columns
    std::vector<power_of_two> scale;   // column k was multiplied by 2^-scale[k].exponent
};

column_moments moments(const points& p) {
    const std::size_t n = p.count, dims = p.dims;
    column_moments m{std::vector<double>(dims, 0.0), std::vector<double>(dims, 0.0), {}};
    m.scale.reserve(dims);
    if (n == 0) {
        m.scale.assign(dims, power_of_two(0));
        return m;
    }
    std::vector<double> largest(dims, 0.0), low(p.values.begin(), p.values.begin() + static_cast<std::ptrdiff_t>(dims)),
        high = low;
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < dims; ++k) {
            const double v = p.values[i * dims + k];
            largest[k] = std::max(largest[k], std::fabs(v));
            low[k] = std::min(low[k], v);
            high[k] = std::max(high[k], v);
        }
    for (std::size_t k = 0; k < dims; ++k) {
        int e = 0;
        std::frexp(largest[k], &e);
        m.scale.emplace_back(e);
    }
    const double count = static_cast<double>(n);
    std::vector<double> sum(dims, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < dims; ++k) sum[k] += m.scale[k].down(p.values[i * dims + k]);
    for (std::size_t k = 0; k < dims; ++k) m.mean[k] = sum[k] / count;
    // The deviations from that mean, and their sum, which takes out most of the first sum's
    // rounding: that matters for columns whose spread is small beside their mean.
    std::vector<double> residual(dims, 0.0), squares(dims, 0.0);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < dims; ++k) {
            const double deviation = m.scale[k].down(p.values[i * dims + k]) - m.mean[k];
            residual[k] += deviation;
            squares[k] += deviation * deviation;
        }
    for (std::size_t k = 0; k < dims; ++k) {
        if (low[k] == high[k]) {
            // A constant column: the sums' rounding would leave a mean a hair off the value and
            // turn the column into noise of unit spread.
            m.mean[k] = m.scale[k].down(low[k]);
            m.spread[k] = 0.0;
            continue;
        }
        const double shift = residual[k] / count;
        m.mean[k] += shift;
        m.spread[k] = std::sqrt(std::max(squares[k] / count - shift * shift, 0.0));
    }
    return m;
}

}  // namespace

std::vector<double> column_spreads(const points& p) {
    const column_moments m = moments(p);
    std::vector<double> spreads(p.dims);
    for (std::size_t k = 0; k < p.dims; ++k) spreads[k] = std::ldexp(m.spread[k], m.scale[k].exponent);
    return spreads;
}

points standardised(const points& p) {
    const column_moments m = moments(p);
    // Both terms are in the scaled units, so the ratio is the same as in the column's own.
    std::vector<double> divisor(p.dims);
    for (std::size_t k = 0; k < p.dims; ++k) divisor[k] = m.spread[k] > 0.0 ? m.spread[k] : 1.0;
    points s{p.count, p.dims, std::vector<double>(p.values.size())};
    for (std::size_t i = 0; i < p.count; ++i)
        for (std::size_t k = 0; k < p.dims; ++k) {
            const std::size_t at = i * p.dims + k;
            s.values[at] = (m.scale[k].down(p.values[at]) - m.mean[k]) / divisor[k];
        }
    return s;
}

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
