// The field solves share their sweeps among --threads threads without
// changing a bit: a run writes the same files for every thread count.
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

namespace {

// Every file of the working folder, the run log without its processor times.
std::map<std::string, std::string> folder_files() {
    std::map<std::string, std::string> files;
    for (const auto& entry : std::filesystem::directory_iterator(".")) {
        if (!entry.is_regular_file()) continue;
        const std::string name = entry.path().filename().string();
        const std::string text = TempFolder::read(name);
        files[name] = name == "general.txt" ? log_without_cpu_time(text) : text;
    }
    return files;
}

}  // namespace

// 1001 steps: the floating-gap solve of the start-up, eleven potential solves
// and two blocks of slices with the potential.
TEST(Binary, EveryThreadCountWritesTheSameFiles) {
    TempFolder folder;
    copy_example_case();
    const RunResult one = run_pdpcell("--max-steps 1001 --threads 1 </dev/null");
    ASSERT_EQ(one.status, 0) << one.output;
    const std::map<std::string, std::string> reference = folder_files();
    ASSERT_TRUE(reference.count("OUT_Potential.2Ddata") && reference.count("SUSTAIN_STATE.txt"));

    for (int threads : {2, 3, 8}) {
        const RunResult r = run_pdpcell("--max-steps 1001 --threads " + std::to_string(threads) + " </dev/null");
        ASSERT_EQ(r.status, 0) << r.output;
        const std::map<std::string, std::string> files = folder_files();
        ASSERT_EQ(files.size(), reference.size()) << threads << " threads";
        for (const auto& [name, text] : reference) EXPECT_TRUE(files.at(name) == text) << name << ", " << threads << " threads";
    }
}
