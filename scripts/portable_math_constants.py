"""Prints the constants of src/common/portable_math.cpp.

The polynomial coefficients are Chebyshev fits (near-minimax) computed at
200-bit precision with mpmath and rounded to doubles; the split constants
(ln 2 and pi/2 in parts) are the exact leading bits of each constant. Run with
a Python that has mpmath: /usr/bin/python3 scripts/portable_math_constants.py
"""
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


# log(1+f) = 2 atanh(s), s = f/(2+f), |s| <= (sqrt2-1)/(sqrt2+1); fit the
# tail (2 atanh(s) - 2s)/s^3 as a polynomial in z = s^2.
s_max = (mp.sqrt(2) - 1) / (mp.sqrt(2) + 1)


def log_tail(z):
    if z == 0:
        return mp.mpf(2) / 3
    s = mp.sqrt(z)
    return (mp.log((1 + s) / (1 - s)) - 2 * s) / (s * z)


fit("LOG_C", log_tail, s_max ** 2, 6, lambda z: z / 2)

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
