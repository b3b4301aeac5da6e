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

}  // namespace toolbox_test
