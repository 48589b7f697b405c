// pdpcell: one discharge cell of an AC plasma display panel, particle-in-cell.
// Run in a folder that holds "input_file.txt" and "Vdata.txt".
#include "common/build_version.hpp"
#include "common/fatal_error.hpp"
#include "common/output_streams.hpp"
#include "driver/main_program.hpp"
#include "driver/run_folder_lock.hpp"
#include "driver/run_options.hpp"

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

namespace {

constexpr int USAGE_EXIT_STATUS = 2;

// A message of several lines as one, the lines joined by " / " without
// their indentation.
std::string one_line(const std::string& message) {
    std::string joined;
    std::size_t from = 0;
    while (from < message.size()) {
        std::size_t end = message.find('\n', from);
        if (end == std::string::npos) end = message.size();
        std::size_t first = message.find_first_not_of(' ', from);
        if (first > end) first = end;
        if (first < end) joined += (joined.empty() ? "" : " / ") + message.substr(first, end - first);
        from = end + 1;
    }
    return joined;
}

// Output that did not reach the console makes the exit status 1.
int console_status(int status) {
    try {
        output_streams::flush_console_or_stop();
    } catch (const pdp::FatalError&) {
        return pdp::FATAL_EXIT_STATUS;
    }
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    // A closed descriptor would be taken by the next file opened, and the
    // console would then be written into it.
    if (!output_streams::open_standard_descriptors()) return pdp::FATAL_EXIT_STATUS;
    run_options::Options options;
    const std::vector<std::string> args(argv + 1, argv + argc);
    // The case's own options first; --help and --version need none of them.
    bool asks_for_text = false;
    for (const std::string& arg : args) asks_for_text = asks_for_text || arg == "--help" || arg == "-h" || arg == "--version";
    run_options::ParseResult parsed = asks_for_text ? run_options::ParseResult{} : run_options::read_options_file(options);
    if (parsed.action == run_options::ParseResult::Action::run) parsed = run_options::parse(args, options);
    run_options::apply_whole_run(options);
    switch (parsed.action) {
        case run_options::ParseResult::Action::help:
            std::fputs(run_options::usage_text(), stdout);
            return console_status(0);
        case run_options::ParseResult::Action::version:
            std::printf("%s\n", build_version::text().c_str());
            return console_status(0);
        case run_options::ParseResult::Action::usage_error:
            std::fprintf(stderr, "pdpcell: %s\n", parsed.message.c_str());
            std::fputs(run_options::usage_text(), stderr);
            return USAGE_EXIT_STATUS;
        case run_options::ParseResult::Action::run:
            break;
    }

    options.typed.assign(argv, argv + argc);

    int status = 0;
    try {
        run_folder_lock::hold();  // before any other file is touched
        status = driver::run_simulation(options);
    } catch (const pdp::FatalError& e) {
        // The message is already on the console; the summary names it again.
        run_folder_lock::release();
        driver::write_run_summary("error: " + one_line(e.what()));
        return pdp::FATAL_EXIT_STATUS;
    } catch (const std::exception& e) {
        run_folder_lock::release();
        pdp::report({std::string("ERROR: ") + e.what()});
        driver::write_run_summary("error: " + one_line(e.what()));
        return pdp::FATAL_EXIT_STATUS;
    }
    // The files are closed: the end-of-run pause holds the folder no longer.
    run_folder_lock::release();
    if (status != 0 || options.max_steps > 0) return console_status(status);
    driver::pause_until_interrupted(std::cin);
    return console_status(0);
}
