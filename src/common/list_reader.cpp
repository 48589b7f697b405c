#include "common/list_reader.hpp"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <sys/types.h>

namespace fortran {

namespace {

// What separates values: blanks, tabs and commas.
const char* const SEPARATORS = " \t,";

// The C library's span functions are fast on the long lines of a checkpoint
// but stop at a NUL byte, which a damaged file may hold: such lines take the
// plain search.
std::size_t skip_separators(const std::string& line, bool has_nul, std::size_t pos) {
    if (!has_nul) return pos + std::strspn(line.c_str() + pos, SEPARATORS);
    return std::min(line.find_first_not_of(SEPARATORS, pos), line.size());
}

std::size_t token_end(const std::string& line, bool has_nul, std::size_t pos) {
    if (!has_nul) return pos + std::strcspn(line.c_str() + pos, SEPARATORS);
    return std::min(line.find_first_of(SEPARATORS, pos), line.size());
}

}  // namespace

bool read_text_line(std::FILE* in, std::string& line) {
    line.clear();
    // getline keeps NUL bytes and has no length limit; the C library's loop
    // is much faster than one fgetc per character on a checkpoint.
    char* text = nullptr;
    std::size_t capacity = 0;
    const ssize_t n = getline(&text, &capacity, in);
    if (n > 0) line.assign(text, static_cast<std::size_t>(n));
    std::free(text);
    if (n <= 0) return false;
    if (line.back() == '\n') line.pop_back();
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

std::string unreadable_text_form(std::FILE* in) {
    unsigned char head[4096];
    const std::size_t n = std::fread(head, 1, sizeof head, in);
    std::clearerr(in);
    std::fseek(in, 0, SEEK_SET);
    const auto starts = [&](std::initializer_list<unsigned char> mark) {
        return n >= mark.size() && std::equal(mark.begin(), mark.end(), head);
    };
    if (starts({0xFF, 0xFE, 0x00, 0x00})) return "is in UTF-32 (little-endian)";
    if (starts({0x00, 0x00, 0xFE, 0xFF})) return "is in UTF-32 (big-endian)";
    if (starts({0xFF, 0xFE})) return "is in UTF-16 (little-endian)";
    if (starts({0xFE, 0xFF})) return "is in UTF-16 (big-endian)";
    // Without a mark, UTF-16 text in ASCII shows every other byte zero.
    std::size_t zero_even = 0, zero_odd = 0;
    for (std::size_t i = 0; i < n; ++i)
        if (head[i] == 0) ++(i % 2 == 0 ? zero_even : zero_odd);
    if (zero_odd > 0 && zero_even == 0 && zero_odd * 4 >= n) return "is in UTF-16 (little-endian)";
    if (zero_even > 0 && zero_odd == 0 && zero_even * 4 >= n) return "is in UTF-16 (big-endian)";
    if (zero_even + zero_odd > 0) return "holds NUL bytes: it is not a text file";
    // The first line end decides: a carriage return followed by anything but
    // a line feed is the old Macintosh convention.
    for (std::size_t i = 0; i < n; ++i) {
        if (head[i] == '\n') break;
        if (head[i] == '\r' && i + 1 < n && head[i + 1] != '\n')
            return "has lines that end in a carriage return alone (CR, old Macintosh line ends)";
    }
    return "";
}

bool ListReader::fetch_line() {
    if (!read_text_line(in, line)) {
        at_end = true;
        line.clear();
        return false;
    }
    if (line_number == 0 && line.compare(0, 3, "\xEF\xBB\xBF") == 0) line.erase(0, 3);
    line_has_nul = line.find('\0') != std::string::npos;
    ++line_number;
    return true;
}

bool ListReader::skip_lines(int n) {
    in_record = false;
    for (int m = 0; m < n; ++m)
        if (!fetch_line()) return false;
    pos = line.size();
    return true;
}

bool ListReader::read_line() {
    in_record = false;
    if (!fetch_line()) return false;
    pos = line.size();
    return true;
}

bool ListReader::next_token(std::string& token) {
    for (;;) {
        if (!in_record) {
            if (!fetch_line()) return false;
            pos = 0;
            in_record = true;
        }
        pos = skip_separators(line, line_has_nul, pos);
        if (pos < line.size()) {
            const std::size_t start = pos;
            pos = token_end(line, line_has_nul, pos);
            token.assign(line, start, pos - start);
            return true;
        }
        // Line used up: the same read statement goes on with the next line.
        if (!fetch_line()) return false;
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
