#pragma once
// Seed ion-electron pairs, at rest, in a thin layer above the front dielectric
// over the second sustain electrode: 45 pairs at start-up, one pair every 200
// steps. The ions are Xe+; the electrons carry origin code 0.
namespace seeding {

void seed_initial_particles();
void seed_particles(double t);  // t: start time of the step, s

// First seeding row above the electrode (76 for the built-in cell).
int first_seed_row();

}  // namespace seeding
