#pragma once
// The model of a restarted run comes from its checkpoint: the options that
// decide the results and are missing from the command line are taken from
// there, and ones that contradict it are refused before any file is touched.
#include "driver/checkpoint.hpp"
#include "driver/run_options.hpp"

namespace restart_model {

// The options that decide a run's results.
checkpoint::RunModel model_of(const run_options::Options& options);

// Whether the run continues a checkpoint: --restart, or a restart flag of 1
// in input_file.txt (looked at leniently here; the start-up reads it again
// and reports what is wrong with it).
bool restart_requested(const run_options::Options& options);

// Takes the saved model into options, or stops: an option on the command
// line that contradicts the file, or --max-steps before the saved step.
// A file the look-ahead could not read changes nothing; the restart then
// says what is wrong with it.
void take_saved_model(run_options::Options& options, const checkpoint::SavedRun& saved);

// Without --max-steps on the command line, a restart ends where the run that
// wrote the checkpoint was to end (run_end::END_FILE); stops when that run
// had already reached its end.
void take_saved_end(run_options::Options& options, const checkpoint::SavedRun& saved);

}  // namespace restart_model
