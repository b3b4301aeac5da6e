// Reading points and distances from NumPy .npy files, and CSV files larger than one read block.
#include "rotalign/input/npy_rows.h"
#include "rotalign/input/points.h"

#include "app_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

using rotalign::input_error;

using app_test::message_of;
using app_test::npy;

namespace {

template <typename T>
std::string bytes_of(const std::vector<T>& values, bool big_endian = false) {
    std::string out(values.size() * sizeof(T), '\0');
    std::memcpy(&out[0], values.data(), out.size());
    if (big_endian)
        for (std::size_t i = 0; i < out.size(); i += sizeof(T)) std::reverse(out.begin() + i, out.begin() + i + sizeof(T));
    return out;
}

rotalign::points points_of(const std::string& bytes) {
    std::istringstream in(bytes);
    return rotalign::read_points(in, "p.npy");
}

const std::vector<double> three_by_two{1.5, -2.0, 3.25, 4.0, -0.5, 6.0};  // by rows

}  // namespace

TEST(read_npy, every_layout_gives_the_same_points) {
    const std::string c_order = npy("{'descr': '<f8', 'fortran_order': False, 'shape': (3, 2), }",
                                    bytes_of(three_by_two));
    const rotalign::points p = points_of(c_order);
    EXPECT_EQ(p.count, 3u);
    EXPECT_EQ(p.dims, 2u);
    EXPECT_EQ(p.values, three_by_two);
    // By columns, big-endian, single precision, version 2 header: all the same points.
    const std::vector<double> by_columns{1.5, 3.25, -0.5, -2.0, 4.0, 6.0};
    EXPECT_EQ(points_of(npy("{'descr': '<f8', 'fortran_order': True, 'shape': (3, 2), }", bytes_of(by_columns))).values,
              three_by_two);
    EXPECT_EQ(points_of(npy("{'descr': '>f8', 'fortran_order': False, 'shape': (3, 2), }",
                            bytes_of(three_by_two, true))).values,
              three_by_two);
    const std::vector<float> single(three_by_two.begin(), three_by_two.end());
    EXPECT_EQ(points_of(npy("{'descr': '<f4', 'fortran_order': False, 'shape': (3, 2), }", bytes_of(single))).values,
              three_by_two);
    EXPECT_EQ(points_of(npy("{'descr': '<f8', 'fortran_order': False, 'shape': (3, 2), }", bytes_of(three_by_two), 2))
                  .values,
              three_by_two);
    // A one-dimensional array is one coordinate per point.
    const rotalign::points line = points_of(npy("{'descr': '<f8', 'fortran_order': False, 'shape': (6,), }",
                                                bytes_of(three_by_two)));
    EXPECT_EQ(line.count, 6u);
    EXPECT_EQ(line.dims, 1u);
}

TEST(read_npy, unreadable_files_are_refused_with_a_reason) {
    EXPECT_EQ(message_of([] { points_of(npy("{'descr': '<i8', 'fortran_order': False, 'shape': (3, 2), }",
                                            bytes_of(std::vector<std::int64_t>(6)))); }),
              "p.npy: values of type '<i8'; float64 and float32 are read (convert with .astype(float))");
    EXPECT_EQ(message_of([] { points_of(npy("{'descr': '<f8', 'fortran_order': False, 'shape': (3, 2), }",
                                            bytes_of(std::vector<double>(5)))); }),
              "p.npy: the file ends before its 3-by-2 values");
    EXPECT_EQ(message_of([] { points_of(npy("{'descr': '<f8', 'fortran_order': False, 'shape': (2, 1, 3), }",
                                            bytes_of(std::vector<double>(6)))); }),
              "p.npy: an array of 3 dimensions; one row a point needs 2");
    EXPECT_EQ(message_of([] { points_of(npy("{'descr': '<f8', 'fortran_order': False, 'shape': (0, 2), }", "")); }),
              "p.npy: no data rows");
    std::vector<double> with_nan = three_by_two;
    with_nan[5] = std::nan("");
    EXPECT_EQ(message_of([&] { points_of(npy("{'descr': '<f8', 'fortran_order': False, 'shape': (3, 2), }",
                                             bytes_of(with_nan))); }),
              "p.npy, row 3: coordinate 2 (nan) is not finite");
    EXPECT_EQ(message_of([] { points_of("\x93NUMPY\x01"); }), "p.npy: not a .npy file");
}

TEST(read_npy, distance_matrices_are_checked_as_in_csv) {
    const std::vector<double> d{0, 1, 4, 1, 0, 2, 4, 2, 0};
    std::istringstream good(npy("{'descr': '<f8', 'fortran_order': False, 'shape': (3, 3), }", bytes_of(d)));
    EXPECT_EQ(rotalign::read_distances(good, "d.npy").values, d);
    std::vector<double> lopsided = d;
    lopsided[5] = 3;
    std::istringstream bad(npy("{'descr': '<f8', 'fortran_order': False, 'shape': (3, 3), }", bytes_of(lopsided)));
    EXPECT_EQ(message_of([&] { rotalign::read_distances(bad, "d.npy"); }),
              "d.npy, row 2: distance 3 differs from distance 2 on row 3: the matrix is not symmetric");
}

