#include "output/output_history.hpp"

#include "common/fatal_error.hpp"
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

const std::string HEADER = " nstep     Time_mks";

std::string log_line(int step) {
    std::string number = std::to_string(step);
    return std::string(8 - number.size(), ' ') + number + "      0.0020    180.00\n";
}

const std::vector<std::string> SLICE_HEADER = {"scalar = 1 or vector = 2:", " 1"};
const std::string NAME_LINE = " Potential   ";

std::string block(const char* time, int rows) {
    std::string text = "  TIME\n" + std::string(time) + "\n" + NAME_LINE + "\n";
    for (int r = 0; r < rows; ++r) text += "    1.0000E+00    2.0000E+00\n";
    return text;
}

std::string slice_header() { return SLICE_HEADER[0] + "\n" + SLICE_HEADER[1] + "\n"; }

}  // namespace

TEST(RunLogHistory, KeepsTheHeaderAndTheCompleteLinesOfEarlierSteps) {
    TempFolder folder;
    const std::string kept = HEADER + "\n" + log_line(1) + log_line(21) + log_line(9981);
    TempFolder::write("general.txt", kept + log_line(10001) + log_line(10021));
    EXPECT_EQ(output_history::run_log_length("general.txt", HEADER, 10001), static_cast<long>(kept.size()));
    // The line of the saved step itself is logged again by the restarted run.
    EXPECT_EQ(output_history::run_log_length("general.txt", HEADER, 10002),
              static_cast<long>((kept + log_line(10001)).size()));

    // A last line cut short by a kill or a full disk is not kept, nor is
    // anything after a line that is not a log line.
    TempFolder::write("general.txt", kept + log_line(9991).substr(0, 20));
    EXPECT_EQ(output_history::run_log_length("general.txt", HEADER, 10001), static_cast<long>(kept.size()));
    TempFolder::write("general.txt", kept + "garbage\n" + log_line(9995));
    EXPECT_EQ(output_history::run_log_length("general.txt", HEADER, 10001), static_cast<long>(kept.size()));

    output_history::cut_file("general.txt", static_cast<long>(kept.size()));
    EXPECT_EQ(TempFolder::read("general.txt"), kept);
}

TEST(RunLogHistory, AMissingOrForeignFileKeepsNothing) {
    TempFolder folder;
    EXPECT_EQ(output_history::run_log_length("general.txt", HEADER, 10001), 0);
    output_history::cut_file("general.txt", 0);  // a missing file stays missing
    EXPECT_FALSE(std::filesystem::exists("general.txt"));
    TempFolder::write("general.txt", "my notes\n" + log_line(1));
    EXPECT_EQ(output_history::run_log_length("general.txt", HEADER, 10001), 0);
    TempFolder::write("general.txt", HEADER);  // the header cut short
    EXPECT_EQ(output_history::run_log_length("general.txt", HEADER, 10001), 0);
}

TEST(SliceHistory, KeepsTheHeaderAndTheWholeBlocksBeforeTheTime) {
    TempFolder folder;
    const std::string kept = slice_header() + block("    0.000000000000E+00", 3) + block("    1.000000000000E-07", 3);
    const std::string later = block("    2.000000000000E-07", 3);
    TempFolder::write("OUT_Potential.2Ddata", kept + later);
    const auto length = [](double time, int rows = 3) {
        return output_history::slice_file_length("OUT_Potential.2Ddata", SLICE_HEADER, NAME_LINE, rows, time);
    };
    // The time as printed, 13 digits, lies within half a step of the true one.
    EXPECT_EQ(length(2e-7 - 0.5e-10), static_cast<long>(kept.size()));
    EXPECT_EQ(length(2e-7 + 0.5e-10), static_cast<long>((kept + later).size()));
    EXPECT_EQ(length(0.0), static_cast<long>(slice_header().size()));

    // A block cut short, by rows or within a row, is not kept.
    TempFolder::write("OUT_Potential.2Ddata", kept + later.substr(0, later.size() - 40));
    EXPECT_EQ(length(1.0), static_cast<long>(kept.size()));
    TempFolder::write("OUT_Potential.2Ddata", kept + later);
    EXPECT_EQ(length(1.0, 4), static_cast<long>(slice_header().size()));  // blocks of 4 rows: none whole

    // Another quantity's file, or another header, keeps nothing.
    EXPECT_EQ(output_history::slice_file_length("OUT_Potential.2Ddata", SLICE_HEADER, " Ion_Density", 3, 1.0),
              static_cast<long>(slice_header().size()));
    EXPECT_EQ(output_history::slice_file_length("OUT_Potential.2Ddata", {"scalar = 1 or vector = 2:", " 2"},
                                                NAME_LINE, 3, 1.0),
              0);
}

TEST(SliceHistory, AFileThatCannotBeReadStopsTheRun) {
    TempFolder folder;
    std::filesystem::create_directory("OUT_Potential.2Ddata");
    testing::internal::CaptureStdout();
    EXPECT_THROW(output_history::slice_file_length("OUT_Potential.2Ddata", SLICE_HEADER, NAME_LINE, 3, 1.0),
                 pdp::FatalError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR: can't continue file OUT_Potential.2Ddata after the restart: Is a directory\n");
}

TEST(ReportHistory, AReportFileIsCutBackToTheCheckpointOrStopsTheRunWhenShorter) {
    TempFolder folder;
    {
        std::FILE* f = std::fopen("pulses.csv", "w");
        std::fputs("header\nrow 1\nrow 2 after the checkpoint\n", f);
        std::fclose(f);
    }
    std::FILE* appended = output_history::reopen_at("pulses.csv", 13, 2001, "restore it");
    std::fputs("row 2\n", appended);
    std::fclose(appended);
    EXPECT_EQ(std::filesystem::file_size("pulses.csv"), 19u);

    testing::internal::CaptureStdout();
    EXPECT_THROW(output_history::reopen_at("pulses.csv", 40, 2001, "restore it"), pdp::FatalError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR: pulses.csv is shorter than at the checkpoint of step 2001\n       restore it\n");
}
