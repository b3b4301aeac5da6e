// What the host observed during one call of a gateway.
#pragma once

#include <cstddef>
#include <map>
#include <string>

namespace mexhost {

struct call_stats {
    // What the call left behind and the host had to release when the call ended.
    std::size_t reclaimed_arrays = 0;  // top-level arrays, a cell counting once
    std::size_t reclaimed_blocks = 0;  // mxCalloc/mxMalloc blocks never freed
    std::size_t reclaimed_bytes = 0;
    // Arrays and bytes (array storage and scratch blocks) alive at once, at the most.
    std::size_t peak_live_arrays = 0;
    std::size_t peak_live_bytes = 0;
    // Calls of each host function through mexCallMATLAB, by name.
    std::map<std::string, std::size_t> host_calls;

    std::size_t host_calls_of(const std::string& name) const {
        auto it = host_calls.find(name);
        return it == host_calls.end() ? 0 : it->second;
    }
    bool left_nothing() const { return reclaimed_arrays == 0 && reclaimed_blocks == 0; }
};

}  // namespace mexhost
