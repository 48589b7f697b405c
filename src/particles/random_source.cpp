#include "particles/random_source.hpp"

#include "particles/random_numbers.hpp"

namespace random_source {

Source run_generator() { return {}; }

Source particle_stream(particle_streams::Stream& stream) { return {&stream}; }

double draw_uniform(Source& source) {
    if (source.stream == nullptr) return random_numbers::draw_uniform();
    return particle_streams::draw_uniform(*source.stream);
}

}  // namespace random_source
