#pragma once
// One step of the electron fluid with its field: the field solved for the
// step, then the fluid moved in it (electron_fluid::step_implicit).
//
// The semi-implicit order (Hagelaar and Kroesen's) solves
//     div((eps0·eps + dt·sigma_f) grad phi) = -rho
// with the fluid's own charge in rho and its face conductivities sigma_f
// (electron_fluid::face_conductivities, at the field of the step before):
// the field that the charge the fluid will move in the step leaves behind,
// to first order. At 1e15 cm^-3 the dielectric relaxation time
// eps0/(e·mu·n) is some 3e-13 s, 300 times below the cell's 0.1 ns step;
// the plain order, the field from the charge at the start of the step,
// then overshoots a charge separation 300-fold every step.
//
// The ions' charge and the wall charge come from field::build_charge_source
// (mesh::ion_density, the wall cells); the ions' conduction is not counted.
// Everything lies in the mesh's arrays: phi, ex, ey, ez on return.
#include "electrons/electron_fluid.hpp"

namespace electron_fluid_field {

enum class Order { semi_implicit, plain };

// Solves the field for a step of dt (s) in the given order; leaves the
// vacuum couplings in place. Returns the conducting solve's iterations.
int solve_field(double dt, Order order);

// The field for the step, then the fluid's implicit step in it.
electron_fluid::StepTally step(double dt, Order order);

}  // namespace electron_fluid_field
