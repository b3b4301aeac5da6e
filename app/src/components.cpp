#include "rotalign/components.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace rotalign {

std::size_t count_components(const double* a, std::size_t n, double least) {
    std::vector<std::size_t> parent(n);
    for (std::size_t i = 0; i < n; ++i) parent[i] = i;
    auto root = [&parent](std::size_t i) {
        while (parent[i] != i) i = parent[i] = parent[parent[i]];
        return i;
    };
    std::size_t count = n;
    for (std::size_t j = 0; j < n; ++j)
        for (std::size_t i = j + 1; i < n; ++i)
            if (std::fabs(a[i + j * n]) > least) {
                const std::size_t r = root(i), s = root(j);
                if (r != s) parent[std::max(r, s)] = std::min(r, s), --count;
            }
    return count;
}

}  // namespace rotalign
