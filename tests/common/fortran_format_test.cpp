#include "common/fortran_format.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>

using namespace fortran;

TEST(EditDescriptors, IntegerRightAlignedOrStars) {
    EXPECT_EQ(I(21, 8), "      21");
    EXPECT_EQ(I(-5, 3), " -5");
    EXPECT_EQ(I(1000, 3), "***");
    EXPECT_EQ(I(1, 2), " 1");
}

TEST(EditDescriptors, FixedPointRoundsAndDropsLeadingZeroOnlyWhenNeeded) {
    EXPECT_EQ(F(0.0021, 12, 4), "      0.0021");
    EXPECT_EQ(F(180.0, 10, 2), "    180.00");
    EXPECT_EQ(F(-179.996, 10, 2), "   -180.00");
    EXPECT_EQ(F(0.5, 4, 3), ".500");
    EXPECT_EQ(F(-0.5, 5, 3), "-.500");
    EXPECT_EQ(F(12345.0, 6, 2), "******");
    EXPECT_EQ(F(0.0062, 11, 8), " 0.00620000");
}

TEST(EditDescriptors, ScientificHasOneNonZeroDigitBeforeThePoint) {
    EXPECT_EQ(ES(0.5, 23, 16), " 5.0000000000000000E-01");
    EXPECT_EQ(ES(6e-7, 23, 16), " 5.9999999999999997E-07");  // the double nearest 6e-7
    EXPECT_EQ(ES(0.0, 12, 4), "  0.0000E+00");
    EXPECT_EQ(ES(-1.5e19, 12, 4), " -1.5000E+19");
    EXPECT_EQ(ES(9.99996, 10, 4), "1.0000E+01");  // rounding carries into the exponent
    EXPECT_EQ(ES(1.0e-10, 9, 2), " 1.00E-10");
    EXPECT_EQ(ES(2.5e120, 12, 4), "  2.5000+120");
    EXPECT_EQ(ES(1.0, 5, 4), "*****");
}

TEST(EditDescriptors, DFormIsAFractionWithDExponent) {
    EXPECT_EQ(D(1.5e-7, 14, 7), " 0.1500000D-06");
    EXPECT_EQ(D(-2.25e-12, 14, 7), "-0.2250000D-11");
    EXPECT_EQ(D(0.0, 14, 7), " 0.0000000D+00");
    EXPECT_EQ(D(123.456, 14, 7), " 0.1234560D+03");
    EXPECT_EQ(D(1e-200, 14, 7), " 0.1000000-199");
}

TEST(EditDescriptors, Blanks) {
    EXPECT_EQ(X(3), "   ");
    EXPECT_EQ(X(0), "");
}

TEST(FreeFormat, LineStartsWithOneBlankAndSeparatesItems) {
    EXPECT_EQ(FreeLine().item("h1,h2,h3=").item(0.0002).str(), " h1,h2,h3= 2.0000000000000001E-04");
    EXPECT_EQ(FreeLine().item(65).item(135).item(11).str(), " 65 135 11");
    EXPECT_EQ(FreeLine().item("Dtr=").str(), " Dtr=");
}

TEST(FreeFormat, DoublesReadBackExactly) {
    const double values[] = {0.1, 1.0 / 3.0, 6860737302631.578, -1.6021892e-19,
                             std::numeric_limits<double>::denorm_min(),
                             std::numeric_limits<double>::max(), -0.0};
    for (double v : values) {
        const std::string s = free_real(v);
        const double back = std::strtod(s.c_str(), nullptr);
        EXPECT_EQ(std::memcmp(&back, &v, sizeof v), 0) << s;
    }
}

TEST(FreeFormat, LongRecordsSpanLinesThatEachStartWithABlank) {
    std::FILE* f = std::tmpfile();
    const double values[7] = {1, 2, 3, 4, 5, 6, 7};
    write_free_record(f, values, 7);
    std::rewind(f);
    char buf[256];
    int lines = 0;
    while (std::fgets(buf, sizeof buf, f)) {
        EXPECT_EQ(buf[0], ' ');
        ++lines;
    }
    EXPECT_EQ(lines, 2);
    std::fclose(f);
}
