#include "rotalign/support/sample_rows.h"

#include "support/random_source.h"

#include <algorithm>

namespace rotalign {

std::vector<std::size_t> sample_rows(std::size_t n, std::size_t count, std::uint64_t seed) {
    count = std::min(count, n);
    // The first `count` steps of a Fisher-Yates shuffle, on a map of the positions moved.
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) order[i] = i;
    random_source random(seed);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t j = i + static_cast<std::size_t>(random.next() % (n - i));
        std::swap(order[i], order[j]);
    }
    order.resize(count);
    std::sort(order.begin(), order.end());
    return order;
}

}  // namespace rotalign
