#include "common/fatal_error.hpp"

#include <cstdio>

namespace pdp {

void (*before_message)() = nullptr;

namespace {

std::string joined(std::initializer_list<std::string> lines) {
    std::string all;
    for (const std::string& line : lines) {
        all += line;
        all += '\n';
    }
    return all;
}

}  // namespace

void report(std::initializer_list<std::string> lines) {
    if (before_message != nullptr) before_message();
    const std::string all = joined(lines);
    std::fputs(all.c_str(), stdout);
    // A console that cannot be written (a full disk, /dev/full) would lose
    // the message; standard error then carries it.
    if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
        std::fputs(all.c_str(), stderr);
        std::fflush(stderr);
    }
}

[[noreturn]] void fatal(std::initializer_list<std::string> lines) {
    report(lines);
    throw FatalError(joined(lines));
}

[[noreturn]] void fatal(const std::string& line) { fatal({line}); }

}  // namespace pdp
