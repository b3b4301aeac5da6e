// The call contract that the fuzz programs check after every call of a gateway: either the
// error exit with the one message that the inputs call for and no output, or exactly the outputs
// the plug-in promises (number, class, shape, storage, the input's sparse pattern), with nothing
// left for the host to reclaim beyond what the plug-in's contract allows, and the inputs unchanged.
#pragma once

#include "decoder.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace toolbox_fuzz {

// One fuzz program: the plug-in it calls, the shape of its calls, and the judge of a call whose
// argument counts are within the bounds (the runner checks the count messages itself).
struct outcome;
struct target {
    const char* plugin;
    call_form form;
    void (*judge)(const call_case& c, const outcome& o);
};

// Defined by each fuzz program.
extern const target fuzz_target;

// What a call ended with.
struct outcome {
    bool failed = false;
    std::string message;  // the error-exit message, when failed
    std::vector<mexhost::array_ptr> outputs;
    mexhost::call_stats stats;
};

// A broken contract: prints it with the call that broke it and aborts, so that libFuzzer keeps
// the input. Checks whose message is built from values call it behind their own test, so that
// the message is only built for a finding.
[[noreturn]] void finding(const std::string& what);
inline void require(bool ok, const char* what) {
    if (!ok) finding(what);
}

inline std::uint64_t bits(double v) {
    std::uint64_t b;
    std::memcpy(&b, &v, sizeof b);
    return b;
}

// The same result: the same bits, or both not a number. The sign and payload of a NaN that
// arithmetic makes depend on which operand the processor propagates, which the order of
// operations does not fix.
inline bool same_result(double a, double b) {
    return bits(a) == bits(b) || (a != a && b != b);
}

// A double in full: "1.5 (0x3ff8000000000000)".
std::string show(double v);

inline bool is_square(const mxArray* a) {
    const mwSize* dims = mxGetDimensions(a);
    return dims[0] == dims[1];
}

// Whether the square (first two dimensions N) array `a` holds a first N-by-N page: not when a
// further dimension is 0.
inline bool has_page(const mxArray* a) {
    const auto n = static_cast<std::size_t>(mxGetDimensions(a)[0]);
    return mxGetNumberOfElements(a) >= n * n;
}

// The message of the host's scalar read of `a` ("" when it gives a value).
std::string scalar_message(const mxArray* a);

// The call failed with exactly `message`; the host reclaimed at most `reclaimed_arrays` arrays
// and `reclaimed_blocks` scratch blocks (none, unless the message comes from a host operation
// that fails in the middle of the plug-in's work).
void require_error(const outcome& o, const std::string& message, std::size_t reclaimed_arrays = 0,
                   std::size_t reclaimed_blocks = 0);
// The call succeeded with `count` outputs, leaving exactly `reclaimed_arrays` arrays and no
// scratch block for the host to reclaim.
void require_outputs(const outcome& o, std::size_t count, std::size_t reclaimed_arrays = 0);
// `out` is a copy of `in` apart from the real values at the positions the plug-in computes: the
// same class, dimensions, storage, sparse pattern and unused slots, imaginary parts, and the
// real values of the pages after the first.
void require_shape_copy(const mxArray* out, const mxArray* in, const std::string& name);

// Calls f(offset, row, column) for each position of `a` that a shape-keeping plug-in computes:
// the N*N values of the first page of a dense N-by-N array (none when the array holds fewer,
// having no page at all), or each stored entry of a sparse one.
template <typename F>
void for_each_entry(const mxArray* a, F f) {
    const mwSize n = mxGetDimensions(a)[0];
    if (mxIsSparse(a)) {
        const mwIndex* jc = mxGetJc(a);
        const mwIndex* ir = mxGetIr(a);
        for (mwSize j = 0; j < n; ++j)
            for (mwIndex k = jc[j]; k < jc[j + 1]; ++k) f(static_cast<std::size_t>(k), ir[k], j);
        return;
    }
    if (!has_page(a)) return;
    for (mwSize j = 0; j < n; ++j)
        for (mwSize i = 0; i < n; ++i)
            f(static_cast<std::size_t>(i) + static_cast<std::size_t>(j) * static_cast<std::size_t>(n), i, j);
}

// Decodes one input, calls the plug-in and checks the outcome; with the repeat flag calls it a
// second time and requires the same bits.
void run_one(mexhost::plugin& p, const target& t, const std::uint8_t* data, std::size_t size);

}  // namespace toolbox_fuzz
