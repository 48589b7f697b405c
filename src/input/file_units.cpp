#include "input/file_units.hpp"

#include "common/fatal_error.hpp"
#include "common/output_streams.hpp"

#include <array>

namespace FILE_MANAGER {

namespace {

struct FileEntry {
    std::string name;    // trailing blanks removed; empty when the record is free
    std::string access;  // "WRITE", "READ" or empty
};

std::array<FileEntry, LAST_UNIT + 1> file_entry;
std::array<std::FILE*, LAST_UNIT + 1> unit_stream{};
int highest = FIRST_UNIT;

// Names compare with trailing blanks ignored, so store them trimmed.
std::string trimmed(const std::string& s) {
    std::size_t end = s.find_last_not_of(' ');
    return end == std::string::npos ? std::string() : s.substr(0, end + 1);
}

void blank_record(int u) { file_entry[u] = FileEntry{}; }

// A file written through the table is closed with its writes checked, so a
// failure that only the close reveals still stops the run.
void close_recorded_unit(int u) {
    if (file_entry[u].access != "WRITE" || !is_connected(u)) {
        close_unit(u);
        return;
    }
    std::FILE* file = unit_stream[u];
    unit_stream[u] = nullptr;
    output_streams::close_or_stop(file, file_entry[u].name);
}

// OPENFILE with the mode in which a "WRITE" file is opened: "w" replaces
// it, "a" continues it.
int open_file(const std::string& name_in, const std::string& access_in, const char* write_mode) {
    const std::string name = trimmed(name_in);
    const std::string access = trimmed(access_in);
    if (name.empty()) pdp::fatal("ERROR: file name in FILE_MANAGER::OPENFILE is empty");
    if (access != "WRITE" && access != "READ")
        pdp::fatal({"ERROR: incorrect access type parameter in FILE_MANAGER::OPENFILE",
                    "       Must be 'WRITE' or 'READ'"});

    for (int u = FIRST_UNIT; u <= highest; ++u) {
        if (!is_connected(u)) blank_record(u);
        if (file_entry[u].name == name) {
            if (file_entry[u].access == access) return u;
            close_recorded_unit(u);
            blank_record(u);
        }
    }

    for (int u = FIRST_UNIT; u <= highest + 1; ++u) {
        if (is_connected(u)) continue;
        if (u > LAST_UNIT) pdp::fatal("ERROR: not enough free file units available in FILE_MANAGER");
        std::FILE* file = std::fopen(name.c_str(), access == "WRITE" ? write_mode : "r");
        if (file == nullptr) pdp::fatal("ERROR: Can't open file: " + name_in);
        unit_stream[u] = file;
        file_entry[u] = FileEntry{name, access};
        if (u > highest) highest = u;
        return u;
    }
    pdp::fatal("ERROR: Can't open file: " + name_in);
}

}  // namespace

std::FILE* stream(int unit) {
    if (unit < FIRST_UNIT || unit > LAST_UNIT) return nullptr;
    return unit_stream[unit];
}

bool is_connected(int unit) { return stream(unit) != nullptr; }

void connect_unit(int unit, std::FILE* file) {
    if (unit < FIRST_UNIT || unit > LAST_UNIT) return;
    close_unit(unit);
    unit_stream[unit] = file;
}

void close_unit(int unit) {
    if (unit < FIRST_UNIT || unit > LAST_UNIT || unit_stream[unit] == nullptr) return;
    std::fclose(unit_stream[unit]);
    unit_stream[unit] = nullptr;
}

int highest_unit() { return highest; }

std::string recorded_name(int unit) {
    if (unit < FIRST_UNIT || unit > LAST_UNIT) return {};
    return file_entry[unit].name;
}

int OPENFILE(const std::string& name, const std::string& access) { return open_file(name, access, "w"); }

int OPENFILE_AT_END(const std::string& name) { return open_file(name, "WRITE", "a"); }

int GETUNIT(const std::string& name_in) {
    const std::string name = trimmed(name_in);
    for (int u = FIRST_UNIT; u <= highest; ++u) {
        if (file_entry[u].name == name) {
            if (is_connected(u)) return u;
            blank_record(u);
        }
    }
    pdp::fatal({"ERROR: error in FILE_MANAGER::GETUNIT", "       file " + name_in + " is not opened"});
}

void CLOSEFILE(const std::string& name) {
    int u = GETUNIT(name);
    close_recorded_unit(u);
    blank_record(u);
}

void CLOSEALL() {
    for (int u = FIRST_UNIT; u <= highest; ++u) {
        if (is_connected(u) && !file_entry[u].name.empty()) close_recorded_unit(u);
        blank_record(u);
    }
}

void reset() {
    for (int u = FIRST_UNIT; u <= LAST_UNIT; ++u) {
        close_unit(u);
        blank_record(u);
    }
    highest = FIRST_UNIT;
}

}  // namespace FILE_MANAGER
