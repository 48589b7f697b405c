#pragma once
// The one uniform random source of a run: L'Ecuyer's (1988) combined
// multiplicative congruential generator. Its state is two 32-bit integers, so
// a checkpoint can save it and a restart continue the very same sequence.
#include <cstdint>

namespace random_numbers {

constexpr std::int32_t S1_LIMIT = 2147483562;
constexpr std::int32_t S2_LIMIT = 2147483398;

// A value in the open interval (0, 1); advances the state once.
double draw_uniform();

// Installs a state; 0 becomes the limit, a value above it is reduced.
void set_seed(std::int32_t s1, std::int32_t s2);
void get_seed(std::int32_t& s1, std::int32_t& s2);

// The state of a fresh program, before any seed is set.
void reset();

}  // namespace random_numbers
