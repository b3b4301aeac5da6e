// Shared helpers of the test suites: the built plug-ins, arrays owned by tests, bit comparisons.
#pragma once

#include "mex.h"
#include "mexhost/host.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace toolbox_test {

using mexhost::array_ptr;

// The built plug-in `name`, opened once per test program.
inline mexhost::plugin& plugin(const std::string& name) {
    static std::map<std::string, mexhost::plugin> opened;
    auto it = opened.find(name);
    if (it == opened.end())
        it = opened.emplace(name, mexhost::plugin(std::string(TOOLBOX_PLUGIN_DIR) + "/" +
                                                  mexhost::plugin_file_name(name))).first;
    return it->second;
}

// The message that a call raises through the error exit, or "" when it succeeds.
inline std::string error_of(const std::string& name, int nlhs, const std::vector<const mxArray*>& inputs) {
    try {
        plugin(name).call(nlhs, inputs);
    } catch (const mexhost::plugin_error& e) {
        return e.what();
    }
    return "";
}

inline std::uint64_t bits(double value) {
    std::uint64_t b;
    std::memcpy(&b, &value, sizeof b);
    return b;
}

// Compares two value lists bit for bit, so that -0.0 and +0.0 and NaN payloads count.
inline ::testing::AssertionResult same_bits(const std::vector<double>& actual, const std::vector<double>& expected) {
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << "sizes differ: " << actual.size() << " vs " << expected.size();
    for (std::size_t i = 0; i < actual.size(); ++i)
        if (bits(actual[i]) != bits(expected[i]))
            return ::testing::AssertionFailure() << "value " << i << " is " << actual[i] << ", expected " << expected[i];
    return ::testing::AssertionSuccess();
}

// Whether this build computes doubles on the x87 stack. Intermediate results then keep extended
// precision until they are stored, so the same formula compiled elsewhere (a test's reference)
// may differ from a plug-in's result in the last bits.
#if defined(__i386__) && !defined(__SSE2_MATH__)
inline constexpr bool x87_arithmetic = true;
#else
inline constexpr bool x87_arithmetic = false;
#endif

// same_bits, except on x87 builds, where each value may lie within `ulps` units in the last place
// of the expected one (and a NaN must meet a NaN).
inline ::testing::AssertionResult same_bits_or_x87_near(const std::vector<double>& actual,
                                                        const std::vector<double>& expected, std::uint64_t ulps) {
    if (!x87_arithmetic) return same_bits(actual, expected);
    if (actual.size() != expected.size())
        return ::testing::AssertionFailure() << "sizes differ: " << actual.size() << " vs " << expected.size();
    // Doubles of one sign are ordered like their bit patterns.
    auto ordered = [](double v) {
        const std::uint64_t b = bits(v);
        return (b >> 63) != 0 ? -static_cast<std::int64_t>(b & ~(std::uint64_t{1} << 63)) : static_cast<std::int64_t>(b);
    };
    for (std::size_t i = 0; i < actual.size(); ++i) {
        const double a = actual[i], e = expected[i];
        if (a != a || e != e) {
            if ((a != a) != (e != e))
                return ::testing::AssertionFailure() << "value " << i << " is " << a << ", expected " << e;
            continue;
        }
        const std::int64_t x = ordered(a), y = ordered(e);
        const std::uint64_t apart = x > y ? static_cast<std::uint64_t>(x) - static_cast<std::uint64_t>(y)
                                          : static_cast<std::uint64_t>(y) - static_cast<std::uint64_t>(x);
        if (apart > ulps)
            return ::testing::AssertionFailure() << "value " << i << " is " << a << ", expected " << e << " ("
                                                 << apart << " units in the last place apart)";
    }
    return ::testing::AssertionSuccess();
}

}  // namespace toolbox_test
