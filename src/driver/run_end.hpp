#pragma once
// Where a run was meant to end (its --max-steps), kept in END_FILE beside the
// checkpoint, so that a restart without --max-steps ends there too and not at
// the end time. The checkpoint's own bytes stay as they were.
namespace run_end {

inline constexpr const char* END_FILE = "restart.end";

// Records that the run whose checkpoint holds step nstep ends after
// last_step (0: at the end time). Written after every checkpoint.
void save(int nstep, int last_step);

// The last step recorded for the checkpoint that holds step nstep: 0 for the
// end time, -1 when nothing is recorded for it (no file, an unreadable one,
// or one written with another checkpoint).
int saved_last_step(int nstep);

}  // namespace run_end
