// The per-call context: outputs, reclamation on return and on the error exit, and the faults that
// the loader reports when a gateway breaks the host's contract.
#include "plugins.h"

using mexhost::array_ptr;
using mexhost::call_gateway;
using mexhost::call_stats;

namespace {

// Leaves two arrays (one a cell holding another) and one scratch block behind.
void leaky(int, mxArray* plhs[], int, const mxArray*[]) {
    mxCreateDoubleMatrix(10, 10, mxREAL);
    mxArray* cell = mxCreateCellMatrix(1, 1);
    mxSetCell(cell, 0, mxCreateDoubleMatrix(2, 2, mxREAL));
    mxCalloc(16, 8);
    plhs[0] = mxCreateDoubleScalar(1.0);
}

// Makes an output and scratch, then raises an error.
void fails_late(int, mxArray* plhs[], int, const mxArray*[]) {
    plhs[0] = mxCreateDoubleMatrix(3, 3, mxREAL);
    mxCalloc(4, 8);
    mexErrMsgTxt("late failure");
}

}  // namespace

TEST(host_calls, arrays_and_blocks_left_behind_are_reclaimed_and_counted) {
    call_stats stats;
    auto out = call_gateway(leaky, 1, {}, &stats);
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(mxGetScalar(out[0].get()), 1.0);
    EXPECT_EQ(stats.reclaimed_arrays, 2u);
    EXPECT_EQ(stats.reclaimed_blocks, 1u);
    EXPECT_EQ(stats.reclaimed_bytes, 128u);
    EXPECT_EQ(stats.peak_live_arrays, 4u);
    EXPECT_FALSE(stats.left_nothing());
}

TEST(host_calls, the_error_exit_abandons_the_call_and_reclaims_its_outputs) {
    call_stats stats;
    try {
        call_gateway(fails_late, 1, {}, &stats);
        FAIL() << "the error exit must reach the caller";
    } catch (const mexhost::plugin_error& e) {
        EXPECT_STREQ(e.what(), "late failure");
    }
    EXPECT_EQ(stats.reclaimed_arrays, 1u);
    EXPECT_EQ(stats.reclaimed_blocks, 1u);
}

TEST(host_calls, a_clean_call_leaves_nothing_and_peaks_are_measured) {
    auto gateway = [](int, mxArray* plhs[], int, const mxArray* prhs[]) {
        void* scratch = mxCalloc(100, 8);
        mxArray* temp = mxDuplicateArray(prhs[0]);
        mxDestroyArray(temp);
        mxFree(scratch);
        plhs[0] = mxDuplicateArray(prhs[0]);
    };
    array_ptr input = mexhost::make_matrix(4, 4);
    call_stats stats;
    auto out = call_gateway(gateway, 1, {input.get()}, &stats);
    EXPECT_TRUE(stats.left_nothing());
    EXPECT_EQ(stats.peak_live_arrays, 1u);
    EXPECT_EQ(stats.peak_live_bytes, 800u + 128u);
    EXPECT_TRUE(mexhost::identical(out[0].get(), input.get()));
}

TEST(host_calls, the_gateway_gets_one_slot_when_no_output_is_requested) {
    auto gateway = [](int nlhs, mxArray* plhs[], int, const mxArray*[]) {
        if (nlhs == 0) plhs[0] = mxCreateDoubleScalar(5.0);
    };
    auto out = call_gateway(gateway, 0, {});
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(mxGetScalar(out[0].get()), 5.0);
}

TEST(host_calls, contract_breaches_are_faults) {
    array_ptr input = mexhost::make_matrix(2, 2, {1, 2, 3, 4});
    const std::vector<const mxArray*> inputs{input.get()};
    auto unset = [](int, mxArray*[], int, const mxArray*[]) {};
    auto writes_input = [](int, mxArray* plhs[], int, const mxArray* prhs[]) {
        mxGetPr(prhs[0])[1] = -1.0;
        plhs[0] = mxCreateDoubleScalar(0.0);
    };
    auto destroys_input = [](int, mxArray*[], int, const mxArray* prhs[]) {
        mxDestroyArray(const_cast<mxArray*>(prhs[0]));
    };
    auto returns_input = [](int, mxArray* plhs[], int, const mxArray* prhs[]) {
        plhs[0] = const_cast<mxArray*>(prhs[0]);
    };
    auto returns_cell_element = [](int, mxArray* plhs[], int, const mxArray*[]) {
        mxArray* cell = mxCreateCellMatrix(1, 1);
        mxSetCell(cell, 0, mxCreateDoubleScalar(1.0));
        plhs[0] = mxGetCell(cell, 0);
    };
    for (mexhost::gateway g : {+unset, +writes_input, +destroys_input, +returns_input, +returns_cell_element}) {
        call_stats stats;
        EXPECT_THROW(call_gateway(g, 1, inputs, &stats), mexhost::host_fault);
    }
    // The input survives every attempt; only its second value was overwritten once.
    EXPECT_EQ(mexhost::real_values(input.get()), (std::vector<double>{1, -1, 3, 4}));
    auto out = call_gateway([](int, mxArray* plhs[], int, const mxArray*[]) { plhs[0] = mxCreateDoubleScalar(2.0); },
                            1, inputs);
    EXPECT_EQ(out.size(), 1u);
}

TEST(host_calls, outputs_outlive_the_call_with_their_cell_elements) {
    auto gateway = [](int, mxArray* plhs[], int, const mxArray*[]) {
        mxArray* cell = mxCreateCellMatrix(1, 2);
        mxSetCell(cell, 0, mxCreateDoubleScalar(7.0));
        plhs[0] = cell;
    };
    call_stats stats;
    auto out = call_gateway(gateway, 1, {}, &stats);
    EXPECT_TRUE(stats.left_nothing());
    EXPECT_EQ(mxGetScalar(mxGetCell(out[0].get(), 0)), 7.0);
}
