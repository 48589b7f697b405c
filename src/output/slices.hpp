#pragma once
// Snapshots of densities and potential, appended to the five "OUT_" files:
// each call adds one time block to every file, the first call also the header.
namespace slices {

// t (s) is written with the block; step and interval are not used.
void write_slices(int step, double t, int interval);

// Forgets the first call, so that the next one writes the headers again.
void reset();

}  // namespace slices
