#include "particles/parallel_mode.hpp"

#include "particles/particle_storage.hpp"

#include <algorithm>

namespace parallel_mode {

Settings settings;

void configure(bool on, int threads, std::int32_t seed1, std::int32_t seed2) {
    settings = Settings{};
    if (!on) return;
    settings.on = true;
    settings.threads = std::max(1, threads);
    settings.key = particle_streams::key_for_seeds(seed1, seed2);
    PARTICLE_STORAGE::keep_identities(PARTICLE_STORAGE::ions);
    PARTICLE_STORAGE::keep_identities(PARTICLE_STORAGE::electrons);
}

void reset() { settings = Settings{}; }

}  // namespace parallel_mode
