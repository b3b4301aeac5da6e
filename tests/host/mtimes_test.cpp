// The host function "mtimes" and the dispatch of mexCallMATLAB by name.
#include "plugins.h"

using mexhost::array_ptr;

namespace {

array_ptr product(const mxArray* a, const mxArray* b) {
    mxArray* in[] = {const_cast<mxArray*>(a), const_cast<mxArray*>(b)};
    mxArray* out[1] = {nullptr};
    mexCallMATLAB(1, out, 2, in, "mtimes");
    return array_ptr(out[0]);
}

std::string error_of_product(const mxArray* a, const mxArray* b, const char* name = "mtimes") {
    mxArray* in[] = {const_cast<mxArray*>(a), const_cast<mxArray*>(b)};
    mxArray* out[1] = {nullptr};
    try {
        mexCallMATLAB(1, out, 2, in, name);
    } catch (const mexhost::plugin_error& e) {
        return e.what();
    }
    mxDestroyArray(out[0]);
    return "";
}

}  // namespace

TEST(host_mtimes, real_product_matches_a_hand_computed_one) {
    // A = [1 2 3; 4 5 6] (2-by-3), B = [7 8; 9 10; 11 12] (3-by-2): A*B = [58 64; 139 154].
    array_ptr a = mexhost::make_matrix(2, 3, {1, 4, 2, 5, 3, 6});
    array_ptr b = mexhost::make_matrix(3, 2, {7, 9, 11, 8, 10, 12});
    array_ptr c = product(a.get(), b.get());
    EXPECT_EQ(mexhost::dims_of(c.get()), (std::vector<mwSize>{2, 2}));
    EXPECT_EQ(mexhost::real_values(c.get()), (std::vector<double>{58, 139, 64, 154}));
}

TEST(host_mtimes, complex_product_keeps_separate_imaginary_parts) {
    // [1+2i, 3] * [2; 1-1i] = 2+4i + 3-3i = 5+1i
    array_ptr a = mexhost::make_complex_matrix(1, 2, {1, 3}, {2, 0});
    array_ptr b = mexhost::make_complex_matrix(2, 1, {2, 1}, {0, -1});
    array_ptr c = product(a.get(), b.get());
    EXPECT_EQ(mexhost::real_values(c.get()), (std::vector<double>{5}));
    EXPECT_EQ(mexhost::imag_values(c.get()), (std::vector<double>{1}));
}

TEST(host_mtimes, scalar_operands_scale_and_empty_inner_dimensions_give_zeros) {
    array_ptr s = mexhost::make_scalar(-2.0);
    array_ptr m = mexhost::make_matrix(1, 3, {1, 2, 3});
    EXPECT_EQ(mexhost::real_values(product(m.get(), s.get()).get()), (std::vector<double>{-2, -4, -6}));
    array_ptr left = mexhost::make_matrix(2, 0);
    array_ptr right = mexhost::make_matrix(0, 3);
    array_ptr c = product(left.get(), right.get());
    EXPECT_EQ(mexhost::real_values(c.get()), std::vector<double>(6, 0.0));
}

TEST(host_mtimes, mismatched_operands_and_unknown_functions_raise_errors) {
    array_ptr a = mexhost::make_matrix(2, 3);
    array_ptr b = mexhost::make_matrix(2, 3);
    EXPECT_EQ(error_of_product(a.get(), b.get()), "mtimes: inner matrix dimensions must agree");
    array_ptr sp = mexhost::make_sparse(3, 3, {0, 0, 0, 0}, {}, {});
    EXPECT_EQ(error_of_product(a.get(), sp.get()), "mtimes: sparse operands are not supported");
    EXPECT_EQ(error_of_product(a.get(), b.get(), "mrdivide"),
              "Undefined function called through mexCallMATLAB: mrdivide");
}

TEST(host_mtimes, calls_are_counted_per_function_within_a_call) {
    auto gateway = [](int, mxArray* plhs[], int, const mxArray* prhs[]) {
        mxArray* in[] = {const_cast<mxArray*>(prhs[0]), const_cast<mxArray*>(prhs[0])};
        mxArray* out[1];
        mexCallMATLAB(1, out, 2, in, "mtimes");
        mxDestroyArray(out[0]);
        mexCallMATLAB(1, plhs, 2, in, "mtimes");
    };
    array_ptr x = mexhost::make_matrix(2, 2, {1, 0, 0, 1});
    mexhost::call_stats stats;
    auto out = mexhost::call_gateway(gateway, 1, {x.get()}, &stats);
    EXPECT_EQ(stats.host_calls_of("mtimes"), 2u);
    EXPECT_TRUE(stats.left_nothing());
}
