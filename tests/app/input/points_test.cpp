// Reading points and distance matrices: what is accepted, and the message for what is not.
#include "rotalign/input/points.h"

#include "app_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <sstream>

using rotalign::input_error;

using app_test::message_of;

namespace {

rotalign::points points_of(const std::string& text) {
    std::istringstream in(text);
    return rotalign::read_points(in, "p.csv");
}

rotalign::square distances_of(const std::string& text) {
    std::istringstream in(text);
    return rotalign::read_distances(in, "d.csv");
}

}  // namespace

TEST(read_points, header_blank_lines_spaces_and_crlf_are_accepted) {
    const rotalign::points plain = points_of("1,2.5\n-3e1,4\n");
    EXPECT_EQ(plain.count, 2u);
    EXPECT_EQ(plain.dims, 2u);
    EXPECT_EQ(plain.values, (std::vector<double>{1, 2.5, -30, 4}));
    const rotalign::points dressed = points_of("x, y\r\n\n 1 , 2.5\r\n   \n-3e1,4");
    EXPECT_EQ(dressed.values, plain.values);
    EXPECT_EQ(dressed.count, 2u);
    EXPECT_EQ(points_of("\xEF\xBB\xBF" "1,2.5\n-3e1,4\n").values, plain.values);
}

TEST(read_points, bad_rows_are_named_by_their_line) {
    // Line numbers count the header and blank lines, as an editor shows them.
    EXPECT_EQ(message_of([] { points_of("x,y\n1,2\n\n3,4,5\n"); }),
              "p.csv, line 4: expected 2 values as in the first row, found 3");
    EXPECT_EQ(message_of([] { points_of("1,2\n3\n"); }), "p.csv, line 2: expected 2 values as in the first row, found 1");
    EXPECT_EQ(message_of([] { points_of("1,2\n3,abc\n"); }), "p.csv, line 2: value 2 ('abc') is not a number");
    EXPECT_EQ(message_of([] { points_of("1,2\n3,\n"); }), "p.csv, line 2: value 2 ('') is not a number");
    EXPECT_EQ(message_of([] { points_of("1,2\n3 4,5\n"); }), "p.csv, line 2: value 1 ('3 4') is not a number");
    // A header is only a first line without any number in it.
    EXPECT_EQ(message_of([] { points_of("x,2\n1,3\n"); }), "p.csv, line 1: value 1 ('x') is not a number");
}

TEST(read_points, non_finite_coordinates_and_empty_input_are_refused) {
    EXPECT_EQ(message_of([] { points_of("1,2\nnan,4\n"); }), "p.csv, line 2: coordinate 1 ('nan') is not finite");
    EXPECT_EQ(message_of([] { points_of("1,-inf\n"); }), "p.csv, line 1: coordinate 2 ('-inf') is not finite");
    EXPECT_EQ(message_of([] { points_of("1,1e999\n"); }), "p.csv, line 1: coordinate 2 ('1e999') is not finite");
    EXPECT_EQ(message_of([] { points_of("x,y\n\n"); }), "p.csv: no data rows");
    EXPECT_EQ(message_of([] { rotalign::read_points_file("/nonexistent/p.csv"); }),
              "cannot read /nonexistent/p.csv: No such file or directory");
}

TEST(read_distances, square_symmetric_matrix_with_zero_diagonal_is_read) {
    const rotalign::square d = distances_of("a,b,c\n0,1,4\n1,0,2\n4,2,0\n");
    EXPECT_EQ(d.n, 3u);
    EXPECT_EQ(d.at(2, 0), 4.0);
    EXPECT_EQ(d.at(1, 2), 2.0);
}

TEST(read_distances, matrices_the_chain_cannot_use_are_refused) {
    EXPECT_EQ(message_of([] { distances_of("0,1,2\n1,0,3\n"); }),
              "d.csv: distance matrix is not square: 2 rows of 3 values");
    EXPECT_EQ(message_of([] { distances_of("0,-1\n-1,0\n"); }), "d.csv, line 1: distance 2 is negative");
    EXPECT_EQ(message_of([] { distances_of("0,1\n1,0.5\n"); }),
              "d.csv, line 2: distance 2 lies on the diagonal and is not zero");
    EXPECT_EQ(message_of([] { distances_of("h1,h2\n0,1\n2,0\n"); }),
              "d.csv, line 2: distance 2 differs from distance 1 on line 3: the matrix is not symmetric");
}

TEST(squared_distances, exact_symmetric_values) {
    const rotalign::points p{3, 2, {0.0, 0.0, 3.0, 4.0, 0.1, 0.7}};
    const rotalign::square d = rotalign::squared_distances(p);
    EXPECT_EQ(d.at(1, 0), 25.0);
    EXPECT_EQ(d.at(0, 1), 25.0);
    EXPECT_EQ(d.at(2, 1), (3.0 - 0.1) * (3.0 - 0.1) + (4.0 - 0.7) * (4.0 - 0.7));
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(d.at(i, i), 0.0);
        for (std::size_t j = 0; j < 3; ++j) EXPECT_EQ(d.at(i, j), d.at(j, i));
    }
}

TEST(squared_distances, every_entry_is_the_sum_over_coordinates_in_order) {
    // Odd and even counts (columns that start off a 16-byte boundary), one to five coordinates,
    // and an output that itself starts off the boundary.
    std::mt19937_64 rng(11);
    std::uniform_real_distribution<double> value(-1e3, 1e3);
    for (std::size_t dims : {1, 2, 3, 5})
        for (std::size_t n : {1, 2, 7, 40}) {
            rotalign::points p{n, dims, std::vector<double>(n * dims)};
            for (double& v : p.values) v = value(rng);
            std::vector<double> out(n * n + 1, -1.0);
            rotalign::squared_distances(p, out.data() + 1);
            for (std::size_t j = 0; j < n; ++j)
                for (std::size_t i = 0; i < n; ++i) {
                    double sum = 0.0;
                    for (std::size_t k = 0; k < dims; ++k) {
                        const double diff = p.at(i, k) - p.at(j, k);
                        sum += diff * diff;
                    }
                    const double got = out[1 + i + j * n];
                    ASSERT_EQ(std::memcmp(&got, &sum, sizeof sum), 0) << dims << " coordinates, n " << n;
                }
            EXPECT_EQ(out[0], -1.0);
        }
}
