// Turns the bytes of one fuzz input into one call of a gateway: how many outputs are asked for,
// how many inputs are passed, and each input array (class, shape, storage, sparse pattern,
// complexity, values).
//
// Layout, read front to back; once the bytes run out every further byte reads as 0 and every
// further value as a small positive number, so that short inputs still make full calls:
//   harness flags, output count, input count, then per input:
//     class, storage flags, dimensions, then the values (dense), or per column a row mask and
//     the stored values (sparse), or the elements (cell).
#pragma once

#include "mexhost/host.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace toolbox_fuzz {

// The shape of a plug-in's calls. Counts within the bounds and the usual shapes of the first
// input come most often, so that most calls get past the argument checks.
struct call_form {
    int min_out, max_out;  // accepted numbers of outputs
    int min_in, max_in;    // accepted numbers of inputs
    bool square;           // the first input is usually square
    mwSize max_rows;       // bounds of the first input's first two dimensions
    mwSize max_columns;
    mwSize large = 0;      // now and then a dimension from large-7 to large, for paths that
                           // only larger inputs reach (0: never)
};

struct call_case {
    int nlhs = 0;
    std::vector<mexhost::array_ptr> inputs;
    bool repeat = false;  // call twice: both calls must give the same bits

    std::vector<const mxArray*> views() const;
};

// Reads bytes front to back; past the end every byte is 0.
class byte_reader {
public:
    byte_reader(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    std::uint8_t byte();
    bool exhausted() const { return at_ >= size_; }
    // One double: a special value (NaN, infinities, -0.0, subnormal, huge, bounds of 32-bit
    // counts), a multiple of 0.25 from 0 to 31.75, or eight raw bytes.
    double value();
    void raw(void* target, std::size_t bytes);

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t at_ = 0;
    unsigned filler_ = 0;
};

call_case decode(const std::uint8_t* data, std::size_t size, const call_form& form);

}  // namespace toolbox_fuzz
