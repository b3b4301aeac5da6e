// Pictures of 2-D points coloured by group.
#pragma once

#include "rotalign/points.h"

#include <ostream>
#include <string>
#include <vector>

namespace rotalign {

// Writes a standalone SVG picture of the first two coordinates of `p`, one dot per point in the
// colour of its group (group 0, "no group", in grey), with `title` above. The axes keep their
// proportions. Throws input_error when the points have fewer than two coordinates, or when
// `groups` does not give one group per point.
void write_svg(std::ostream& out, const points& p, const std::vector<int>& groups, const std::string& title);
void write_svg_file(const std::string& path, const points& p, const std::vector<int>& groups,
                    const std::string& title);

}  // namespace rotalign
