// The progress line's arithmetic, the plain lines' timing on a test clock,
// the run summary, and --quiet through the real binary. The live line on a
// terminal is tested from Python (progress_console.py), which has a
// pseudo-terminal.
#include "output/progress.hpp"

#include "common/temp_folder.hpp"
#include "driver/checkpoint.hpp"
#include "driver/main_program.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_merging.hpp"
#include "particles/particle_storage.hpp"

#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

progress::RunPlan full_run() {
    progress::RunPlan plan;
    plan.every = 0.0;
    plan.end_time = 7e-5;
    plan.last_step = 1000000;
    plan.time_step = 1e-10;
    return plan;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

}  // namespace

TEST(Progress, StepsLeftEndAtWhicheverLimitComesFirst) {
    progress::RunPlan plan = full_run();
    // The end time comes first: the step whose end passes 70 us is the last.
    EXPECT_EQ(progress::steps_left(plan, {1, 1e-10, 0, 0}), 700000);
    EXPECT_EQ(progress::steps_left(plan, {699999, 7e-5 - 1.5e-10, 0, 0}), 2);
    EXPECT_EQ(progress::steps_left(plan, {700000, 7e-5, 0, 0}), 1);  // t = end: one more step
    EXPECT_EQ(progress::steps_left(plan, {700001, 7e-5 + 1e-10, 0, 0}), 0);
    // A step limit before the end time (--max-steps) wins.
    plan.last_step = 500;
    EXPECT_EQ(progress::steps_left(plan, {120, 1.2e-8, 0, 0}), 380);
    EXPECT_EQ(progress::steps_left(plan, {500, 5e-8, 0, 0}), 0);
    // A restarted run counts on from the saved step and time.
    plan.last_step = 1000000;
    EXPECT_EQ(progress::steps_left(plan, {10001, 7e-5 - 0.5e-10, 0, 0}), 1);
}

TEST(Progress, RateAndRiseComeFromTheLastFiveMinutesOnly) {
    progress::RateWindow window;
    EXPECT_EQ(progress::step_rate(window, 10.0, 100), 0.0);
    EXPECT_FALSE(progress::records_rising(window, 1000));
    // A slow first five minutes: 10 steps/s, 1000 records.
    const int n_samples = progress::RateWindow::SIZE;
    for (int n = 0; n < n_samples; ++n) progress::add_sample(window, 10.0 * n, 100 * n, 1000);
    EXPECT_DOUBLE_EQ(progress::step_rate(window, 310.0, 3100), 10.0);
    EXPECT_DOUBLE_EQ(progress::window_seconds(window, 310.0), 310.0);
    EXPECT_FALSE(progress::records_rising(window, 1500));
    EXPECT_TRUE(progress::records_rising(window, 1501));
    // Then 1000 steps/s and ten times the records: once the window has moved
    // past the slow part, the slow samples no longer count.
    int step = 3100;
    double wall = 310.0;
    for (int n = 0; n < n_samples; ++n) {
        progress::add_sample(window, wall, step, 10000);
        wall += 10.0;
        step += 10000;
    }
    EXPECT_DOUBLE_EQ(progress::step_rate(window, wall, step), 1000.0);
    EXPECT_DOUBLE_EQ(progress::window_seconds(window, wall), 310.0);
    EXPECT_FALSE(progress::records_rising(window, 10000));  // a glow at its peak: steady again
    // Half way through the change, the oldest sample held is still slow.
    progress::RateWindow mixed;
    for (int n = 0; n < n_samples; ++n) progress::add_sample(mixed, 10.0 * n, 100 * n, 1000);
    for (int n = 0; n < 15; ++n) progress::add_sample(mixed, 310.0 + 10.0 * n, 3100 + 10000 * n, 10000);
    // Oldest kept: wall 150 s, step 1500, 1000 records. Now: wall 460 s, step 153100.
    EXPECT_DOUBLE_EQ(progress::step_rate(mixed, 460.0, 153100), (153100.0 - 1500.0) / (460.0 - 150.0));
    EXPECT_TRUE(progress::records_rising(mixed, 10000));
    // No step or no time since the oldest sample: unknown, not infinite.
    progress::RateWindow single;
    progress::add_sample(single, 5.0, 7, 46);
    EXPECT_EQ(progress::step_rate(single, 5.0, 9), 0.0);
    EXPECT_EQ(progress::step_rate(single, 9.0, 7), 0.0);
}

