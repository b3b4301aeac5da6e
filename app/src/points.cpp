// Reading points and distance matrices (CSV or .npy), and the distances between points.
#include "rotalign/points.h"

#include "table.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace rotalign {
namespace {

detail::table read_table(std::istream& in, const std::string& source, const char* what) {
    return detail::is_npy(in) ? detail::read_npy(in, source, what) : detail::read_csv(in, source, what);
}

std::ifstream open(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw input_error("cannot read " + path + ": " + std::strerror(errno));
    return in;
}

}  // namespace

points read_points(std::istream& in, const std::string& source) {
    detail::table t = read_table(in, source, "coordinate");
    return points{t.rows(), t.columns, std::move(t.values)};
}

points read_points_file(const std::string& path) {
    std::ifstream in = open(path);
    return read_points(in, path);
}

square read_distances(std::istream& in, const std::string& source) {
    detail::table t = read_table(in, source, "distance");
    const std::size_t n = t.rows();
    if (t.columns != n)
        throw input_error(source + ": distance matrix is not square: " + std::to_string(n) + " rows of " +
                          std::to_string(t.columns) + " values");
    // Row i of the file is row i of the matrix; the values are checked before they are kept.
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t j = 0; j < n; ++j) {
            const double v = t.values[i * n + j];
            const auto at = [&] { return source + ", " + t.where(i) + ": "; };
            if (v < 0.0) throw input_error(at() + "distance " + std::to_string(j + 1) + " is negative");
            if (i == j && v != 0.0)
                throw input_error(at() + "distance " + std::to_string(j + 1) + " lies on the diagonal and is not zero");
            if (v != t.values[j * n + i])
                throw input_error(at() + "distance " + std::to_string(j + 1) + " differs from distance " +
                                  std::to_string(i + 1) + " on " + t.where(j) + ": the matrix is not symmetric");
        }
    // Symmetric, so the rows read are also the columns.
    return square{n, std::move(t.values)};
}

square read_distances_file(const std::string& path) {
    std::ifstream in = open(path);
    return read_distances(in, path);
}

void squared_distances(const points& p, double* out) {
    const std::size_t n = p.count;
    // Every entry is computed on its own, column by column, so that the writes run in order;
    // (a - b)^2 and (b - a)^2 are the same double, so the result is still exactly symmetric.
    for (std::size_t j = 0; j < n; ++j) {
        const double* b = &p.values[j * p.dims];
        double* column = out + j * n;
        for (std::size_t i = 0; i < n; ++i) {
            const double* a = &p.values[i * p.dims];
            double sum = 0.0;
            for (std::size_t k = 0; k < p.dims; ++k) {
                const double diff = a[k] - b[k];
                sum += diff * diff;
            }
            column[i] = sum;
        }
    }
}

square squared_distances(const points& p) {
    square d{p.count, std::vector<double>(p.count * p.count)};
    squared_distances(p, d.values.data());
    return d;
}

}  // namespace rotalign
