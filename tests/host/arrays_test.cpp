// The host's arrays: creation, duplication, cells, scalars, and the faults it reports.
#include "plugins.h"

#include <cmath>
#include <limits>

using mexhost::array_ptr;
using namespace toolbox_test;

TEST(host_arrays, new_arrays_are_zero_filled_with_their_shape) {
    array_ptr a(mxCreateDoubleMatrix(3, 4, mxCOMPLEX));
    EXPECT_EQ(mexhost::dims_of(a.get()), (std::vector<mwSize>{3, 4}));
    EXPECT_EQ(mexhost::real_values(a.get()), std::vector<double>(12, 0.0));
    EXPECT_EQ(mexhost::imag_values(a.get()), std::vector<double>(12, 0.0));
    EXPECT_TRUE(mxIsComplex(a.get()));
    EXPECT_FALSE(mxIsSparse(a.get()));
}

TEST(host_arrays, trailing_singleton_dimensions_are_dropped_beyond_the_second) {
    array_ptr a = mexhost::make_array({2, 3, 1, 1});
    EXPECT_EQ(mxGetNumberOfDimensions(a.get()), 2);
    array_ptr b = mexhost::make_array({2, 2, 3});
    EXPECT_EQ(mexhost::dims_of(b.get()), (std::vector<mwSize>{2, 2, 3}));
    EXPECT_EQ(mxGetN(b.get()), 6u);
    EXPECT_EQ(mxGetNumberOfElements(b.get()), 12u);
}

TEST(host_arrays, sparse_creation_gives_empty_columns_and_at_least_one_slot) {
    array_ptr s(mxCreateSparse(5, 3, 0, mxREAL));
    EXPECT_EQ(mexhost::jc_of(s.get()), (std::vector<mwIndex>{0, 0, 0, 0}));
    EXPECT_EQ(mxGetNzmax(s.get()), 1);
    EXPECT_TRUE(mxIsSparse(s.get()));
}

TEST(host_arrays, duplicate_is_a_deep_independent_copy_of_a_sparse_complex_array) {
    // Column 1 is empty; an explicitly stored zero; spare capacity beyond the stored values.
    array_ptr s(mxCreateSparse(4, 3, 6, mxCOMPLEX));
    const mwIndex jc[] = {0, 2, 2, 4};
    const mwIndex ir[] = {1, 3, 0, 2};
    const double re[] = {1.5, 0.0, -2.0, 7.0};
    const double im[] = {0.5, -1.0, 0.0, 3.0};
    std::copy(jc, jc + 4, mxGetJc(s.get()));
    std::copy(ir, ir + 4, mxGetIr(s.get()));
    std::copy(re, re + 4, mxGetPr(s.get()));
    std::copy(im, im + 4, mxGetPi(s.get()));
    array_ptr copy(mxDuplicateArray(s.get()));
    EXPECT_TRUE(mexhost::identical(copy.get(), s.get()));
    EXPECT_EQ(mxGetNzmax(copy.get()), 6);
    EXPECT_NE(mxGetPr(copy.get()), mxGetPr(s.get()));
    mxGetPr(copy.get())[0] = 99.0;
    mxGetIr(copy.get())[0] = 0;
    EXPECT_EQ(mxGetPr(s.get())[0], 1.5);
    EXPECT_EQ(mxGetIr(s.get())[0], 1);
}

TEST(host_arrays, duplicate_keeps_class_and_dimensions_of_numeric_arrays) {
    array_ptr a = mexhost::make_numeric(mxINT32_CLASS, {2, 1, 3});
    static_cast<int32_t*>(mxGetData(a.get()))[5] = -7;
    array_ptr copy(mxDuplicateArray(a.get()));
    EXPECT_TRUE(mexhost::identical(copy.get(), a.get()));
    EXPECT_EQ(mxGetClassID(copy.get()), mxINT32_CLASS);
    EXPECT_STREQ(mxGetClassName(copy.get()), "int32");
}

TEST(host_arrays, cells_take_their_elements_over_and_duplicate_deeply) {
    array_ptr cell(mxCreateCellMatrix(1, 2));
    mxArray* element = mexhost::make_matrix(1, 2, {3.0, 4.0}).release();
    mxSetCell(cell.get(), 1, element);
    EXPECT_EQ(mxGetCell(cell.get(), 1), element);
    EXPECT_EQ(mxGetCell(cell.get(), 0), nullptr);
    EXPECT_THROW(mxDestroyArray(element), mexhost::host_fault);
    EXPECT_THROW(mxSetCell(cell.get(), 0, element), mexhost::host_fault);
    EXPECT_THROW(mxGetCell(cell.get(), 2), mexhost::host_fault);
    array_ptr copy(mxDuplicateArray(cell.get()));
    EXPECT_TRUE(mexhost::identical(copy.get(), cell.get()));
    EXPECT_NE(mxGetCell(copy.get(), 1), element);
}

TEST(host_arrays, destroying_twice_or_a_foreign_pointer_is_a_fault) {
    mxArray* a = mxCreateDoubleMatrix(1, 1, mxREAL);
    mxDestroyArray(a);
    EXPECT_THROW(mxDestroyArray(a), mexhost::host_fault);
    double local = 0;
    EXPECT_THROW(mxFree(&local), mexhost::host_fault);
    void* block = mxCalloc(4, 8);
    mxFree(block);
    EXPECT_THROW(mxFree(block), mexhost::host_fault);
}

TEST(host_arrays, calloc_blocks_are_zero_filled) {
    auto* block = static_cast<double*>(mxCalloc(1000, sizeof(double)));
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(block[i], 0.0);
    mxFree(block);
    auto* big = static_cast<double*>(mxCalloc(1 << 20, sizeof(double)));  // mapped separately
    big[12345] = 1.0;
    mxFree(big);
    auto* again = static_cast<double*>(mxCalloc(1 << 20, sizeof(double)));  // may reuse that block
    EXPECT_EQ(again[12345], 0.0);
    mxFree(again);
}

TEST(host_arrays, scalar_reads_convert_the_first_element_and_reject_empty_arrays) {
    EXPECT_EQ(mxGetScalar(mexhost::make_scalar(2.5).get()), 2.5);
    array_ptr i = mexhost::make_numeric(mxINT32_CLASS, {1, 2});
    static_cast<int32_t*>(mxGetData(i.get()))[0] = -3;
    EXPECT_EQ(mxGetScalar(i.get()), -3.0);
    EXPECT_EQ(mxGetScalar(mexhost::make_string("A").get()), 65.0);
    array_ptr s = mexhost::make_sparse(2, 2, {0, 0, 1}, {1}, {6.0});
    EXPECT_EQ(mxGetScalar(s.get()), 6.0);
    try {
        mxGetScalar(mexhost::make_matrix(0, 3).get());
        FAIL() << "an empty array has no scalar";
    } catch (const mexhost::plugin_error& e) {
        EXPECT_STREQ(e.what(), "mxGetScalar: the argument is empty");
    }
}

TEST(host_arrays, reading_other_classes_as_doubles_is_a_fault) {
    array_ptr single = mexhost::make_numeric(mxSINGLE_CLASS, {2, 2});
    EXPECT_THROW(mxGetPr(single.get()), mexhost::host_fault);
    EXPECT_THROW(mxGetJc(mexhost::make_matrix(2, 2).get()), mexhost::host_fault);
}
