// The command line: every value checked, every mistake a usage error.
#include "driver/run_options.hpp"

#include "common/temp_folder.hpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using run_options::Options;
using run_options::ParseResult;
using run_options::parse;

bool refused(const std::vector<std::string>& args) {
    Options options;
    return parse(args, options).action == ParseResult::Action::usage_error;
}

}  // namespace

TEST(RunOptions, NoOptionsIsTheSpecifiedRun) {
    Options options;
    EXPECT_EQ(parse({}, options).action, ParseResult::Action::run);
    EXPECT_EQ(options.max_steps, 0);
    EXPECT_EQ(options.max_ions, 0);
    EXPECT_EQ(options.max_electrons, 0);
    EXPECT_EQ(options.seed1, 1100);
    EXPECT_EQ(options.seed2, 550);
    EXPECT_EQ(options.vtk_every, 0);
    EXPECT_FALSE(options.quiet);
    EXPECT_FALSE(options.parallel);
    EXPECT_FALSE(options.plasma_field);
    EXPECT_FALSE(options.seed_at_cathode);
    EXPECT_GE(run_options::thread_count(options), 1);
}

TEST(RunOptions, ValuesLandInTheirFields) {
    Options options;
    ASSERT_EQ(parse({"--max-steps", "300", "--max-ions", "20000", "--max-electrons", "1000", "--seed",
                     "2147483562", "1", "--vtk-every", "50", "--quiet", "--progress-every", "2.5", "--threads", "3", "--parallel",
                     "--plasma-field", "--seed-at-cathode"},
                    options)
                  .action,
              ParseResult::Action::run);
    EXPECT_EQ(options.max_steps, 300);
    EXPECT_EQ(options.max_ions, 20000);
    EXPECT_EQ(options.max_electrons, 1000);
    EXPECT_EQ(options.seed1, 2147483562);
    EXPECT_EQ(options.seed2, 1);
    EXPECT_EQ(options.vtk_every, 50);
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(options.progress_every, 2.5);
    EXPECT_EQ(options.threads, 3);
    EXPECT_EQ(run_options::thread_count(options), 3);
    EXPECT_TRUE(options.parallel);
    EXPECT_TRUE(options.plasma_field);
    EXPECT_TRUE(options.seed_at_cathode);
}

TEST(RunOptions, BadValuesAreUsageErrors) {
    EXPECT_TRUE(refused({"--frobnicate"}));
    EXPECT_TRUE(refused({"--max-steps"}));
    EXPECT_TRUE(refused({"--max-steps", "0"}));
    EXPECT_TRUE(refused({"--max-steps", "12x"}));
    EXPECT_TRUE(refused({"--max-ions", "999"}));
    EXPECT_TRUE(refused({"--max-electrons", "many"}));
    EXPECT_TRUE(refused({"--seed", "5"}));
    EXPECT_TRUE(refused({"--seed", "0", "5"}));
    EXPECT_TRUE(refused({"--seed", "5", "2147483399"}));
    EXPECT_TRUE(refused({"--seed", "2147483563", "5"}));
    EXPECT_TRUE(refused({"--seed", "-3", "5"}));
    EXPECT_TRUE(refused({"--vtk-every", "-1"}));
    EXPECT_TRUE(refused({"--progress-every", "-1"}));
    EXPECT_TRUE(refused({"--progress-every", "nan"}));
    EXPECT_TRUE(refused({"--threads"}));
    EXPECT_TRUE(refused({"--threads", "0"}));
    EXPECT_TRUE(refused({"--threads", "1025"}));
    EXPECT_TRUE(refused({"--threads", "2.5"}));
    Options options;
    const ParseResult missing = parse({"--max-steps"}, options);
    EXPECT_NE(missing.message.find("needs a value"), std::string::npos) << missing.message;
}

TEST(RunOptions, HelpAndVersionStopTheParse) {
    Options options;
    EXPECT_EQ(parse({"--help", "--frobnicate"}, options).action, ParseResult::Action::help);
    EXPECT_EQ(parse({"--version"}, options).action, ParseResult::Action::version);
}

