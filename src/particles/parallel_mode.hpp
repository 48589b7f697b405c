#pragma once
// The parallel mode's settings, set once at start-up: whether particles draw
// from their own streams (and so may be moved by several threads), how many
// threads the particle passes use, and the key of every stream.
#include "particles/particle_streams.hpp"

#include <cstdint>

namespace parallel_mode {

struct Settings {
    bool on = false;
    int threads = 1;
    particle_streams::Key key{};  // the run's two seeds
};

extern Settings settings;

// Turns the mode on (and gives both stores their identities) or leaves the
// exact mode as it is. Call before any record is added.
void configure(bool on, int threads, std::int32_t seed1, std::int32_t seed2);

inline bool on() { return settings.on; }

void reset();

}  // namespace parallel_mode
