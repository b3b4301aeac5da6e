// Points and square matrices as the program reads, makes and hands to the plug-ins.
#pragma once

#include "rotalign/support/errors.h"

#include <cstddef>
#include <istream>
#include <string>
#include <vector>

namespace rotalign {

// `count` points of `dims` coordinates each, point by point: coordinate k of point i is
// values[i * dims + k].
struct points {
    std::size_t count = 0;
    std::size_t dims = 0;
    std::vector<double> values;

    double at(std::size_t i, std::size_t k) const { return values[i * dims + k]; }
};

// An n-by-n matrix stored by columns: element (i, j) is values[i + j * n].
struct square {
    std::size_t n = 0;
    std::vector<double> values;

    double at(std::size_t i, std::size_t j) const { return values[i + j * n]; }
};

// The file name that stands for standard input.
inline const std::string standard_input = "-";

// Reads points from CSV text or a .npy file (told apart by the .npy magic, without seeking, so
// any stream serves): one point a row, values separated by commas, an optional header
// line (a first line in which no field is a number). Blank lines are skipped. `source` names the
// input in messages. Throws input_error with the line number for a row whose number of values
// differs from the first row's, a field that is not a number, or a coordinate that is NaN or
// infinite.
// The second form reads the file at `path`, or standard input for "-"; pipes and FIFOs read
// like files. Running out of memory throws memory_error naming the input.
points read_points(std::istream& in, const std::string& source);
points read_points_file(const std::string& path);

// Reads a square matrix of distances in the same CSV form. Besides the checks of read_points it
// requires as many rows as columns, no negative value, a zero diagonal and symmetry, since the
// chain works on a symmetric affinity.
square read_distances(std::istream& in, const std::string& source);
square read_distances_file(const std::string& path);

// Whether a squared distance between the points may overflow: the sum over the coordinates of
// the squared span bounds every one, and must stay below a quarter of the largest double.
// Assumes finite coordinates.
bool squared_distances_overflow(const points& p);

// Squared Euclidean distances between all pairs of points, summed over the coordinates in
// order. The matrix is exactly symmetric with a zero diagonal. The second form writes the
// p.count-by-p.count matrix by columns to `out`.
square squared_distances(const points& p);
void squared_distances(const points& p, double* out);

}  // namespace rotalign
