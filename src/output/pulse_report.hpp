#pragma once
// What each sustain pulse does, written in every run:
// - currents.csv: the current into each electrode from the drive (conduction
//   part by the Ramo-Shockley theorem, displacement part by the capacitance
//   matrix), the voltages and the real numbers of ions and electrons, one row
//   every ROW_STEPS steps;
// - pulses.csv: one row per half-period of V_S1 - V_S2 (a pulse runs from one
//   reversal of its sign to the next): charge moved, energy delivered and
//   where it went, the collisions of each process, the wall voltage;
// - electrode_charge.csv: at every field solve, the electrodes' charge from
//   the solve next to the one the currents integrate to, the check of both.
// The charge induced on electrode e by charge q at x is -q·psi_e(x), psi_e its
// unit potential; summed over the particles and the wall charge (weighted as
// the field solve's source weights them) at two times, its change is exactly
// the conduction charge that flowed in between, births and absorptions
// included. The files are continued on restart from the side file written
// next to the checkpoint.
namespace pulse_report {

constexpr const char* CURRENTS_FILE = "currents.csv";
constexpr const char* PULSES_FILE = "pulses.csv";
constexpr const char* CHARGE_FILE = "electrode_charge.csv";
constexpr int ROW_STEPS = 10;          // steps per row of currents.csv
constexpr double FIRING_IONS = 1e6;    // real ions above which a pulse has fired

// Once per step, after the field phase (field_solved: it solved the field in
// this step) and before the moves: takes the tallies of the previous step's
// moves and writes what is due. nstep counts from 1, t (s) is the step's
// start, time_step (s) its length.
void account_step(int nstep, double t, double time_step, bool field_solved);

// The report's running sums for a restart at step nstep, written next to the
// checkpoint file named checkpoint_file (as checkpoint_file + ".report").
void save_for_restart(const char* checkpoint_file, int nstep);
// After the checkpoint of step nstep was read: cuts the files back to what
// they held at that checkpoint and continues them. Without a side file of
// that step (a checkpoint from an older build) the files start afresh.
void continue_after_restart(const char* checkpoint_file, int nstep);

// Closes the files and forgets every sum, as at program start.
void reset();

}  // namespace pulse_report
