"""Prints the constants of src/common/portable_math.cpp.

The polynomial coefficients are Chebyshev fits (near-minimax) computed at
200-bit precision with mpmath and rounded to doubles; the split constants
(ln 2 and pi/2 in parts) are the exact leading bits of each constant. The log
table is checked with exact rational arithmetic (assertions) as it is printed.
Run with
a Python that has mpmath: /usr/bin/python3 scripts/portable_math_constants.py
"""
import math
import struct
from fractions import Fraction

import mpmath as mp

mp.mp.prec = 200


def hexd(v):
    return float(v).hex()


def fit(name, f, b, degree, weight):
    """Coefficients (lowest first) of a fit of f on [0, b]; also prints the
    worst weighted error of the rounded polynomial, as a power of two."""
    poly = mp.chebyfit(f, [0, b], degree + 1)
    coeffs = [float(p) for p in reversed(poly)]
    worst = mp.mpf(0)
    for i in range(4001):
        z = b * mp.mpf(i) / 4000
        v = mp.mpf(0)
        for c in reversed(coeffs):
            v = v * z + mp.mpf(c)
        worst = max(worst, abs(v - f(z)) * weight(z))
    print(f"// {name}: relative error of the fit about 2^{float(mp.log(worst, 2)):.1f}")
    for i, c in enumerate(coeffs, 1):
        print(f"constexpr double {name}{i} = {c.hex()};  // {c:.17g}")
    return coeffs


def leading_bits(v, bits):
    """v rounded toward zero to `bits` significant bits (exact in a double)."""
    e = mp.floor(mp.log(abs(v), 2))
    scale = mp.mpf(2) ** (bits - 1 - e)
    return mp.floor(v * scale) / scale


# log: x = 2^k m with m in [OFF, 2 OFF); the 7 mantissa bits of m - OFF above
# bit 45 pick one of 128 intervals [a, b). With c near 1/m,
# r = m c - 1 = (a c - 1) + (m - a) c is exact when c has at most 8
# significant bits: m - a has at most 45 bits, a c - 1 is short, and the sum
# is a multiple of ulp(m) lsb(c) below 2^53 of them (checked below). Then
# log x = k ln2 + log(1/c) + log(1 + r), log(1+r) = r + r^2 A(r).
LOG_OFFSET = 0x3fe6a00000000000  # bits of 0.70703125, a multiple of 2^45
LOG_INDEX_BITS = 7
LOG_SHIFT = 52 - LOG_INDEX_BITS


def from_bits(b):
    return struct.unpack("<d", struct.pack("<Q", b))[0]


def lowest_bit(v):
    """Largest power of two that divides the double v."""
    f = Fraction(v)
    p = Fraction(1)
    while (f / p).denominator != 1:
        p /= 2
    while (f / (2 * p)).denominator == 1:
        p *= 2
    return p


def short_reciprocal(a, b):
    """The c of at most 8 bits that makes max |m c - 1| on [a, b] smallest
    while m c - 1 stays exactly representable; 1 on the intervals that
    touch 1, so that log x near 1 is r - r^2/2 + ... with no cancellation."""
    ulp_m = Fraction(1, 2**53) if b <= 1 else Fraction(1, 2**52)
    if a == 1.0 or b == 1.0:
        return 1.0
    target = 2 / (a + b)
    step = 2.0 ** (math.floor(math.log2(target)) - 7)
    best = None
    for n in range(int(target / step) - 3, int(target / step) + 4):
        c = n * step
        worst = max(abs(Fraction(a) * Fraction(c) - 1), abs(Fraction(b) * Fraction(c) - 1))
        if worst < 2**53 * ulp_m * lowest_bit(c) and (best is None or worst < best[0]):
            best = (worst, c)
    return best[1]


def round_to_grid(v, grid):
    return float(mp.nint(v / grid) * grid)


