#include "support/distinct.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

namespace rotalign::mpi {
namespace {

template <typename T>
std::vector<T> sorted_unique(std::vector<T> v) {
    std::sort(v.begin(), v.end());
    v.erase(std::unique(v.begin(), v.end()), v.end());
    return v;
}

// Lists dense and sparse in their range (the flags and the sort), with repeats, empty lists and
// values outside the range, signed and unsigned: always what a sort and unique give.
TEST(DistinctAscending, AgreesWithSortAndUnique) {
    std::mt19937_64 random(7);
    for (int trial = 0; trial < 400; ++trial) {
        const std::uint64_t range = 1 + random() % (trial % 2 == 0 ? 200 : 100000);
        const std::size_t count = random() % 300;
        std::vector<std::int64_t> signed_values;
        std::vector<std::uint64_t> unsigned_values;
        for (std::size_t i = 0; i < count; ++i) {
            const std::uint64_t v = random() % range;
            unsigned_values.push_back(v);
            signed_values.push_back(static_cast<std::int64_t>(v));
        }
        if (trial % 7 == 0 && count > 0) {
            signed_values[0] = trial % 14 == 0 ? -1 : static_cast<std::int64_t>(range);
            unsigned_values[0] = range + 3;
        }
        EXPECT_EQ(distinct_ascending(signed_values, range), sorted_unique(signed_values)) << "trial " << trial;
        EXPECT_EQ(distinct_ascending(unsigned_values, range), sorted_unique(unsigned_values)) << "trial " << trial;
    }
}

}  // namespace
}  // namespace rotalign::mpi
