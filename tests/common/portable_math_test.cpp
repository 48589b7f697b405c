#include "common/portable_math.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>

namespace pm = portable_math;

namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr double INF = std::numeric_limits<double>::infinity();
constexpr double NOT_A_NUMBER = std::numeric_limits<double>::quiet_NaN();
// The extreme random numbers the generator gives: 1/2^31 and 1 - 1/2^31.
constexpr double SMALLEST_DRAW = 4.65661305739176e-10;
constexpr double LARGEST_DRAW = 1.0 - 4.65661305739176e-10;

// long double carries 64 mantissa bits on x86-64: 11 bits beyond a double,
// enough to measure errors in fractions of a double's ulp.
constexpr bool HAVE_EXTENDED_REFERENCE = std::numeric_limits<long double>::digits >= 64;

// Error of a double result in units of the last place of the exact value
// (subnormal ulp below the normal range).
double ulp_error(double got, long double exact) {
    int e;
    std::frexp(static_cast<double>(std::fabs(exact)), &e);
    const long double ulp = std::ldexp(1.0L, std::max(e - 53, -1074));
    return static_cast<double>(std::fabs(static_cast<long double>(got) - exact) / ulp);
}

// Arguments spread uniformly, or uniformly in the logarithm, over [lo, hi];
// the bits come from mt19937_64 alone so the samples are the same everywhere.
class Sampler {
public:
    explicit Sampler(std::uint64_t seed) : engine_(seed) {}
    double unit() { return static_cast<double>(engine_() >> 11) * 0x1p-53; }
    double uniform(double lo, double hi) { return lo + (hi - lo) * unit(); }
    double log_uniform(double lo, double hi) {
        return static_cast<double>(std::exp(std::log(static_cast<long double>(lo)) +
                                            unit() * std::log(static_cast<long double>(hi) / lo)));
    }

private:
    std::mt19937_64 engine_;
};

constexpr int SAMPLES = 20000;

template <class Function, class Reference, class Draw>
double worst_ulp_error(Function f, Reference exact, Draw draw) {
    double worst = 0.0;
    for (int n = 0; n < SAMPLES; ++n) {
        const double x = draw();
        worst = std::max(worst, ulp_error(f(x), exact(static_cast<long double>(x))));
    }
    return worst;
}

long double exact_log(long double x) { return std::log(x); }
long double exact_exp(long double x) { return std::exp(x); }
long double exact_sin(long double x) { return std::sin(x); }
long double exact_cos(long double x) { return std::cos(x); }

std::uint64_t bits(double x) { return std::bit_cast<std::uint64_t>(x); }

}  // namespace

TEST(PortableMathAccuracy, LogWithinOneUlpOnRandomNumbersAndWideRange) {
    if (!HAVE_EXTENDED_REFERENCE) GTEST_SKIP() << "no 64-bit long double reference";
    Sampler s(1);
    EXPECT_LE(worst_ulp_error(pm::log, exact_log, [&] { return s.uniform(SMALLEST_DRAW, LARGEST_DRAW); }), 1.0);
    EXPECT_LE(worst_ulp_error(pm::log, exact_log, [&] { return s.log_uniform(SMALLEST_DRAW, 1.0); }), 1.0);
    EXPECT_LE(worst_ulp_error(pm::log, exact_log, [&] { return s.uniform(0.5, 2.0); }), 1.0);
    EXPECT_LE(worst_ulp_error(pm::log, exact_log, [&] { return s.log_uniform(1e-300, 1e300); }), 1.0);
    EXPECT_LE(worst_ulp_error(pm::log, exact_log, [&] { return s.log_uniform(5e-324, 2.2e-308); }), 1.0);
    for (double x : {SMALLEST_DRAW, LARGEST_DRAW, 1.0 - 0x1p-53, 1.0 + 0x1p-52, 0x1p-1074, 0x1.fffffffffffffp+1023})
        EXPECT_LE(ulp_error(pm::log(x), exact_log(x)), 1.0) << x;
}

// log picks one of 128 mantissa intervals with its own table entry; a wrong
// entry or an index off by one shows at the interval edges, where r is
// largest, and in the intervals next to 1, where the result is all r.
TEST(PortableMathAccuracy, LogWithinOneUlpAtEveryTableIntervalEdgeAndNearOne) {
    if (!HAVE_EXTENDED_REFERENCE) GTEST_SKIP() << "no 64-bit long double reference";
    constexpr std::uint64_t first_edge = 0x3fe6a00000000000ull;  // 0.70703125, where the table starts
    for (std::uint64_t i = 0; i <= 128; ++i) {
        const double edge = std::bit_cast<double>(first_edge + (i << 45));
        for (double scale : {0x1p-40, 0.5, 1.0, 2.0, 0x1p+100}) {
            for (double x : {edge, std::nextafter(edge, 0.0), std::nextafter(edge, INF)}) {
                const double y = x * scale;  // exact: a power of two
                EXPECT_LE(ulp_error(pm::log(y), exact_log(y)), 1.0) << y;
            }
        }
    }
    Sampler s(5);
    EXPECT_LE(worst_ulp_error(pm::log, exact_log, [&] { return s.uniform(1.0 - 0x1p-6, 1.0 + 0x1p-6); }), 1.0);
    for (int n = 1; n <= 64; ++n) {
        EXPECT_LE(ulp_error(pm::log(1.0 + n * 0x1p-52), exact_log(1.0 + n * 0x1p-52)), 1.0) << n;
        EXPECT_LE(ulp_error(pm::log(1.0 - n * 0x1p-53), exact_log(1.0 - n * 0x1p-53)), 1.0) << n;
    }
}

