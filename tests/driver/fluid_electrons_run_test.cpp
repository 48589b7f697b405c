// --fluid-electrons through the program: below the hand-over it is the
// kinetic run to the byte; its checkpoint records the model and the fluid,
// a restart continues it exactly, and the combinations it cannot take are
// refused with what to do.
#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

std::map<std::string, std::string> files_of(const fs::path& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (name == "console.txt" || name == "summary.txt" || name == "restart" || name == "restart.end") continue;
        std::string text = TempFolder::read(entry.path().string());
        if (name == "general.txt") text = log_without_cpu_time(text);
        files[name] = text;
    }
    return files;
}

RunResult run_in(const fs::path& dir, const std::string& arguments, bool fresh = true) {
    if (fresh) {
        fs::create_directory(dir);
        copy_example_case(dir);
    }
    return run_command("cd '" + dir.string() + "' && '" PDPCELL_BINARY "' " + arguments + " < /dev/null 2> summary.txt");
}

TEST(FluidElectronsRun, BelowTheHandOverItIsTheKineticRunAndItsCheckpointCarriesTheFluid) {
    TempFolder folder;
    const std::string steps = " --max-steps 60 --checkpoint-every 41 --quiet";
    ASSERT_EQ(run_in(folder.path / "kinetic", "--plasma-field" + steps).status, 0);
    ASSERT_EQ(run_in(folder.path / "hybrid", "--plasma-field --fluid-electrons" + steps).status, 0);
    const auto kinetic = files_of(folder.path / "kinetic"), hybrid = files_of(folder.path / "hybrid");
    ASSERT_EQ(kinetic.size(), hybrid.size());
    for (const auto& [name, text] : kinetic) EXPECT_TRUE(text == hybrid.at(name)) << name;

    const std::string saved = TempFolder::read((folder.path / "hybrid" / "restart").string());
    EXPECT_NE(saved.find(" fluid-electrons 1 "), std::string::npos);
    EXPECT_NE(saved.find("\n FLUID ELECTRONS "), std::string::npos);
    EXPECT_NE(saved.find("\n FLUID END\n"), std::string::npos);
    EXPECT_EQ(TempFolder::read((folder.path / "kinetic" / "restart").string()).find("FLUID"), std::string::npos);

    // Resumed at step 42 with --restart alone, the model from the file.
    fs::copy(folder.path / "hybrid", folder.path / "resumed");
    const RunResult resumed = run_in(folder.path / "resumed", "--restart --quiet", false);
    ASSERT_EQ(resumed.status, 0) << resumed.output;
    const auto again = files_of(folder.path / "resumed");
    for (const auto& [name, text] : hybrid) EXPECT_TRUE(text == again.at(name)) << name << " differs after the restart";

    // A kinetic checkpoint does not continue as a hybrid run.
    fs::copy(folder.path / "kinetic", folder.path / "mixed");
    const RunResult mixed = run_in(folder.path / "mixed", "--restart --fluid-electrons --quiet", false);
    EXPECT_NE(mixed.status, 0);
    EXPECT_NE(mixed.output.find("--fluid-electrons"), std::string::npos) << mixed.output;
}

TEST(FluidElectronsRun, WithoutThePlasmaFieldItIsRefused) {
    TempFolder folder;
    fs::create_directory(folder.path / "case");
    copy_example_case(folder.path / "case");
    const RunResult r = run_command("cd '" + (folder.path / "case").string() + "' && '" PDPCELL_BINARY
                                    "' --fluid-electrons --max-steps 2 < /dev/null 2>&1");
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.output.find("ERROR: --fluid-electrons needs the plasma field\n"
                            "       add --plasma-field (or use --whole-run)"),
              std::string::npos)
        << r.output;
    EXPECT_FALSE(fs::exists(folder.path / "case" / "general.txt"));
}

}  // namespace
