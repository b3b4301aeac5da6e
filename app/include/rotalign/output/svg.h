// Pictures: 2-D points coloured by group, and how the number of groups was chosen.
#pragma once

#include "rotalign/groups/group_count.h"
#include "rotalign/input/points.h"

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

// Writes a standalone SVG picture of the group-count choice against c: above, the distance of
// each eigenvalue from 1 on a logarithmic scale with the line of settings.near_one; below, the
// alignment quality of every search, filled where c is a candidate (a clear cut) and open where
// it is not. A vertical line marks `chosen` (none when it is 0). values[k] belongs to c = k + 1,
// quality[k] to c = k + 2; qualities that are not numbers are left out.
void write_choice_svg(std::ostream& out, const std::vector<double>& values, const std::vector<double>& quality,
                      int chosen, const group_count_settings& settings, const std::string& title);
void write_choice_svg_file(const std::string& path, const std::vector<double>& values,
                           const std::vector<double>& quality, int chosen, const group_count_settings& settings,
                           const std::string& title);

}  // namespace rotalign
