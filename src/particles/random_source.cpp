#include "particles/random_source.hpp"

namespace random_source {

Source run_generator() { return {}; }

Source particle_stream(particle_streams::Stream& stream) { return {&stream}; }

}  // namespace random_source
