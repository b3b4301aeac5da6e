#include "rotalign/groups/nearest_sample.h"

#include "rotalign/support/errors.h"

#include "neighbours/point_cloud.h"

#include <nanoflann.hpp>

#include <cstdint>
#include <limits>

namespace rotalign {
namespace {

using detail::point_cloud;
using sample_tree =
    nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, point_cloud, double, std::uint32_t>,
                                        point_cloud, -1, std::uint32_t>;

}  // namespace

std::vector<int> groups_by_nearest_sample(const points& all, const points& sample,
                                          const std::vector<int>& sample_groups) {
    if (all.dims != sample.dims || sample_groups.size() != sample.count || sample.count == 0)
        throw input_error("the sample does not match the points: " + std::to_string(sample.dims) + " against " +
                          std::to_string(all.dims) + " coordinates, " + std::to_string(sample_groups.size()) +
                          " groups for " + std::to_string(sample.count) + " points");
    const point_cloud cloud{sample};
    sample_tree tree(static_cast<int>(sample.dims), cloud, nanoflann::KDTreeSingleIndexAdaptorParams(10));
    tree.buildIndex();
    std::vector<int> groups(all.count, 0);
    for (std::size_t i = 0; i < all.count; ++i) {
        std::uint32_t nearest = 0;
        double distance = std::numeric_limits<double>::infinity();
        nanoflann::KNNResultSet<double, std::uint32_t> found(1);
        found.init(&nearest, &distance);
        tree.findNeighbors(found, &all.values[i * all.dims], nanoflann::SearchParams());
        groups[i] = sample_groups[nearest];
    }
    return groups;
}

}  // namespace rotalign
