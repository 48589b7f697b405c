#pragma once
// What the benchmarks that run the program's own start-up need: a scratch
// folder to work in (the geometry reads "input_file.txt" there), and a
// console sent to /dev/null so that only the benchmark table is printed.
#include "input/cell_geometry.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <fcntl.h>
#include <unistd.h>

// Makes a fresh temporary folder and enters it; returns the folder.
inline std::filesystem::path enter_scratch_folder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "pdpcell-bench-XXXXXX").string();
    const std::filesystem::path folder = mkdtemp(pattern.data());
    std::filesystem::current_path(folder);
    return folder;
}

// Goes back to `previous` and removes the scratch folder.
inline void leave_scratch_folder(const std::filesystem::path& previous, const std::filesystem::path& folder) {
    std::filesystem::current_path(previous);
    std::filesystem::remove_all(folder);
}

// Standard output goes to /dev/null while this lives.
struct QuietConsole {
    int console;
    int devnull;
    QuietConsole() {
        std::fflush(stdout);
        console = dup(STDOUT_FILENO);
        devnull = open("/dev/null", O_WRONLY);
        dup2(devnull, STDOUT_FILENO);
    }
    ~QuietConsole() {
        std::fflush(stdout);
        dup2(console, STDOUT_FILENO);
        close(console);
        close(devnull);
    }
    QuietConsole(const QuietConsole&) = delete;
    QuietConsole& operator=(const QuietConsole&) = delete;
};

// The built-in cell's geometry on a fresh mesh, built quietly in a scratch
// folder (the geometry needs an "input_file.txt" there).
inline void build_quiet_cell() {
    const std::filesystem::path previous = std::filesystem::current_path();
    const std::filesystem::path folder = enter_scratch_folder();
    std::ofstream("input_file.txt").close();
    {
        const QuietConsole quiet;
        mesh::reset();
        potential::reset();
        FILE_MANAGER::reset();
        geometry::build_geometry();
        FILE_MANAGER::reset();
    }
    leave_scratch_folder(previous, folder);
}
