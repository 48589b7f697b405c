#include "common/portable_math.hpp"

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>

namespace portable_math {

namespace {

// Constants printed by scripts/portable_math_constants.py: polynomial fits
// rounded to doubles, and ln 2 and pi/2 split so that k * head is exact.

// LOG_C: relative error of the fit about 2^-57.6
constexpr double LOG_C1 = 0x1.5555555555558p-1;  // 0.66666666666666696
constexpr double LOG_C2 = 0x1.99999999952e2p-2;  // 0.39999999999899505
constexpr double LOG_C3 = 0x1.2492492df148dp-2;  // 0.28571428625975487
constexpr double LOG_C4 = 0x1.c71c62e5800a1p-3;  // 0.22222211134795081
constexpr double LOG_C5 = 0x1.7462b4ab2ef6bp-3;  // 0.18182889125261723
constexpr double LOG_C6 = 0x1.39fe606542ddep-3;  // 0.15331721600556042
constexpr double LOG_C7 = 0x1.2b584aae78a57p-3;  // 0.14616449685043406

// EXP_P: relative error of the fit about 2^-58.8
constexpr double EXP_P1 = 0x1.5555555555553p-3;  // 0.1666666666666666
constexpr double EXP_P2 = -0x1.6c16c16c067f6p-9;  // -0.0027777777777488978
constexpr double EXP_P3 = 0x1.1566ab4293ab7p-14;  // 6.6137564354233329e-05
constexpr double EXP_P4 = -0x1.bbd4d2e0ce3b2p-20;  // -1.6534005952818708e-06
constexpr double EXP_P5 = 0x1.63bbf7892cda2p-25;  // 4.1412916715161142e-08

// SIN_S: relative error of the fit about 2^-57.3
constexpr double SIN_S1 = -0x1.5555555555555p-3;  // -0.16666666666666666
constexpr double SIN_S2 = 0x1.1111111111110p-7;  // 0.0083333333333333315
constexpr double SIN_S3 = -0x1.a01a01a01992fp-13;  // -0.00019841269841265041
constexpr double SIN_S4 = 0x1.71de3a545f836p-19;  // 2.7557319219320579e-06
constexpr double SIN_S5 = -0x1.ae645410e937bp-26;  // -2.5052106225994401e-08
constexpr double SIN_S6 = 0x1.61217d9252c03p-33;  // 1.6058530596645953e-10
constexpr double SIN_S7 = -0x1.ab16f5caa198ap-41;  // -7.5866368828251592e-13

// COS_C: relative error of the fit about 2^-59.5
constexpr double COS_C1 = 0x1.5555555555555p-5;  // 0.041666666666666664
constexpr double COS_C2 = -0x1.6c16c16c16963p-10;  // -0.0013888888888887389
constexpr double COS_C3 = 0x1.a01a019f4ddfdp-16;  // 2.48015872987544e-05
constexpr double COS_C4 = -0x1.27e4fa16cc2d1p-22;  // -2.7557317265878082e-07
constexpr double COS_C5 = 0x1.1eeb67d026ec6p-29;  // 2.0876145049413178e-09
constexpr double COS_C6 = -0x1.907cd8ff5ede7p-37;  // -1.138254464534925e-11

constexpr double LN2_HI = 0x1.62e42fee00000p-1;
constexpr double LN2_LO = 0x1.a39ef35793c76p-33;
constexpr double INV_LN2 = 0x1.71547652b82fep+0;
constexpr double PIO2_1 = 0x1.921fb54400000p+0;
constexpr double PIO2_2 = 0x1.0b4611a600000p-34;
constexpr double PIO2_3 = 0x1.3198a2e000000p-69;
constexpr double PIO2_4 = 0x1.b839a252049c1p-104;
constexpr double TWO_OVER_PI = 0x1.45f306dc9c883p-1;
constexpr double PIO4 = 0x1.921fb54442d18p-1;

constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();

constexpr std::uint64_t MANTISSA_BITS = (std::uint64_t{1} << 52) - 1;
constexpr std::uint64_t SQRT2_MANTISSA = 0x6a09e667f3bcdull;  // mantissa of sqrt(2)
constexpr double SMALLEST_NORMAL = 0x1p-1022;

constexpr double HALF_LN2 = 0x1.62e42fefa39efp-2;
constexpr double EXP_OVERFLOW = 0x1.62e42fefa39efp+9;  // largest x with finite exp(x)
constexpr double EXP_UNDERFLOW = -746.0;               // exp(x) < 2^-1076 below: rounds to 0

// Below this |x| the reduction by pi/2 in parts is exact enough (n < 2^20,
// so n times a 33-bit part of pi/2 is exact).
constexpr double REDUCTION_LIMIT = 1.6e6;
constexpr double PIO2 = 0x1.921fb54442d18p+0;  // the double nearest pi/2
constexpr double TINY_ANGLE = 0x1p-27;         // sin x rounds to x, cos x to 1

double from_bits(std::uint64_t b) { return std::bit_cast<double>(b); }
std::uint64_t bits_of(double x) { return std::bit_cast<std::uint64_t>(x); }

// 2^j for a normal result.
double power_of_two(int j) { return from_bits(static_cast<std::uint64_t>(j + 1023) << 52); }

// s + e = a - b exactly (Knuth's two-sum, no ordering of |a|, |b| needed).
void two_diff(double a, double b, double& s, double& e) {
    s = a - b;
    const double bb = s - a;
    e = (a - (s - bb)) - (b + bb);
}

// x = n pi/2 + (hi + lo), |hi| <= pi/4 (plus rounding); quadrant = n mod 4.
struct Reduced {
    double hi, lo;
    int quadrant;
};

Reduced reduce_by_half_pi(double x) {
    if (std::fabs(x) <= PIO4) return {x, 0.0, 0};
    if (std::fabs(x) < REDUCTION_LIMIT) {
        const int n = static_cast<int>(x * TWO_OVER_PI + (x < 0.0 ? -0.5 : 0.5));
        const double dn = n;
        // x - n P1 is exact (n P1 is within a factor 2 of x); the next two
        // products are exact too and their differences are carried in full,
        // so only the last part's product and the final sums round.
        const double t = x - dn * PIO2_1;
        double a, b, c, d;
        two_diff(t, dn * PIO2_2, a, b);
        two_diff(a, dn * PIO2_3, c, d);
        double lo = (b + d) - dn * PIO2_4;
        const double hi = c + lo;
        lo = (c - hi) + lo;
        return {hi, lo, n & 3};
    }
    // Huge arguments: the exact remainder by the double nearest pi/2.
    int quotient;
    const double r = std::remquo(x, PIO2, &quotient);
    return {r, 0.0, quotient & 3};
}

// sin(x + y) for |x| <= pi/4, |y| <= ulp(x): x + x^3 S(x^2) + y (1 - x^2/2).
double sin_kernel(double x, double y) {
    const double z = x * x;
    const double v = z * x;
    const double p = SIN_S2 + z * (SIN_S3 + z * (SIN_S4 + z * (SIN_S5 + z * (SIN_S6 + z * SIN_S7))));
    return x - ((z * (0.5 * y - v * p) - y) - v * SIN_S1);
}

// cos(x + y) for |x| <= pi/4: 1 - x^2/2 + x^4 C(x^2) - x y. The rounding of
// 1 - x^2/2 is recovered exactly and added back with the small terms.
double cos_kernel(double x, double y) {
    const double z = x * x;
    const double hz = 0.5 * z;
    const double w = 1.0 - hz;
    const double r = z * z * (COS_C1 + z * (COS_C2 + z * (COS_C3 + z * (COS_C4 + z * (COS_C5 + z * COS_C6)))));
    return w + (((1.0 - w) - hz) + (r - x * y));
}

}  // namespace

// x = 2^k (1 + f), sqrt(2)/2 <= 1 + f < sqrt(2); with s = f / (2 + f),
// log(1 + f) = 2 atanh(s) = f - f^2/2 + s (f^2/2 + R(s^2)).
double log(double x) {
    if (!(x > 0.0)) return x == 0.0 ? -INF : NOT_A_NUMBER;  // also NaN in, NaN out
    if (x == INF) return x;
    int k = 0;
    if (x < SMALLEST_NORMAL) {  // subnormal: scale into the normal range
        x *= 0x1p54;
        k = -54;
    }
    const std::uint64_t bits = bits_of(x);
    k += static_cast<int>(bits >> 52) - 1023;
    std::uint64_t mantissa = bits & MANTISSA_BITS;
    std::uint64_t exponent = 1023;
    if (mantissa > SQRT2_MANTISSA) {  // 1 + f in [sqrt2/2, 1) instead
        exponent = 1022;
        k += 1;
    }
    const double m = from_bits((exponent << 52) | mantissa);
    const double f = m - 1.0;  // exact
    const double hfsq = 0.5 * f * f;
    const double s = f / (2.0 + f);
    const double z = s * s;
    const double w = z * z;
    // R = C1 z + C2 z^2 + ... + C7 z^7, odd and even powers apart.
    const double odd = z * (LOG_C1 + w * (LOG_C3 + w * (LOG_C5 + w * LOG_C7)));
    const double even = w * (LOG_C2 + w * (LOG_C4 + w * LOG_C6));
    const double R = odd + even;
    const double dk = k;
    return dk * LN2_HI - ((hfsq - (s * (hfsq + R) + dk * LN2_LO)) - f);
}

// x = k ln2 + r, |r| <= ln2/2; exp(r) = 1 + r + r c / (2 - c) with
// c = r - r^2 P(r^2), and exp(x) = 2^k exp(r).
double exp(double x) {
    if (x != x) return x;
    if (x > EXP_OVERFLOW) return INF;
    if (x < EXP_UNDERFLOW) return 0.0;
    int k = 0;
    double hi = x;
    double lo = 0.0;
    if (std::fabs(x) > HALF_LN2) {
        k = static_cast<int>(x * INV_LN2 + (x < 0.0 ? -0.5 : 0.5));
        const double dk = k;
        hi = x - dk * LN2_HI;  // exact: dk LN2_HI is exact and within a factor 2 of x
        lo = dk * LN2_LO;
    }
    const double r = hi - lo;
    const double z = r * r;
    const double c = r - z * (EXP_P1 + z * (EXP_P2 + z * (EXP_P3 + z * (EXP_P4 + z * EXP_P5))));
    const double y = 1.0 - ((lo - (r * c) / (2.0 - c)) - hi);
    if (k >= -1021 && k <= 1000) return from_bits(bits_of(y) + (static_cast<std::uint64_t>(k) << 52));
    if (k > 1000) return y * 0x1p1000 * power_of_two(k - 1000);
    // Subnormal result: scale exactly into the normal range, then round once.
    return y * power_of_two(k + 1000) * 0x1p-1000;
}

double sin(double x) {
    if (!std::isfinite(x)) return x - x;  // NaN for NaN and +-inf
    if (std::fabs(x) < TINY_ANGLE) return x;
    const Reduced r = reduce_by_half_pi(x);
    switch (r.quadrant) {
        case 0: return sin_kernel(r.hi, r.lo);
        case 1: return cos_kernel(r.hi, r.lo);
        case 2: return -sin_kernel(r.hi, r.lo);
        default: return -cos_kernel(r.hi, r.lo);
    }
}

double cos(double x) {
    if (!std::isfinite(x)) return x - x;
    if (std::fabs(x) < TINY_ANGLE) return 1.0;
    const Reduced r = reduce_by_half_pi(x);
    switch (r.quadrant) {
        case 0: return cos_kernel(r.hi, r.lo);
        case 1: return -sin_kernel(r.hi, r.lo);
        case 2: return -cos_kernel(r.hi, r.lo);
        default: return sin_kernel(r.hi, r.lo);
    }
}

}  // namespace portable_math
