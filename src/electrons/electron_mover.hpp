#pragma once
// The electron pass: free flights in the frozen field, null collisions against
// the constant bound numax, mirrors at ylow, yhigh and zlow, absorption at the
// front, rear and rib walls.
namespace electron_mover {

constexpr double NUMAX_START = 6860737302631.578;  // 1/s, 6e-7 cm^3/s times the gas density
constexpr double QM_ELECTRON = 1758804786282152.5;  // e/m, cm^2 s^-2 V^-1
constexpr int SUBSTEPS_PER_CELL = 20;
// Sub-steps per cell of the second-order (leapfrog) flights.
constexpr int LEAPFROG_SUBSTEPS_PER_CELL = 8;

extern double numax;  // 1/s, bound of the total collision frequency
// Work counters since reset(), for performance figures: free flights and
// field sub-steps taken.
extern long long flight_count;
extern long long substep_count;

// Moves every electron, those born on the way included, to t_end (s).
void advance_electrons(double t_end);
// Field at (x, y, z) in V/cm, trilinear on the staggered face grid.
void interpolate_electron_field(double x, double y, double z, double& Ex, double& Ey, double& Ez);

// Second-order (leapfrog) sub-steps, LEAPFROG_SUBSTEPS_PER_CELL per cell,
// instead of the first-order ones; off until set, and by reset().
void set_leapfrog(bool on);

void reset();

}  // namespace electron_mover
