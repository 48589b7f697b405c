// A restart without --max-steps ends where its run was meant to end, through
// the real binary.
#include "driver/run_end.hpp"

#include "common/run_binary.hpp"
#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <string>

TEST(RunEnd, ARestartKeepsTheEndItsRunWasStartedWithUnlessGivenANewOne) {
    TempFolder folder;
    copy_example_case();
    RunResult r = run_pdpcell("--max-steps 30 --checkpoint-every 10 </dev/null");
    ASSERT_EQ(r.status, 0) << r.output;
    // The checkpoint taken last, at the start of step 21. (Without this file
    // the restart below would run to the end time.)
    ASSERT_EQ(TempFolder::read(run_end::END_FILE), "checkpoint_step 21\nlast_step 30\n");

    r = run_pdpcell("--restart </dev/null");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("The run ends after step 30, the --max-steps it was started with"), std::string::npos)
        << r.output;
    EXPECT_NE(r.output.find("steps run        10 (steps 21 to 30)"), std::string::npos) << r.output;
    EXPECT_NE(r.output.find("exit             --max-steps 30 reached\n"), std::string::npos) << r.output;

    r = run_pdpcell("--restart --max-steps 24 </dev/null");
    EXPECT_EQ(r.status, 0) << r.output;
    EXPECT_NE(r.output.find("steps run        4 (steps 21 to 24)"), std::string::npos) << r.output;
    EXPECT_EQ(r.output.find("The run ends after step"), std::string::npos) << r.output;

    // A run stopped after its last step saved the step after it.
    TempFolder::write(run_end::END_FILE, "checkpoint_step 21\nlast_step 20\n");
    r = run_pdpcell("--restart </dev/null");
    EXPECT_EQ(r.status, 1) << r.output;
    EXPECT_NE(r.output.find("ERROR: the run saved in file restart has reached its end, step 20"), std::string::npos)
        << r.output;
}
