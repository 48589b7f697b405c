// pdpcell: one discharge cell of an AC plasma display panel, particle-in-cell.
// Run in a folder that holds "input_file.txt" and "Vdata.txt".
#include "common/fatal_error.hpp"
#include "driver/main_program.hpp"
#include "driver/run_options.hpp"

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int USAGE_EXIT_STATUS = 2;

// A message of several lines as one, the lines joined by " / ".
std::string one_line(std::string message) {
    while (!message.empty() && message.back() == '\n') message.pop_back();
    for (std::size_t at = message.find('\n'); at != std::string::npos; at = message.find('\n', at))
        message.replace(at, 1, " / ");
    return message;
}

}  // namespace

int main(int argc, char** argv) {
    run_options::Options options;
    const std::vector<std::string> args(argv + 1, argv + argc);
    const run_options::ParseResult parsed = run_options::parse(args, options);
    switch (parsed.action) {
        case run_options::ParseResult::Action::help:
            std::fputs(run_options::usage_text(), stdout);
            return 0;
        case run_options::ParseResult::Action::version:
            std::printf("pdpcell %s\n", PDPCELL_VERSION);
            return 0;
        case run_options::ParseResult::Action::usage_error:
            std::fprintf(stderr, "pdpcell: %s\n", parsed.message.c_str());
            std::fputs(run_options::usage_text(), stderr);
            return USAGE_EXIT_STATUS;
        case run_options::ParseResult::Action::run:
            break;
    }

    try {
        driver::run_simulation(options);
    } catch (const pdp::FatalError& e) {
        // The message is already on the console; the summary names it again.
        driver::write_run_summary("error: " + one_line(e.what()));
        return pdp::FATAL_EXIT_STATUS;
    } catch (const std::exception& e) {
        std::printf("ERROR: %s\n", e.what());
        driver::write_run_summary("error: " + one_line(e.what()));
        return pdp::FATAL_EXIT_STATUS;
    }
    if (options.max_steps > 0) return 0;
    driver::pause_until_interrupted(std::cin);
    return 0;
}
