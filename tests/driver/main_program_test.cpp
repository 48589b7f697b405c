// The program as a user runs it: the real binary in a scratch folder.
#include "driver/main_program.hpp"

#include "driver/checkpoint.hpp"

#include "common/fortran_format.hpp"
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"
#include "electrons/electron_mover.hpp"
#include "input/electrode_voltages.hpp"
#include "particles/particle_storage.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

}  // namespace

TEST(RunLog, LineLayoutIsI8F12p4ThreeF10p2TwoI10F12p4) {
    driver::reset_all();
    driver::nstep = 21;
    driver::t = 2.0e-9;
    electrodes::electrode_voltage[1] = 180.0;
    electrodes::electrode_voltage[2] = -12.345;
    electrodes::electrode_voltage[3] = 0.0;
    PARTICLE_STORAGE::ions.count = 46;
    PARTICLE_STORAGE::electrons.count = 1234;
    driver::start_cpu = 1.0;
    driver::current_cpu = 3.25;
    std::FILE* f = std::tmpfile();
    driver::write_log_line(f);
    std::rewind(f);
    char buf[200];
    ASSERT_NE(std::fgets(buf, sizeof buf, f), nullptr);
    EXPECT_STREQ(buf, "      21      0.0020    180.00    -12.35      0.00        46      1234      2.2500\n");
    std::fclose(f);
    driver::reset_all();
}

TEST(Binary, MaxStepsStopsAfterThatStepAndExitsWithoutThePause) {
    TempFolder folder;
    copy_example_case();
    const RunResult r = run_pdpcell("--max-steps 45 </dev/null");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("Press Ctr-C"), std::string::npos);
    const std::vector<std::string> log = lines_of(TempFolder::read("general.txt"));
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[0], " nstep     Time_mks        Vs1        Vs2       Vaddr     Ions     Elecs     cpu_time");
    // Steps 1, 21, 41; 45 seeded pairs plus one at step 1.
    EXPECT_EQ(log[1].substr(0, 8), "       1");
    EXPECT_EQ(log[2].substr(0, 20), "      21      0.0020");
    EXPECT_EQ(log[3].substr(0, 8), "      41");
    for (std::size_t n = 1; n < log.size(); ++n) EXPECT_EQ(log[n].size(), 82u) << log[n];
    EXPECT_NE(r.output.find(" h1,h2,h3= 2.0000000000000001E-04 5.0000000000000001E-04 1.0000000000000000E-03\n"),
              std::string::npos);
    EXPECT_TRUE(std::filesystem::exists("control_file.txt"));
}

TEST(Binary, SeedPairsAreLoggedEveryTwoHundredSteps) {
    TempFolder folder;
    copy_example_case();
    // With the physics in place electrons multiply; the ion count still starts
    // at 45 + 1 and the seeding alone adds one pair at step 201.
    const RunResult r = run_pdpcell("--max-steps 1 </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<std::string> log = lines_of(TempFolder::read("general.txt"));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[1].substr(50, 10), "        46");
    EXPECT_EQ(log[1].substr(60, 10), "        46");
}

TEST(Pause, PromptsAfterEveryLineAndReturnsAtEndOfInput) {
    std::istringstream input("\nanything\n");
    testing::internal::CaptureStdout();
    driver::pause_until_interrupted(input);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              " Press Ctr-C to terminate...\n Press Ctr-C to terminate...\n Press Ctr-C to terminate...\n");
}

// The natural end of a run, through the real binary: a checkpoint taken just
// before the end time lets a restarted run reach it in two steps. The loop
// ends after the step whose end time first exceeds 7e-5 s, the files are
// closed, and the pause returns at the end of standard input with status 0.
TEST(Binary, RunEndsAfterTheEndTimeAndThePauseReturnsAtEndOfInput) {
    TempFolder folder;
    copy_example_case();
    driver::reset_all();
    double t = driver::END_TIME - 1.5e-10;
    int nstep = 10001;
    double dt = driver::TIME_STEP;
    checkpoint::checkpoint_restart(0, t, nstep, dt);
    std::string input = TempFolder::read("input_file.txt");
    input.replace(input.rfind("0        restart flag"), 1, "1");
    TempFolder::write("input_file.txt", input);

    const RunResult r = run_pdpcell("</dev/null");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find(" Press Ctr-C to terminate...\n"), std::string::npos) << r.output;
    const std::vector<std::string> log = lines_of(TempFolder::read("general.txt"));
    ASSERT_EQ(log.size(), 2u);  // header and step 10001; step 10002 is not a logged step
    EXPECT_EQ(log[1].substr(0, 20), "   10001     69.9998");  // 69.99985 us
    driver::reset_all();
}