// k ln2 comes from a head and a tail of ln2 added to the table's log(1/c):
// powers of two test that split over the whole exponent range.
TEST(PortableMathAccuracy, LogOfPowersOfTwo) {
    if (!HAVE_EXTENDED_REFERENCE) GTEST_SKIP() << "no 64-bit long double reference";
    for (int k = -1074; k <= 1023; ++k) {
        const double x = std::ldexp(1.0, k);
        EXPECT_LE(ulp_error(pm::log(x), exact_log(x)), 1.0) << k;
    }
}

TEST(PortableMathAccuracy, ExpWithinOneUlpIncludingSubnormalResults) {
    if (!HAVE_EXTENDED_REFERENCE) GTEST_SKIP() << "no 64-bit long double reference";
    Sampler s(2);
    EXPECT_LE(worst_ulp_error(pm::exp, exact_exp, [&] { return s.uniform(-745.0, 709.0); }), 1.0);
    EXPECT_LE(worst_ulp_error(pm::exp, exact_exp, [&] { return s.uniform(-50.0, 0.0); }), 1.0);
    EXPECT_LE(worst_ulp_error(pm::exp, exact_exp, [&] { return s.uniform(-1.0, 1.0); }), 1.0);
    EXPECT_LE(worst_ulp_error(pm::exp, exact_exp, [&] { return s.uniform(-745.0, -708.0); }), 1.0);
    for (double x : {-1e-6, 1e-300, 0.5 * 0.6931471805599453, 709.78, -745.0})
        EXPECT_LE(ulp_error(pm::exp(x), exact_exp(x)), 1.0) << x;
}

TEST(PortableMathAccuracy, SinCosWithinOneUlpOnAnglesAndPhases) {
    if (!HAVE_EXTENDED_REFERENCE) GTEST_SKIP() << "no 64-bit long double reference";
    Sampler s(3);
    auto angle = [&] { return s.uniform(0.0, TWO_PI); };
    auto phase = [&] { return s.uniform(-1e6, 1e6); };
    auto spread = [&] { return s.log_uniform(1e-10, 1e6); };
    EXPECT_LE(worst_ulp_error(pm::sin, exact_sin, angle), 1.0);
    EXPECT_LE(worst_ulp_error(pm::cos, exact_cos, angle), 1.0);
    EXPECT_LE(worst_ulp_error(pm::sin, exact_sin, phase), 1.0);
    EXPECT_LE(worst_ulp_error(pm::cos, exact_cos, phase), 1.0);
    EXPECT_LE(worst_ulp_error(pm::sin, exact_sin, spread), 1.0);
    EXPECT_LE(worst_ulp_error(pm::cos, exact_cos, spread), 1.0);
    // Near multiples of pi/2 the result is all cancellation: the reduction
    // must carry pi/2 to far more bits than a double holds.
    for (double x : {3.141592653589793, 1.5707963267948966, 4.71238898038469, TWO_PI, 1e5 * 3.141592653589793,
                     636619.0 * 1.5707963267948966, 355.0, 103993.0, 1.5e6}) {
        EXPECT_LE(ulp_error(pm::sin(x), exact_sin(x)), 1.0) << x;
        EXPECT_LE(ulp_error(pm::cos(x), exact_cos(x)), 1.0) << x;
    }
}

TEST(PortableMathAccuracy, SinCosAreOddAndEvenExactly) {
    Sampler s(4);
    for (int n = 0; n < 1000; ++n) {
        const double x = s.uniform(0.0, 1e6);
        EXPECT_EQ(bits(pm::sin(-x)), bits(-pm::sin(x))) << x;
        EXPECT_EQ(bits(pm::cos(-x)), bits(pm::cos(x))) << x;
    }
}

TEST(PortableMathAccuracy, HugeAnglesStayBoundedAndClose) {
    // Beyond the accurate reduction the error grows like |x| times 4e-17.
    for (double x : {1.7e6, 1e10, -3e15, 1e300}) {
        EXPECT_LE(std::fabs(pm::sin(x)), 1.0) << x;
        EXPECT_LE(std::fabs(pm::cos(x)), 1.0) << x;
        if (HAVE_EXTENDED_REFERENCE && std::fabs(x) < 1e12) {
            EXPECT_NEAR(pm::sin(x), static_cast<double>(exact_sin(x)), 1e-16 * std::fabs(x)) << x;
            EXPECT_NEAR(pm::cos(x), static_cast<double>(exact_cos(x)), 1e-16 * std::fabs(x)) << x;
        }
    }
}

