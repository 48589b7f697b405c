#pragma once
// The ion pass: one push per free flight between charge-exchange collisions,
// mirrors at ylow, yhigh and zlow, absorption with secondary emission at the
// front, rear and rib walls.
#include "particles/particle_storage.hpp"

namespace ion_mover {

// Takes every ion of the ion store from its own clock to t_end (s).
void advance_ions(double t_end);

// Field (V/cm) at a position (cm), trilinear on the staggered face samples,
// each axis clamped to the gas box.
void interpolate_ion_field(double x, double y, double z, double& Ex, double& Ey, double& Ez);

// Reflections at the symmetry planes; each stops the run if one reflection
// does not bring the ion back into the gas box.
void mirror_ion_y(PARTICLE_STORAGE::Particle& ion);
void mirror_ion_zlow(PARTICLE_STORAGE::Particle& ion);

}  // namespace ion_mover
