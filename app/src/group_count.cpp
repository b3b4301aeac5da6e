#include "rotalign/group_count.h"

#include <cmath>
#include <cstddef>

namespace rotalign {

int choose_groups(const std::vector<double>& quality, double tolerance) {
    double best = 0.0;
    bool any = false;
    for (double q : quality)
        if (!std::isnan(q) && (!any || q > best)) best = q, any = true;
    if (!any) return 0;
    int chosen = 0;
    for (std::size_t k = 0; k < quality.size(); ++k)
        if (quality[k] >= best - tolerance) chosen = static_cast<int>(k) + 2;
    return chosen;
}

}  // namespace rotalign