TEST(PortableMathSpecialValues, Log) {
    EXPECT_EQ(bits(pm::log(1.0)), bits(0.0));
    EXPECT_EQ(pm::log(0.0), -INF);
    EXPECT_EQ(pm::log(-0.0), -INF);
    EXPECT_EQ(pm::log(INF), INF);
    EXPECT_TRUE(std::isnan(pm::log(-1.0)));
    EXPECT_TRUE(std::isnan(pm::log(-0x1p-1074)));
    EXPECT_TRUE(std::isnan(pm::log(-INF)));
    EXPECT_TRUE(std::isnan(pm::log(NOT_A_NUMBER)));
    EXPECT_EQ(pm::log(2.0), 0.6931471805599453);
    EXPECT_EQ(pm::log(0.5), -0.6931471805599453);
}

TEST(PortableMathSpecialValues, Exp) {
    EXPECT_EQ(pm::exp(0.0), 1.0);
    EXPECT_EQ(pm::exp(-0.0), 1.0);
    EXPECT_EQ(pm::exp(INF), INF);
    EXPECT_EQ(pm::exp(710.0), INF);
    EXPECT_EQ(pm::exp(0x1.62e42fefa39f0p+9), INF);  // just past log(largest double)
    EXPECT_TRUE(std::isfinite(pm::exp(0x1.62e42fefa39efp+9)));
    EXPECT_EQ(bits(pm::exp(-INF)), bits(0.0));
    EXPECT_EQ(bits(pm::exp(-746.0)), bits(0.0));
    EXPECT_EQ(bits(pm::exp(-1000.0)), bits(0.0));
    EXPECT_EQ(pm::exp(-745.0), 0x1p-1074);  // the smallest subnormal
    EXPECT_TRUE(std::isnan(pm::exp(NOT_A_NUMBER)));
}

TEST(PortableMathSpecialValues, SinCos) {
    for (double x : {NOT_A_NUMBER, INF, -INF}) {
        EXPECT_TRUE(std::isnan(pm::sin(x))) << x;
        EXPECT_TRUE(std::isnan(pm::cos(x))) << x;
    }
    EXPECT_EQ(bits(pm::sin(0.0)), bits(0.0));
    EXPECT_EQ(bits(pm::sin(-0.0)), bits(-0.0));
    EXPECT_EQ(pm::cos(0.0), 1.0);
    EXPECT_EQ(pm::sin(1e-300), 1e-300);
    EXPECT_EQ(pm::cos(1e-10), 1.0);
}

// Results of this implementation, recorded when it was written. They are the
// promise that a run gives the same bits on every machine: an edit that
// changes any of them changes every output file of a simulation.
// The arguments are the extreme random numbers and the worst cases found in
// the accuracy sweeps, where an edit is most likely to move the last bit.
// The log pins were recorded anew when log became table-driven (the old
// division-based version rounded a few of them the other way).
TEST(PortableMathRegression, PinnedBitPatterns) {
    struct Pin {
        double (*f)(double);
        double x;
        std::uint64_t expected;
    };
    const Pin pins[] = {
        {pm::log, SMALLEST_DRAW, 0xc0357cd0e6586820ull},            // -21.487562557777096
        {pm::log, LARGEST_DRAW, 0xbe00000000100000ull},             // -4.6566128741615948e-10
        {pm::log, 0.99612137188610927, 0xbf6fd5e35cdf46d4ull},      // -0.0038861694983801463
        {pm::log, 1.0071423276760054, 0x3f7d26a7961d5608ull},       // 0.0071169420569581268
        {pm::log, 0.70703124999999989, 0xbfd630030b3aac4cull},      // -0.34668041321373688
        {pm::log, 7.6963226788732353e-311, 0xc08650817a28a280ull},  // -714.0632212805358
        {pm::exp, -29.457305678942845, 0x3d46a9056e114496ull},      // 1.6101068286272904e-13
        {pm::exp, 0.34788592793689777, 0x3ff6a839c1ce522eull},      // 1.4160707064194287
        {pm::exp, -708.04285746480559, 0x0016c93c7d259f3cull},      // 3.1687943279636925e-308
        {pm::exp, 709.5, 0x7fe81e9b4b52d0c9ull},                    // 1.3549863193146328e+308
        {pm::sin, 2.3554769674552554, 0x3fe6a4c60a5d5b82ull},       // 0.70761396431304058
        {pm::cos, 5.5439713743666763, 0x3fe7a5dfe6c9f2f6ull},       // 0.73899836612653647
        {pm::sin, 355814.43216174305, 0xbfe6ba1c8f022554ull},       // -0.71021869593929887
        {pm::cos, 567436.83060026495, 0xbfe6d6524640b8aaull},       // -0.71366227837804286
        {pm::sin, 1e10, 0xbfdf334b0b22015full},                     // -0.4875056847304417
    };
    for (const Pin& pin : pins) EXPECT_EQ(bits(pin.f(pin.x)), pin.expected) << pin.x;
}
