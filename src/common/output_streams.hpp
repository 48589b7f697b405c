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

// Opens `name` with fopen's `mode`; when it cannot, stops the run with
// "ERROR: Can't open file: <name>".
std::FILE* open_or_stop(const char* name, const char* mode);
// Writes `line` and a newline and flushes, so that a killed run keeps whole
// lines; a failure stops the run as flush_or_stop does.
void write_line_or_stop(std::FILE* file, const char* name, const std::string& line);

// Flushes standard output; when a console write failed, stops the run with
// "ERROR: writing standard output failed: <reason>" (which then reaches
// standard error only).
void flush_console_or_stop();

}  // namespace output_streams