# ln 2 and log(1/c) to a grid of 2^-42: k ln2_hi + log_hi is then exact for
# |k| < 2^11 (52 bits at most).
LOG_GRID = mp.mpf(2) ** -42
ln2 = mp.log(2)
log_ln2_hi = round_to_grid(ln2, LOG_GRID)
print(f"constexpr double LOG_LN2_HI = {hexd(log_ln2_hi)};")
print(f"constexpr double LOG_LN2_LO = {hexd(ln2 - log_ln2_hi)};")
r_lo = r_hi = Fraction(0)
print(f"// LOG_TABLE: {{c, a c - 1, log(1/c) high, low}} for each interval [a, b)")
for i in range(2**LOG_INDEX_BITS):
    a = from_bits(LOG_OFFSET + (i << LOG_SHIFT))
    b = from_bits(LOG_OFFSET + ((i + 1) << LOG_SHIFT))
    c = short_reciprocal(a, b)
    a_c_1 = Fraction(a) * Fraction(c) - 1
    assert Fraction(float(a_c_1)) == a_c_1
    lo, hi = a_c_1, Fraction(b) * Fraction(c) - 1
    r_lo, r_hi = min(r_lo, lo), max(r_hi, hi)
    log_inv_c = -mp.log(c)
    log_hi = round_to_grid(log_inv_c, LOG_GRID)
    # k = 0: hi = log_hi + r needs exponent(log_hi) >= exponent(r) for the
    # rounding error of the sum to be recovered exactly (Fast2Sum).
    worst_r = float(max(-lo, hi))
    assert log_hi == 0 or math.floor(math.log2(abs(log_hi))) >= math.floor(math.log2(worst_r))
    print(f"    {{{hexd(c)}, {hexd(a_c_1)}, {hexd(log_hi)}, {hexd(log_inv_c - log_hi)}}},")
print(f"// r in [{float(r_lo):.6g}, {float(r_hi):.6g}]")


def log1p_tail(r):
    return mp.mpf(-0.5) if r == 0 else (mp.log1p(r) - r) / (r * r)


poly, err = mp.chebyfit(log1p_tail, [mp.mpf(r_lo.numerator) / r_lo.denominator,
                                     mp.mpf(r_hi.numerator) / r_hi.denominator], 6, error=True)
print(f"// LOG_A: absolute error of the fit of (log(1+r) - r)/r^2 about 2^{float(mp.log(err, 2)):.1f}")
for i, p in enumerate(reversed(poly), 2):
    print(f"constexpr double LOG_A{i} = {hexd(p)};  // {float(p):.17g}")

# exp(r) = 1 + 2r/(R(r) - r) with R(r) = r coth(r/2) = 2 + r^2 P(r^2),
# |r| <= ln2/2 plus a little for the rounding of k.
def exp_tail(z):
    if z == 0:
        return mp.mpf(1) / 6
    r = mp.sqrt(z)
    return (r * mp.coth(r / 2) - 2) / z


fit("EXP_P", exp_tail, mp.mpf("0.36") ** 2, 4, lambda z: mp.sqrt(z) ** 3 / 2)

# sin(x) = x + x^3 S(x^2), cos(x) = 1 - x^2/2 + x^4 C(x^2) on |x| <= pi/4
# (a hair more, for the reduction's rounding).
quarter_pi_sq = (mp.pi / 4) ** 2 * mp.mpf("1.001")


def sin_tail(z):
    if z == 0:
        return -mp.mpf(1) / 6
    x = mp.sqrt(z)
    return (mp.sin(x) - x) / (x * z)


def cos_tail(z):
    if z == 0:
        return mp.mpf(1) / 24
    x = mp.sqrt(z)
    return (mp.cos(x) - 1 + z / 2) / (z * z)


fit("SIN_S", sin_tail, quarter_pi_sq, 6, lambda z: z)
fit("COS_C", cos_tail, quarter_pi_sq, 5, lambda z: z * z / mp.cos(mp.sqrt(z)))

# ln 2 in a 32-bit head (k * head exact for |k| < 2^21) and a tail.
ln2 = mp.log(2)
ln2_hi = leading_bits(ln2, 32)
print(f"constexpr double LN2_HI = {hexd(ln2_hi)};")
print(f"constexpr double LN2_LO = {hexd(ln2 - ln2_hi)};")
print(f"constexpr double INV_LN2 = {hexd(1 / ln2)};")

# pi/2 in three 33-bit parts (n * part exact for n <= 2^20) and a tail.
rest = mp.pi / 2
for i in range(1, 4):
    part = leading_bits(rest, 33)
    print(f"constexpr double PIO2_{i} = {hexd(part)};")
    rest -= part
print(f"constexpr double PIO2_4 = {hexd(rest)};")
print(f"constexpr double TWO_OVER_PI = {hexd(2 / mp.pi)};")
print(f"constexpr double PIO4 = {hexd(mp.pi / 4)};")