TEST(Progress, LineShowsTheRunsOwnEndRealNumbersAndWhatTheEstimateRestsOn) {
    progress::RunPlan plan = full_run();
    plan.last_step = 300;
    const progress::Pace steady{20.0, 300.0, false};
    // --max-steps 300 ends the run at 0.03 us, long before 70 us.
    std::string line = progress::format_line(plan, {101, 1.01e-8, 46, 12}, 3725.0, steady, 46, 12, 79);
    EXPECT_EQ(line, "t 0.0101/0.03 us  ions 46 electrons 12  ~10 s left (last 5 min)  step 101");
    // A wide terminal gets the estimate's basis in words.
    line = progress::format_line(plan, {101, 1.01e-8, 46, 12}, 3725.0, steady, 46, 12, 200);
    EXPECT_NE(line.find("  ~10 s left at the last 5 min's rate  step 101  wall 1:02:05"), std::string::npos) << line;
    // No rate yet: no estimate. The last step: none needed.
    line = progress::format_line(plan, {1, 1e-10, 46, 46}, 0.5, {}, 46, 46, 79);
    EXPECT_NE(line.find("  left ?"), std::string::npos) << line;
    line = progress::format_line(plan, {300, 3e-8, 46, 46}, 9.5, steady, 46, 46, 79);
    EXPECT_NE(line.find("t 0.0300/0.03 us  ions 46 electrons 46  done"), std::string::npos) << line;
    // The end time first; merged records: the real numbers, not the records.
    plan = full_run();
    line = progress::format_line(plan, {350000, 3.5e-5, 1200, 800}, 36000.0, {100.0, 300.0, false}, 2.5e6,
                                 1.25e5, 79);
    EXPECT_EQ(line.rfind("t 35.0000/70 us  ions 2.50e6 electrons 1.25e5  ~58 min left (last 5 min)", 0), 0u)
        << line;
    // Records rising: the estimate is a lower bound, and says why.
    line = progress::format_line(plan, {350000, 3.5e-5, 1200, 800}, 36000.0, {10.0, 300.0, true}, 2.5e6, 1.25e5,
                                 79);
    EXPECT_NE(line.find("  over ~9:43 h left (rising)"), std::string::npos) << line;
    line = progress::format_line(plan, {350000, 3.5e-5, 1200, 800}, 36000.0, {10.0, 40.0, true}, 2.5e6, 1.25e5,
                                 200);
    EXPECT_NE(line.find("  ~9:43 h left at the last 40 s's rate, longer while the numbers rise"), std::string::npos)
        << line;
    EXPECT_EQ(progress::clock_text(36000.0 + 59.9), "10:00:59");
}

TEST(Progress, LineFitsEightyColumnsInEveryState) {
    progress::RunPlan plan = full_run();
    const double reals[] = {0.0, 46.0, 99999.0, 99999.7, 1.23456e8, 9.999e9};
    const progress::Pace paces[] = {{}, {1e-9, 59.0 * 60.0, true}, {1e-9, 99.0 * 3600.0, false},
                                    {0.5, 300.0, true}, {3.0, 300.0, false}, {1e6, 1.0, false}};
    const progress::StepState states[] = {{1, 1e-10, 46, 46}, {699999, 7e-5 - 1e-10, 449999, 449999},
                                          {700001, 7e-5 + 1e-10, 0, 0}};
    for (const progress::StepState& state : states)
        for (const progress::Pace& pace : paces)
            for (double real : reals) {
                const std::string line = progress::format_line(plan, state, 999999.0, pace, real, real, 79);
                EXPECT_LE(line.size(), 79u) << line;
                // Everything but the extras is there, not cut off.
                EXPECT_NE(line.find(" us  ions "), std::string::npos) << line;
                EXPECT_TRUE(line.find(" left") != std::string::npos || line.find(" done") != std::string::npos)
                    << line;
                EXPECT_TRUE(line.back() == ')' || line.back() == '?' || line.find("  step ") != std::string::npos ||
                            line.find(" done") != std::string::npos)
                    << line;
            }
}

