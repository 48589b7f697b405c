#include "electrons/electron_collisions.hpp"

namespace electron_collisions {

// Filled in by the electron-physics work.
void collide(PARTICLE_STORAGE::Particle&) {}

}  // namespace electron_collisions
