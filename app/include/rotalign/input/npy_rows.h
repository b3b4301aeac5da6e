// A .npy file of points read one block of rows at a time, for a program whose processes each
// read their own rows of one file.
#pragma once

#include "rotalign/input/points.h"

#include <cstddef>
#include <string>

namespace rotalign {

// Whether the file at `path` starts with the .npy magic (false when it cannot be read).
bool is_npy_file(const std::string& path);

// The rows and coordinates of the .npy file at `path`, with the checks of read_points_file on
// its header and size (the file must hold every value). Throws input_error.
struct npy_shape {
    std::size_t rows = 0, columns = 0;
};
npy_shape npy_shape_of(const std::string& path);

// Rows [first, first + count) of the .npy file at `path`, as read_points_file reads them (either
// byte order, C or Fortran order, float64 or float32), with its messages: a coordinate that is
// not finite is named by its row in the whole file. Throws input_error, also when the rows lie
// outside the file.
points read_npy_rows(const std::string& path, std::size_t first, std::size_t count);

}  // namespace rotalign
