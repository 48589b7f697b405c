#pragma once
// Poisson solve for phi by successive over-relaxation, with the electrodes at
// their present voltages and zero normal flux on every other boundary.
namespace potential {

constexpr double OMEGA_SOR = 1.9;
constexpr double SOR_TOLERANCE = 1.008849557522124e-05;  // V, largest change of the last sweep
constexpr double RATIO_TOLERANCE = 5e-06;
// Sweeps after which a solve that has not converged stops the run.
constexpr int MAX_SWEEPS = 5000;

extern bool first_solve;
// Relaxation sweeps made by the latest solve_potential().
extern int sweeps_in_last_solve;

// The six face couplings of interior node (i, j, k), as the discrete equation
// uses them: none across the y and z boundary layers, twice the face coupling
// to an electrode plate (its surface lies half a spacing from the node), none
// to a plate without an electrode.
struct Couplings {
    double xm, xp, ym, yp, zm, zp;
};
Couplings node_couplings(int i, int j, int k);

// Relaxation coefficients of the interior nodes from the face couplings and
// the electrode map, and the sweep's table of their distinct sets.
void setup_sor_coefficients();
// Mirrors the y and z boundary layers and sets the plate nodes to their
// electrode voltage (or mirrors them where the plate has no electrode).
void apply_boundary_values();
// phi := 2·phi - phi_old, the linear extrapolation of the last two solves.
void extrapolate_potential();
// The whole solve; scales charge_source in place, so rebuild it before each call.
void solve_potential();
// Threads of the solve (at least 1). Any count gives the same bits: the sweep
// keeps the plain order's new and old neighbour values and its sum of changes.
void set_thread_count(int threads);
// The parallel mode's sweep order: red-black instead of the plain k, j, i. It
// needs no pipeline, so every thread relaxes at once; the bits differ from the
// plain order's (to within the tolerance) but not between thread counts.
void set_red_black(bool on);

void reset();

}  // namespace potential
