// The model a restart takes from its checkpoint, one option at a time: what a
// run with that option alone saves, a restart with no options takes back; a
// restart that contradicts it in that option alone, either seed alone
// included, is refused naming it.
#include "driver/restart_model.hpp"

#include "common/fatal_error.hpp"
#include "common/quiet_geometry.hpp"
#include "common/temp_folder.hpp"
#include "driver/checkpoint.hpp"
#include "driver/main_program.hpp"
#include "driver/run_options.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

namespace {

run_options::Options parsed(const std::string& command_line) {
    std::vector<std::string> args;
    std::istringstream in(command_line);
    for (std::string word; in >> word;) args.push_back(word);
    run_options::Options options;
    EXPECT_EQ(run_options::parse(args, options).action, run_options::ParseResult::Action::run) << command_line;
    return options;
}

// What a restart finds in the checkpoint of a run with `command_line`.
checkpoint::SavedRun saved_by(const std::string& command_line) {
    checkpoint::SavedRun saved;
    saved.readable = saved.has_model = true;
    saved.nstep = 5001;
    saved.model = restart_model::model_of(parsed(command_line));
    return saved;
}

// Takes the saved model into the options of a restart with `restart_line`;
// returns the refusal, or "" and the restart's model in `restarted`.
std::string restart(const checkpoint::SavedRun& saved, const std::string& restart_line,
                    checkpoint::RunModel& restarted) {
    run_options::Options options = parsed("--restart " + restart_line);
    try {
        testing::internal::CaptureStdout();
        restart_model::take_saved_model(options, saved);
        testing::internal::GetCapturedStdout();
    } catch (const pdp::FatalError& error) {
        testing::internal::GetCapturedStdout();
        return error.what();
    }
    restarted = restart_model::model_of(options);
    return "";
}

std::string restart(const std::string& command_line, const std::string& restart_line,
                    checkpoint::RunModel& restarted) {
    return restart(saved_by(command_line), restart_line, restarted);
}

}  // namespace

TEST(RestartModel, EachOptionAndEachSeedAloneComesBackAndIsHeldTo) {
    {
        // Through the file once, every option away from its default.
        TempFolder folder;
        driver::reset_all();
        build_geometry_quietly();
        const std::string all = "--parallel --plasma-field --seed-at-cathode --second-order-flights --drift-diffusion --vuv "
                                "--fluid-electrons --max-ions 2000 --max-electrons 3000 --seed 7 9";
        checkpoint::set_run_model(restart_model::model_of(parsed(all)));
        double t = 1e-6, dt = 2e-10;
        int nstep = 5001;
        checkpoint::checkpoint_restart(0, t, nstep, dt);
        driver::reset_all();
        const checkpoint::SavedRun saved = checkpoint::read_saved_run();
        ASSERT_TRUE(saved.readable && saved.has_model);
        checkpoint::RunModel restarted;
        ASSERT_EQ(restart(saved, "", restarted), "");
        EXPECT_EQ(checkpoint::describe(restarted), checkpoint::describe(restart_model::model_of(parsed(all))));
    }
    // The seeds are saved with a model that is not the default one.
    const char* const alone[] = {"--parallel",         "--plasma-field",      "--seed-at-cathode",
                                 "--second-order-flights", "--drift-diffusion", "--vuv", "--fluid-electrons", "--max-ions 2000",
                                 "--max-electrons 3000", "--max-ions 2000 --seed 7 550", "--max-ions 2000 --seed 1100 9"};
    for (const char* line : alone) {
        checkpoint::RunModel restarted;
        ASSERT_EQ(restart(line, "", restarted), "") << line;
        EXPECT_EQ(checkpoint::describe(restarted), checkpoint::describe(restart_model::model_of(parsed(line)))) << line;
    }
    for (const char* flag :
         {"--parallel", "--plasma-field", "--seed-at-cathode", "--second-order-flights", "--drift-diffusion", "--vuv",
          "--fluid-electrons"}) {
        checkpoint::RunModel restarted;
        EXPECT_EQ(restart(flag, flag, restarted), "") << flag;
        const std::string refused = restart("--max-ions 2000", flag, restarted);
        EXPECT_NE(refused.find(std::string("ERROR: the command line has ") + flag +
                               ", but file restart was written by a run with no " + flag + "\n"),
                  std::string::npos)
            << refused;
    }
    checkpoint::RunModel restarted;
    EXPECT_NE(restart("--max-electrons 3000", "--max-electrons 2000", restarted)
                  .find("has --max-electrons 2000, but file restart was written by a run with --max-electrons 3000"),
              std::string::npos);
    EXPECT_NE(restart("--max-electrons 3000", "--max-ions 3000", restarted)
                  .find("has --max-ions 3000, but file restart was written by a run with no --max-ions"),
              std::string::npos);
    EXPECT_EQ(restart("--max-ions 2000 --seed 7 9", "--seed 7 9", restarted), "");
    EXPECT_NE(restart("--max-ions 2000 --seed 7 9", "--seed 8 9", restarted)
                  .find("has --seed 8 9, but file restart was written by a run with --seed 7 9"),
              std::string::npos);
    EXPECT_NE(restart("--max-ions 2000 --seed 7 9", "--seed 7 8", restarted)
                  .find("has --seed 7 8, but file restart was written by a run with --seed 7 9"),
              std::string::npos);
}
