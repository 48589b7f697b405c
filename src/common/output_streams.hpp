#pragma once
// Output that is never lost while the run reports success: every output file
// and the console are checked after their writes, and a failure stops the run
// with a message that names what could not be written.
#include <cstdio>
#include <string>

namespace output_streams {

// Makes sure descriptors 0, 1 and 2 are open, on /dev/null where they were
// closed, so that no file the run opens takes the place of the console.
// Returns false when /dev/null cannot be opened.
bool open_standard_descriptors();

// Flushes `file`; when that or any earlier write to it failed, stops the run
// with "ERROR: writing file <name> failed: <reason>".
void flush_or_stop(std::FILE* file, const std::string& name);
// The same check, then closes the file.
void close_or_stop(std::FILE* file, const std::string& name);

// Flushes standard output; when a console write failed, stops the run with
// "ERROR: writing standard output failed: <reason>" (which then reaches
// standard error only).
void flush_console_or_stop();

}  // namespace output_streams
