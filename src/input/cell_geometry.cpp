#include "input/cell_geometry.hpp"

#include "common/fortran_format.hpp"
#include "input/cell_file.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace geometry {

using namespace mesh;

namespace {

// Harmonic mean of two permittivities: the series value of a face between them.
double harmonic(double a, double b) { return 2.0 * a * b / (a + b); }

void echo_line(std::FILE* out, const char* label, std::size_t length, const std::string& value) {
    std::string text(label);
    text.resize(std::max(length, text.size()), ' ');
    fortran::write_line(out, fortran::FreeLine().item(text).item(value).str());
}

}  // namespace

void build_geometry() {
    FILE_MANAGER::OPENFILE("input_file.txt", "READ");

    std::fill(electrode_map, electrode_map + NODE_COUNT, 0);

    const cell_file::Cell& cell = cell_file::current();
    const cell_file::Layout& l = cell.layout;
    // One pair of sustain electrodes on the front plate, along y.
    constexpr int sustain_pairs = 1;
    const int first_1 = l.sustain_first, last_1 = first_1 + l.sustain_width - 1;
    const int first_2 = last_1 + l.sustain_gap + 1, last_2 = first_2 + l.sustain_width - 1;
    for (int p = 0; p < sustain_pairs; ++p)
        for (int k = 1; k <= NZ; ++k) {
            for (int j = first_1; j <= last_1; ++j) electrode_map[node(1, j, k)] = 2 * p + 1;
            for (int j = first_2; j <= last_2; ++j) electrode_map[node(1, j, k)] = 2 * p + 2;
        }

    std::printf("%s\n", fortran::FreeLine().item(65).item(135).item(11).str().c_str());

    const int n_rib = l.rib_half;        // half rib thickness, z steps
    const int n_ph = l.phosphor;         // phosphor thickness, z steps
    const int n_addr = l.address_nodes;  // z nodes of the address electrode
    const int k_gas = 12 - n_rib - n_ph;                 // last gas node along z
    const int k_ph = 12 - n_rib;                         // last phosphor node along z

    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                double eps = 1.0;                      // gas
                if (i >= l.rear_first) eps = cell.eps_rear;
                else if (i <= l.front_last) eps = cell.eps_front;
                else if (k > k_ph) eps = cell.eps_rib;
                else if (k > k_gas) eps = cell.eps_phosphor;
                eps_node[node(i, j, k)] = eps;
            }

    for (int j = 1; j <= NY; ++j)
        for (int k = 1; k <= n_addr; ++k) electrode_map[node(NX, j, k)] = 3;

    for (int k = 0; k < PZ; ++k)
        for (int j = 0; j < PY; ++j)
            for (int i = 0; i < PX; ++i) {
                int m = 0;
                if (i <= 1 || i >= 67 || j <= 1 || j >= 137 || k <= 1 || k >= 13) m = -1;
                else if (i <= l.front_last || i >= l.rear_first || k > k_gas) m = 1;
                material_map[padded(i, j, k)] = m;
            }

    std::fill(eps_face_x, eps_face_x + NODE_COUNT, 0.0);
    std::fill(eps_face_y, eps_face_y + NODE_COUNT, 0.0);
    std::fill(eps_face_z, eps_face_z + NODE_COUNT, 0.0);
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 2; i <= NX; ++i)
                eps_face_x[node(i, j, k)] =
                    harmonic(eps_node[node(i - 1, j, k)], eps_node[node(i, j, k)]) * dy * dz / dx;
    for (int k = 1; k <= NZ; ++k)
        for (int j = 3; j <= 136; ++j)
            for (int i = 1; i <= NX; ++i)
                eps_face_y[node(i, j, k)] =
                    harmonic(eps_node[node(i, j - 1, k)], eps_node[node(i, j, k)]) * dx * dz / dy;
    for (int k = 3; k <= 12; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                eps_face_z[node(i, j, k)] =
                    harmonic(eps_node[node(i, j, k - 1)], eps_node[node(i, j, k)]) * dx * dy / dz;

    std::printf("%s\n", fortran::FreeLine().item(first_1).item(last_1).item(first_2).item(last_2).str().c_str());
    if (cell.given) std::printf("%s", cell_file::describe(cell).c_str());

    const int unit = FILE_MANAGER::OPENFILE("control_file.txt", "WRITE");
    std::FILE* out = FILE_MANAGER::stream(unit);
    using fortran::free_integer;
    using fortran::free_real;
    echo_line(out, "vertical size of the cell=", 42, free_real(65 * dx));
    echo_line(out, "vertical size of the gap=", 42, free_real((l.rear_first - l.front_last - 1) * dx));
    echo_line(out, "dielectric thickness near sustain electrodes=", 45, free_real((l.front_last - 1) * dx));
    echo_line(out, "dielectric thickness near address electrode=", 44, free_real((NX - l.rear_first) * dx));
    echo_line(out, "full number of intervals in vertical direction=", 47, free_integer(65));
    echo_line(out, "first horizontal size of a cell=", 42, free_real(135 * dy));
    echo_line(out, "full number of intervals in the horizontal direction=", 53, free_integer(135));
    echo_line(out, "number of pares of sustain electrodes=", 42, free_integer(sustain_pairs));
    echo_line(out, "distance between edges of s_electrodes=", 42, free_real(l.sustain_gap * dy));
    echo_line(out, "width of each s_electrode=", 42, free_real(l.sustain_width * dy));
    echo_line(out, "second horizontal size of a cell=", 42, free_real(22 * dz));
    echo_line(out, "full number of intervals in 2 horizontal direction=", 51, free_integer(22));
    echo_line(out, "thickness of the barrier rib=", 42, free_real(2 * n_rib * dz));
    echo_line(out, "thickness of phosphor layer=", 42, free_real(n_ph * dz));
    echo_line(out, "width of address electrode=", 42, free_real(2 * (n_addr - 1) * dz));
    // The case's own cell, after the lines a run of the built-in cell writes.
    if (cell.given) {
        echo_line(out, "cell file=", 42, cell_file::CELL_FILE);
        std::fputs(cell.text.c_str(), out);
        if (!cell.text.empty() && cell.text.back() != '\n') std::fputc('\n', out);
    }
    FILE_MANAGER::CLOSEFILE("control_file.txt");

    // Gas-region bounds: the extreme gas nodes that border a non-gas node.
    ihi = 0, ilo = NX, jhi = 0, jlo = NY, khi = 0, klo = NZ;
    for (int k = 0; k < PZ; ++k)
        for (int j = 0; j < PY; ++j)
            for (int i = 0; i < PX; ++i) {
                if (material_map[padded(i, j, k)] != 0) continue;
                if (material_map[padded(i, j, k + 1)] != 0) khi = std::max(khi, k);
                if (material_map[padded(i, j, k - 1)] != 0) klo = std::min(klo, k);
                if (material_map[padded(i, j + 1, k)] != 0) jhi = std::max(jhi, j);
                if (material_map[padded(i, j - 1, k)] != 0) jlo = std::min(jlo, j);
                if (material_map[padded(i + 1, j, k)] != 0) ihi = std::max(ihi, i);
                if (material_map[padded(i - 1, j, k)] != 0) ilo = std::min(ilo, i);
            }
    xlow = ilo * dx;
    xhigh = (ihi + 1) * dx;
    ylow = jlo * dy;
    yhigh = (jhi + 1) * dy;
    zlow = klo * dz;
    zhigh = (khi + 1) * dz;

    FILE_MANAGER::CLOSEFILE("input_file.txt");
}

int highest_electrode() {
    return *std::max_element(electrode_map, electrode_map + NODE_COUNT);
}

}  // namespace geometry
