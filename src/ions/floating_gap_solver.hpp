#pragma once
// Potential of the cell with the whole gas region as one floating, uncharged
// equipotential conductor: the state whose wall charges make the gap field-free.
namespace floating_gap {

constexpr double OMEGA_SUSTAIN = 1.66;
constexpr double SUSTAIN_TOLERANCE = 1.8981373203947365e-08;  // V
constexpr double SUSTAIN_RATIO_TOLERANCE = 1e-06;
// Sweeps after which a solve that has not converged stops the run.
constexpr int MAX_SUSTAIN_SWEEPS = 5000;

extern double gap_potential;     // V
extern double gap_coupling_sum;  // sum of the gas-node weights, 1/cm^2
extern int sweeps_in_last_solve;

void setup_sustain_coefficients();
void solve_floating_gap();
// Threads of the solve (at least 1); every count gives the same bits.
void set_thread_count(int threads);
// The parallel mode's sweep order: red-black instead of the plain one, so
// that every thread relaxes at once; the bits differ from the plain order's
// (within the tolerance) but not between thread counts.
void set_red_black(bool on);

// Clears the results, as at program start.
void reset();

}  // namespace floating_gap
