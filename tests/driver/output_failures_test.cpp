// Output that cannot be written, through the real binary: a full disk, a
// console on /dev/full, closed standard descriptors. The run must never
// report success while losing output, and must say which file failed.
#include "common/fatal_error.hpp"
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"
#include "driver/main_program.hpp"

#include <gtest/gtest.h>

#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Runs the binary in `dir` with the shell redirections given; returns the
// exit status.
int run_in(const fs::path& dir, const std::string& arguments_and_redirections) {
    const std::string command = "cd '" + dir.string() + "' && '" PDPCELL_BINARY "' " + arguments_and_redirections;
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

const char* const LOG_HEADER =
    " nstep     Time_mks        Vs1        Vs2       Vaddr     Ions     Elecs     cpu_time";

// A run log holds the header and then only log lines (I8, F12.4, 3F10.2,
// 2I10, F12.4: 82 characters, the step first).
void expect_clean_run_log(const std::string& log, std::size_t logged_steps) {
    const std::vector<std::string> lines = lines_of(log);
    ASSERT_EQ(lines.size(), 1 + logged_steps) << log.substr(0, 2000);
    EXPECT_EQ(lines[0], LOG_HEADER);
    for (std::size_t n = 1; n < lines.size(); ++n) {
        EXPECT_EQ(lines[n].size(), 82u) << lines[n];
        EXPECT_EQ(std::atoi(lines[n].substr(0, 8).c_str()), 20 * static_cast<int>(n - 1) + 1)
            << lines[n];
    }
}

}  // namespace

// The files the run writes, made unwritable one at a time by a link to
// /dev/full: the run stops with status 1 and names the file. The slice
// files (the first and the last one written; all five share one writer)
// fail at their first block, in step 1, the report files at their header
// in step 1, the others at start-up.
TEST(FullDisk, EveryOutputFileThatCannotBeWrittenStopsTheRunAndIsNamed) {
    for (const char* name : {"general.txt", "control_file.txt", "SUSTAIN_STATE.txt", "OUT_Electron_Density.2Ddata",
                             "OUT_Potential.2Ddata", "currents.csv", "pulses.csv", "electrode_charge.csv"}) {
        TempFolder folder;
        copy_example_case(folder.path);
        fs::create_symlink("/dev/full", folder.path / name);
        EXPECT_EQ(run_in(folder.path, "--max-steps 2 > console.txt 2>&1 < /dev/null"), 1) << name;
        const std::string console = read_file(folder.path / "console.txt");
        EXPECT_NE(console.find(std::string("ERROR: writing file ") + name + " failed: No space left on device\n"),
                  std::string::npos)
            << name << ": " << console.substr(console.size() > 2000 ? console.size() - 2000 : 0);
    }
}

namespace {

// A small tmpfs mounted for one test (needs root); unmounted at the end.
struct SmallDisk {
    fs::path path;
    bool mounted = false;
    explicit SmallDisk(const fs::path& where, const std::string& size) : path(where) {
        fs::create_directory(path);
        mounted = std::system(("mount -t tmpfs -o size=" + size + " pdpcell-test '" + path.string() +
                               "' 2>/dev/null").c_str()) == 0;
    }
    ~SmallDisk() {
        if (mounted) std::system(("umount '" + path.string() + "'").c_str());
    }
    long free_bytes() const {
        struct statvfs s{};
        statvfs(path.c_str(), &s);
        return static_cast<long>(s.f_bavail) * static_cast<long>(s.f_frsize);
    }
};

}  // namespace

