// nimbrel under the fuzzer: Z = nimbrel(M).
#include "contract.h"

namespace toolbox_fuzz {
namespace {

void judge(const call_case& c, const outcome& o) {
    const mxArray* m = c.inputs[0].get();
    if (!is_square(m)) return require_error(o, "Input matrix must be square");
    if (!mxIsDouble(m)) return require_error(o, "Input matrix must be of class double");

    require_outputs(o, 1);
    const mxArray* z = o.outputs[0].get();
    require_shape_copy(z, m, "Z");
    const double* in = mxGetPr(m);
    const double* out = mxGetPr(z);
    for_each_entry(m, [&](std::size_t k, mwIndex i, mwIndex j) {
        const double expected = i == j ? 0.0 : in[k];
        if (bits(out[k]) != bits(expected))
            finding("Z at offset " + std::to_string(k) + " is " + show(out[k]) + ", expected " + show(expected));
    });
}

}  // namespace

const target fuzz_target = {"nimbrel", {1, 1, 1, 1, true, 12, 12}, judge};

}  // namespace toolbox_fuzz
