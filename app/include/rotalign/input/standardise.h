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
