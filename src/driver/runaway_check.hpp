#pragma once
// A merged run whose records carry ever larger weights can run away
// numerically: its real particle numbers climb by many orders of magnitude
// within a few steps, to infinity, while the run crawls on. After every step
// this check stops such a run with a diagnosis. A run without merging, whose
// every record is one particle, is never checked (nor slowed).
namespace runaway_check {

// Far above any display discharge (a few 1e13 cm^-3 at the peak), far below
// where the numbers overflow.
constexpr double DENSITY_LIMIT = 1e17;  // cm^-3
// A physical discharge grows over tens of ns; a hundredfold in half a
// nanosecond, with more than a million real particles, is no avalanche.
constexpr double GROWTH_LIMIT = 100.0;
constexpr int GROWTH_STEPS = 5;
constexpr double GROWTH_FLOOR = 1e6;  // real particles

// Forgets the numbers of earlier steps; call before the time loop.
void start();

// After the particle passes of the step that ends at t_end (s): stops the
// run (pdp::fatal) when a weight or a real number is not finite, a record
// or the whole store stands for more than DENSITY_LIMIT, or the real number
// of particles grew more than GROWTH_LIMIT times within GROWTH_STEPS steps.
void after_step(int step, double t_end);

void reset();

}  // namespace runaway_check
