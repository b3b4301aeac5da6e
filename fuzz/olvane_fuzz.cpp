// olvane under the fuzzer: [scaled, affinities, scales] = olvane(D, K).
#include "local_scale_judge.h"

namespace toolbox_fuzz {
namespace {

void judge(const call_case& c, const outcome& o) {
    judge_local_scaling(c, o, toolbox_test::mean_of_scales, toolbox_test::exp_of_minus_square);
}

}  // namespace

const target fuzz_target = {"olvane", {1, 3, 2, 2, true, 12, 12, 40}, judge};

}  // namespace toolbox_fuzz
