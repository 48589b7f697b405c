#include "common/list_reader.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

using namespace fortran;

namespace {

std::FILE* text_file(const std::string& text) {
    std::FILE* f = std::tmpfile();
    std::fputs(text.c_str(), f);
    std::rewind(f);
    return f;
}

}  // namespace

TEST(ParseNumbers, AcceptsFortranAndCExponentsAndRejectsJunk) {
    double v = 0;
    EXPECT_TRUE(parse_real("1.0D-07", v));
    EXPECT_DOUBLE_EQ(v, 1.0e-7);
    EXPECT_TRUE(parse_real("-2.5e3", v));
    EXPECT_DOUBLE_EQ(v, -2500.0);
    EXPECT_TRUE(parse_real("7", v));
    EXPECT_TRUE(parse_real(".5", v));
    EXPECT_DOUBLE_EQ(v, 0.5);
    EXPECT_TRUE(parse_real("1.0+05", v));
    EXPECT_DOUBLE_EQ(v, 1.0e5);
    EXPECT_TRUE(parse_real("4.9406564584124654E-324", v));  // underflow to a denormal is kept
    EXPECT_GT(v, 0.0);
    EXPECT_FALSE(parse_real("1e999", v));  // overflow
    EXPECT_FALSE(parse_real("Sin", v));
    EXPECT_FALSE(parse_real("1.0x", v));
    EXPECT_FALSE(parse_real("0x10", v));
    EXPECT_FALSE(parse_real("1e", v));
    EXPECT_FALSE(parse_real("", v));
    EXPECT_FALSE(parse_real(".", v));

    int n = 0;
    EXPECT_TRUE(parse_integer("+49", n));
    EXPECT_EQ(n, 49);
    EXPECT_FALSE(parse_integer("1.5", n));
    EXPECT_FALSE(parse_integer("99999999999", n));
    EXPECT_FALSE(parse_integer("-", n));
}

TEST(ListReader, ReadStatementGoesOnToNextLinesAndDropsTheRest) {
    std::FILE* f = text_file("1, 2.5\n\n  3 extra words\n4\n");
    ListReader r(f);
    int a = 0;
    double b = 0, c = 0;
    ASSERT_TRUE(r.read_integer(a));
    ASSERT_TRUE(r.read_real(b));
    ASSERT_TRUE(r.read_real(c));  // blank line skipped, value from line 3
    EXPECT_EQ(a, 1);
    EXPECT_EQ(b, 2.5);
    EXPECT_EQ(c, 3.0);
    r.begin_record();  // "extra words" are dropped with the rest of line 3
    int d = 0;
    ASSERT_TRUE(r.read_integer(d));
    EXPECT_EQ(d, 4);
    r.begin_record();
    EXPECT_FALSE(r.read_integer(d));  // end of file
    std::fclose(f);
}

TEST(ListReader, SkipsLinesAndReportsEndOfFile) {
    std::FILE* f = text_file("a\nb\r\nc\n");
    ListReader r(f);
    EXPECT_TRUE(r.skip_lines(2));
    std::string w;
    ASSERT_TRUE(r.read_word(w));
    EXPECT_EQ(w, "c");
    EXPECT_FALSE(r.skip_lines(1));
    std::fclose(f);
}