// A disk that fills up during the run. After a first run of one step, the
// disk is filled up to 300 kB, less than one more set of slice blocks (about
// 450 kB): the second run replaces the first one's files with the same
// start-up and step-1 output, and runs out of room at step 1001.
TEST(FullDisk, ADiskThatFillsDuringTheRunStopsItAtTheFailedWrite) {
    TempFolder folder;
    SmallDisk disk(folder.path / "disk", "40m");
    if (!disk.mounted) GTEST_SKIP() << "no tmpfs can be mounted here; the /dev/full test covers the failing writes";
    copy_example_case(disk.path);
    ASSERT_EQ(run_in(disk.path, "--max-steps 1 > ../console.txt 2>&1 < /dev/null"), 0);
    {
        std::ofstream filler(disk.path / "filler", std::ios::binary);
        const std::string block(4096, 'x');
        for (long left = disk.free_bytes() - 300000; left > 0; left -= 4096) filler << block;
    }
    ASSERT_LT(disk.free_bytes(), 400000);

    EXPECT_EQ(run_in(disk.path, "--max-steps 1500 > ../console.txt 2>&1 < /dev/null"), 1);
    const std::string console = read_file(folder.path / "console.txt");
    const std::size_t at = console.find("ERROR: writing file ");
    ASSERT_NE(at, std::string::npos) << console.substr(console.size() > 2000 ? console.size() - 2000 : 0);
    const std::string message = console.substr(at);
    EXPECT_NE(message.find(" failed: No space left on device\n"), std::string::npos) << message;
    const std::string name = message.substr(20, message.find(" failed") - 20);
    EXPECT_TRUE(fs::exists(disk.path / name)) << message;
    // The log got as far as step 1001, where the slices filled the disk.
    const std::vector<std::string> log = lines_of(read_file(disk.path / "general.txt"));
    EXPECT_EQ(log.back().substr(0, 8), "    1001") << message;
}

// A disk that fills while a line is still in the C library's buffer: the
// second run rewrites the first one's files on a disk left with no free
// byte, so the first file that outgrows its first page (4 kB; the currents,
// one row every 10 steps, before the run log) fails when its buffer is
// written. The run stops in that step with status 1 and the reason, the file
// keeping the page it had.
TEST(FullDisk, ALineLostWhileStillBufferedStopsTheRunInItsStep) {
    if (sysconf(_SC_PAGESIZE) != 4096) GTEST_SKIP() << "the case is laid out for 4 kB pages";
    TempFolder folder;
    SmallDisk disk(folder.path / "disk", "40m");
    if (!disk.mounted) GTEST_SKIP() << "no tmpfs can be mounted here; the /dev/full test covers the failing writes";
    copy_example_case(disk.path);
    ASSERT_EQ(run_in(disk.path, "--max-steps 1 > ../console.txt 2>&1 < /dev/null"), 0);
    {
        std::FILE* filler = std::fopen((disk.path / "filler").c_str(), "w");
        ASSERT_NE(filler, nullptr);
        std::setvbuf(filler, nullptr, _IONBF, 0);
        const std::string block(4096, 'x');
        while (std::fwrite(block.data(), 1, block.size(), filler) == block.size()) {
        }
        std::fclose(filler);
    }
    ASSERT_EQ(disk.free_bytes(), 0);

    EXPECT_EQ(run_in(disk.path, "--max-steps 1000 > ../console.txt 2>&1 < /dev/null"), 1);
    const std::string console = read_file(folder.path / "console.txt");
    const std::string tail = console.substr(console.size() > 2000 ? console.size() - 2000 : 0);
    const std::string prefix = "ERROR: writing file ";
    const std::size_t at = console.find(prefix);
    ASSERT_NE(at, std::string::npos) << tail;
    const std::size_t end = console.find(" failed: No space left on device\n", at);
    ASSERT_NE(end, std::string::npos) << tail;
    const std::string name = console.substr(at + prefix.size(), end - at - prefix.size());
    EXPECT_EQ(name, "currents.csv");
    EXPECT_NE(console.find("\n  steps run        "), std::string::npos) << tail;
    EXPECT_EQ(console.find("\n  steps run        1000 "), std::string::npos) << tail;  // stopped on the way
    EXPECT_EQ(fs::file_size(disk.path / name), 4096u);
    // The run log before it lost no whole line.
    const std::string log = read_file(disk.path / "general.txt");
    expect_clean_run_log(log, lines_of(log).size() - 1);
}

