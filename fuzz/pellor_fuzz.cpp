// pellor under the fuzzer: A = pellor(D, sigma).
#include "contract.h"

#include <cmath>

namespace toolbox_fuzz {
namespace {

void judge(const call_case& c, const outcome& o) {
    const mxArray* d = c.inputs[0].get();
    const mxArray* sigma = c.inputs[1].get();

    // The scale is read first, then D's shape, then D's class.
    std::string expected = scalar_message(sigma);
    if (expected.empty() && !is_square(d)) expected = "Distance matrix must be square";
    if (expected.empty() && !mxIsDouble(d)) expected = "Distance matrix must be of class double";
    if (!expected.empty()) return require_error(o, expected);

    require_outputs(o, 1);
    const mxArray* a = o.outputs[0].get();
    require_shape_copy(a, d, "A");
    const double s = mxGetScalar(sigma);
    const double s2 = s * s;
    const double* in = mxGetPr(d);
    const double* out = mxGetPr(a);
    for_each_entry(d, [&](std::size_t k, mwIndex, mwIndex) {
        const double expected = std::exp(-in[k] / s2);
        if (!same_result(out[k], expected))
            finding("A at offset " + std::to_string(k) + " is " + show(out[k]) + ", exp(-D / sigma^2) " +
                    show(expected));
    });
}

}  // namespace

const target fuzz_target = {"pellor", {1, 1, 2, 2, true, 12, 12}, judge};

}  // namespace toolbox_fuzz
