#pragma once
// Fortran edit descriptors and list-directed ("free-format") output.
//
// Fixed layouts: I(v, w) is Iw, F(v, w, d) is Fw.d, ES(v, w, d) is ESw.d,
// D(v, w, d) is Dw.d (0.ddd...D+xx), X(n) is nX. A value that does not fit
// its field prints as w asterisks, as a Fortran run-time library does.
//
// Free format: a line starts with one blank and lists its items separated by
// blanks; doubles carry 17 significant digits so that they read back exactly.
#include <cstdio>
#include <string>
#include <string_view>

namespace fortran {

std::string I(long long value, int w);
std::string F(double value, int w, int d);
std::string ES(double value, int w, int d);
std::string D(double value, int w, int d);
std::string X(int n);

// One free-format number, without surrounding blanks.
std::string free_real(double value);
std::string free_integer(long long value);

// Builds one free-format line: FreeLine().item("PH_M=").item(phi).str().
struct FreeLine {
    std::string text;
    FreeLine& item(std::string_view word);
    FreeLine& item(const char* word) { return item(std::string_view(word)); }
    FreeLine& item(int value);
    FreeLine& item(long long value);
    FreeLine& item(double value);
    std::string str() const { return " " + text; }
};

// Writes a free-format record of n values: a record may span several lines,
// each starting with a blank, VALUES_PER_LINE values to a line.
constexpr int VALUES_PER_LINE = 5;
void write_free_record(std::FILE* out, const double* values, long n);
void write_free_record(std::FILE* out, const int* values, long n);

// Writes text followed by a newline; the console and the files share this.
void write_line(std::FILE* out, const std::string& line);

}  // namespace fortran
