// The CSV reader on arbitrary bytes: a clean refusal or a well-formed table (reader_rules.h).
#include "input/byte_source.h"
#include "reader_rules.h"

#include <cstdint>
#include <sstream>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::istringstream in(std::string(reinterpret_cast<const char*>(data), size));
    rotalign::detail::byte_source bytes(in);
    try {
        // Every value takes at least one byte and its separator or line end, but the last.
        reader_fuzz::check_table(rotalign::detail::read_csv(bytes, "fuzz.csv", "coordinate"), size / 2 + 1, true);
    } catch (const rotalign::input_error& e) {
        reader_fuzz::check_message(e.what(), "fuzz.csv");
    }
    return 0;
}
