// Every output file of a discharge run, pinned bit for bit: the example run
// to step 3600, where the ions have multiplied from 46 to a few thousand, the
// electron avalanches have crossed the gap many times and 36 potential solves
// have followed the growing space charge. The fast paths of the solvers
// (skewed sweeps, a table of shared weights, sums taken apart from the sweep)
// must keep every product, sum and draw of the plain algorithms; any change in
// order shows here. The same run is the reference of a merged one.
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace {

int logged_ions(const std::string& line) { return std::stoi(line.substr(50, 10)); }

}  // namespace

// The fingerprints were taken from the output of the program before its
// speed-up; a change in any of them means it now computes something else.
TEST(Binary, DischargeRunTo3600StepsReproducesEveryOutputFileBitForBitAndAMergedRunFollowsIt) {
    TempFolder folder;
    copy_example_case();
    const RunResult r = run_pdpcell("--max-steps 3600 </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
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

    // Merging draws nothing from the run's generator: a merged run is this
    // one until the ion store first holds more than its cap. After that it
    // holds fewer records, never more than its room of twice the cap (a
    // sparse population, one ion per cell, cannot merge down to the cap).
    const std::vector<std::string> plain = lines_of(log_without_cpu_time(log));
    const RunResult m = run_pdpcell("--max-steps 3600 --max-ions 1000 --max-electrons 100000 </dev/null");
    ASSERT_EQ(m.status, 0) << m.output;
    const std::vector<std::string> merged = lines_of(log_without_cpu_time(TempFolder::read("general.txt")));
    ASSERT_EQ(merged.size(), plain.size());
    std::size_t first_over = 1;
    while (first_over < plain.size() && logged_ions(plain[first_over]) <= 1000) ++first_over;
    ASSERT_LT(first_over + 2, plain.size()) << "the example no longer exceeds 1000 ions by step 3600";
    for (std::size_t n = 0; n < first_over; ++n) EXPECT_EQ(merged[n], plain[n]) << "log line " << n;
    for (std::size_t n = first_over; n < plain.size(); ++n) {
        EXPECT_NE(merged[n], plain[n]) << "log line " << n;
        EXPECT_LT(logged_ions(merged[n]), logged_ions(plain[n])) << merged[n];
        EXPECT_LE(logged_ions(merged[n]), 2000) << merged[n];
    }
}
