// NumPy's .npy format, the way large arrays leave Python: a magic string, a version, a header
// that is a Python dict literal ('descr', 'fortran_order', 'shape'), then the raw values.
#include "support/table.h"

#include "input/byte_source.h"
#include "input/quoted_bytes.h"
#include "rotalign/input/npy_rows.h"
#include "rotalign/input/points.h"
#include "rotalign/support/memory.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

namespace rotalign::detail {
namespace {

constexpr char magic[] = "\x93NUMPY";
constexpr std::size_t magic_size = 6;

struct npy_header {
    std::size_t item_size = 8;  // 8: float64, 4: float32
    bool big_endian = false;
    bool fortran_order = false;
    std::vector<std::size_t> shape;
};

[[noreturn]] void bad(const std::string& source, const std::string& what) {
    throw input_error(source + ": " + what);
}

// The text after `'key':` in the header dict, with leading spaces skipped.
std::string value_of(const std::string& header, const std::string& key, const std::string& source) {
    const std::string quoted = "'" + key + "'";
    auto at = header.find(quoted);
    if (at == std::string::npos) bad(source, "the .npy header has no '" + key + "'");
    at = header.find(':', at + quoted.size());
    if (at == std::string::npos) bad(source, "the .npy header is malformed");
    at = header.find_first_not_of(' ', at + 1);
    return at == std::string::npos ? std::string() : header.substr(at);
}

npy_header parse_header(const std::string& text, const std::string& source) {
    npy_header h;
    const std::string descr = value_of(text, "descr", source);
    const auto close = descr.find('\'', 1);
    if (descr.empty() || descr[0] != '\'' || close == std::string::npos) bad(source, "the .npy header is malformed");
    const std::string type = descr.substr(1, close - 1);
    if (type == "<f8" || type == "=f8") h.item_size = 8;
    else if (type == ">f8") h.item_size = 8, h.big_endian = true;
    else if (type == "<f4" || type == "=f4") h.item_size = 4;
    else if (type == ">f4") h.item_size = 4, h.big_endian = true;
    else bad(source, "values of type " + quoted_bytes(type) + "; float64 and float32 are read (convert with .astype(float))");

    const std::string order = value_of(text, "fortran_order", source);
    if (order.compare(0, 4, "True") == 0) h.fortran_order = true;
    else if (order.compare(0, 5, "False") != 0) bad(source, "the .npy header is malformed");

    const std::string shape = value_of(text, "shape", source);
    if (shape.empty() || shape[0] != '(') bad(source, "the .npy header is malformed");
    const auto end = shape.find(')');
    if (end == std::string::npos) bad(source, "the .npy header is malformed");
    std::size_t i = 1;
    while (i < end) {
        i = shape.find_first_not_of(" ,", i);
        if (i >= end) break;
        std::size_t v = 0;
        const std::size_t first = i;
        while (i < end && shape[i] >= '0' && shape[i] <= '9') {
            if (v > (SIZE_MAX - 9) / 10) bad(source, "the .npy shape is too large");
            v = v * 10 + static_cast<std::size_t>(shape[i++] - '0');
        }
        if (i == first) bad(source, "the .npy header is malformed");
        h.shape.push_back(v);
    }
    return h;
}

double value_at(const unsigned char* p, const npy_header& h) {
    unsigned char b[8];
    std::memcpy(b, p, h.item_size);
    if (h.big_endian)
        for (std::size_t k = 0; k < h.item_size / 2; ++k) std::swap(b[k], b[h.item_size - 1 - k]);
    if (h.item_size == 8) {
        double d;
        std::memcpy(&d, b, 8);
        return d;
    }
    float f;
    std::memcpy(&f, b, 4);
    return static_cast<double>(f);
}

std::uint32_t little_endian(const unsigned char* p, std::size_t bytes) {
    std::uint32_t v = 0;
    for (std::size_t k = bytes; k-- > 0;) v = v << 8 | p[k];
    return v;
}

// Reads the magic, version and header, leaving `in` at the first value.
npy_header header_of(byte_source& in, const std::string& source) {
    unsigned char prefix[12];
    const auto take = [&](unsigned char* to, std::size_t n) { return in.read(reinterpret_cast<char*>(to), n) == n; };
    if (!take(prefix, 10) || std::memcmp(prefix, magic, magic_size) != 0) bad(source, "not a .npy file");
    const unsigned version = prefix[6];
    if (version < 1 || version > 3) bad(source, ".npy version " + std::to_string(version) + " is not read");
    std::size_t length = little_endian(prefix + 8, 2);
    if (version >= 2) {
        if (!take(prefix + 10, 2)) bad(source, "the file ends inside the .npy header");
        length = little_endian(prefix + 8, 4);
    }
    if (length > (std::size_t{1} << 20)) bad(source, "the .npy header is malformed");
    if (const auto left = in.remaining(); left && *left < length) bad(source, "the file ends inside the .npy header");
    std::string text(length, '\0');
    if (in.read(&text[0], length) != length) bad(source, "the file ends inside the .npy header");
    return parse_header(text, source);
}

// The rows and columns of the header's shape: one row a point.
void shape_of(const npy_header& h, const std::string& source, table& t) {
    if (h.shape.empty() || h.shape.size() > 2)
        bad(source, "an array of " + std::to_string(h.shape.size()) + " dimensions; one row a point needs 2");
    t.row_count = h.shape[0];
    t.columns = h.shape.size() == 2 ? h.shape[1] : 1;
    if (t.row_count == 0) bad(source, "no data rows");
    if (t.columns == 0) bad(source, "rows without values");
    if (t.columns > SIZE_MAX / t.row_count / 8) bad(source, "the .npy shape is too large");
}

// Throws input_error naming the first value of `values` (rows first_row.. of `columns` each)
// that is not finite.
void require_finite(const std::vector<double>& values, std::size_t columns, std::size_t first_row,
                    const std::string& source, const char* what) {
    for (std::size_t at = 0; at < values.size(); ++at)
        if (const double v = values[at]; !std::isfinite(v))
            throw input_error(source + ", row " + std::to_string(first_row + at / columns + 1) + ": " + what + " " +
                              std::to_string(at % columns + 1) + " (" + (std::isnan(v) ? "nan" : v > 0 ? "inf" : "-inf") +
                              ") is not finite");
}

}  // namespace

bool is_npy(byte_source& in) { return in.peek(magic_size) == std::string_view(magic, magic_size); }

table read_npy(byte_source& in, const std::string& source, const char* what) {
    const npy_header h = header_of(in, source);
    table t;
    shape_of(h, source, t);
    const std::string cut_short = "the file ends before its " + std::to_string(t.row_count) + "-by-" +
                                  std::to_string(t.columns) + " values";
    const std::size_t count = t.row_count * t.columns;
    // The header alone does not decide what is allocated: with the size known, the values must
    // all be there; without (a pipe), the array grows as they arrive.
    const auto left = in.remaining();
    if (left && *left / h.item_size < count) bad(source, cut_short);
    const bool grow = !left;
    if (!grow) {
        try {
            t.values.resize(count);
        } catch (const std::bad_alloc&) {
            throw memory_error("out of memory while reading " + source + ": its " + std::to_string(t.row_count) +
                               "-by-" + std::to_string(t.columns) + " values take " +
                               byte_size(8.0 * static_cast<double>(count)));
        }
    }

    // In blocks, so that a float32 or byte-swapped file needs no second full copy.
    constexpr std::size_t block_values = std::size_t{1} << 16;
    std::vector<unsigned char> raw(block_values * h.item_size);
    for (std::size_t done = 0; done < count;) {
        const std::size_t take_values = std::min(block_values, count - done);
        const std::size_t bytes = take_values * h.item_size;
        if (in.read(reinterpret_cast<char*>(raw.data()), bytes) != bytes) {
            if (in.failed()) throw input_error("cannot read " + source);
            bad(source, cut_short);
        }
        if (grow) t.values.resize(done + take_values);
        for (std::size_t k = 0; k < take_values; ++k) {
            const std::size_t at = done + k;
            // Fortran order stores the array by columns; the table holds it by rows. A growing
            // array keeps the file's order until every value is in.
            const std::size_t to =
                h.fortran_order && !grow ? (at % t.row_count) * t.columns + at / t.row_count : at;
            t.values[to] = value_at(&raw[k * h.item_size], h);
        }
        done += take_values;
    }
    if (grow && h.fortran_order) {
        std::vector<double> by_rows(count);
        for (std::size_t at = 0; at < count; ++at)
            by_rows[(at % t.row_count) * t.columns + at / t.row_count] = t.values[at];
        t.values.swap(by_rows);
    }
    require_finite(t.values, t.columns, 0, source, what);
    return t;
}

}  // namespace rotalign::detail

