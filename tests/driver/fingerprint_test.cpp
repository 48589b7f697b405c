// Every output file of a discharge run, pinned bit for bit: the example run
// to step 3600, where the ions have multiplied from 46 to a few thousand, the
// electron avalanches have crossed the gap many times and 36 potential solves
// have followed the growing space charge. The fast paths of the solvers
// (skewed sweeps, a table of shared weights, sums taken apart from the sweep)
// must keep every product, sum and draw of the plain algorithms; any change in
// order shows here.
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>

namespace {

// Runs the binary with arguments (and shell redirections) in the current
// folder; returns its exit status and appends its output to `output`.
int run_pdpcell(const std::string& arguments, std::string& output) {
    const std::string command = std::string(PDPCELL_BINARY) + " " + arguments + " 2>&1";
    std::FILE* pipe = popen(command.c_str(), "r");
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) output.append(buf, n);
    const int raw = pclose(pipe);
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
}

// FNV-1a, 64 bits: a fingerprint of a file's bytes.
std::uint64_t fingerprint(const std::string& text) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// The run log without its processor-time column, the one thing that may
// differ from run to run.
std::string log_without_cpu_time(const std::string& log) {
    std::string kept;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) kept += line.substr(0, 70) + "\n";
    return kept;
}

}  // namespace

// The fingerprints were taken from the output of the program before its
// speed-up; a change in any of them means it now computes something else.
TEST(Binary, DischargeRunTo3600StepsReproducesEveryOutputFileBitForBit) {
    TempFolder folder;
    const std::filesystem::path example = std::filesystem::path(PDPCELL_SOURCE_DIR) / "examples" / "sustain";
    for (const char* name : {"input_file.txt", "Vdata.txt"}) std::filesystem::copy_file(example / name, name);
    std::string output;
    ASSERT_EQ(run_pdpcell("--max-steps 3600 </dev/null", output), 0) << output;
    // The discharge has built up: more than a thousand ions at the last logged step.
    const std::string log = TempFolder::read("general.txt");
    const std::size_t last_line = log.rfind('\n', log.size() - 2) + 1;
    EXPECT_EQ(log.substr(last_line, 8), "    3581");
    EXPECT_GT(std::stoi(log.substr(last_line + 50, 10)), 1000) << log.substr(last_line);

    const struct {
        const char* file;
        std::uint64_t expected;
    } pins[] = {
        {"general.txt", 18337921352967447487ull},
        {"SUSTAIN_STATE.txt", 4424378012300049545ull},
        {"control_file.txt", 3175176578055703211ull},
        {"OUT_Electron_Density.2Ddata", 17015844882447376035ull},
        {"OUT_Electron_Density_top.2Ddata", 12693300997527551400ull},
        {"OUT_Ion_Density.2Ddata", 2301825343056257022ull},
        {"OUT_Ion_Density_top.2Ddata", 6621399045044228500ull},
        {"OUT_Potential.2Ddata", 3002261967702566055ull},
    };
    for (const auto& pin : pins) {
        std::string text = TempFolder::read(pin.file);
        if (std::string(pin.file) == "general.txt") text = log_without_cpu_time(text);
        EXPECT_EQ(fingerprint(text), pin.expected) << pin.file;
    }
}
