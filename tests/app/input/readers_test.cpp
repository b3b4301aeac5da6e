// The readers on what a careless or hostile user hands them: .npy headers that promise more than
// the file holds, text in other encodings or with odd bytes, and pipes that cannot seek and
// deliver a few bytes at a time. Every refusal is an input_error with a printable message.
#include "input/byte_source.h"
#include "input/quoted_bytes.h"
#include "rotalign/input/points.h"
#include "support/table.h"

#include "app_support.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <streambuf>

using app_test::message_of;
using app_test::npy;

namespace {

std::string dict(const std::string& descr, bool fortran, const std::string& shape) {
    return "{'descr': '" + descr + "', 'fortran_order': " + (fortran ? "True" : "False") + ", 'shape': " + shape +
           ", }";
}

// A stream like a pipe: it hands out at most a few bytes per read, at random, and cannot seek.
class trickle : public std::streambuf {
public:
    trickle(std::string bytes, unsigned seed) : bytes_(std::move(bytes)), random_(seed) {}

protected:
    int_type underflow() override {
        if (at_ >= bytes_.size()) return traits_type::eof();
        const std::size_t n = std::min<std::size_t>(bytes_.size() - at_, 1 + random_() % 7);
        char* start = &bytes_[at_];
        setg(start, start, start + n);
        at_ += n;
        return traits_type::to_int_type(*start);
    }
    pos_type seekoff(off_type, std::ios_base::seekdir, std::ios_base::openmode) override { return pos_type(-1); }
    pos_type seekpos(pos_type, std::ios_base::openmode) override { return pos_type(-1); }

private:
    std::string bytes_;
    std::size_t at_ = 0;
    std::minstd_rand random_;
};

struct temp_file {
    std::filesystem::path path;
    explicit temp_file(const std::string& bytes)
        : path(std::filesystem::path(::testing::TempDir()) /
               ("readers_" + std::to_string(getpid()) + "_" + std::to_string(counter()++))) {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    ~temp_file() { std::filesystem::remove(path); }
    static int& counter() {
        static int n = 0;
        return n;
    }
};

// The message for `bytes` read as a file of known size and as a trickling pipe; the two must
// agree, whatever the bytes.
std::string refusal(const std::string& bytes) {
    const temp_file f(bytes);
    const std::string from_file = message_of([&] { rotalign::read_points_file(f.path.string()); });
    trickle pipe(bytes, 7);
    std::istream in(&pipe);
    const std::string from_pipe = message_of([&] { rotalign::read_points(in, f.path.string()); });
    EXPECT_EQ(from_file, from_pipe);
    // The message names the file first; the rest follows ": " or ", ".
    const std::string name = f.path.string();
    EXPECT_EQ(from_file.compare(0, name.size(), name), 0) << from_file;
    return from_file.substr(std::min(from_file.size(), name.size() + 2));
}

}  // namespace

TEST(readers, npy_headers_that_promise_more_than_the_file_holds_are_refused) {
    const std::string few(2000, '\0');
    const struct {
        std::string bytes, message;
    } cases[] = {
        {npy(dict("<f8", false, "(100000000, 3)"), few), "the file ends before its 100000000-by-3 values"},
        {npy(dict("<f8", false, "(1000000000000, 3)"), few), "the file ends before its 1000000000000-by-3 values"},
        {npy(dict("<f8", false, "(2147483648,)"), few), "the file ends before its 2147483648-by-1 values"},
        {npy(dict("<f4", true, "(2, 100000000000)"), few), "the file ends before its 2-by-100000000000 values"},
        {npy(dict("<f8", false, "(99999999999999999999, 3)"), few), "the .npy shape is too large"},
        {npy(dict("<f8", false, "(4294967296, 4294967296)"), few), "the .npy shape is too large"},
        {npy(dict("<f8", false, "(3, 2)"), std::string(47, '\0')), "the file ends before its 3-by-2 values"},
        {npy(dict("<f8", false, "(3, 2"), few), "the .npy header is malformed"},
        {npy(dict("<f8", false, "(3, x)"), few), "the .npy header is malformed"},
        {npy("{'descr': '<f8', 'shape': (3, 2), }", few), "the .npy header has no 'fortran_order'"},
        {npy(dict("\x1b[2J<u1", false, "(3, 2)"), few),
         "values of type '\\x1b[2J<u1'; float64 and float32 are read (convert with .astype(float))"},
        {npy(dict("<f8", false, "()"), few), "an array of 0 dimensions; one row a point needs 2"},
        {npy(dict("<f8", false, "(3, 0)"), few), "rows without values"},
        {std::string("\x93NUMPY\x01\x00\xff\xff{'descr'", 17), "the file ends inside the .npy header"},
        {std::string("\x93NUMPY\x02\x00\x00\x00\x20\x00{", 13), "the .npy header is malformed"},
        {std::string("\x93NUMPY\x09\x00\x10\x00", 10), ".npy version 9 is not read"},
    };
    for (const auto& c : cases) EXPECT_EQ(refusal(c.bytes), c.message) << c.bytes;
}

TEST(readers, csv_in_other_encodings_or_with_odd_bytes_gets_a_printable_message) {
    const auto utf16 = [](const std::string& ascii, bool big_endian, bool mark) {
        std::string out = mark ? (big_endian ? "\xFE\xFF" : "\xFF\xFE") : "";
        for (char c : ascii) out += big_endian ? std::string{'\0', c} : std::string{c, '\0'};
        return out;
    };
    std::string utf32;
    for (char c : std::string("x,y\n1,2\n")) utf32 += std::string{'\0', '\0', '\0', c};
    const struct {
        std::string bytes, message;
    } cases[] = {
        {utf16("x,y\n1,2\n", false, true),
         "the file looks like UTF-16 text (little-endian); CSV files are read as ASCII or UTF-8"},
        {utf16("x,y\n1,2\n", false, false),
         "the file looks like UTF-16 text (little-endian); CSV files are read as ASCII or UTF-8"},
        {utf16("x,y\n1,2\n", true, false),
         "the file looks like UTF-16 text (big-endian); CSV files are read as ASCII or UTF-8"},
        {utf32, "the file looks like UTF-32 text (big-endian); CSV files are read as ASCII or UTF-8"},
        {std::string("1,2\n3,4\n5,\0\n", 12), "line 3: a NUL byte: the file looks like binary data, not CSV text"},
        {"1,2\n3,\x1b]0;owned\x07\n", "line 2: value 2 ('\\x1b]0;owned\\x07') is not a number"},
        {"1,2\n3,5\xe2\x82\xac\xc2\x9b\xff\n", "line 2: value 2 ('5\xe2\x82\xac\\xc2\\x9b\\xff') is not a number"},
        {"1,2\n3," + std::string(40, 'z') + "\n", "line 2: value 2 ('zzzzzzzzzzzzzzzzzzzzzzzz...') is not a number"},
        {"1,2\n3,\xe2\x80\xae" "4\n", "line 2: value 2 ('\\xe2\\x80\\xae4') is not a number"},
    };
    for (const auto& c : cases) EXPECT_EQ(refusal(c.bytes), c.message) << c.bytes;
    // A letter that the cut would split is left out whole.
    EXPECT_EQ(rotalign::detail::quoted_bytes("ab\xc3\xa9z", 3), "'ab...'");
}

TEST(readers, a_pipe_delivering_a_few_bytes_at_a_time_reads_like_the_file) {
    // Random tables in every form the readers take, read from a file and from a trickling pipe.
    std::mt19937_64 random(5);
    for (int round = 0; round < 40; ++round) {
        const std::size_t rows = 1 + random() % 30;
        std::size_t columns = 1 + random() % 4;
        std::vector<double> values(rows * columns);
        for (double& v : values) v = std::ldexp(static_cast<double>(random() % 2000001) - 1e6, -(int)(random() % 20));
        std::string bytes;
        switch (round % 4) {
        case 0: {  // CSV with a header and CRLF
            std::ostringstream s;
            s.precision(17);
            for (std::size_t k = 0; k < columns; ++k) s << (k ? ",c" : "c") << k << (k + 1 < columns ? "" : "\r\n");
            for (std::size_t i = 0; i < rows; ++i)
                for (std::size_t k = 0; k < columns; ++k) s << values[i * columns + k] << (k + 1 < columns ? "," : "\r\n");
            bytes = s.str();
            break;
        }
        case 1:
        case 2: {  // .npy by rows (version 1) or by columns (version 2)
            const bool by_columns = round % 4 == 2;
            std::string data(values.size() * 8, '\0');
            for (std::size_t at = 0; at < values.size(); ++at) {
                const std::size_t from = by_columns ? (at % rows) * columns + at / rows : at;
                std::memcpy(&data[at * 8], &values[from], 8);
            }
            bytes = npy(dict("<f8", by_columns, "(" + std::to_string(rows) + ", " + std::to_string(columns) + ")"),
                        data, by_columns ? 2 : 1);
            break;
        }
        default: {  // big-endian float32, one column
            values.resize(rows);
            columns = 1;
            std::string data;
            for (double& v : values) {
                const float f = static_cast<float>(v);
                v = f;
                char b[4];
                std::memcpy(b, &f, 4);
                data += std::string{b[3], b[2], b[1], b[0]};
            }
            bytes = npy(dict(">f4", false, "(" + std::to_string(rows) + ",)"), data);
        }
        }
        const temp_file f(bytes);
        const rotalign::points from_file = rotalign::read_points_file(f.path.string());
        trickle pipe(bytes, static_cast<unsigned>(round));
        std::istream in(&pipe);
        const rotalign::points from_pipe = rotalign::read_points(in, "pipe");
        EXPECT_EQ(from_file.count, rows) << round;
        EXPECT_EQ(from_file.dims, columns) << round;
        EXPECT_EQ(from_file.values, values) << round;
        EXPECT_EQ(from_pipe.values, values) << round;
        EXPECT_EQ(from_pipe.count, rows) << round;
    }
}
