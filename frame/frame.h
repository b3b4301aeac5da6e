/* frame.h: what every gateway of the toolbox shares.
 *
 * Each plug-in includes this header once, in its single source file; everything here is
 * file-local to that plug-in. The host's error exit never returns: the host abandons the call
 * and releases what the call took.
 */
#ifndef TOOLBOX_FRAME_H
#define TOOLBOX_FRAME_H

#include "mex.h"

#include <cstddef>
#include <cstdlib>

/* Raises `message` through the host's error exit. */
[[noreturn]] static inline void fail(const char* message)
{
    mexErrMsgTxt(message);
    std::abort(); /* not reached: the error exit does not return */
}

/* Tests the argument counts against the plug-in's bounds, in the order every gateway uses:
 * outputs below, outputs above, inputs below, inputs above. */
static inline void check_counts(int nlhs, int min_out, int max_out, int nrhs, int min_in, int max_in)
{
    if (nlhs < min_out) fail("Too few output arguments.");
    if (nlhs > max_out) fail("Too many output arguments.");
    if (nrhs < min_in) fail("Too few input arguments.");
    if (nrhs > max_in) fail("Too many input arguments.");
}

/* Truncates a scalar argument toward zero to a 32-bit signed count. Returns false, leaving
 * *count alone, for NaN, infinities and values whose truncation does not fit 32 bits, for
 * which the conversion would be undefined. */
static inline bool truncate_count(double value, int* count)
{
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    *count = static_cast<int>(value);
    return true;
}

/* Whether the first two dimensions of `array` are equal; further dimensions are not compared. */
static inline bool is_square(const mxArray* array)
{
    const mwSize* dims = mxGetDimensions(array);
    return dims[0] == dims[1];
}

/* Whether `array`, whose first two dimensions are equal to N, holds a first N-by-N page. Only a
 * zero among the further dimensions (N-by-N-by-0) leaves it without one, and then it holds no
 * value at all to read or write. */
static inline bool has_first_page(const mxArray* array)
{
    const std::size_t n = static_cast<std::size_t>(mxGetDimensions(array)[0]);
    return mxGetNumberOfElements(array) >= n * n;
}

/* Messages that several gateways share. */
static const char* const msg_distance_not_square = "Distance matrix must be square";
static const char* const msg_distance_not_double = "Distance matrix must be of class double";

#endif
