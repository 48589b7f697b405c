#include "output/output_history.hpp"

#include "common/fatal_error.hpp"
#include "common/list_reader.hpp"
#include "common/output_streams.hpp"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace output_history {

namespace {

[[noreturn]] void cannot_continue(const std::string& name, int error) {
    pdp::fatal("ERROR: can't continue file " + name + " after the restart: " + std::strerror(error));
}

// Reads a file line by line, each line with its newline; a last line without
// one was cut short by a killed run or a full disk and is never complete.
struct LineReader {
    std::string name;
    std::FILE* in = nullptr;
    char* buffer = nullptr;
    std::size_t capacity = 0;
    std::string line;  // without the newline
    long bytes = 0;    // length of the line read, newline included

    explicit LineReader(const std::string& file_name) : name(file_name) {
        in = std::fopen(name.c_str(), "r");
        if (in == nullptr && errno != ENOENT) cannot_continue(name, errno);
    }
    ~LineReader() {
        std::free(buffer);
        if (in != nullptr) std::fclose(in);
    }
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;

    // The next complete line; false at the end of the file or at a cut line.
    bool next() {
        if (in == nullptr) return false;
        errno = 0;
        const ssize_t n = getline(&buffer, &capacity, in);
        if (n < 0) {
            if (std::ferror(in) != 0) cannot_continue(name, errno != 0 ? errno : EIO);
            return false;
        }
        if (buffer[n - 1] != '\n') return false;
        line.assign(buffer, static_cast<std::size_t>(n - 1));
        bytes = n;
        return true;
    }

    bool next_is(const std::string& expected) { return next() && line == expected; }
};

// The one value of a line, blanks around it allowed.
bool parse_value(const std::string& text, double& value) {
    const std::size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return false;
    return fortran::parse_real(text.substr(first, text.find_last_not_of(' ') - first + 1), value);
}

bool parse_step(const std::string& text, int& value) {
    const std::size_t first = text.find_first_not_of(' ');
    return first != std::string::npos && fortran::parse_integer(text.substr(first), value);
}

}  // namespace

long run_log_length(const std::string& name, const std::string& header, int step) {
    LineReader in(name);
    if (!in.next_is(header)) return 0;
    long kept = in.bytes;
    int logged = 0;
    while (in.next() && in.line.size() >= 8 && parse_step(in.line.substr(0, 8), logged) && logged < step)
        kept += in.bytes;
    return kept;
}

long slice_file_length(const std::string& name, const std::vector<std::string>& header,
                       const std::string& name_line, int rows, double time) {
    LineReader in(name);
    long kept = 0;
    for (const std::string& line : header) {
        if (!in.next_is(line)) return 0;
        kept += in.bytes;
    }
    for (;;) {
        long block = 0;
        double written = 0.0;
        if (!in.next_is("  TIME")) break;
        block += in.bytes;
        if (!in.next() || !parse_value(in.line, written) || !(written < time)) break;
        block += in.bytes;
        if (!in.next_is(name_line)) break;
        block += in.bytes;
        // A block short of rows would take the next block's first line.
        int row = 0;
        for (; row < rows && in.next() && in.line != "  TIME"; ++row) block += in.bytes;
        if (row < rows) break;
        kept += block;
    }
    return kept;
}

void cut_file(const std::string& name, long length) {
    if (truncate(name.c_str(), length) != 0 && errno != ENOENT) cannot_continue(name, errno);
}

std::FILE* reopen_at(const std::string& name, long length, int nstep, const std::string& remedy) {
    // Checked before the cut: truncate would pad a shorter file with NUL bytes.
    struct stat info {};
    const long found = stat(name.c_str(), &info) == 0 ? static_cast<long>(info.st_size) : 0;
    if (found < length)
        pdp::fatal({"ERROR: " + name + " is shorter than at the checkpoint of step " + std::to_string(nstep),
                    "       " + remedy});
    cut_file(name, length);
    return output_streams::open_or_stop(name.c_str(), "a");
}

}  // namespace output_history
