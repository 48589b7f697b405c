#pragma once
// Particle merging: keeps a growing discharge inside the particle stores by
// coarsening it. Two records of one kind in one mesh cell, close in velocity,
// become one record that carries the sum of their weights (so charge is
// exact) and the position, velocity and clock of one partner, chosen with
// probability proportional to its weight (so density, momentum and energy are
// kept on average). The choices come from a hash of the run's seeds, the slots
// and the records themselves, never from the run's generator: a merged run
// follows an unmerged one exactly until its first merge, and a restart, which
// restores the records slot by slot, continues it exactly.
#include "particles/particle_storage.hpp"

#include <cstdint>

namespace particle_merging {

// Caps on live records; 0 leaves that store alone (and as it is built). A
// capped store gets room for twice its cap and, from then on, merges (or
// grows, if merging frees too little) instead of stopping the run when it is
// full. Call once at start-up, before any record is added or read back.
void configure(int max_ions, int max_electrons, std::int32_t seed1, std::int32_t seed2);
bool enabled();

// Merges pairs in the store until at most `target` records are live, or no
// mergeable pair is left. Ions pair only with the same species, electrons
// only with the same origin code, both only within one mesh cell. The slot
// `keep` (0: none) is left as it is, and no pair spans it: a walk at that
// cursor visits each record still to come exactly once. Dead slots are
// squeezed out in order; the cursor follows its record. Returns the merges.
int merge_down(PARTICLE_STORAGE::Store& s, int target, int keep);

// Once per step, after the particle passes: each capped store holding more
// than its cap is merged down to three quarters of it.
void merge_crowded_stores();

// The real number of particles a store stands for: the sum of |w|/e.
double real_count(const PARTICLE_STORAGE::Store& s);

// Merges done since configure(), for the record.
extern long long merge_count;

// Caps off, stores untouched, counters cleared.
void reset();

}  // namespace particle_merging