// With standard output closed, the first file opened would take its
// descriptor and receive the console. Closed descriptors are reopened on
// /dev/null, so the run log holds nothing but its own lines.
TEST(ClosedConsole, ClosedStandardDescriptorsLeaveTheRunLogClean) {
    TempFolder folder;
    copy_example_case(folder.path);
    EXPECT_EQ(run_in(folder.path, "--max-steps 21 >&-"), 0);
    expect_clean_run_log(read_file(folder.path / "general.txt"), 2);  // steps 1 and 21

    fs::remove(folder.path / "general.txt");
    EXPECT_EQ(run_in(folder.path, "--max-steps 21 <&- >&- 2>&-"), 0);
    expect_clean_run_log(read_file(folder.path / "general.txt"), 2);
}

// A console that cannot be written loses nothing silently: a fatal message
// reaches standard error as well, and a run whose console output was lost
// exits with status 1 and says so there.
TEST(ClosedConsole, AConsoleThatCannotBeWrittenGivesStatusOneAndAMessageOnStandardError) {
    TempFolder folder;
    EXPECT_EQ(run_in(folder.path, "> /dev/full 2> errors.txt < /dev/null"), 1);
    EXPECT_NE(read_file(folder.path / "errors.txt").find("ERROR: there is no input_file.txt in the folder "),
              std::string::npos);

    copy_example_case(folder.path);
    EXPECT_EQ(run_in(folder.path, "--max-steps 3 > /dev/full 2> errors.txt < /dev/null"), 1);
    EXPECT_NE(read_file(folder.path / "errors.txt")
                  .find("ERROR: writing standard output failed: No space left on device\n"),
              std::string::npos);

    // A console that works gets the messages; standard error gets none.
    // (The run summary on standard error may quote the message; the message
    // itself, a line of its own, must not be repeated there.)
    EXPECT_EQ(run_in(folder.path, "--max-steps 3 > console.txt 2> errors.txt < /dev/null"), 0);
    EXPECT_EQ(("\n" + read_file(folder.path / "errors.txt")).find("\nERROR"), std::string::npos);
    fs::remove(folder.path / "Vdata.txt");
    EXPECT_EQ(run_in(folder.path, "--max-steps 3 > console.txt 2> errors.txt < /dev/null"), 1);
    EXPECT_NE(read_file(folder.path / "console.txt").find("ERROR: Can't open file: Vdata.txt"), std::string::npos);
    EXPECT_EQ(("\n" + read_file(folder.path / "errors.txt")).find("\nERROR"), std::string::npos);

    EXPECT_EQ(run_in(folder.path, "--version > /dev/full 2> errors.txt"), 1);
}

// Each run-log line is on disk as soon as it is written, so a killed run
// keeps whole lines and a running case can be watched; read here by name
// while the log is still open. A line that cannot be written stops the run.
TEST(RunLogLines, EachLineIsOnDiskAtOnceAndALostLineStopsTheRun) {
    TempFolder folder;
    driver::reset_all();
    std::FILE* log = std::fopen("general.txt", "w");
    ASSERT_NE(log, nullptr);
    driver::nstep = 21;
    driver::write_log_line(log);
    driver::nstep = 41;
    driver::write_log_line(log);
    const std::vector<std::string> lines = lines_of(read_file(folder.path / "general.txt"));
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].substr(0, 8), "      41");
    std::fclose(log);

    std::FILE* full = std::fopen("/dev/full", "w");
    ASSERT_NE(full, nullptr);
    testing::internal::CaptureStdout();
    EXPECT_THROW(driver::write_log_line(full), pdp::FatalError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR: writing file general.txt failed: No space left on device\n");
    std::fclose(full);
    driver::reset_all();
}
