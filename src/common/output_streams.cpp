#include "common/output_streams.hpp"

#include "common/fatal_error.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace output_streams {

namespace {

// The reason of a failed flush, or "" when the stream is fine. A failed
// flush leaves errno set; a write that failed earlier leaves only the error
// flag, because the C library drops the buffer it could not write.
std::string flush_problem(std::FILE* file) {
    errno = 0;
    if (std::fflush(file) != 0) return std::strerror(errno != 0 ? errno : EIO);
    if (std::ferror(file) != 0) return "an earlier write was lost";
    return {};
}

}  // namespace

bool open_standard_descriptors() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
        // The lowest free descriptor is the one that was closed.
        const int opened = open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened != fd) {
            if (opened >= 0) close(opened);
            return false;
        }
    }
    return true;
}

void flush_or_stop(std::FILE* file, const std::string& name) {
    const std::string problem = flush_problem(file);
    if (!problem.empty()) pdp::fatal("ERROR: writing file " + name + " failed: " + problem);
}

void close_or_stop(std::FILE* file, const std::string& name) {
    std::string problem = flush_problem(file);
    errno = 0;
    if (std::fclose(file) != 0 && problem.empty()) problem = std::strerror(errno != 0 ? errno : EIO);
    if (!problem.empty()) pdp::fatal("ERROR: writing file " + name + " failed: " + problem);
}

std::FILE* open_or_stop(const char* name, const char* mode) {
    std::FILE* f = std::fopen(name, mode);
    if (f == nullptr) pdp::fatal(std::string("ERROR: Can't open file: ") + name);
    return f;
}

void write_line_or_stop(std::FILE* file, const char* name, const std::string& line) {
    std::fputs(line.c_str(), file);
    std::fputc('\n', file);
    flush_or_stop(file, name);
}

void flush_console_or_stop() {
    const std::string problem = flush_problem(stdout);
    if (!problem.empty()) pdp::fatal("ERROR: writing standard output failed: " + problem);
}

}  // namespace output_streams
