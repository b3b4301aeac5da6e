/* wide_vectors.h: a second version of a loop for processors with 256-bit vectors.
 *
 * WIDE_VECTORS before a function asks for two versions of it, one for AVX2 and the baseline one,
 * the loader choosing by the processor (GNU ifunc, so GCC on x86-64 ELF targets only; elsewhere
 * the attribute is empty). Only for loops whose every operation is exactly rounded at any width
 * (add, multiply, divide, square root, comparisons) and whose sums keep their order: both
 * versions then give the same bits. -ffp-contract=off keeps multiplies and adds unfused in both.
 */
#ifndef TOOLBOX_WIDE_VECTORS_H
#define TOOLBOX_WIDE_VECTORS_H

#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__)
#define WIDE_VECTORS __attribute__((target_clones("avx2", "default")))
#else
#define WIDE_VECTORS
#endif

#endif