// With standard error no terminal, a plain line comes at the first step
// after each `every` seconds since the previous one, on the run's clock; here
// every step takes 0.75 s of a clock the test moves.
namespace {
double test_clock_now = 0.0;
double test_clock() { return test_clock_now; }

// Every plain line of a run on the test clock: `steps` steps, each taking
// seconds_per_step(step) on the clock, with records(step) in the stores.
std::string plain_lines(const progress::RunPlan& plan, int steps, double (*seconds_per_step)(int),
                        int (*records)(int)) {
    progress::use_clock(test_clock);
    test_clock_now = 5000.0;
    testing::internal::CaptureStderr();
    progress::start(plan);
    for (int step = 1; step <= steps; ++step) {
        test_clock_now += seconds_per_step(step);
        progress::after_step({step, step * 1e-10, records(step), 1});
    }
    const std::string text = testing::internal::GetCapturedStderr();
    progress::reset();
    progress::use_clock(nullptr);
    return text;
}

int steady_records(int) { return 1; }
}  // namespace

TEST(Progress, PlainLinesComeAtTheFirstStepAfterEachInterval) {
    progress::RunPlan plan = full_run();
    plan.every = 10.0;
    plan.last_step = 100;
    const std::string text = plain_lines(plan, 100, [](int) { return 0.75; }, steady_records);
    std::vector<int> steps;
    for (const std::string& line : lines_of(text)) steps.push_back(std::atoi(line.substr(line.find(" step ") + 6).c_str()));
    EXPECT_EQ(steps, (std::vector<int>{14, 28, 42, 56, 70, 84, 98})) << text;
    // The rate, 13 steps in 9.75 s since the first sample, leaves 86 steps for 64.5 s.
    EXPECT_EQ(lines_of(text).at(0), "t 0.0014/0.01 us  ions 1 electrons 1  ~1 min left (last 10 s)  step 14");
}

// A run at 10 steps/s for ten minutes, then a one-minute burst at 1 step/s
// while a discharge multiplies the records. The estimate moves with the
// five-minute window, not with the burst alone, and says that it is unsure.
TEST(Progress, EstimateStaysSteadyThroughABurstAndSaysWhenRecordsRise) {
    progress::RunPlan plan = full_run();
    plan.every = 60.0;
    const std::string text = plain_lines(
        plan, 6060, [](int step) { return step <= 6000 ? 0.1 : 1.0; },
        [](int step) { return step <= 6000 ? 1000 : 1000 + 100 * (step - 6000); });
    const std::vector<std::string> lines = lines_of(text);
    ASSERT_EQ(lines.size(), 11u) << text;
    // After ten steady minutes: 693940 steps at 10 steps/s.
    EXPECT_NE(lines[9].find("  ~19:17 h left (last 5 min)  step 6000"), std::string::npos) << lines[9];
    // After the burst, the window reaches back to step 3501, 309.9 s ago:
    // 8.26 steps/s. A window of the burst alone would say ten times as long.
    EXPECT_NE(lines[10].find("  over ~23:21 h left (rising)  step 6060"), std::string::npos) << lines[10];
}