TEST(read_points, csv_across_read_blocks_and_unusual_number_forms) {
    // Rows of varying length over several megabytes, so that lines straddle the read blocks.
    std::string text = "x,y\n";
    std::vector<double> expected;
    for (int i = 0; i < 300000; ++i) {
        const double x = i * 0.001 - 7.0, y = -i * 1e-7;
        std::ostringstream row;
        row.precision(i % 17 + 1);
        row << x << ',' << y << '\n';
        text += row.str();
        expected.push_back(std::stod(row.str().substr(0, row.str().find(','))));
        expected.push_back(std::stod(row.str().substr(row.str().find(',') + 1)));
    }
    std::istringstream in(text);
    const rotalign::points p = rotalign::read_points(in, "big.csv");
    EXPECT_EQ(p.count, 300000u);
    EXPECT_EQ(p.values, expected);
    // A leading plus and hexadecimal notation are numbers as before.
    std::istringstream unusual("+1.5,0x1p-2\n");
    EXPECT_EQ(rotalign::read_points(unusual, "u.csv").values, (std::vector<double>{1.5, 0.25}));
}

// Blocks of rows read at their offsets (as the ranks of rotalign-mpi read them) equal the same
// rows of the whole file, for every layout, type and byte order and every split; rows outside
// the file and a value that is not finite are refused, the latter named by its row in the file.
TEST(NpyRows, BlocksEqualTheWholeFile) {
    const std::size_t rows = 7, columns = 3;
    std::vector<double> by_rows(rows * columns), by_columns(rows * columns);
    for (std::size_t i = 0; i < rows; ++i)
        for (std::size_t k = 0; k < columns; ++k) {
            by_rows[i * columns + k] = static_cast<double>(i) * 10.0 + static_cast<double>(k) + 0.25;
            by_columns[k * rows + i] = by_rows[i * columns + k];
        }
    const std::string path = ::testing::TempDir() + "npy_rows_test.npy";
    for (const bool fortran : {false, true})
        for (const bool single : {false, true})
            for (const bool big : {false, true}) {
                const std::vector<double>& stored = fortran ? by_columns : by_rows;
                const std::string descr = std::string(big ? ">" : "<") + (single ? "f4" : "f8");
                const std::string bytes =
                    single ? bytes_of(std::vector<float>(stored.begin(), stored.end()), big) : bytes_of(stored, big);
                {
                    std::ofstream f(path, std::ios::binary);
                    f << npy("{'descr': '" + descr + "', 'fortran_order': " + (fortran ? "True" : "False") +
                                 ", 'shape': (7, 3), }",
                             bytes);
                }
                ASSERT_TRUE(rotalign::is_npy_file(path));
                const rotalign::npy_shape shape = rotalign::npy_shape_of(path);
                ASSERT_EQ(shape.rows, rows);
                ASSERT_EQ(shape.columns, columns);
                const rotalign::points whole = rotalign::read_points_file(path);
                for (std::size_t first = 0; first <= rows; ++first)
                    for (std::size_t count = 0; first + count <= rows; ++count) {
                        const rotalign::points block = rotalign::read_npy_rows(path, first, count);
                        ASSERT_EQ(block.count, count);
                        ASSERT_EQ(block.values, std::vector<double>(whole.values.begin() + first * columns,
                                                                    whole.values.begin() + (first + count) * columns))
                            << descr << (fortran ? " by columns" : " by rows") << ", rows " << first << " + " << count;
                    }
                EXPECT_THROW(rotalign::read_npy_rows(path, 5, 3), input_error);
            }
    // Runs longer than one read piece (2^16 values).
    std::vector<double> long_rows(2 * 40000);
    for (std::size_t at = 0; at < long_rows.size(); ++at) long_rows[at] = static_cast<double>(at) * 0.5;
    for (const bool fortran : {false, true}) {
        {
            std::ofstream f(path, std::ios::binary);
            f << npy(std::string("{'descr': '<f8', 'fortran_order': ") + (fortran ? "True" : "False") +
                         ", 'shape': (40000, 2), }",
                     bytes_of(long_rows));
        }
        const rotalign::points whole = rotalign::read_points_file(path);
        for (const auto& [first, count] : {std::pair<std::size_t, std::size_t>{0, 40000}, {3, 39990}, {33000, 7000}})
            ASSERT_EQ(rotalign::read_npy_rows(path, first, count).values,
                      std::vector<double>(whole.values.begin() + first * 2, whole.values.begin() + (first + count) * 2));
    }
    std::vector<double> with_nan = by_rows;
    with_nan[5 * columns + 1] = std::nan("");
    {
        std::ofstream f(path, std::ios::binary);
        f << npy("{'descr': '<f8', 'fortran_order': False, 'shape': (7, 3), }", bytes_of(with_nan));
    }
    EXPECT_NO_THROW(rotalign::read_npy_rows(path, 0, 5));
    EXPECT_EQ(message_of([&] { rotalign::read_npy_rows(path, 4, 3); }), path + ", row 6: coordinate 2 (nan) is not finite");
    // Cut short: the header promises more rows than the file holds.
    {
        std::ofstream f(path, std::ios::binary);
        f << npy("{'descr': '<f8', 'fortran_order': False, 'shape': (8, 3), }", bytes_of(by_rows));
    }
    EXPECT_THROW(rotalign::npy_shape_of(path), input_error);
    std::remove(path.c_str());
}