TEST(Binary, OptionsAndUsageErrors) {
    TempFolder folder;
    RunResult r = run_pdpcell("--version");
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.output.rfind("pdpcell ", 0), 0u);
    r = run_pdpcell("--frobnicate");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("unknown option '--frobnicate'"), std::string::npos);
    r = run_pdpcell("--max-steps zero");
    EXPECT_EQ(r.status, 2);
    r = run_pdpcell("--max-steps");
    EXPECT_EQ(r.status, 2);
    r = run_pdpcell("--max-ion=5000");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("unknown option '--max-ion'; did you mean --max-ions?"), std::string::npos) << r.output;
    TempFolder::write("run_options.txt", "--whole-run\n");
    r = run_pdpcell("--parallel --parallel");
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.output.find("pdpcell: --parallel is given twice"), std::string::npos) << r.output;
    r = run_pdpcell("--whole-run");
    EXPECT_NE(r.output.find("pdpcell: --whole-run is given in run_options.txt and on the command line"),
              std::string::npos)
        << r.output;
}

// Start-up errors say what to do, and the summary after them has no block of
// zero figures.
TEST(Binary, FatalErrorsExitNonZeroWithTheirMessage) {
    TempFolder folder;
    RunResult r = run_pdpcell("</dev/null");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("ERROR: there is no input_file.txt in the folder " +
                            std::filesystem::current_path().string() + "\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("Press Ctr-C"), std::string::npos);
    EXPECT_NE(r.output.find("  steps run        none: the run stopped during its start-up\n"), std::string::npos)
        << r.output;
    EXPECT_EQ(r.output.find("peak ions"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("last checkpoint"), std::string::npos) << r.output;

    // --restart where no run has written a checkpoint: nothing is written.
    copy_example_case();
    r = run_pdpcell("--restart --max-steps 1 </dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("ERROR: no checkpoint in this folder; run without --restart to start at t = 0\n"),
              std::string::npos)
        << r.output;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator("."), {}), 2);  // the two input files

    TempFolder::write("input_file.txt", "only one line\n");
    r = run_pdpcell("--max-steps 1 </dev/null");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("line 49"), std::string::npos) << r.output;

    // Saved by an editor as UTF-16: named, rather than "line 49" not found.
    std::string utf16 = "\xFF\xFE";
    for (char c : TempFolder::read((std::filesystem::path(PDPCELL_SOURCE_DIR) / "examples/sustain/input_file.txt")))
        utf16 += std::string(1, c) + '\0';
    TempFolder::write("input_file.txt", utf16);
    r = run_pdpcell("--max-steps 1 </dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.output.find("ERROR: input_file.txt is in UTF-16 (little-endian)\n"), std::string::npos) << r.output;
}

namespace {

// The files a run writes besides the console, the run log without its
// processor times.
std::vector<std::string> output_files() {
    std::vector<std::string> texts;
    for (const char* name : {"general.txt", "SUSTAIN_STATE.txt", "OUT_Ion_Density.2Ddata", "OUT_Electron_Density.2Ddata",
                             "OUT_Ion_Density_top.2Ddata", "OUT_Electron_Density_top.2Ddata", "OUT_Potential.2Ddata"}) {
        std::string text = TempFolder::read(name);
        texts.push_back(std::string(name) == "general.txt" ? log_without_cpu_time(text) : text);
    }
    return texts;
}

}  // namespace

// The same inputs give the same files on every machine and in every build
// (Release and sanitizer builds alike): the arithmetic order, the random
// sequence and the program's own log/exp/sin/cos fix every bit. These
// fingerprints were taken from this program's own output; a change in any of
// them means the physics now computes something else, which must be on
// purpose (then take the new fingerprints from the failure message).
//
// The same run with caps that no population reaches switches merging on but
// never merges: the stores are laid out anew, and still every file keeps
// every bit.
TEST(Binary, ExampleRunReproducesItsOutputFilesBitForBitAlsoWithCapsNoPopulationReaches) {
    TempFolder folder;
    copy_example_case();
    // 2001 steps reach the first ionizations after the voltage reversal and
    // write three slice blocks.
    RunResult r = run_pdpcell("--max-steps 2001 </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    EXPECT_EQ(r.output.find("REAL IONS"), std::string::npos);
    const struct {
        const char* file;
        std::uint64_t expected;
    } pins[] = {
        {"general.txt", 15346528473207306927ull},
        {"SUSTAIN_STATE.txt", 4424378012300049545ull},
        {"OUT_Ion_Density.2Ddata", 548695012887961115ull},
        {"OUT_Electron_Density_top.2Ddata", 7840419974785810030ull},
        {"OUT_Potential.2Ddata", 12818772986291699866ull},
    };
    for (const auto& pin : pins) {
        std::string text = TempFolder::read(pin.file);
        if (std::string(pin.file) == "general.txt") text = log_without_cpu_time(text);
        EXPECT_EQ(fingerprint(text), pin.expected) << pin.file;
    }
    const std::vector<std::string> plain = output_files();

    r = run_pdpcell("--max-steps 2001 --max-ions 400000 --max-electrons 90000 </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    const std::vector<std::string> capped = output_files();
    for (std::size_t f = 0; f < plain.size(); ++f) EXPECT_TRUE(capped[f] == plain[f]) << "file " << f;
    // The console adds the real numbers to each diagnostics block.
    EXPECT_NE(r.output.find(" REAL IONS, ELES = "), std::string::npos);
}
