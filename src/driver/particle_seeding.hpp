#pragma once
// Seed ion-electron pairs, at rest, in a thin layer above the front dielectric
// over the second sustain electrode: 45 pairs at start-up, one pair every 200
// steps. The ions are Xe+; the electrons carry origin code 0. The numbers come
// from the run's generator, or in the parallel mode from each pair's electron.
namespace seeding {

void seed_initial_particles();
// t: start time of the step (s); step: its number, from 1. In the parallel
// mode the pair's identities come from the step; the exact mode ignores it.
// With at_cathode, while the first sustain electrode is the lower in voltage
// the pair goes to the mirror place over it (row jlo + jhi - j): the cathode
// side of a reversed pulse, where a seed electron can start an avalanche. The
// same numbers are drawn either way.
void seed_particles(double t, int step, bool at_cathode = false);

// First seeding row above the electrode (76 for the built-in cell).
int first_seed_row();

}  // namespace seeding
