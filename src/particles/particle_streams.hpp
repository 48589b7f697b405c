#pragma once
// Per-particle random streams for a run whose result must not depend on how
// the particles are shared among threads or processes. Each particle owns a
// counter-based stream (Philox4x32-10): draw number n of particle `id` is a
// pure function of the run's two seeds, the identity and n, so it does not
// matter who draws it, when, or in which order the particles are visited.
//
// Block layout: one Philox call, counter words (id low, id high, n/2 low,
// n/2 high) under the key (seed1, seed2), gives 128 bits; words 0-1 make draw
// n = 2b and words 2-3 draw n = 2b + 1. The stream's counter is the number of
// draws already taken, whatever their parity, so a stream saved between the
// two halves of a block restarts on the second half.
//
// Identities: a new particle's identity is derived from its parent's identity
// and the parent's draw counter at the birth (plus a small index for the
// second child of one event), a seeded particle's from the step and its index
// in that seeding. Neither depends on the run's seeds nor on any thread.
#include <cstdint>

namespace particle_streams {

// The run's key: its two generator seeds (each below 2^31).
struct Key {
    std::uint32_t seed1;
    std::uint32_t seed2;
};

// The stream of one particle while it is being moved. `spare` holds the second
// half of the last block while `spare_ready` is set, so that two consecutive
// draws cost one Philox call; it is a cache only: a stream rebuilt from
// (key, id, counter) draws the very same numbers.
struct Stream {
    Key key;
    std::uint64_t id;       // the particle's identity
    std::uint64_t counter;  // draws already taken
    std::uint64_t spare = 0;
    bool spare_ready = false;
};

Key key_for_seeds(std::int32_t seed1, std::int32_t seed2);

// The stream of particle `id` that has already taken `counter` draws.
Stream open_stream(const Key& key, std::uint64_t id, std::uint64_t counter);

// A value in the open interval (0, 1), one of the 2^52 midpoints
// (k + 1/2)·2^-52; advances the counter by one. The smallest value is 2^-53,
// so -log(u) stays below 37; u and 1 - u are equally likely.
double draw_uniform(Stream& s);

// How 64 random bits become that value (the low 12 bits are not used).
double open_unit_from_bits(std::uint64_t bits);

// Draw number `n` of a stream, without a stream: the reference the cached
// walk of draw_uniform must agree with.
double uniform_at(const Key& key, std::uint64_t id, std::uint64_t n);

// Which child of one event: an ionization or a Penning event gives an
// electron and an ion at the same parent counter.
constexpr unsigned CHILD_ELECTRON = 0;
constexpr unsigned CHILD_ION = 1;
constexpr unsigned CHILD_INDEX_LIMIT = 1u << 30;

// Identity of a particle born from `parent` when the parent's stream had taken
// `parent_counter` draws; `which` (below CHILD_INDEX_LIMIT) tells apart the
// children of one event.
std::uint64_t child_identity(std::uint64_t parent, std::uint64_t parent_counter, unsigned which);

// Identity of particle `index` (from 0) of the seeding done in step `step`
// (counted from 1; 0 for the start-up seeding, which comes before step 1 and
// is followed by another seeding in step 1 itself).
std::uint64_t seed_identity(std::uint64_t step, std::uint64_t index);

// The raw generator, for its known-answer test: Philox4x32 with 10 rounds.
struct Block {
    std::uint32_t word[4];
};
Block philox4x32_10(const Block& counter, std::uint32_t key0, std::uint32_t key1);

}  // namespace particle_streams
