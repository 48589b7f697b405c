#include "mesh/potential_solver.hpp"

namespace potential {

bool first_solve = true;

// Filled in by the field-phase work.
void setup_sor_coefficients() {}
void apply_boundary_values() {}
void extrapolate_potential() {}
void solve_potential() {}

void reset() { first_solve = true; }

}  // namespace potential
