// The parallel mode through the program as users run it: the files of a
// discharge run are the same bytes for every thread count, alone or with
// merging, and they are not the exact mode's files.
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

// Every file a run leaves in its folder, by name; the run log and the
// console without their processor-time figures.
std::map<std::string, std::string> files_of_run(const std::string& arguments, const fs::path& dir) {
    fs::create_directory(dir);
    copy_example_case(dir);
    const RunResult r = run_command("cd '" + dir.string() + "' && '" PDPCELL_BINARY "' " + arguments +
                                    " < /dev/null > console.txt 2> summary.txt");
    EXPECT_EQ(r.status, 0) << TempFolder::read((dir / "console.txt").string());
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
        if (!entry.is_regular_file()) continue;
        const std::string name = fs::relative(entry.path(), dir).string();
        if (name == "summary.txt") continue;  // wall and processor times only
        std::string text = TempFolder::read(entry.path().string());
        if (name == "general.txt") text = log_without_cpu_time(text);
        if (name == "console.txt") {
            std::istringstream in(text);
            std::string kept;
            bool phase_times = false;  // the line after " t11,t22,t33"
            for (std::string line; std::getline(in, line);) {
                if (line.find("Time elapsed=") == std::string::npos && !phase_times) kept += line + "\n";
                phase_times = line == " t11,t22,t33";
            }
            text = kept;
        }
        files[name] = text;
    }
    return files;
}

// The largest ion count of the run log (I10 in columns 51-60).
int peak_ions(const std::string& log) {
    std::istringstream in(log);
    std::string line;
    std::getline(in, line);  // header
    int peak = 0;
    while (std::getline(in, line)) peak = std::max(peak, std::stoi(line.substr(50, 10)));
    return peak;
}

void expect_same_files(const std::map<std::string, std::string>& a, const std::map<std::string, std::string>& b,
                       const std::string& what) {
    ASSERT_EQ(a.size(), b.size()) << what;
    for (const auto& [name, text] : a) {
        const auto other = b.find(name);
        ASSERT_NE(other, b.end()) << what << ": " << name;
        EXPECT_TRUE(text == other->second) << what << ": " << name << " differs";
    }
}

}  // namespace

// 2800 steps of the example: the ions multiply from 46 to over a thousand
// in avalanches with ionizations, Penning events, secondary emission, wall
// charge and 28 field solves; one, two, three and eight threads (more than
// this machine's cores) give the same bytes in every file, the 3D files too.
TEST(ParallelRun, OneTwoThreeAndEightThreadsWriteTheSameBytes) {
    TempFolder folder;
    const std::string steps = " --max-steps 2800 --vtk-every 1400";
    const auto one = files_of_run("--parallel --threads 1" + steps, folder.path / "t1");
    ASSERT_GT(peak_ions(one.at("general.txt")), 1000);
    ASSERT_GT(one.size(), 12u);  // the 3D files are there too
    for (int threads : {2, 3, 8})
        expect_same_files(one, files_of_run("--parallel --threads " + std::to_string(threads) + steps,
                                            folder.path / ("t" + std::to_string(threads))),
                          std::to_string(threads) + " threads");
    // Other numbers than the exact mode's, hence other files.
    const auto exact = files_of_run(steps, folder.path / "exact");
    EXPECT_NE(exact.at("general.txt"), one.at("general.txt"));
    EXPECT_EQ(exact.at("control_file.txt"), one.at("control_file.txt"));  // the same cell
}

// Merging runs between the passes, on one thread, on stores whose order does
// not depend on the threads; a merged record keeps its survivor's identity.
TEST(ParallelRun, MergedRunsWriteTheSameBytesForAnyThreadCount) {
    TempFolder folder;
    const std::string args = " --parallel --max-ions 1000 --max-electrons 1000 --max-steps 3600";
    const auto one = files_of_run("--threads 1" + args, folder.path / "t1");
    const int peak = peak_ions(one.at("general.txt"));
    EXPECT_GT(peak, 900);   // the cap was reached...
    EXPECT_LT(peak, 6000);  // ...and kept (unmerged: over 100,000)
    expect_same_files(one, files_of_run("--threads 3" + args, folder.path / "t3"), "3 threads, merged");
}
