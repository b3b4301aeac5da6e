// Columns in common units: each coordinate shifted to zero mean and divided by its spread, and the
// facts about the spreads that tell when distances are ruled by a few columns' units.
#pragma once

#include "rotalign/input/points.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace rotalign {

// The spread of every coordinate: its population standard deviation (the root of the mean squared
// deviation from the mean), one value per column of p.
std::vector<double> column_spreads(const points& p);

// The points with every column shifted to zero mean and divided by its spread, so that each
// column has unit spread; a column of zero spread is only shifted (it is then all zeros and adds
// nothing to any distance). p itself is left as it is. The same points in other units (column k
// multiplied by any a_k != 0 and shifted by any b_k) give the same result up to the columns' signs
// and rounding.
points standardised(const points& p);

// The passes behind the means and spreads, for points held in blocks (by several processes): the
// extents combine in any order, and the sums run over one block after another in point order, so
// that blocks give the values of all points at once bit for bit. Every value of column k is first
// multiplied by 2^-exponents[k], a power of two that bounds the column's largest magnitude: the
// scaling is exact, and columns near the largest doubles do not overflow in the sums.
struct column_extent {
    std::vector<double> largest, low, high;  // largest magnitude, least and greatest value
    explicit column_extent(std::size_t dims);
    void add(const points& block);
};
std::vector<int> column_exponents(const column_extent& extent);
// Adds the scaled values of `block` to the running sums.
void add_scaled_sums(const points& block, const std::vector<int>& exponents, std::vector<double>& sums);
// The means of the first pass: the sums over all `count` points divided by their count.
std::vector<double> first_means(const std::vector<double>& sums, std::size_t count);
// The running sums of the deviations from the first means, and of their squares.
struct deviation_sums {
    std::vector<double> residual, squares;
    explicit deviation_sums(std::size_t dims) : residual(dims, 0.0), squares(dims, 0.0) {}
};
void add_deviation_sums(const points& block, const std::vector<int>& exponents, const std::vector<double>& mean,
                        deviation_sums& sums);
// Mean and spread of every column in its scaled units, a constant column's spread exactly 0.
struct column_moments {
    std::vector<double> mean, spread;
    std::vector<int> exponents;
};
column_moments moments_from(const column_extent& extent, std::vector<int> exponents, std::vector<double> mean,
                            const deviation_sums& sums, std::size_t count);
// All passes over p at once.
column_moments column_moments_of(const points& p);
// The spreads in the columns' own units.
std::vector<double> spreads_of(const column_moments& m);
// The points of `block` standardised by the moments of all points.
points standardised_with(const points& block, const column_moments& m);

// The widest and the narrowest spread among the columns of positive spread (0-based columns).
struct spread_contrast {
    std::size_t widest = 0, narrowest = 0;
    double widest_spread = 0.0, narrowest_spread = 0.0;
    double ratio() const { return widest_spread / narrowest_spread; }
};

// The contrast when it exceeds `limit` times, so that the widest column dominates the squared
// distances; nothing for fewer than two columns of positive spread or a smaller contrast.
std::optional<spread_contrast> spread_contrast_above(const std::vector<double>& spreads, double limit);

// The contrast above which the program warns that the columns' units rule the distances.
constexpr double spread_warning_ratio = 100.0;

}  // namespace rotalign
