#include "input/quoted_bytes.h"

#include <cstdint>

namespace rotalign::detail {
namespace {

// The length of the well-formed UTF-8 letter at the front of s that may be shown as it is: not a
// C1 control, a surrogate or an overlong form; 0 when the front is none.
std::size_t printable_letter(std::string_view s) {
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(s[k]); };
    const unsigned char lead = byte(0);
    std::size_t length = 0;
    std::uint32_t code = 0;
    if (lead >= 0xC2 && lead <= 0xDF) length = 2, code = lead & 0x1Fu;
    else if (lead >= 0xE0 && lead <= 0xEF) length = 3, code = lead & 0x0Fu;
    else if (lead >= 0xF0 && lead <= 0xF4) length = 4, code = lead & 0x07u;
    else return 0;
    if (s.size() < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(k) & 0xC0u) != 0x80u) return 0;
        code = code << 6 | (byte(k) & 0x3Fu);
    }
    const std::uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < least[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    if (code <= 0x9F) return 0;  // C1 controls
    // Marks that reorder or hide text on a terminal are shown as bytes too.
    if ((code >= 0x200B && code <= 0x200F) || (code >= 0x2028 && code <= 0x202E) ||
        (code >= 0x2060 && code <= 0x2069) || code == 0xFEFF)
        return 0;
    return length;
}

}  // namespace

std::string quoted_bytes(std::string_view bytes, std::size_t longest) {
    static const char hex[] = "0123456789abcdef";
    std::string out = "'";
    std::size_t at = 0;
    while (at < bytes.size() && at < longest) {
        const unsigned char b = static_cast<unsigned char>(bytes[at]);
        if (b >= 0x20 && b < 0x7F) {
            out += static_cast<char>(b);
            ++at;
        } else if (const std::size_t n = printable_letter(bytes.substr(at)); n > 0 && at + n <= longest) {
            out.append(bytes.substr(at, n));
            at += n;
        } else if (n > 0) {
            break;  // a letter that the cut would split
        } else {
            out += "\\x";
            out += hex[b >> 4];
            out += hex[b & 0xF];
            ++at;
        }
    }
    if (at < bytes.size()) out += "...";
    return out + "'";
}

}  // namespace rotalign::detail
