#pragma once
// The program as a user runs it, for tests through the real binary: a shell
// command and its console, the example case, and fingerprints of files.
#include <gtest/gtest.h>

#include <sys/wait.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

struct RunResult {
    int status;  // exit status; -1 when the command did not exit normally
    std::string output;
};

// Runs a shell command; returns its exit status and its standard output.
inline RunResult run_command(const std::string& command) {
    std::FILE* pipe = popen(command.c_str(), "r");
    RunResult result{-1, {}};
    if (pipe == nullptr) return result;
    char buf[4096];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) result.output.append(buf, n);
    const int raw = pclose(pipe);
    result.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    return result;
}

// Runs pdpcell with arguments (and shell redirections) in the current folder,
// standard error joined to the output.
inline RunResult run_pdpcell(const std::string& arguments) {
    return run_command(std::string(PDPCELL_BINARY) + " " + arguments + " 2>&1");
}

// Copies the bundled example case into dir.
inline void copy_example_case(const std::filesystem::path& dir = ".") {
    const std::filesystem::path example = std::filesystem::path(PDPCELL_SOURCE_DIR) / "examples" / "sustain";
    for (const char* name : {"input_file.txt", "Vdata.txt"}) std::filesystem::copy_file(example / name, dir / name);
}

// The lines of a text, without their line ends.
inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
}

// FNV-1a, 64 bits: a fingerprint of a file's bytes.
inline std::uint64_t fingerprint(const std::string& text) {
    std::uint64_t h = 14695981039346656037ull;
    for (unsigned char c : text) {
        h ^= c;
        h *= 1099511628211ull;
    }
    return h;
}

// The run log without its processor-time column, the one thing that may
// differ from run to run.
inline std::string log_without_cpu_time(const std::string& log) {
    std::string kept;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) kept += line.substr(0, 70) + "\n";
    return kept;
}
