#pragma once
// Snapshots of densities and potential, appended to the five "OUT_" files:
// each call adds one time block to every file, the first call also the header.
namespace slices {

// t (s) is written with the block; step and interval are not used.
void write_slices(int step, double t, int interval);

// For a restarted run: cuts every slice file after its header and the blocks
// written at times before `time` (s), and keeps them open to be continued.
// A file without this header is started afresh.
void continue_files(double time);

// Forgets the first call, so that the next one writes the headers again.
void reset();

}  // namespace slices
