#include "common/list_reader.hpp"

#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

namespace fortran {

bool read_text_line(std::FILE* in, std::string& line) {
    line.clear();
    int c = std::fgetc(in);
    if (c == EOF) return false;
    while (c != EOF && c != '\n') {
        line += static_cast<char>(c);
        c = std::fgetc(in);
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

bool parse_integer(const std::string& token, int& value) {
    if (token.empty()) return false;
    std::size_t start = (token[0] == '+' || token[0] == '-') ? 1 : 0;
    if (start == token.size()) return false;
    for (std::size_t i = start; i < token.size(); ++i)
        if (token[i] < '0' || token[i] > '9') return false;
    errno = 0;
    long long v = std::strtoll(token.c_str(), nullptr, 10);
    if (errno == ERANGE || v < INT_MIN || v > INT_MAX) return false;
    value = static_cast<int>(v);
    return true;
}

bool parse_real(const std::string& token, double& value) {
    // Accept [sign] digits [. digits] [exponent letter E/D/Q [sign] digits],
    // plus the Infinity and NaN words; nothing else (no hex, no trailing junk).
    std::string s = token;
    std::size_t i = 0, n = s.size();
    if (n == 0) return false;
    if (s[i] == '+' || s[i] == '-') ++i;
    std::string word = s.substr(i);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (word == "inf" || word == "infinity" || word == "nan") {
        value = word == "nan" ? std::nan("") : (s[0] == '-' ? -INFINITY : INFINITY);
        return true;
    }
    std::size_t mantissa_digits = 0;
    while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++mantissa_digits;
    if (i < n && s[i] == '.') {
        ++i;
        while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++mantissa_digits;
    }
    if (mantissa_digits == 0) return false;
    if (i < n) {
        char e = s[i];
        if (e == 'e' || e == 'E' || e == 'd' || e == 'D' || e == 'q' || e == 'Q') {
            s[i] = 'E';
            ++i;
        } else if (e != '+' && e != '-') {
            return false;
        } else {
            s.insert(i, 1, 'E');  // 1.0+05 is 1.0E+05 in Fortran
            ++i;
            ++n;
        }
        if (i < n && (s[i] == '+' || s[i] == '-')) ++i;
        std::size_t exponent_digits = 0;
        while (i < n && std::isdigit(static_cast<unsigned char>(s[i]))) ++i, ++exponent_digits;
        if (exponent_digits == 0 || i != n) return false;
    }
    errno = 0;
    double v = std::strtod(s.c_str(), nullptr);
    if (errno == ERANGE && std::isinf(v)) return false;  // overflow; underflow is fine
    value = v;
    return true;
}

bool ListReader::skip_lines(int n) {
    in_record = false;
    std::string dummy;
    for (int m = 0; m < n; ++m) {
        if (!read_text_line(in, dummy)) return false;
        ++line_number;
    }
    return true;
}

bool ListReader::next_token(std::string& token) {
    for (;;) {
        if (!in_record) {
            if (!read_text_line(in, line)) return false;
            ++line_number;
            pos = 0;
            in_record = true;
        }
        while (pos < line.size() && (line[pos] == ' ' || line[pos] == '\t' || line[pos] == ','))
            ++pos;
        if (pos < line.size()) {
            std::size_t start = pos;
            while (pos < line.size() && line[pos] != ' ' && line[pos] != '\t' && line[pos] != ',')
                ++pos;
            token = line.substr(start, pos - start);
            return true;
        }
        // Line used up: the same read statement goes on with the next line.
        if (!read_text_line(in, line)) return false;
        ++line_number;
        pos = 0;
        in_record = true;
    }
}

bool ListReader::read_integer(int& value) {
    std::string token;
    return next_token(token) && parse_integer(token, value);
}

bool ListReader::read_real(double& value) {
    std::string token;
    return next_token(token) && parse_real(token, value);
}

}  // namespace fortran