TEST(Progress, RealNumbersSumTheChargeOfLiveRecordsNotTheirSlots) {
    PARTICLE_STORAGE::reset();
    const double e = mesh::ELECTRON_CHARGE;
    using PARTICLE_STORAGE::electrons;
    PARTICLE_STORAGE::add_particle(electrons, -3.0 * e, 0, 0, 0, 0, 0, 0, 0, 1);
    PARTICLE_STORAGE::add_particle(electrons, -1000.0 * e, 0, 0, 0, 0, 0, 0, 0, 1);
    PARTICLE_STORAGE::add_particle(electrons, -2.0 * e, 0, 0, 0, 0, 0, 0, 0, 1);
    PARTICLE_STORAGE::rewind(electrons);
    PARTICLE_STORAGE::advance(electrons);
    PARTICLE_STORAGE::delete_current(electrons);  // the 1000 e record dies; its slot stays
    EXPECT_NEAR(particle_merging::real_count(electrons), 5.0, 1e-9);
    EXPECT_EQ(particle_merging::real_count(PARTICLE_STORAGE::ions), 0.0);
    PARTICLE_STORAGE::reset();
}

TEST(Progress, SummaryKeepsPeaksFirstStepCheckpointAndReason) {
    progress::start(full_run());
    progress::after_step({10001, 1.0001e-6, 40, 10});
    progress::after_step({10002, 1.0002e-6, 55, 900});
    progress::after_step({10003, 1.0003e-6, 55, 2500});  // equal ion count: the first step stays
    progress::checkpoint_written(20001, 2.0e-6);
    progress::after_step({10004, 1.0004e-6, 30, 100});
    testing::internal::CaptureStderr();
    progress::write_summary("error: ERROR: something", {12.5, 1.0, 2.0, 9.0});
    const std::string text = testing::internal::GetCapturedStderr();
    progress::reset();
    EXPECT_NE(text.find("steps run        4 (steps 10001 to 10004), simulated time reached 1.0004 us"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("processor time   12.50 s: field 1.00 s, ions 2.00 s, electrons 9.00 s, start-up and other 0.50 s"),
              std::string::npos)
        << text;
    EXPECT_NE(text.find("peak ions        55 after step 10002\n"), std::string::npos) << text;
    EXPECT_NE(text.find("peak electrons   2500 after step 10003\n"), std::string::npos) << text;
    EXPECT_NE(text.find("last checkpoint  at the start of step 20001, t = 2.0000 us\n"), std::string::npos) << text;
    EXPECT_NE(text.find("exit             error: ERROR: something\n"), std::string::npos) << text;

    // A run that never finished a step says so.
    progress::start(full_run());
    testing::internal::CaptureStderr();
    progress::write_summary("error: x", {0.1, 0, 0, 0});
    const std::string empty = testing::internal::GetCapturedStderr();
    progress::reset();
    EXPECT_NE(empty.find("steps run        none: the run stopped during its start-up\n"), std::string::npos) << empty;
    EXPECT_EQ(empty.find("peak"), std::string::npos) << empty;
}

// ------------------------------------------------------------ the real binary

namespace {

struct Streams {
    int status;
    std::string out, err;
};

// Runs the binary in a sub-folder of the current folder, standard output and
// standard error kept apart (they land next to the sub-folder).
Streams run_in(const std::string& folder, const std::string& arguments) {
    const std::string command = "cd " + folder + " && " + PDPCELL_BINARY + " " + arguments + " </dev/null >../" +
                                folder + ".out 2>../" + folder + ".err";
    const int raw = std::system(command.c_str());
    return {WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, TempFolder::read(folder + ".out"),
            TempFolder::read(folder + ".err")};
}

void make_case(const std::string& folder) {
    const std::filesystem::path example = std::filesystem::path(PDPCELL_SOURCE_DIR) / "examples" / "sustain";
    std::filesystem::create_directory(folder);
    for (const char* name : {"input_file.txt", "Vdata.txt"})
        std::filesystem::copy_file(example / name, std::filesystem::path(folder) / name);
}

// A file's bytes; for the run log without its processor-time column, the one
// thing that differs from run to run.
std::string comparable(const std::filesystem::path& file) {
    std::string text = TempFolder::read(file.string());
    if (file.filename() != "general.txt") return text;
    std::string kept;
    for (const std::string& line : lines_of(text)) kept += line.substr(0, 70) + "\n";
    return kept;
}

}  // namespace

TEST(ProgressBinary, QuietLeavesOutOnlyTheDiagnosticsBlocks) {
    TempFolder folder;
    make_case("loud");
    make_case("quiet");
    const Streams loud = run_in("loud", "--max-steps 45");
    const Streams quiet = run_in("quiet", "--max-steps 45 --quiet");
    ASSERT_EQ(loud.status, 0) << loud.out;
    ASSERT_EQ(quiet.status, 0) << quiet.out;

    // Every file the run writes is the same, with the same names.
    int files = 0;
    for (const auto& entry : std::filesystem::directory_iterator("loud")) {
        const std::filesystem::path twin = std::filesystem::path("quiet") / entry.path().filename();
        ASSERT_TRUE(std::filesystem::exists(twin)) << twin;
        EXPECT_EQ(comparable(entry.path()), comparable(twin)) << entry.path();
        ++files;
    }
    EXPECT_EQ(files, static_cast<int>(std::distance(std::filesystem::directory_iterator("quiet"), {})));
    EXPECT_GE(files, 8);
    // The run log still has its lines at steps 1, 21, 41, processor time included.
    const std::vector<std::string> log = lines_of(TempFolder::read("quiet/general.txt"));
    ASSERT_EQ(log.size(), 4u);
    EXPECT_EQ(log[3].substr(0, 8), "      41");
    EXPECT_GT(std::stod(log[3].substr(70)), 0.0) << log[3];

    // The console: the loud one minus its 22-line blocks (steps 1, 21, 41).
    std::vector<std::string> expected;
    int blocks = 0;
    const std::vector<std::string> loud_lines = lines_of(loud.out);
    for (std::size_t n = 0; n < loud_lines.size(); ++n) {
        if (loud_lines[n] == " " + std::string(67, '=')) {
            ++blocks;
            n += 21;
        } else {
            expected.push_back(loud_lines[n]);
        }
    }
    EXPECT_EQ(blocks, 3);
    EXPECT_EQ(lines_of(quiet.out), expected);
    EXPECT_NE(quiet.out.find(" h1,h2,h3="), std::string::npos);
}

TEST(ProgressBinary, SummaryAfterTheLastStepAndAfterAStartUpError) {
    TempFolder folder;
    make_case("run");
    Streams r = run_in("run", "--max-steps 40 --progress-every 0");
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.err.find(" us  ions "), std::string::npos) << r.err;  // no progress line
    EXPECT_EQ(r.err.rfind("pdpcell: run summary\n", 0), 0u) << r.err;
    EXPECT_NE(r.err.find("steps run        40 (steps 1 to 40), simulated time reached 0.0040 us\n"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("peak electrons   46 after step 1\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("exit             --max-steps 40 reached\n"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("summary"), std::string::npos);  // standard output keeps its lines only

    // No input files: the error on standard output, the summary naming it on
    // standard error.
    std::filesystem::create_directory("empty");
    r = run_in("empty", "");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ERROR: there is no input_file.txt in the folder "), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("steps run        none: the run stopped during its start-up\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("exit             error: ERROR: there is no input_file.txt in the folder "), std::string::npos)
        << r.err;
}

// From a checkpoint taken in this process just before step 10001 (the
// state of a fresh program), the binary runs on to the next checkpoint.
TEST(ProgressBinary, SummaryNamesTheCheckpointWrittenAndAnErrorInTheLoop) {
    TempFolder folder;
    driver::reset_all();
    double t = 9.99e-7;  // s, the start of step 9991
    int nstep = 9991;
    double dt = driver::TIME_STEP;
    checkpoint::checkpoint_restart(0, t, nstep, dt);
    driver::reset_all();
    for (const char* name : {"written", "refused", "terminal"}) {
        make_case(name);
        std::filesystem::copy_file(checkpoint::RESTART_FILE, std::filesystem::path(name) / checkpoint::RESTART_FILE);
        const std::string input_file = std::string(name) + "/input_file.txt";
        std::string input = TempFolder::read(input_file);
        input.replace(input.rfind("0        restart flag"), 1, "1");
        TempFolder::write(input_file, input);
    }

    Streams r = run_in("written", "--max-steps 10005");
    ASSERT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(r.err.find("steps run        15 (steps 9991 to 10005)"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("last checkpoint  at the start of step 10001, t = 1.0000 us\n"), std::string::npos) << r.err;

    // The next checkpoint cannot be written: the run stops inside the loop.
    std::filesystem::create_directory(std::string("refused/") + checkpoint::TEMPORARY_FILE);
    r = run_in("refused", "--max-steps 10005");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("ERROR: writing the checkpoint file restart failed"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("steps run        10 (steps 9991 to 10000), simulated time reached 1.0000 us"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("last checkpoint  none written by this run\n"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("exit             error: ERROR: writing the checkpoint file restart failed: can't open "
                         "restart.tmp: Is a directory / the previous checkpoint, if any, is kept\n"),
              std::string::npos)
        << r.err;

    // On a terminal (util-linux script gives the program one) the live line
    // is cleared before the error message, which then starts its own line.
    std::filesystem::create_directory(std::string("terminal/") + checkpoint::TEMPORARY_FILE);
    const std::string command = std::string("cd terminal && script -qfc '") + PDPCELL_BINARY +
                                " --max-steps 10005 </dev/null' /dev/null </dev/null >../terminal.tty";
    ASSERT_NE(std::system(command.c_str()), -1);
    const std::string tty = TempFolder::read("terminal.tty");
    EXPECT_NE(tty.find("\rt 0.9991/1.0005 us  ions "), std::string::npos) << tty;
    EXPECT_NE(tty.find("\r\033[KERROR: writing the checkpoint file restart failed"), std::string::npos) << tty;
    EXPECT_NE(tty.find("exit             error: ERROR: writing"), std::string::npos) << tty;
}

// The natural end: from a checkpoint half a step before the last full step,
// two steps pass the end time; the summary comes before the end-of-run prompt.
TEST(ProgressBinary, SummaryAtTheEndTimeComesBeforeThePrompt) {
    TempFolder folder;
    driver::reset_all();
    double t = driver::END_TIME - 1.5e-10;
    int nstep = 700000;
    double dt = driver::TIME_STEP;
    checkpoint::checkpoint_restart(0, t, nstep, dt);
    driver::reset_all();
    make_case("end");
    std::filesystem::copy_file(checkpoint::RESTART_FILE, std::filesystem::path("end") / checkpoint::RESTART_FILE);
    std::string input = TempFolder::read("end/input_file.txt");
    input.replace(input.rfind("0        restart flag"), 1, "1");
    TempFolder::write("end/input_file.txt", input);

    const std::string command = std::string("cd end && ") + PDPCELL_BINARY + " </dev/null >../end.out 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0);
    const std::string console = TempFolder::read("end.out");
    const std::size_t summary = console.find("pdpcell: run summary\n");
    ASSERT_NE(summary, std::string::npos) << console;
    EXPECT_LT(summary, console.find(" Press Ctr-C to terminate...\n")) << console;
    EXPECT_NE(console.find("steps run        2 (steps 700000 to 700001), simulated time reached 70.0000 us\n"),
              std::string::npos)
        << console;
    EXPECT_NE(console.find("exit             end time reached (t > 70 us)\n"), std::string::npos) << console;
}
