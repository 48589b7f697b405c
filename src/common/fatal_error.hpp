#pragma once
// The one way the program stops on an error: the message lines go to standard
// output exactly as given (and to standard error too when standard output
// cannot be written), then a FatalError unwinds to main, which exits with a
// non-zero status. Tests catch the exception instead of losing the process.
#include <stdexcept>
#include <string>
#include <initializer_list>

namespace pdp {

struct FatalError : std::runtime_error {
    explicit FatalError(const std::string& lines) : std::runtime_error(lines) {}
};

// Called, when set, just before a message is printed: a progress line kept
// on the same terminal is cleared first, so that the message starts a line.
extern void (*before_message)();

// Prints each line on its own console line; when the console fails, on
// standard error as well.
void report(std::initializer_list<std::string> lines);
// Reports the lines, then throws.
[[noreturn]] void fatal(std::initializer_list<std::string> lines);
[[noreturn]] void fatal(const std::string& line);

// Exit status of a run that ended in a fatal error.
constexpr int FATAL_EXIT_STATUS = 1;

}  // namespace pdp
