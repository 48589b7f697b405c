#pragma once
// One run per folder: two runs writing the same files corrupt each other. A
// run holds an exclusive flock on LOCK_FILE in its working folder, which the
// kernel releases when the process ends, however it ends, so a killed run
// leaves no stale lock. The file holds the holder's process id, so that a
// refused run can name it; a run that ends removes the file.
namespace run_folder_lock {

inline constexpr const char* LOCK_FILE = "pdpcell.lock";

// Takes the working folder, or stops with a message naming the process that
// holds it. Touches no file but LOCK_FILE.
void hold();

// Removes LOCK_FILE and releases the folder; nothing when it is not held.
void release();

}  // namespace run_folder_lock
