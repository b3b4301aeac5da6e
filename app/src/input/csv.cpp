// CSV numbers at the speed of the disk: the text is read in large blocks and every field is
// parsed in place with fast_float, which rounds exactly as strtod does; strtod remains for the
// few forms fast_float leaves alone (a leading '+', hexadecimal), so every file reads as before.
#include "support/table.h"

#include "input/byte_source.h"
#include "input/quoted_bytes.h"
#include "input/text_encoding.h"
#include "rotalign/input/points.h"

#include <fast_float/fast_float.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace rotalign::detail {
namespace {

// Reads start small, so that a small file takes little memory, and double up to the large block.
constexpr std::size_t first_block_size = std::size_t{1} << 16;
constexpr std::size_t block_size = std::size_t{1} << 22;

std::string_view trim(std::string_view s) {
    const char* space = " \t\r\n\f\v";
    const auto first = s.find_first_not_of(space);
    if (first == std::string_view::npos) return {};
    return s.substr(first, s.find_last_not_of(space) - first + 1);
}

// The field as a number, when the whole field is one.
bool parse(std::string_view field, double* value) {
    if (field.empty()) return false;
    const char* end = field.data() + field.size();
    const auto r = fast_float::from_chars(field.data(), end, *value);
    if (r.ec == std::errc() && r.ptr == end) return true;
    const std::string copy(field);
    char* stop = nullptr;
    *value = std::strtod(copy.c_str(), &stop);
    return stop == copy.c_str() + copy.size();
}

std::string at_line(const std::string& source, std::size_t line) {
    return source + ", line " + std::to_string(line) + ": ";
}

class csv_reader {
public:
    csv_reader(const std::string& source, const char* what) : source_(source), what_(what) {}

    // One line without its line end.
    void line(std::string_view text) {
        ++line_number_;
        // A byte-order mark, as some spreadsheets write, is not part of the first field.
        if (line_number_ == 1 && text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
        if (trim(text).empty()) return;
        if (!started_) {
            started_ = true;
            if (header(text)) return;
        }
        const std::size_t fields = 1 + static_cast<std::size_t>(std::count(text.begin(), text.end(), ','));
        if (!columns_known_) {
            t_.columns = fields;
            columns_known_ = true;
        } else if (fields != t_.columns) {
            throw input_error(at_line(source_, line_number_) + "expected " + std::to_string(t_.columns) +
                              " values as in the first row, found " + std::to_string(fields));
        }
        for (std::size_t field = 0;; ++field) {
            const auto comma = text.find(',');
            const std::string_view f = trim(text.substr(0, comma));
            double v;
            if (!parse(f, &v))
                throw input_error(at_line(source_, line_number_) + "value " + std::to_string(field + 1) + " (" +
                                  quoted_bytes(f) + ") is not a number");
            if (!std::isfinite(v))
                throw input_error(at_line(source_, line_number_) + what_ + " " + std::to_string(field + 1) + " (" +
                                  quoted_bytes(f) + ") is not finite");
            t_.values.push_back(v);
            if (comma == std::string_view::npos) break;
            text.remove_prefix(comma + 1);
        }
        t_.row_lines.push_back(line_number_);
        ++t_.row_count;
    }

    table finish() {
        if (t_.rows() == 0) throw input_error(source_ + ": no data rows");
        return std::move(t_);
    }

private:
    // A first line in which no field is a number is a header; it fixes the number of columns.
    bool header(std::string_view text) {
        std::size_t fields = 0;
        bool any_number = false;
        for (;;) {
            const auto comma = text.find(',');
            double ignored;
            if (parse(trim(text.substr(0, comma)), &ignored)) any_number = true;
            ++fields;
            if (comma == std::string_view::npos) break;
            text.remove_prefix(comma + 1);
        }
        if (any_number) return false;
        t_.columns = fields;
        columns_known_ = true;
        return true;
    }

    const std::string& source_;
    const char* what_;
    table t_;
    std::size_t line_number_ = 0;
    bool started_ = false;
    bool columns_known_ = false;
};

// A NUL byte never belongs to CSV text: the file is UTF-16 or UTF-32 text, or no text at all.
// `head` is the file's first bytes, `line` the line of the NUL. A byte-order mark of UTF-16 or
// UTF-32 is refused the same way, NUL or not.
[[noreturn]] void refuse_nul(const std::string& source, std::string_view head, std::size_t line) {
    if (const auto encoding = wide_text_encoding(head))
        throw input_error(source + ": the file looks like " + *encoding + "; CSV files are read as ASCII or UTF-8");
    throw input_error(at_line(source, line) + "a NUL byte: the file looks like binary data, not CSV text");
}

}  // namespace

table read_csv(byte_source& in, const std::string& source, const char* what) {
    csv_reader reader(source, what);
    // UTF-16 and UTF-32 are told by their first bytes, whatever the line of their first NUL.
    const std::string head(in.peek(256));
    if (wide_text_encoding(head)) refuse_nul(source, head, 1);
    std::string buffer;
    std::size_t kept = 0;     // bytes of an unfinished line at the front of the buffer
    std::size_t scanned = 0;  // of them, those known to hold no line end
    std::size_t lines = 0;    // lines handed to the reader
    for (std::size_t block = first_block_size;; block = std::min(2 * block, block_size)) {
        buffer.resize(kept + block);
        const std::size_t got = in.read(&buffer[kept], block);
        buffer.resize(kept + got);
        const bool last = got < block;
        if (const void* nul = std::memchr(buffer.data() + kept, '\0', got)) {
            const std::size_t at = static_cast<std::size_t>(static_cast<const char*>(nul) - buffer.data());
            const auto before = std::count(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(at), '\n');
            refuse_nul(source, head, lines + 1 + static_cast<std::size_t>(before));
        }
        std::string_view rest(buffer);
        for (std::size_t from = scanned;;) {
            const auto end = rest.find('\n', from);
            if (end == std::string_view::npos) break;
            reader.line(rest.substr(0, end));
            ++lines;
            rest.remove_prefix(end + 1);
            from = 0;
        }
        if (last) {
            if (!rest.empty()) reader.line(rest);
            break;
        }
        kept = rest.size();
        scanned = kept;
        buffer.erase(0, buffer.size() - kept);
    }
    if (in.failed()) throw input_error("cannot read " + source);
    return reader.finish();
}

}  // namespace rotalign::detail