namespace rotalign {
namespace {

// The header of the .npy file at `path`, its shape and the offset of its first value; the file
// must hold every value.
struct opened_npy {
    std::ifstream file;
    detail::npy_header header;
    detail::table shape;  // rows and columns only
    std::uint64_t data_offset = 0;
};

void open_npy(const std::string& path, opened_npy& o) {
    o.file.open(path, std::ios::binary);
    if (!o.file) throw input_error("cannot read " + path + ": " + std::strerror(errno));
    std::error_code ec;
    const std::uintmax_t bytes = std::filesystem::file_size(path, ec);
    if (ec) throw input_error("cannot read " + path + ": " + ec.message());
    detail::byte_source in(o.file, static_cast<std::uint64_t>(bytes));
    o.header = detail::header_of(in, path);
    detail::shape_of(o.header, path, o.shape);
    o.data_offset = in.consumed();
    const std::uint64_t values = static_cast<std::uint64_t>(o.shape.row_count) * o.shape.columns;
    if ((bytes - o.data_offset) / o.header.item_size < values)
        throw input_error(path + ": the file ends before its " + std::to_string(o.shape.row_count) + "-by-" +
                          std::to_string(o.shape.columns) + " values");
}

}  // namespace

bool is_npy_file(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    char start[detail::magic_size] = {};
    return file && file.read(start, detail::magic_size) && std::memcmp(start, detail::magic, detail::magic_size) == 0;
}

npy_shape npy_shape_of(const std::string& path) {
    opened_npy o;
    open_npy(path, o);
    return {o.shape.row_count, o.shape.columns};
}

points read_npy_rows(const std::string& path, std::size_t first, std::size_t count) {
    opened_npy o;
    open_npy(path, o);
    const std::size_t rows = o.shape.row_count, columns = o.shape.columns, item = o.header.item_size;
    if (first > rows || count > rows - first)
        throw input_error(path + ": rows " + std::to_string(first + 1) + " to " + std::to_string(first + count) +
                          " lie outside its " + std::to_string(rows) + " rows");
    points p;
    p.count = count;
    p.dims = columns;
    p.values.resize(count * columns);
    // C order holds the block as one run; Fortran order as one run per column. Each run is read
    // in pieces, so that the raw bytes never need a second copy of the block.
    const std::size_t runs = o.header.fortran_order ? columns : 1;
    const std::size_t run_values = o.header.fortran_order ? count : count * columns;
    constexpr std::size_t piece_values = std::size_t{1} << 16;
    std::vector<unsigned char> raw(std::min(run_values, piece_values) * item);
    for (std::size_t run = 0; run < runs; ++run) {
        const std::uint64_t at = o.header.fortran_order ? static_cast<std::uint64_t>(run) * rows + first
                                                        : static_cast<std::uint64_t>(first) * columns;
        o.file.seekg(static_cast<std::streamoff>(o.data_offset + at * item));
        for (std::size_t done = 0; done < run_values;) {
            const std::size_t take = std::min(piece_values, run_values - done);
            if (!o.file.read(reinterpret_cast<char*>(raw.data()), static_cast<std::streamsize>(take * item)))
                throw input_error("cannot read " + path);
            for (std::size_t k = 0; k < take; ++k) {
                const std::size_t from = done + k;
                const std::size_t to = o.header.fortran_order ? from * columns + run : from;
                p.values[to] = detail::value_at(&raw[k * item], o.header);
            }
            done += take;
        }
    }
    detail::require_finite(p.values, columns, first, path, "coordinate");
    return p;
}

}  // namespace rotalign
