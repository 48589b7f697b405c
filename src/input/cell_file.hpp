#pragma once
// The case's own cell and fill, from the optional cell file "cell.toml": the
// fill, the walls' secondary emission, the dielectrics and the electrodes.
// Read once at start-up into a plain struct, checked there (unknown keys,
// values out of range, electrodes that do not fit the mesh: refused with the
// key and its line); the geometry and the species' data read the struct.
// Every key is optional and defaults to the built-in cell.
#include "particles/species.hpp"

#include <string>

namespace cell_file {

inline constexpr const char* CELL_FILE = "cell.toml";

// The electrodes and dielectrics snapped to the mesh, in nodes.
struct Layout {
    int front_last = 14;     // last node (along x) of the front dielectric
    int rear_first = 54;     // first node of the rear dielectric
    int rib_half = 2;        // half the rib width, z steps
    int phosphor = 1;        // phosphor thickness, z steps
    int sustain_first = 19;  // first node (along y) of sustain electrode 1
    int sustain_width = 44;  // nodes of each sustain electrode
    int sustain_gap = 13;    // nodes between them
    int address_nodes = 5;   // z nodes of the address electrode
};

struct Cell {
    bool given = false;  // false: no cell file, the built-in cell
    std::string text;    // the file as read, for the checkpoint's record

    double xenon_fraction = species::BUILT_IN_XENON_FRACTION;
    double density = species::BUILT_IN_DENSITY;  // cm^-3
    double yield[3][2] = {{0.64, 0.001}, {0.32, 0.0}, {0.32, 0.0}};  // [wall][Ne+, Xe+]
    double emission_energy = 0.0;  // eV

    double eps_front = 11.0, eps_rear = 8.0, eps_phosphor = 8.0, eps_rib = 11.0;
    Layout layout;
};

// Density of an ideal gas, cm^-3, at a pressure in Torr and a temperature in K.
double density_of(double pressure_torr, double temperature_k);

// Parses the text of a cell file named `name` (for the messages); stops with
// pdp::fatal on anything wrong.
Cell parse(const std::string& text, const std::string& name);

// The case's cell: CELL_FILE in the working folder if there is one, else the
// built-in cell.
Cell read_case_cell();

// The fill of the species' data that the cell makes.
species::Fill fill_of(const Cell& cell);

// The snapped values, one line each, for the console and the run's echo.
std::string describe(const Cell& cell);

// The cell of this run, set once at start-up.
const Cell& current();
void set_current(const Cell& cell);
void reset();

}  // namespace cell_file
