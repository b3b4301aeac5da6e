#include "input/text_encoding.h"

#include <algorithm>
#include <cstddef>

namespace rotalign::detail {

std::optional<std::string> wide_text_encoding(std::string_view head) {
    const auto starts = [&](std::string_view mark) { return head.substr(0, mark.size()) == mark; };
    using namespace std::string_view_literals;
    // Byte-order marks; UTF-32's little-endian mark begins with UTF-16's, so it comes first.
    if (starts("\xFF\xFE\0\0"sv)) return "UTF-32 text (little-endian)";
    if (starts("\0\0\xFE\xFF"sv)) return "UTF-32 text (big-endian)";
    if (starts("\xFF\xFE"sv)) return "UTF-16 text (little-endian)";
    if (starts("\xFE\xFF"sv)) return "UTF-16 text (big-endian)";
    // Without a mark: ASCII letters in UTF-16 or UTF-32 put their zero bytes in fixed places.
    // The pattern must hold in three of four whole units of the head (up to 64 units are looked
    // at), so that a few letters beyond ASCII do not hide it.
    const auto pattern = [&](std::size_t unit, std::size_t letter) {
        const std::size_t units = std::min<std::size_t>(head.size() / unit, 64);
        if (units < 2) return false;
        std::size_t matching = 0;
        for (std::size_t u = 0; u < units; ++u) {
            bool ascii = true;
            for (std::size_t k = 0; k < unit; ++k)
                if ((head[u * unit + k] == '\0') == (k == letter)) ascii = false;
            matching += ascii;
        }
        return 4 * matching >= 3 * units;
    };
    if (pattern(4, 0)) return "UTF-32 text (little-endian)";
    if (pattern(4, 3)) return "UTF-32 text (big-endian)";
    if (pattern(2, 0)) return "UTF-16 text (little-endian)";
    if (pattern(2, 1)) return "UTF-16 text (big-endian)";
    return std::nullopt;
}

}  // namespace rotalign::detail
