/* column_sort.h: the column sort of the local-scaling plug-ins and the two selections that
 * give, for any column, exactly the value that the sort leaves at a given index.
 *
 * Included once by each local-scaling plug-in (everything here is file-local to it) and by the
 * tests. The sort's partition scheme decides where values that are not numbers end up, and so
 * which value a column's order statistic is; the selections reproduce it bit for bit.
 */
#ifndef BRENMOSS_COLUMN_SORT_H
#define BRENMOSS_COLUMN_SORT_H

#include "mex.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

/* Partitions values[0 .. count-1] (count >= 2) around its first element with two scans that
 * move towards each other, and returns the index where that pivot ends. Every element left of
 * it is not greater than the pivot, every element right of it not less. An element equal to
 * the pivot, or not a number, stops both scans; the downward scan needs no bound because
 * index 0 holds the pivot until the end, which is not greater than itself. */
static inline mwSize partition(double* values, mwSize count)
{
    const double pivot = values[0];
    mwSize i = 0;
    mwSize j = count;
    for (;;) {
        ++i;
        while (i < count && pivot > values[i]) ++i;
        --j;
        while (values[j] > pivot) --j;
        if (i >= j) break;
        std::swap(values[i], values[j]);
    }
    std::swap(values[i - 1], values[0]);
    return i - 1;
}

/* Sorts values[0 .. count-1] in place into ascending order: a quicksort with the first element
 * as pivot. A count below 2 leaves the range alone. The smaller side is sorted by a recursive
 * call and the larger one by the loop, so that the nesting stays logarithmic even on a column
 * already in order; the two sides are disjoint, so this changes no result. */
static inline void mysort(double* values, mwSize count)
{
    while (count >= 2) {
        const mwSize p = partition(values, count);
        const mwSize right = count - p - 1;
        if (p < right) {
            mysort(values, p);
            values += p + 1;
            count = right;
        } else {
            mysort(values + p + 1, right);
            count = p;
        }
    }
}

/* The value that mysort would leave at `index` (0 <= index < count), found by following only
 * the side of each partition that holds the index: the sort of the other side never touches
 * it. Reorders values[0 .. count-1]; no recursion. */
static inline double select_by_partition(double* values, mwSize count, mwSize index)
{
    while (count >= 2) {
        const mwSize p = partition(values, count);
        if (index == p) break;
        if (index < p) {
            count = p;
        } else {
            values += p + 1;
            count -= p + 1;
            index -= p + 1;
        }
    }
    return values[index];
}

/* The value that mysort would leave at `index` (0 <= index < count), in linear expected time.
 * Only for a range without NaN that does not hold both +0.0 and -0.0: there every order gives
 * the same bits at each index, because equal doubles other than the two zeros are the same
 * bits. Reorders values[0 .. count-1]. */
static inline double select_linear(double* values, mwSize count, mwSize index)
{
    std::nth_element(values, values + index, values + count);
    return values[index];
}

/* Copies column[0 .. count-1] into scratch (count doubles) and returns the value that mysort
 * would leave at `index` (0 <= index < count). The copy also tells which selection is exact
 * for this column. Built with BRENMOSS_FULL_SORT, it sorts the whole copy instead. */
static inline double order_statistic(const double* column, mwSize count, mwSize index, double* scratch)
{
#ifdef BRENMOSS_FULL_SORT
    std::memcpy(scratch, column, static_cast<std::size_t>(count) * sizeof(double));
    mysort(scratch, count);
    return scratch[index];
#else
    const std::uint64_t negative_zero = std::uint64_t{1} << 63;
    bool nan = false;
    bool positive_zero = false;
    bool signed_zero = false;
    for (mwSize i = 0; i < count; ++i) {
        const double value = column[i];
        std::uint64_t bits;
        std::memcpy(&bits, &value, sizeof bits);
        scratch[i] = value;
        nan |= value != value;
        positive_zero |= bits == 0;
        signed_zero |= bits == negative_zero;
    }
    if (nan || (positive_zero && signed_zero)) return select_by_partition(scratch, count, index);
    return select_linear(scratch, count, index);
#endif
}

#endif
