#include "rotalign/affinity/plugin_affinities.h"

#include <utility>

namespace rotalign {

mexhost::array_ptr plugin_affinities(toolbox& plugins, const mxArray* d, const affinity_kernel& kernel) {
    if (kernel.global()) {
        mexhost::array_ptr scale = mexhost::make_scalar(kernel.scale);
        return std::move(plugins.get("pellor").call(1, {d, scale.get()}, trusted_inputs)[0]);
    }
    const char* name = kernel.kind == affinity_kind::local ? "brenmoss" : "olvane";
    mexhost::array_ptr k = mexhost::make_scalar(static_cast<double>(kernel.neighbours));
    auto out = plugins.get(name).call(2, {d, k.get()}, trusted_inputs);
    out[0].reset();
    return std::move(out[1]);
}

}  // namespace rotalign
