// What the tests of the rotalign library share: the built plug-ins, the message of a refusal and
// the bytes of a .npy file.
#pragma once

#include "rotalign/input/points.h"
#include "rotalign/support/toolbox.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace app_test {

// The plug-ins of the build, opened once per test program.
inline rotalign::toolbox& plugins() {
    static rotalign::toolbox t(TOOLBOX_PLUGIN_DIR);
    return t;
}

// The message of the input_error that `run` throws, or "" when it throws none.
template <typename F>
std::string message_of(F run) {
    try {
        run();
    } catch (const rotalign::input_error& e) {
        return e.what();
    }
    return "";
}

// The bytes of a .npy file: header dict `dict`, then `data` as it stands.
inline std::string npy(const std::string& dict, const std::string& data, int version = 1) {
    std::string header = dict;
    const std::size_t prefix = version == 1 ? 10 : 12;
    while ((prefix + header.size() + 1) % 64 != 0) header += ' ';
    header += '\n';
    std::string out = "\x93NUMPY";
    out += static_cast<char>(version);
    out += '\0';
    const std::uint32_t length = static_cast<std::uint32_t>(header.size());
    for (std::size_t k = 0; k < (version == 1 ? 2u : 4u); ++k) out += static_cast<char>((length >> (8 * k)) & 0xff);
    return out + header + data;
}

}  // namespace app_test
