// What a call through the stand-in host can end with besides its outputs.
#pragma once

#include <stdexcept>
#include <string>

namespace mexhost {

// A plug-in raised an error through the host's error exit; what() is its message.
class plugin_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// A plug-in, or code using the host, broke the host's contract: it changed or destroyed an
// input, freed memory twice or freed foreign memory, left a requested output unset, or used an
// array in a way that the host does not allow. Real hosts may crash or corrupt data here.
class host_fault : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// Cannot open a plug-in or find its gateway.
class load_error : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace mexhost
