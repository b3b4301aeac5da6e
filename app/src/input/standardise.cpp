#include "rotalign/input/standardise.h"

#include <algorithm>
#include <cmath>

namespace rotalign {
namespace {

// Mean and spread of column k, computed on the column multiplied by 2^-e, where 2^e bounds its
// largest magnitude. Scaling by a power of two is exact, so ordinary columns get the plain sums'
// values, and columns near the largest doubles do not overflow in the sums.
struct column_moments {
    double mean = 0.0, spread = 0.0;  // of the scaled column
    int exponent = 0;                 // the scale: values were multiplied by 2^-exponent
};

column_moments moments(const points& p, std::size_t k) {
    column_moments m;
    if (p.count == 0) return m;
    double largest = 0.0, low = p.at(0, k), high = p.at(0, k);
    for (std::size_t i = 0; i < p.count; ++i) {
        largest = std::max(largest, std::fabs(p.at(i, k)));
        low = std::min(low, p.at(i, k));
        high = std::max(high, p.at(i, k));
    }
    if (largest == 0.0) return m;
    std::frexp(largest, &m.exponent);
    if (low == high) {
        // A constant column: its sum's rounding would leave a mean a hair off the value and turn
        // the column into noise of unit spread.
        m.mean = std::ldexp(low, -m.exponent);
        return m;
    }
    const double n = static_cast<double>(p.count);
    double sum = 0.0;
    for (std::size_t i = 0; i < p.count; ++i) sum += std::ldexp(p.at(i, k), -m.exponent);
    m.mean = sum / n;
    // One correcting pass takes out most of the sum's rounding, which matters for columns whose
    // spread is small beside their mean.
    double residual = 0.0;
    for (std::size_t i = 0; i < p.count; ++i) residual += std::ldexp(p.at(i, k), -m.exponent) - m.mean;
    m.mean += residual / n;
    double squares = 0.0;
    for (std::size_t i = 0; i < p.count; ++i) {
        const double deviation = std::ldexp(p.at(i, k), -m.exponent) - m.mean;
        squares += deviation * deviation;
    }
    m.spread = std::sqrt(squares / n);
    return m;
}

}  // namespace

std::vector<double> column_spreads(const points& p) {
    std::vector<double> spreads(p.dims);
    for (std::size_t k = 0; k < p.dims; ++k) {
        const column_moments m = moments(p, k);
        spreads[k] = std::ldexp(m.spread, m.exponent);
    }
    return spreads;
}

points standardised(const points& p) {
    points s{p.count, p.dims, std::vector<double>(p.values.size())};
    for (std::size_t k = 0; k < p.dims; ++k) {
        const column_moments m = moments(p, k);
        // Both terms are in the scaled units, so the ratio is the same as in the column's own.
        const double divisor = m.spread > 0.0 ? m.spread : 1.0;
        for (std::size_t i = 0; i < p.count; ++i)
            s.values[i * p.dims + k] = (std::ldexp(p.at(i, k), -m.exponent) - m.mean) / divisor;
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
