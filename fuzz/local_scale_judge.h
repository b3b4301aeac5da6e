// The judge of the two local-scaling plug-ins, [scaled, affinities, scales] = plugin(D, K): the
// messages in their order, then every output against a direct reading of the computation (each
// column fully sorted, the order statistic read out of it, every entry's formula).
#pragma once

#include "contract.h"
#include "local_scale_reference.h"

namespace toolbox_fuzz {

// The neighbour count as the gateways take it: truncated toward zero, false when that does not
// give a 32-bit count.
inline bool neighbour_count(const mxArray* k, int* count) {
    const double value = mxGetScalar(k);
    if (!(value > -2147483649.0 && value < 2147483648.0)) return false;
    *count = static_cast<int>(value);
    return true;
}

// The message that D and K call for, in the order the gateways test them; "" for none.
inline std::string local_scaling_message(const mxArray* d, const mxArray* k) {
    std::string message = scalar_message(k);
    if (!message.empty()) return message;
    if (!is_square(d)) return "Distance matrix must be square";
    if (!mxIsDouble(d)) return "Distance matrix must be of class double";
    // K only matters when D holds values (not 0-by-0, not N-by-N-by-0).
    const mwSize n = mxGetDimensions(d)[0];
    if (n == 0 || !has_page(d)) return "";
    int count = 0;
    const bool read = neighbour_count(k, &count);
    if (mxIsSparse(d) && !(read && count >= 1))
        return "Neighbour count must be at least 1 for a sparse distance matrix";
    if (!mxIsSparse(d) && !(read && count >= 0 && count <= n - 1))
        return "Neighbour count must be from 0 to N-1 for a dense distance matrix";
    return "";
}

// `dense_scale` and `dense_affinity` are the plug-in's formulas for dense D; sparse D always
// takes the bounded geometric scale and exp(-d/s).
inline void judge_local_scaling(const call_case& c, const outcome& o, toolbox_test::pair_scale dense_scale,
                                toolbox_test::affinity_of dense_affinity) {
    const mxArray* d = c.inputs[0].get();
    const mxArray* k = c.inputs[1].get();
    const std::string message = local_scaling_message(d, k);
    if (!message.empty()) return require_error(o, message);

    require_outputs(o, static_cast<std::size_t>(c.nlhs));
    const char* names[] = {"scaled", "affinities", "scales"};
    for (int i = 0; i < c.nlhs; ++i) require_shape_copy(o.outputs[i].get(), d, names[i]);
    const auto n = static_cast<std::size_t>(mxGetDimensions(d)[0]);
    if (n == 0 || !has_page(d)) return;

    int count = 0;
    neighbour_count(k, &count);
    const std::vector<double> values = mexhost::real_values(d);
    const toolbox_test::local_scaling_result expected =
        mxIsSparse(d)
            ? toolbox_test::sparse_reference(mexhost::jc_of(d), mexhost::ir_of(d), values,
                                             static_cast<std::size_t>(count))
            : toolbox_test::dense_reference(values, n, static_cast<std::size_t>(count), dense_scale, dense_affinity);
    const std::vector<double>* wanted[] = {&expected.scaled, &expected.affinities, &expected.scales};
    for (int i = 0; i < c.nlhs; ++i) {
        const std::vector<double> got = mexhost::real_values(o.outputs[i].get());
        for (std::size_t at = 0; at < got.size(); ++at)
            if (!same_result(got[at], (*wanted[i])[at]))
                finding(std::string(names[i]) + " at offset " + std::to_string(at) + " is " + show(got[at]) +
                        ", the reference " + show((*wanted[i])[at]));
    }
}

}  // namespace toolbox_fuzz
