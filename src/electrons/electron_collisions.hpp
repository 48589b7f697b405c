#pragma once
// One null-collision step for a moving electron: selects and performs elastic
// scattering, excitation (with Penning ionization after Ne excitation) or
// ionization, appending new electrons and ions.
#include "particles/particle_storage.hpp"

namespace electron_collisions {

void collide(PARTICLE_STORAGE::Particle& electron);

}  // namespace electron_collisions
