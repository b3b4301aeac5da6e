// The .npy reader on arbitrary bytes, twice: once as a file of known size (a header that promises
// more than the bytes hold is refused before anything is allocated) and once as a pipe (the array
// grows as values arrive). Both must give the same table or the same refusal, and each a clean
// refusal or a well-formed table (reader_rules.h).
#include "input/byte_source.h"
#include "reader_rules.h"

#include <cstdint>
#include <optional>
#include <sstream>
#include <variant>

namespace {

using outcome = std::variant<rotalign::detail::table, std::string>;

outcome read(const std::string& bytes, std::optional<std::uint64_t> size) {
    std::istringstream in(bytes);
    rotalign::detail::byte_source source(in, size);
    try {
        rotalign::detail::table t = rotalign::detail::read_npy(source, "fuzz.npy", "coordinate");
        // float32 values take four bytes each.
        reader_fuzz::check_table(t, bytes.size() / 4, false);
        return t;
    } catch (const rotalign::input_error& e) {
        reader_fuzz::check_message(e.what(), "fuzz.npy");
        return std::string(e.what());
    }
}

bool same(const rotalign::detail::table& a, const rotalign::detail::table& b) {
    return a.rows() == b.rows() && a.columns == b.columns && a.values == b.values;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const outcome file = read(bytes, size > 0 ? std::optional<std::uint64_t>(size) : std::nullopt);
    const outcome pipe = read(bytes, std::nullopt);
    if (file.index() != pipe.index()) reader_fuzz::broken("a file and a pipe of the same bytes read differently");
    if (const auto* a = std::get_if<rotalign::detail::table>(&file);
        a != nullptr && !same(*a, std::get<rotalign::detail::table>(pipe)))
        reader_fuzz::broken("a file and a pipe of the same bytes gave different tables");
    if (const auto* a = std::get_if<std::string>(&file); a != nullptr && *a != std::get<std::string>(pipe))
        reader_fuzz::broken("a file and a pipe of the same bytes were refused differently:", *a + " / " +
                                                                                           std::get<std::string>(pipe));
    return 0;
}
