// The column sort, and the two selections that must give exactly the value it leaves at an index.
#include "column_sort.h"

#include <gtest/gtest.h>

#include <pthread.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace {

const double qnan = std::numeric_limits<double>::quiet_NaN();
const double inf = std::numeric_limits<double>::infinity();

std::uint64_t bits(double value) {
    std::uint64_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

std::vector<std::uint64_t> bits(const std::vector<double>& values) {
    std::vector<std::uint64_t> b;
    for (double v : values) b.push_back(bits(v));
    return b;
}

std::vector<double> sorted(std::vector<double> values) {
    mysort(values.data(), static_cast<mwSize>(values.size()));
    return values;
}

}  // namespace

TEST(mysort, short_and_negative_counts_leave_the_range_alone) {
    std::vector<double> v = {3.0, 1.0, 2.0};
    mysort(v.data(), 0);
    mysort(v.data(), 1);
    mysort(v.data(), -4);
    EXPECT_EQ(v, (std::vector<double>{3.0, 1.0, 2.0}));
}

TEST(mysort, leaves_each_value_where_the_partition_scheme_puts_it) {
    struct example {
        std::vector<double> in, out;
    };
    const std::vector<example> examples = {
        {{2, 1}, {1, 2}},
        {{1, 1}, {1, 1}},
        {{5, 4, 3, 2, 1}, {1, 2, 3, 4, 5}},
        {{3, qnan, 1, 2}, {1, 2, 3, qnan}},
        {{qnan, 3, 1, 2}, {2, qnan, 1, 3}},
        {{0, 2, qnan, 1}, {qnan, 0, 1, 2}},
    };
    for (const example& e : examples) EXPECT_EQ(bits(sorted(e.in)), bits(e.out));
}

TEST(mysort, orders_runs_without_nan_like_std_sort) {
    std::mt19937_64 rng(7);
    for (int run = 0; run < 300; ++run) {
        std::vector<double> v(rng() % 200);
        for (double& x : v) x = static_cast<double>(static_cast<int>(rng() % 25) - 12);  // many equal values
        std::vector<double> expected = v;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(sorted(v), expected);
    }
}

// The loop on the larger side keeps the nesting logarithmic: an ordered column, for which every
// partition splits off a single value, sorts on a stack far too small for one frame per value.
TEST(mysort, ordered_columns_sort_on_a_small_stack) {
    struct job {
        std::vector<double> ascending, descending;
    } work;
    for (int i = 0; i < 20000; ++i) {
        work.ascending.push_back(i);
        work.descending.push_back(20000 - i);
    }
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, 128 * 1024);
    pthread_t thread;
    auto body = [](void* argument) -> void* {
        job* w = static_cast<job*>(argument);
        mysort(w->ascending.data(), static_cast<mwSize>(w->ascending.size()));
        mysort(w->descending.data(), static_cast<mwSize>(w->descending.size()));
        return nullptr;
    };
    ASSERT_EQ(pthread_create(&thread, &attributes, body, &work), 0);
    pthread_join(thread, nullptr);
    pthread_attr_destroy(&attributes);
    EXPECT_TRUE(std::is_sorted(work.ascending.begin(), work.ascending.end()));
    EXPECT_TRUE(std::is_sorted(work.descending.begin(), work.descending.end()));
}

// Random columns drawn from a small pool, so that duplicates, both zeros, both infinities and
// NaN of either sign meet in every arrangement, some of them in order; every index of
// every column is checked, on both sides of the index where the choice of selection changes.
TEST(selection, gives_the_bits_that_the_full_sort_leaves_at_every_index) {
    // Values that break the order by value (-0.0 beside +0.0, NaN) come last in the pool.
    const double pool[] = {0.0, 1.0, 1.0, 2.5, -3.0, inf, -inf, 7.0, 0.125, -0.0, qnan, -qnan};
    std::mt19937_64 rng(11);
    int nan_columns = 0, mixed_zero_columns = 0;
    for (int run = 0; run < 2000; ++run) {
        const std::size_t count = 1 + rng() % 60;
        const int kinds = 2 + static_cast<int>(rng() % 11);  // a narrow pool gives long runs of equal values
        std::vector<double> column(count);
        for (double& x : column) x = pool[rng() % static_cast<std::size_t>(kinds)];
        // Ordered arrangements; NaN goes last, so that std::sort sees a strict weak order.
        const auto before = [](double a, double b) { return a < b || (!std::isnan(a) && std::isnan(b)); };
        if (run % 10 == 1) std::sort(column.begin(), column.end(), before);
        if (run % 10 == 2) std::sort(column.rbegin(), column.rend(), before);
        if (run % 10 == 3) {  // falling, then rising, as the distances of points on a line
            std::sort(column.begin(), column.end(), before);
            std::reverse(column.begin(), column.begin() + static_cast<std::ptrdiff_t>(count / 2));
        }
        const std::vector<double> full = sorted(column);
        const bool nan_found = std::any_of(column.begin(), column.end(), [](double x) { return std::isnan(x); });
        const auto holds = [&column](double z) {
            return std::any_of(column.begin(), column.end(), [z](double x) { return bits(x) == bits(z); });
        };
        const bool both_zeros = holds(0.0) && holds(-0.0);
        nan_columns += nan_found;
        mixed_zero_columns += both_zeros && !nan_found;
        std::vector<double> scratch(count);
        for (std::size_t k = 0; k < count; ++k) {
            const mwSize n = static_cast<mwSize>(count), index = static_cast<mwSize>(k);
            // Without NaN the selections by value find the same value; its bits, unless a zero
            // was selected where zeros of both signs meet.
            const bool exact_bits = !(full[k] == 0.0 && both_zeros);
            std::vector<double> work = column;
            EXPECT_EQ(bits(select_by_partition(work.data(), n, index)), bits(full[k])) << "run " << run << " index " << k;
            if (!nan_found) {
                work = column;
                const double linear = select_linear(work.data(), n, index);
                EXPECT_EQ(linear, full[k]);
                if (exact_bits) {
                    EXPECT_EQ(bits(linear), bits(full[k])) << "run " << run << " index " << k;
                }
                double smallest = 0.0;
                ASSERT_TRUE(select_smallest(column.data(), n, index, scratch.data(), &smallest));
                EXPECT_EQ(smallest, full[k]);
                if (exact_bits) {
                    EXPECT_EQ(bits(smallest), bits(full[k])) << "run " << run << " index " << k;
                }
            } else {
                double smallest = 0.0;
                EXPECT_FALSE(select_smallest(column.data(), n, index, scratch.data(), &smallest));
            }
            work = column;
            EXPECT_EQ(bits(order_statistic(column.data(), n, index, scratch.data())), bits(full[k]))
                << "run " << run << " index " << k;
            EXPECT_EQ(bits(work), bits(column));  // the column itself is only read
        }
    }
    // Every way through order_statistic was taken.
    EXPECT_GT(nan_columns, 200);
    EXPECT_GT(mixed_zero_columns, 100);
    EXPECT_LT(nan_columns + mixed_zero_columns, 1500);
}
