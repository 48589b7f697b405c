#pragma once
// Poisson solve for phi by successive over-relaxation, with the electrodes at
// their present voltages and zero normal flux on every other boundary.
namespace potential {

constexpr double OMEGA_SOR = 1.9;
constexpr double SOR_TOLERANCE = 1.008849557522124e-05;  // V
constexpr double RATIO_TOLERANCE = 5e-06;

extern bool first_solve;

void setup_sor_coefficients();
void apply_boundary_values();
void extrapolate_potential();
void solve_potential();

void reset();

}  // namespace potential
