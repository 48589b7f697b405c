#pragma once
// What a restarted run keeps of the files its earlier run wrote: the run log
// and the slice files are cut back to what was written before the step the
// run resumes at (a run killed after its checkpoint has written past it), and
// the restarted run appends the rest, so that the files read as those of one
// run that was never interrupted.
#include <cstdio>
#include <string>
#include <vector>

namespace output_history {

// Bytes of the run log to keep: the header line, then the complete lines of
// the steps before `step` (the first column, I8, is the step). 0 when the
// file is missing or does not begin with `header`: it is then no run log of
// this program and is started afresh.
long run_log_length(const std::string& name, const std::string& header, int step);

// Bytes of a slice file to keep: its header lines, then the complete blocks
// written at times before `time` (s). A block is "  TIME", the time, the
// name line, then `rows` data lines. 0 when the file is missing or does not
// begin with exactly `header`.
long slice_file_length(const std::string& name, const std::vector<std::string>& header,
                       const std::string& name_line, int rows, double time);

// Cuts the file to its first `length` bytes (a missing file stays missing).
void cut_file(const std::string& name, long length);

// Cuts a report file back to its `length` bytes at the checkpoint of step
// `nstep` and opens it for appending. A file shorter than that was cut or
// replaced since: the run stops, with `remedy` as the message's second line.
std::FILE* reopen_at(const std::string& name, long length, int nstep, const std::string& remedy);

}  // namespace output_history
