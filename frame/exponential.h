/* exponential.h: exp(x) without the C library's underflow path where its result is known.
 *
 * Affinities of points far apart are exp of a large negative number, and there the library's
 * exp is slowest: a result that underflows to zero costs over twice an ordinary call, a
 * subnormal one five times. At and below the cut every C library the plug-ins are built with gives
 * +0, so those arguments are answered without the call; every other argument, NaN included
 * (a comparison with NaN is false), goes to std::exp. The result is the library's, bit for bit.
 *
 * Why every argument x <= -746 gives +0. Round to nearest gives +0 for any positive value below
 * 2^-1075, half the least subnormal 2^-1074; exp(x) < 2^-1075 for x < -1075 ln 2 = -745.1332...
 * The cut -746 lies a further 0.867 below that: exp(-746) < 2^-1076.25, under half of the
 * rounding boundary, so the proof needs no library to be correctly rounded near it.
 * - glibc x86-64 (the table-driven exp, with and without FMA): below -1024 it returns the
 *   underflow value 2^-767 * 2^-767, which rounds to +0. From -1024 to -746 its subnormal path
 *   forms y ~ 2^1022 exp(x), within a relative 2^-52, so y < 2^-54 here; it rounds y to a
 *   multiple of 2^-52 by (1 + y) - 1, which gives 0 since 1 + y rounds to 1, and returns
 *   2^-1022 * 0 = +0. -Inf gives +0.
 * - glibc i386 (x87): it computes 2^(x log2 e) in 80-bit extended precision, within a relative
 *   2^-50 of exp(x) (the extended exponent range holds it unscaled), and rounds that value to
 *   double by a store before it returns: below 2^-1075, so +0.
 * - mingw-w64 (libmingwex, linked into both Windows builds, x86-64 and x86): it returns +0
 *   for every x below -745.1332191019412, before any arithmetic.
 * The boundary values are compared with the library's exp on every build (tests/frame).
 */
#ifndef TOOLBOX_EXPONENTIAL_H
#define TOOLBOX_EXPONENTIAL_H

#include <cmath>

/* The cut: every argument at or below it has exp(x) = +0 in every library above. */
static const double exponential_zero_below = -746.0;

/* std::exp(x), bit for bit; arguments at or below the cut give +0 without the call. On x87 a
 * comparison of x held in extended precision is safe too: rounding to the double that exp
 * receives cannot carry an argument below the cut above it. */
static inline double exponential(double x)
{
    return x <= exponential_zero_below ? 0.0 : std::exp(x);
}

#endif
