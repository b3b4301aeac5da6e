// Bytes taken from an input file, made safe to print in a message.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace rotalign::detail {

// `bytes` in single quotes, cut after `longest` bytes ("..." marks the cut). Printable ASCII and
// well-formed UTF-8 letters stand as they are; every other byte (control bytes such as NUL or
// ESC, the C1 controls, bytes of malformed UTF-8) appears as \xNN, so that a message is never cut
// short at a NUL and never steers the terminal that shows it.
std::string quoted_bytes(std::string_view bytes, std::size_t longest = 24);

}  // namespace rotalign::detail
