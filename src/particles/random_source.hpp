#pragma once
// Where a mover takes its uniform numbers from: the run's one generator, in
// store order (the exact mode), or the stream of the particle being moved
// (the parallel mode). One flight loop serves both modes through this
// argument, so the two cannot drift apart.
#include "particles/particle_streams.hpp"
#include "particles/random_numbers.hpp"

namespace random_source {

struct Source {
    // Null: the run's generator. Otherwise the particle's own stream, whose
    // counter each draw advances.
    particle_streams::Stream* stream = nullptr;
};

// The run's generator: draws exactly what random_numbers::draw_uniform would.
Source run_generator();
Source particle_stream(particle_streams::Stream& stream);

// A value in the open interval (0, 1) from the source; inline, since the
// exact mode's flight loop calls it about twice per free flight.
inline double draw_uniform(Source& source) {
    if (source.stream == nullptr) return random_numbers::draw_uniform();
    return particle_streams::draw_uniform(*source.stream);
}

}  // namespace random_source
