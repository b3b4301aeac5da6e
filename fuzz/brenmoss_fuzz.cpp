// brenmoss under the fuzzer: [scaled, affinities, scales] = brenmoss(D, K).
#include "local_scale_judge.h"

namespace toolbox_fuzz {
namespace {

void judge(const call_case& c, const outcome& o) {
    judge_local_scaling(c, o, toolbox_test::bounded_geometric_scale, toolbox_test::exp_of_minus);
}

}  // namespace

const target fuzz_target = {"brenmoss", {1, 3, 2, 2, true, 12, 12, 40}, judge};

}  // namespace toolbox_fuzz
