// The host's reuse of released storage: zeros where they are promised, exact copies, and large
// blocks kept as long as the mapped memory stays within what was once in use.
#include "plugins.h"

#include <cmath>
#include <cstring>

using mexhost::array_ptr;

namespace {

// 600-by-600 doubles (2.7 MiB): mapped on its own where the host maps blocks.
constexpr mwSize side = 600;
constexpr std::size_t entries = static_cast<std::size_t>(side) * side;

void scribble(mxArray* a) {
    double* v = mxGetPr(a);
    for (std::size_t i = 0; i < entries; ++i) v[i] = 1.0 + static_cast<double>(i);
}

bool all_zero(const mxArray* a) {
    const double* v = mxGetPr(a);
    for (std::size_t i = 0; i < entries; ++i)
        if (v[i] != 0.0 || std::signbit(v[i])) return false;
    return true;
}

}  // namespace

TEST(host_memory, a_reused_block_is_cleared_where_zeros_are_promised) {
    for (int round = 0; round < 3; ++round) {
        array_ptr dirty(mxCreateDoubleMatrix(side, side, mxCOMPLEX));
        scribble(dirty.get());
        std::memset(mxGetPi(dirty.get()), 0xff, entries * sizeof(double));
        dirty.reset();
        array_ptr fresh(mxCreateDoubleMatrix(side, side, mxCOMPLEX));
        EXPECT_TRUE(all_zero(fresh.get()));
        EXPECT_EQ(mexhost::imag_values(fresh.get()), std::vector<double>(entries, 0.0));
        auto* block = static_cast<double*>(mxCalloc(entries, sizeof(double)));
        EXPECT_EQ(std::vector<double>(block, block + entries), std::vector<double>(entries, 0.0));
        std::memset(block, 0xff, entries * sizeof(double));
        mxFree(block);
    }
}

TEST(host_memory, a_duplicate_in_a_reused_block_is_an_exact_copy) {
    array_ptr source(mxCreateDoubleMatrix(side, side, mxREAL));
    scribble(source.get());
    mxGetPr(source.get())[7] = -0.0;
    array_ptr old = mexhost::make_matrix_for_overwrite(side, side);
    std::memset(mxGetPr(old.get()), 0x5a, entries * sizeof(double));
    old.reset();
    array_ptr copy(mxDuplicateArray(source.get()));
    EXPECT_TRUE(mexhost::identical(source.get(), copy.get()));
    array_ptr overwritten = mexhost::make_matrix_for_overwrite(side, 3);
    EXPECT_EQ(mexhost::dims_of(overwritten.get()), (std::vector<mwSize>{side, 3}));
}

TEST(host_memory, blocks_in_use_together_are_all_reused_and_no_more_are_kept) {
    if (sizeof(void*) < 8) GTEST_SKIP() << "too little address space";
    const array_ptr probe = mexhost::make_matrix_for_overwrite(side, side);
    if (mexhost::host_memory_usage().in_use == 0) GTEST_SKIP() << "array storage comes from the C heap here";
    // Three 12,000-by-12,000 matrices (1.07 GiB each) in use at once, as the chain holds its
    // distances and the affinity plug-in's two outputs. Storage for overwriting is never
    // touched here, so only address space is taken.
    const mwSize n = 12000;
    auto three = [n] {
        std::vector<array_ptr> a;
        for (int i = 0; i < 3; ++i) a.push_back(mexhost::make_matrix_for_overwrite(n, n));
        return a;
    };
    three();
    const mexhost::memory_usage before = mexhost::host_memory_usage();
    EXPECT_GE(before.kept, 3 * static_cast<std::size_t>(n) * n * sizeof(double));
    {
        std::vector<array_ptr> again = three();
        EXPECT_EQ(mexhost::host_memory_usage().mapped, before.mapped) << "a block was mapped anew";
    }
    // Blocks of other sizes map fresh memory, and the kept blocks make room for them: what is
    // mapped stays within 1 GiB more than the most that was in use at once.
    std::vector<array_ptr> others;
    for (int i = 0; i < 4; ++i) others.push_back(mexhost::make_matrix_for_overwrite(n, n / 2 + i));
    const mexhost::memory_usage after = mexhost::host_memory_usage();
    EXPECT_GT(after.mapped, before.mapped);
    EXPECT_LT(after.kept, before.kept);
    EXPECT_LE(after.in_use + after.kept, after.peak_in_use + (std::size_t{1} << 30));
    // Released on request, the kept blocks are gone; the arrays in use stay, and the next array
    // of a kept size maps its block anew.
    mexhost::release_kept_memory();
    const mexhost::memory_usage released = mexhost::host_memory_usage();
    EXPECT_EQ(released.kept, 0u);
    EXPECT_EQ(released.in_use, after.in_use);
    const array_ptr fresh = mexhost::make_matrix_for_overwrite(n, n);
    EXPECT_GT(mexhost::host_memory_usage().mapped, released.mapped);
}

TEST(host_memory, prepared_blocks_serve_the_next_arrays_of_their_size) {
    const array_ptr probe = mexhost::make_matrix_for_overwrite(side, side);
    if (mexhost::host_memory_usage().in_use == 0) GTEST_SKIP() << "array storage comes from the C heap here";
    // A size no other test uses, so that no kept block serves it by chance.
    const mwSize rows = 777, columns = 555;
    const std::size_t bytes = static_cast<std::size_t>(rows) * columns * sizeof(double);
    mexhost::prepare_memory(bytes, 2);
    const mexhost::memory_usage prepared = mexhost::host_memory_usage();
    EXPECT_GE(prepared.kept, 2 * bytes);
    array_ptr a(mxCreateDoubleMatrix(rows, columns, mxREAL));
    array_ptr b = mexhost::make_matrix_for_overwrite(rows, columns);
    EXPECT_EQ(mexhost::host_memory_usage().mapped, prepared.mapped) << "an array of the prepared size mapped anew";
    const double* v = mxGetPr(a.get());
    for (std::size_t i = 0; i < bytes / sizeof(double); ++i) ASSERT_EQ(v[i], 0.0);
    std::memset(mxGetPr(b.get()), 0x7f, bytes);  // the storage is writable while it is faulted in
    // Released, the two blocks are kept, and preparing that size again maps nothing.
    a.reset();
    b.reset();
    mexhost::prepare_memory(bytes, 2);
    EXPECT_EQ(mexhost::host_memory_usage().mapped, prepared.mapped);
}
