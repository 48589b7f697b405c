// pdpcell: one discharge cell of an AC plasma display panel, particle-in-cell.
// Run in a folder that holds "input_file.txt" and "Vdata.txt".
#include "common/fatal_error.hpp"
#include "driver/main_program.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <string>

namespace {

constexpr int USAGE_EXIT_STATUS = 2;

void print_usage(std::FILE* out) {
    std::fputs(
        "Usage: pdpcell [--max-steps N]\n"
        "Simulates one AC plasma display cell in the current folder, which must hold\n"
        "\"input_file.txt\" and \"Vdata.txt\".\n"
        "\n"
        "  --max-steps N  stop after step N, close the files and exit without the\n"
        "                 end-of-run pause\n"
        "  --help         print this text\n"
        "  --version      print the version\n",
        out);
}

}  // namespace

int main(int argc, char** argv) {
    int max_steps = 0;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--help" || arg == "-h") {
            print_usage(stdout);
            return 0;
        }
        if (arg == "--version") {
            std::printf("pdpcell %s\n", PDPCELL_VERSION);
            return 0;
        }
        if (arg == "--max-steps" && a + 1 < argc) {
            char* end = nullptr;
            long n = std::strtol(argv[++a], &end, 10);
            if (*end != '\0' || n < 1 || n > 1000000000) {
                std::fprintf(stderr, "pdpcell: --max-steps needs a whole number of at least 1\n");
                print_usage(stderr);
                return USAGE_EXIT_STATUS;
            }
            max_steps = static_cast<int>(n);
            continue;
        }
        std::fprintf(stderr, "pdpcell: unknown option '%s'\n", arg.c_str());
        print_usage(stderr);
        return USAGE_EXIT_STATUS;
    }

    try {
        driver::run_simulation(max_steps);
    } catch (const pdp::FatalError&) {
        return pdp::FATAL_EXIT_STATUS;  // the message is already on the console
    } catch (const std::exception& e) {
        std::printf("ERROR: %s\n", e.what());
        return pdp::FATAL_EXIT_STATUS;
    }
    if (max_steps > 0) return 0;
    driver::pause_until_interrupted(std::cin);
    return 0;
}