// Long runs are driven by scripts, where "--name=value" is common and an
// option repeated by accident must not quietly replace the first.
TEST(RunOptions, EqualsFormsRepeatsAndLooseNumbers) {
    Options options;
    ASSERT_EQ(parse({"--max-steps=300", "--seed=7", "8", "--checkpoint-every=50", "--slice-every", "20", "--restart",
                     "--progress-every=1e1"},
                    options)
                  .action,
              ParseResult::Action::run);
    EXPECT_EQ(options.max_steps, 300);
    EXPECT_EQ(options.seed1, 7);
    EXPECT_EQ(options.seed2, 8);
    EXPECT_EQ(options.checkpoint_every, 50);
    EXPECT_EQ(options.slice_every, 20);
    EXPECT_TRUE(options.restart);
    EXPECT_EQ(options.progress_every, 10.0);
    EXPECT_TRUE(run_options::was_given(options, "--seed"));
    EXPECT_FALSE(run_options::was_given(options, "--parallel"));

    EXPECT_TRUE(refused({"--max-ions", "1000", "--max-ions", "5000"}));
    EXPECT_TRUE(refused({"--seed", "1", "1", "--seed=2", "2"}));
    EXPECT_TRUE(refused({"--parallel", "--parallel"}));
    EXPECT_TRUE(refused({"--parallel=1"}));
    EXPECT_TRUE(refused({"--max-steps=3=4"}));
    EXPECT_TRUE(refused({"--max-steps", " 30"}));
    EXPECT_TRUE(refused({"--max-steps", "+30"}));
    EXPECT_TRUE(refused({"--max-steps", "0x10"}));
    EXPECT_TRUE(refused({"--progress-every", "0x10"}));
    EXPECT_TRUE(refused({"--progress-every", " 5"}));
    EXPECT_TRUE(refused({"--progress-every", "+5"}));
    EXPECT_TRUE(refused({"--progress-every", "inf"}));
    EXPECT_TRUE(refused({"--checkpoint-every", "0"}));

    Options other;
    const ParseResult slip = parse({"--max-ion", "5000"}, other);
    EXPECT_NE(slip.message.find("unknown option '--max-ion'; did you mean --max-ions?"), std::string::npos)
        << slip.message;
    const ParseResult far = parse({"--frobnicate"}, other);
    EXPECT_EQ(far.message, "unknown option '--frobnicate'");
    const ParseResult twice = parse({"--quiet", "--quiet"}, other);
    EXPECT_EQ(twice.message, "--quiet is given twice");
}

// A case folder's own options come first; the command line may add to them
// but not give one again, and --whole-run is the bundle it names.
TEST(RunOptions, TheCaseFileComesFirstAndWholeRunIsItsBundle) {
    TempFolder folder;
    TempFolder::write(run_options::OPTIONS_FILE, "# the long example\n--whole-run   # many pulses\n--max-ions=30000\n");
    Options options;
    ASSERT_EQ(run_options::read_options_file(options).action, ParseResult::Action::run);
    ASSERT_EQ(parse({"--threads", "2"}, options).action, ParseResult::Action::run);
    run_options::apply_whole_run(options);
    EXPECT_TRUE(options.parallel && options.plasma_field && options.seed_at_cathode && options.second_order_flights);
    EXPECT_EQ(options.max_ions, 30000);
    EXPECT_EQ(options.max_electrons, run_options::WHOLE_RUN_MAX_ELECTRONS);
    EXPECT_EQ(options.threads, 2);
    EXPECT_EQ(parse({"--max-ions", "5000"}, options).message,
              "--max-ions is given in run_options.txt and on the command line");

    TempFolder::write(run_options::OPTIONS_FILE, "--whole-run --max-steps x\n");
    Options bad;
    EXPECT_EQ(run_options::read_options_file(bad).message, "run_options.txt: --max-steps needs a whole number of at least 1");
}

// The command printed when a signal stops a run must, pasted into a shell,
// give the program the same words again, with --restart once.
TEST(RunOptions, TheContinuingCommandIsTheTypedOneWithRestart) {
    Options options;
    options.typed = {"/my runs/pdpcell", "--max-steps", "100001", "--restart", "--seed", "1234", "99"};
    EXPECT_EQ(run_options::continuing_command(options),
              "'/my runs/pdpcell' --max-steps 100001 --seed 1234 99 --restart");
    EXPECT_EQ(run_options::shell_word("it's"), "'it'\\''s'");
    EXPECT_EQ(run_options::shell_word(""), "''");
    EXPECT_EQ(run_options::shell_word("$HOME"), "'$HOME'");

    TempFolder folder;
    TempFolder::write(run_options::OPTIONS_FILE, "--restart\n");
    Options from_file;
    ASSERT_EQ(run_options::read_options_file(from_file).action, ParseResult::Action::run);
    from_file.typed = {"pdpcell", "--quiet"};
    EXPECT_EQ(run_options::continuing_command(from_file), "pdpcell --quiet");
}
