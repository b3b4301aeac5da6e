// Telling text that the CSV reader cannot take (UTF-16, UTF-32, binary data) from its first bytes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace rotalign::detail {

// What `head`, the first bytes of a file (a few hundred suffice), looks like when it is not ASCII
// or UTF-8 text: "UTF-16 text (little-endian)", "UTF-32 text (big-endian)" and so on, from a
// byte-order mark or from the zero bytes that ASCII letters bring in these encodings; nothing
// when neither shows. The CSV reader names this in its message for a file with NUL bytes.
std::optional<std::string> wide_text_encoding(std::string_view head);

}  // namespace rotalign::detail
