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

TEST(ListReader, PassesOverAUtf8MarkOnlyAtTheStartAndTracksTheLineRead) {
    std::FILE* f = text_file("\xEF\xBB\xBF" "12 a\n\xEF\xBB\xBF" "3\n\nlast\n");
    ListReader r(f);
    int n = 0;
    ASSERT_TRUE(r.read_integer(n));
    EXPECT_EQ(n, 12);
    EXPECT_EQ(r.line, "12 a");
    EXPECT_EQ(r.line_number, 1);
    r.begin_record();
    EXPECT_FALSE(r.read_integer(n));  // a mark inside the file is text like any other
    EXPECT_EQ(r.line_number, 2);
    ASSERT_TRUE(r.skip_lines(1));     // skipped lines are counted and kept for messages
    EXPECT_EQ(r.line_number, 3);
    ASSERT_TRUE(r.read_line());
    EXPECT_EQ(r.line, "last");
    EXPECT_FALSE(r.at_end);
    EXPECT_FALSE(r.read_line());
    EXPECT_TRUE(r.at_end);
    EXPECT_EQ(r.line_number, 4);
    std::fclose(f);
}

TEST(UnreadableTextForm, NamesTheEncodingOrTheLineEndsAndRewinds) {
    const struct {
        std::string text;
        const char* expected;
    } cases[] = {
        {"3 electrodes\r\n1 2\r\n", ""},
        {"\xEF\xBB\xBF" "3\n", ""},
        {"one line without an end", ""},
        {"ends in CR\r", ""},
        {std::string("\xFF\xFE" "3\0\n\0", 6), "is in UTF-16 (little-endian)"},
        {std::string("\xFE\xFF\0" "3\0\n", 6), "is in UTF-16 (big-endian)"},
        {std::string("3\0 \0x\0\n\0", 8), "is in UTF-16 (little-endian)"},
        {std::string("\0" "3\0 \0x\0\n", 8), "is in UTF-16 (big-endian)"},
        {std::string("\xFF\xFE\0\0" "3\0\0\0", 8), "is in UTF-32 (little-endian)"},
        {std::string("text\0 with one NUL\n", 19), "holds NUL bytes: it is not a text file"},
        {"3\r1 2\r", "has lines that end in a carriage return alone (CR, old Macintosh line ends)"},
        {"3\n1 2\r3 4\n", ""},  // only the first line end decides
    };
    for (const auto& c : cases) {
        std::FILE* f = std::tmpfile();
        std::fwrite(c.text.data(), 1, c.text.size(), f);
        std::rewind(f);
        EXPECT_EQ(unreadable_text_form(f), c.expected) << c.text;
        EXPECT_EQ(std::ftell(f), 0L);
        EXPECT_EQ(std::fgetc(f), c.text.empty() ? EOF : static_cast<unsigned char>(c.text[0]));
        std::fclose(f);
    }
}

TEST(ReadTextLine, KeepsNulBytesDropsOneLineEndAndReadsALastLineWithoutOne) {
    std::FILE* f = std::tmpfile();
    const std::string text("a\0b\r\n\r\r\n\nlast", 13);
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    std::string line;
    ASSERT_TRUE(read_text_line(f, line));
    EXPECT_EQ(line, std::string("a\0b", 3));
    ASSERT_TRUE(read_text_line(f, line));
    EXPECT_EQ(line, "\r");  // only the carriage return of the line end goes
    ASSERT_TRUE(read_text_line(f, line));
    EXPECT_EQ(line, "");
    ASSERT_TRUE(read_text_line(f, line));
    EXPECT_EQ(line, "last");
    EXPECT_FALSE(read_text_line(f, line));
    EXPECT_EQ(line, "");
    std::fclose(f);
}

TEST(ListReader, SplitsLinesWithNulBytesLikeAnyOther) {
    std::FILE* f = std::tmpfile();
    const std::string text("a\0b,  c\t\0\n 7 8", 14);
    std::fwrite(text.data(), 1, text.size(), f);
    std::rewind(f);
    ListReader r(f);
    std::string word;
    ASSERT_TRUE(r.read_word(word));
    EXPECT_EQ(word, std::string("a\0b", 3));
    ASSERT_TRUE(r.read_word(word));
    EXPECT_EQ(word, "c");
    ASSERT_TRUE(r.read_word(word));
    EXPECT_EQ(word, std::string(1, '\0'));
    int n = 0;
    ASSERT_TRUE(r.read_integer(n));  // on to the next line, which has no NUL
    EXPECT_EQ(n, 7);
    ASSERT_TRUE(r.read_integer(n));
    EXPECT_EQ(n, 8);
    std::fclose(f);
}
