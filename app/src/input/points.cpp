// Reading points and distance matrices (CSV or .npy), and the distances between points.
#include "rotalign/input/points.h"

#include "input/byte_source.h"
#include "rotalign/support/memory.h"
#include "support/table.h"

#include <algorithm>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace rotalign {
namespace {

// How messages name the input at `path`.
std::string input_name(const std::string& path) { return path == standard_input ? "standard input" : path; }

detail::table read_table(detail::byte_source& in, const std::string& source, const char* what) {
    try {
        return detail::is_npy(in) ? detail::read_npy(in, source, what) : detail::read_csv(in, source, what);
    } catch (const memory_error&) {
        throw;
    } catch (const std::bad_alloc&) {
        throw memory_error("out of memory while reading " + source + " (" + byte_size(static_cast<double>(in.consumed())) +
                           " read)");
    }
}

// The table of the file at `path`, or of standard input for "-". The size of a regular file lets
// the readers refuse a .npy header that promises more values than the file holds; pipes, FIFOs
// and files of the kernel (which claim no size) are read to their end.
detail::table read_table_file(const std::string& path, const char* what) {
    if (path == standard_input) {
        detail::byte_source in(std::cin);
        return read_table(in, input_name(path), what);
    }
    std::ifstream file(path, std::ios::binary);
    if (!file) throw input_error("cannot read " + path + ": " + std::strerror(errno));
    std::error_code ec;
    std::optional<std::uint64_t> size;
    if (std::filesystem::is_regular_file(path, ec))
        if (const std::uintmax_t bytes = std::filesystem::file_size(path, ec); !ec && bytes > 0) size = bytes;
    detail::byte_source in(file, size);
    return read_table(in, path, what);
}

// Entry (i, j) of the squared distances: the sum from zero of (a_k - b_k)^2 over the coordinates
// in order, a point i and b point j, from coordinate-major storage c (coordinate k of point i
// at c[k * n + i]). (a - b)^2 and (b - a)^2 are the same double, so the matrix is exactly
// symmetric.
inline double squared_distance(const double* c, std::size_t n, std::size_t dims, std::size_t i, std::size_t j) {
    double sum = 0.0;
    for (std::size_t k = 0; k < dims; ++k) {
        const double diff = c[k * n + i] - c[k * n + j];
        sum += diff * diff;
    }
    return sum;
}

// Writes the n-by-n squared distances by columns to out; `fixed` is the number of coordinates
// when known at compile time (0: `dims`). Two rows at a time, each summed in the order above;
// the columns go to memory with streaming stores, which do not first read the lines they
// fill: the matrix is far larger than any cache, and writing it is what this step costs.
template <std::size_t fixed>
void distance_columns(const double* c, std::size_t n, std::size_t dims, double* out) {
    const std::size_t d = fixed != 0 ? fixed : dims;
    for (std::size_t j = 0; j < n; ++j) {
        double* column = out + j * n;
        std::size_t i = 0;
#if defined(__SSE2__)
        if (reinterpret_cast<std::uintptr_t>(column) % 16 != 0 && n > 0) column[i++] = squared_distance(c, n, d, 0, j);
        for (; i + 2 <= n; i += 2) {
            __m128d sum = _mm_setzero_pd();
            for (std::size_t k = 0; k < d; ++k) {
                const __m128d diff = _mm_sub_pd(_mm_loadu_pd(c + k * n + i), _mm_set1_pd(c[k * n + j]));
                sum = _mm_add_pd(sum, _mm_mul_pd(diff, diff));
            }
            _mm_stream_pd(column + i, sum);
        }
#endif
        for (; i < n; ++i) column[i] = squared_distance(c, n, d, i, j);
    }
#if defined(__SSE2__)
    _mm_sfence();  // the streaming stores are seen before anything that follows
#endif
}

points points_of(detail::table t) { return points{t.rows(), t.columns, std::move(t.values)}; }

square distances_of(detail::table t, const std::string& source) {
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

}  // namespace

points read_points(std::istream& in, const std::string& source) {
    detail::byte_source bytes(in);
    return points_of(read_table(bytes, source, "coordinate"));
}

points read_points_file(const std::string& path) { return points_of(read_table_file(path, "coordinate")); }

square read_distances(std::istream& in, const std::string& source) {
    detail::byte_source bytes(in);
    return distances_of(read_table(bytes, source, "distance"), source);
}

square read_distances_file(const std::string& path) {
    return distances_of(read_table_file(path, "distance"), input_name(path));
}

bool squared_distances_overflow(const points& p) {
    double spread = 0.0;
    for (std::size_t k = 0; k < p.dims; ++k) {
        double lo = HUGE_VAL, hi = -HUGE_VAL;
        for (std::size_t i = 0; i < p.count; ++i) {
            lo = std::min(lo, p.values[i * p.dims + k]);
            hi = std::max(hi, p.values[i * p.dims + k]);
        }
        if (p.count > 0) spread += (hi - lo) * (hi - lo);
    }
    return !(spread <= DBL_MAX / 4);
}

void squared_distances(const points& p, double* out) {
    const std::size_t n = p.count, dims = p.dims;
    // Coordinate k of every point side by side, so that a run of rows is one contiguous read.
    std::vector<double> coordinates(n * dims);
    for (std::size_t i = 0; i < n; ++i)
        for (std::size_t k = 0; k < dims; ++k) coordinates[k * n + i] = p.values[i * dims + k];
    switch (dims) {
    case 1: distance_columns<1>(coordinates.data(), n, dims, out); break;
    case 2: distance_columns<2>(coordinates.data(), n, dims, out); break;
    case 3: distance_columns<3>(coordinates.data(), n, dims, out); break;
    default: distance_columns<0>(coordinates.data(), n, dims, out); break;
    }
}

square squared_distances(const points& p) {
    square d{p.count, std::vector<double>(p.count * p.count)};
    squared_distances(p, d.values.data());
    return d;
}

}  // namespace rotalign
