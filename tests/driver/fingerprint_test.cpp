// Every output file of a discharge run, pinned bit for bit: the example run
// to step 3600, where the ions have multiplied from 46 to a few thousand, the
// electron avalanches have crossed the gap many times and 36 potential solves
// have followed the growing space charge. The fast paths of the solvers
// (skewed sweeps, a table of shared weights, sums taken apart from the sweep)
// must keep every product, sum and draw of the plain algorithms; any change in
// order shows here.
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

// The fingerprints were taken from the output of the program before its
// speed-up; a change in any of them means it now computes something else.
TEST(Binary, DischargeRunTo3600StepsReproducesEveryOutputFileBitForBit) {
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
}
