#pragma once
// The VUV light of a --vuv run (xe_kinetics' photons), in two files:
// - vuv.csv: every 1 ns, the power of each line reaching the phosphor (rear
//   plate and ribs) and the front plate, and the states' totals and peaks;
// - vuv_pulses.csv: one row per pulse of pulses.csv, with its light counted
//   until the next pulse starts: photons and energy by line on the phosphor
//   and the front plate, the VUV efficiency (energy on the phosphor over
//   E_drive) and the share of E_drive that went into Xe excitation.
// pulses.csv itself keeps its columns, so that a run without --vuv and one
// with it write the same pulses.csv.
namespace vuv_report {

constexpr const char* SERIES_FILE = "vuv.csv";
constexpr const char* PULSES_FILE = "vuv_pulses.csv";
constexpr int ROW_STEPS = 10;  // steps per row of vuv.csv and per advance of the kinetics

// Once per step, after pulse_report::account_step: advances the kinetics and
// writes the row when due. nstep counts from 1, t (s) the step's start.
void account_step(int nstep, double t, double time_step);

// The pulse of pulses.csv that ended at the start of step nstep (time t):
// its number, start (s) and drive energy (J). Advances the kinetics to t and
// writes its row.
void finish_pulse(int nstep, double t, double time_step, double index, double t_start, double drive_energy);

// The state for a checkpoint (with the kinetics'), and back; then the files
// are cut to what they held at the checkpoint and continued.
int saved_count();
void save(double* values);
void load(const double* values);
void continue_after_restart(int nstep);

// Closes the files and forgets every sum, as at program start.
void reset();

}  // namespace vuv_report
