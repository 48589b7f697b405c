#include "common/fortran_format.hpp"

#include <cmath>
#include <cstdlib>

namespace fortran {

namespace {

std::string stars(int w) { return std::string(w > 0 ? w : 0, '*'); }

// Right-aligns s in w columns, or fills the field with asterisks.
std::string fit(const std::string& s, int w) {
    if (static_cast<int>(s.size()) > w) return stars(w);
    return std::string(w - s.size(), ' ') + s;
}

// Splits |value| into d significant digits and a decimal exponent such that
// value = 0.DIGITS x 10^exponent (digits has exactly d characters, rounded).
void scaled_digits(double value, int d, std::string& digits, int& exponent) {
    if (value == 0.0) {
        digits.assign(d, '0');
        exponent = 0;
        return;
    }
    // %.*e rounds correctly to d significant digits: m.mmm e X = 0.mmmm e X+1.
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*e", d - 1, std::fabs(value));
    std::string s(buf);
    std::size_t e = s.find('e');
    digits.clear();
    for (std::size_t i = 0; i < e; ++i)
        if (s[i] != '.') digits += s[i];
    exponent = std::atoi(s.c_str() + e + 1) + 1;
}

// Exponent part of an E/D form: letter, sign and two digits; three digits
// replace the letter.
std::string exponent_text(char letter, int exponent) {
    char buf[16];
    int magnitude = std::abs(exponent);
    char sign = exponent < 0 ? '-' : '+';
    if (magnitude <= 99)
        std::snprintf(buf, sizeof buf, "%c%c%02d", letter, sign, magnitude);
    else
        std::snprintf(buf, sizeof buf, "%c%03d", sign, magnitude);
    return buf;
}

}  // namespace

std::string I(long long value, int w) { return fit(std::to_string(value), w); }

std::string F(double value, int w, int d) {
    if (!std::isfinite(value)) return fit(std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity"), w);
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", d, value);
    std::string s(buf);
    // A leading zero before the point is optional in Fortran; drop it when
    // that is what makes the number fit.
    if (static_cast<int>(s.size()) > w) {
        if (s.rfind("0.", 0) == 0) s.erase(0, 1);
        else if (s.rfind("-0.", 0) == 0) s.erase(1, 1);
    }
    return fit(s, w);
}

std::string ES(double value, int w, int d) {
    if (!std::isfinite(value)) return fit(std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity"), w);
    std::string digits;
    int exponent = 0;
    scaled_digits(value, d + 1, digits, exponent);
    std::string s = std::signbit(value) && value != 0.0 ? "-" : "";
    s += digits[0];
    s += '.';
    s += digits.substr(1);
    s += exponent_text('E', value == 0.0 ? 0 : exponent - 1);
    return fit(s, w);
}

std::string D(double value, int w, int d) {
    if (!std::isfinite(value)) return fit(std::isnan(value) ? "NaN" : (value < 0 ? "-Infinity" : "Infinity"), w);
    std::string digits;
    int exponent = 0;
    scaled_digits(value, d, digits, exponent);
    std::string s = std::signbit(value) && value != 0.0 ? "-" : "";
    s += "0.";
    s += digits;
    s += exponent_text('D', exponent);
    // As with F, the leading zero goes first when the field is too narrow.
    if (static_cast<int>(s.size()) > w) {
        std::size_t zero = s.find("0.");
        s.erase(zero, 1);
    }
    return fit(s, w);
}

std::string X(int n) { return std::string(n > 0 ? n : 0, ' '); }

std::string free_real(double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.16E", value);
    return buf;
}

std::string free_integer(long long value) { return std::to_string(value); }

FreeLine& FreeLine::item(std::string_view word) {
    if (!text.empty()) text += ' ';
    text += word;
    return *this;
}

FreeLine& FreeLine::item(int value) { return item(static_cast<long long>(value)); }

FreeLine& FreeLine::item(long long value) {
    std::string s = free_integer(value);
    return item(std::string_view(s));
}

FreeLine& FreeLine::item(double value) {
    std::string s = free_real(value);
    return item(std::string_view(s));
}

void write_free_record(std::FILE* out, const double* values, long n) {
    if (n == 0) {
        std::fputs(" \n", out);
        return;
    }
    char buf[64];
    for (long m = 0; m < n; ++m) {
        std::snprintf(buf, sizeof buf, " %.16E", values[m]);
        std::fputs(buf, out);
        if ((m + 1) % VALUES_PER_LINE == 0 || m + 1 == n) std::fputc('\n', out);
    }
}

void write_free_record(std::FILE* out, const int* values, long n) {
    if (n == 0) {
        std::fputs(" \n", out);
        return;
    }
    for (long m = 0; m < n; ++m) {
        std::fprintf(out, " %d", values[m]);
        if ((m + 1) % (2 * VALUES_PER_LINE) == 0 || m + 1 == n) std::fputc('\n', out);
    }
}

void write_line(std::FILE* out, const std::string& line) {
    std::fputs(line.c_str(), out);
    std::fputc('\n', out);
}

}  // namespace fortran
