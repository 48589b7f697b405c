#pragma once
// Free-format (list-directed) reading of text files, as a Fortran READ does it:
// every read statement starts at a new line, values are separated by blanks
// or commas, a statement that needs more values than its line holds goes on
// to the next lines, and the rest of its last line is dropped. Numbers may
// use Fortran exponents (1.0D-07) as well as C ones (1.0E-07).
#include <cstdio>
#include <string>

namespace fortran {

// Reads one text line without its line ending; false at end of file.
bool read_text_line(std::FILE* in, std::string& line);

// Strict conversions of one whole token; false for anything else, for an
// integer outside 32 bits and for a real that overflows a double.
bool parse_integer(const std::string& token, int& value);
bool parse_real(const std::string& token, double& value);

// Looks at the start of a file for a form this reader cannot take: UTF-16 or
// UTF-32 text, NUL bytes, or lines that end in a carriage return alone. Returns
// what it found, worded to follow the file name ("is in UTF-16 ..."), or ""
// when the file looks like plain text. The file is left at its start.
std::string unreadable_text_form(std::FILE* in);

struct ListReader {
    std::FILE* in = nullptr;
    std::string line;
    std::size_t pos = 0;
    bool in_record = false;  // true while a read statement is taking values
    long line_number = 0;    // lines consumed so far, for messages
    bool at_end = false;     // a read ran into the end of the file

    explicit ListReader(std::FILE* file) : in(file) {}

    // Starts a new read statement: what is left of the current line is dropped.
    void begin_record() { in_record = false; }
    // Skips n whole lines (n empty read statements); false at end of file.
    bool skip_lines(int n);
    // Reads the next whole line as a read statement of its own into `line`;
    // false at end of file.
    bool read_line();
    // Next blank- or comma-separated token, going on to following lines.
    bool next_token(std::string& token);
    bool read_integer(int& value);
    bool read_real(double& value);
    bool read_word(std::string& word) { return next_token(word); }

private:
    bool line_has_nul = false;
    // The next line into `line`, counted; false at end of file.
    bool fetch_line();
};

}  // namespace fortran
