#pragma once
// log, exp, sin and cos that give the same bits on every IEEE-754 machine.
//
// The C library may choose a different code path for these functions at run
// time (an FMA variant, say), and a last-bit difference in one free-flight time
// changes the whole random history of a run. These versions use only +, -, *, /
// and exact operations (bit manipulation, fabs, remquo), so with
// -ffp-contract=off every compiler and CPU rounds them identically. Error is
// below 1 ulp.
//
// sin and cos reduce the argument with pi/2 in four parts, accurately for
// |x| < 1.6e6. Beyond that the reduction is an exact remainder by the double
// nearest pi/2: still the same bits everywhere and within [-1, 1], but with
// an absolute error of about |x| * 4e-17, comparable to the rounding of x.

namespace portable_math {

double log(double x);
double exp(double x);
double sin(double x);
double cos(double x);

}  // namespace portable_math
