#pragma once
// The simulated clock: start-up in its fixed order, then the time loop with
// its schedule of periodic tasks and the run log "general.txt".
#include "driver/run_options.hpp"

#include <cstdio>
#include <istream>
#include <string>

namespace driver {

constexpr double END_TIME = 7e-5;      // s
constexpr int MAX_STEP = 1000000;
constexpr double TIME_STEP = 1e-10;    // s, set in every step
constexpr int FIELD_INTERVAL = 100;    // steps between field solves; the field is frozen in between

extern int nstep;              // step being computed, from 1
extern double t;               // s, simulated time at the start of the step
extern double dt;              // s
extern int restart_flag;       // 1: continue the saved run at step 1
extern int slice_interval;     // steps between slice writes
extern double last_slice_time; // s
extern bool diag_flag;         // true when nstep - 1 is a multiple of 20
extern double start_cpu;       // s, processor time before the loop
extern double current_cpu;     // s, latest reading by the diagnostics
extern double t11, t22, t33;   // s, processor time of field, ion and electron phases

// Processor seconds used by the process so far.
double processor_time();

// Exit status of a run stopped by SIGTERM or SIGINT after a checkpoint.
constexpr int INTERRUPTED_EXIT_STATUS = 3;

// Start-up, the time loop and the closing of files. options.max_steps > 0
// stops the loop after that step. A restart takes its model from the
// checkpoint. Returns 0, or INTERRUPTED_EXIT_STATUS when a signal stopped
// the run; errors unwind as pdp::FatalError.
int run_simulation(const run_options::Options& options);

// The end-of-run summary on standard error, with the phase times so far.
void write_run_summary(const std::string& exit_reason);

// After the run: writes the prompt "Press Ctr-C to terminate..." and waits
// for a line, again after every line, until interrupted. A batch job whose
// input ends leaves here (and the program exits 0) instead of hanging.
void pause_until_interrupted(std::istream& in);

// One run-log line: I8, F12.4, 3F10.2, I10, I10, F12.4.
void write_log_line(std::FILE* log);

// Resets the driver state and every unit's state, as at program start.
void reset_all();

}  // namespace driver
