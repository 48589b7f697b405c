#include "common/fatal_error.hpp"

#include <cstdio>

namespace pdp {

void (*before_message)() = nullptr;

[[noreturn]] void fatal(std::initializer_list<std::string> lines) {
    if (before_message != nullptr) before_message();
    std::string all;
    for (const std::string& line : lines) {
        std::fputs(line.c_str(), stdout);
        std::fputc('\n', stdout);
        all += line;
        all += '\n';
    }
    std::fflush(stdout);
    throw FatalError(all);
}

[[noreturn]] void fatal(const std::string& line) { fatal({line}); }

}  // namespace pdp
