#include "rotalign/groups/scores.h"

#include <map>
#include <stdexcept>
#include <utility>

namespace rotalign {
namespace {

double pairs(double count) { return count * (count - 1.0) / 2.0; }

}  // namespace

double adjusted_rand_index(const std::vector<int>& a, const std::vector<int>& b) {
    if (a.size() != b.size()) throw std::invalid_argument("labellings of different lengths");
    std::map<std::pair<int, int>, double> both;
    std::map<int, double> in_a, in_b;
    for (std::size_t i = 0; i < a.size(); ++i) {
        both[{a[i], b[i]}] += 1.0;
        in_a[a[i]] += 1.0;
        in_b[b[i]] += 1.0;
    }
    double index = 0.0, sum_a = 0.0, sum_b = 0.0;
    for (const auto& cell : both) index += pairs(cell.second);
    for (const auto& group : in_a) sum_a += pairs(group.second);
    for (const auto& group : in_b) sum_b += pairs(group.second);
    const double total = pairs(static_cast<double>(a.size()));
    const double expected = total > 0.0 ? sum_a * sum_b / total : 0.0;
    const double largest = 0.5 * (sum_a + sum_b);
    // Both partitions trivial in the same way: nothing to adjust for, and they agree.
    if (largest == expected) return 1.0;
    return (index - expected) / (largest - expected);
}

}  // namespace rotalign
