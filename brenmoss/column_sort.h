/* column_sort.h: the column sort of the local-scaling plug-ins and the selections that give,
 * for any column, exactly the value that the sort leaves at a given index.
 *
 * Included once by each local-scaling plug-in (everything here is file-local to it) and by the
 * tests. The sort's partition scheme decides where values that are not numbers end up, and so
 * which value a column's order statistic is; the selections reproduce it bit for bit.
 */
#ifndef BRENMOSS_COLUMN_SORT_H
#define BRENMOSS_COLUMN_SORT_H

#include "mex.h"

#include <algorithm>
#include <cmath>
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

/* The value that mysort would leave at `index` (0 <= index < count), in linear expected time,
 * for a range without NaN: every ascending order then holds the same value at each index, and
 * equal doubles have the same bits unless they are zeros of both signs, so the result is exact
 * unless it is a zero and the range holds +0.0 and -0.0. Reorders values[0 .. count-1]. */
static inline double select_linear(double* values, mwSize count, mwSize index)
{
    std::nth_element(values, values + index, values + count);
    return values[index];
}

/* For a small index: one pass over column[0 .. count-1] (0 <= index < count) that keeps the
 * index+1 smallest values seen so far, without copying the column. Returns false at the first
 * NaN; otherwise *value is the value at index of every ascending order, exact as for
 * select_linear. The values kept stand in descending order in a window of scratch (count
 * doubles), the largest first: it is the bar that a value must pass, and a value that passes
 * costs little both when it lands just below the bar (random columns) and when it is a new
 * smallest (columns that fall): then the window moves on by one, leaving the old bar behind. */
static inline bool select_smallest(const double* column, mwSize count, mwSize index, double* scratch, double* value)
{
    for (mwSize i = 0; i <= index; ++i) {
        const double x = column[i];
        if (x != x) return false;
        mwSize at = i;
        for (; at > 0 && scratch[at - 1] < x; --at) scratch[at] = scratch[at - 1];
        scratch[at] = x;
    }
    mwSize lo = 0;  // the window is scratch[lo .. lo+index]
    for (mwSize i = index + 1; i < count; ++i) {
        const double x = column[i];
        if (x >= scratch[lo]) continue;
        if (x != x) return false;
        const mwSize hi = lo + index;
        if (x >= scratch[hi]) {
            // Into the window: the values above x move up over the bar.
            mwSize at = lo;
            for (; scratch[at + 1] > x; ++at) scratch[at] = scratch[at + 1];
            scratch[at] = x;
        } else {
            // A new smallest value. The window moves at most once per value read after the
            // first index+1, so hi + 1 <= i < count: there is always room behind it.
            scratch[hi + 1] = x;
            ++lo;
        }
    }
    *value = scratch[lo];
    return true;
}

/* Whether column[0 .. count-1] holds both +0.0 and -0.0. */
static inline bool holds_both_zeros(const double* column, mwSize count)
{
    bool positive = false;
    bool negative = false;
    for (mwSize i = 0; i < count; ++i)
        if (column[i] == 0.0) (std::signbit(column[i]) ? negative : positive) = true;
    return positive && negative;
}

/* Up to this index the single pass of select_smallest is used; beyond it a value landing inside
 * the window would move too many others, and the copy with select_linear is cheaper. */
static const mwSize smallest_index_limit = 32;

/* The value that mysort would leave at `index` (0 <= index < count) of column[0 .. count-1],
 * using scratch (count doubles) and leaving the column alone. A selection by value is taken
 * where it is exact, the one that follows the sort's partitions elsewhere: for a column with
 * NaN, or a zero selected from a column with zeros of both signs. Built with
 * BRENMOSS_FULL_SORT, it sorts a copy of the whole column instead. */
static inline double order_statistic(const double* column, mwSize count, mwSize index, double* scratch)
{
#ifndef BRENMOSS_FULL_SORT
    bool by_value = false;
    double value = 0.0;
    if (index < smallest_index_limit) {
        by_value = select_smallest(column, count, index, scratch, &value);
    } else {
        bool nan = false;
        for (mwSize i = 0; i < count; ++i) {
            scratch[i] = column[i];
            nan |= column[i] != column[i];
        }
        if (!nan) {
            by_value = true;
            value = select_linear(scratch, count, index);
        }
    }
    if (by_value && !(value == 0.0 && holds_both_zeros(column, count))) return value;
    std::memcpy(scratch, column, static_cast<std::size_t>(count) * sizeof(double));
    return select_by_partition(scratch, count, index);
#else
    std::memcpy(scratch, column, static_cast<std::size_t>(count) * sizeof(double));
    mysort(scratch, count);
    return scratch[index];
#endif
}

#endif
