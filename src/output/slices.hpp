#pragma once
// Snapshots of densities and potential, appended to the five "OUT_" files.
namespace slices {

void write_slices(int step, double t, int interval);

void reset();

}  // namespace slices
