#pragma once
// FILE_MANAGER: hands out file units 30..60 by file name, so that callers open,
// find and close files by name. Units outside that range (the run log, the
// voltage file, the checkpoint) are opened by their owners directly.
#include <cstdio>
#include <string>

namespace FILE_MANAGER {

constexpr int FIRST_UNIT = 30;
constexpr int LAST_UNIT = 60;

// Opens `name` for "WRITE" (replaced) or "READ" (must exist); returns the unit.
// The same name with the same access word returns the open unit untouched.
int OPENFILE(const std::string& name, const std::string& access);
// Opens `name` for writing at its end (created if absent) and records it as a
// "WRITE" file, so that later OPENFILE(name, "WRITE") calls go on writing it
// instead of replacing it.
int OPENFILE_AT_END(const std::string& name);
// Unit of an open file; stops the run when the file is not open.
int GETUNIT(const std::string& name);
// Closing a "WRITE" file checks that everything written reached it; a
// failure stops the run with "ERROR: writing file <name> failed: <reason>".
void CLOSEFILE(const std::string& name);
void CLOSEALL();

// The I/O layer under the table: the stream of a connected unit (nullptr when
// the unit is not connected), and connecting or closing a unit directly, as
// code outside the table may do.
std::FILE* stream(int unit);
bool is_connected(int unit);
void connect_unit(int unit, std::FILE* file);
void close_unit(int unit);

int highest_unit();
// Name recorded for a unit, trailing blanks removed ("" when free).
std::string recorded_name(int unit);

// Closes every unit and clears the table, as at program start.
void reset();

}  // namespace FILE_MANAGER
