// The numbers of a file of points or distances, row by row, as the readers hand them on.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace rotalign::detail {

class byte_source;

struct table {
    std::size_t columns = 0;
    std::vector<double> values;           // row by row
    std::vector<std::size_t> row_lines;   // CSV: the 1-based line of each row; empty for .npy
    std::size_t row_count = 0;

    std::size_t rows() const { return row_count; }
    // Where row i stands, for messages: "line 7" in a CSV file, "row 7" in a .npy file.
    std::string where(std::size_t i) const {
        return row_lines.empty() ? "row " + std::to_string(i + 1) : "line " + std::to_string(row_lines[i]);
    }
};

// Reads CSV text: one row a line, values separated by commas, an optional header line (a first
// line in which no field is a number), blank lines skipped, CRLF and a byte-order mark accepted.
// `what` names one value in messages ("coordinate", "distance"). Throws input_error naming the
// line for a ragged row, a field that is not a number or a value that is not finite (the field
// quoted with its odd bytes escaped), and for text with NUL bytes or a UTF-16/UTF-32 byte-order
// mark, naming the encoding it looks like.
table read_csv(byte_source& in, const std::string& source, const char* what);

// Reads a NumPy .npy file of float64 or float32 values, either byte order, C or Fortran order,
// of one (N values: N rows of one) or two dimensions. Throws input_error for anything else, for
// a file cut short and for a value that is not finite (naming its row and column). Memory follows
// the bytes that are there, never the header's shape alone: a source of known size must hold
// every value before any is read; one of unknown size (a pipe) grows the array as values arrive.
table read_npy(byte_source& in, const std::string& source, const char* what);

// True when the input starts with the .npy magic; nothing is consumed.
bool is_npy(byte_source& in);

}  // namespace rotalign::detail
