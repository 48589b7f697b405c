#pragma once
// Cells for the field tests: the built-in cell, and a cell that varies only
// along x, whose potential can be worked out by hand.
#include "common/quiet_geometry.hpp"
#include "common/temp_folder.hpp"
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

// Everything cleared, then the built-in geometry (it needs an input_file.txt
// in the working folder) and the solver coefficients.
inline void build_builtin_cell() {
    FILE_MANAGER::reset();
    mesh::reset();
    potential::reset();
    electrodes::reset();
    TempFolder folder;
    build_geometry_quietly();
    FILE_MANAGER::reset();
    potential::setup_sor_coefficients();
}

// Permittivities of the layers across the gap.
constexpr double EPS_FRONT = 11.0, EPS_GAS = 1.0, EPS_REAR = 8.0;

// The front dielectric (nodes i = 1..14), the gas (15..53) and the rear
// dielectric (54..67), uniform in y and z, with electrode 1 over the whole
// front plate and electrode 2 over the whole rear plate. The layer interfaces
// lie on the faces x = 15·dx and x = 54·dx; the electrode planes on x = 2·dx
// and x = 67·dx.
inline void build_layered_cell() {
    using namespace mesh;
    mesh::reset();
    potential::reset();
    electrodes::reset();
    auto eps_of = [](int i) { return i <= 14 ? EPS_FRONT : i >= 54 ? EPS_REAR : EPS_GAS; };
    auto harmonic = [](double a, double b) { return 2.0 * a * b / (a + b); };
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const int n = node(i, j, k);
                eps_node[n] = eps_of(i);
                electrode_map[n] = i == 1 ? 1 : i == NX ? 2 : 0;
                if (i >= 2) eps_face_x[n] = harmonic(eps_of(i - 1), eps_of(i)) * dy * dz / dx;
                if (j >= 3 && j <= NY - 1) eps_face_y[n] = eps_of(i) * dx * dz / dy;
                if (k >= 3 && k <= NZ - 1) eps_face_z[n] = eps_of(i) * dx * dy / dz;
            }
    for (int k = 0; k < PZ; ++k)
        for (int j = 0; j < PY; ++j)
            for (int i = 0; i < PX; ++i) {
                const bool boundary = i <= 1 || i >= NX || j <= 1 || j >= NY || k <= 1 || k >= NZ;
                material_map[padded(i, j, k)] = boundary ? -1 : (i <= 14 || i >= 54) ? 1 : 0;
            }
    potential::setup_sor_coefficients();
}

// The solver state a potential solve reads and writes, to run several solves
// from the same start.
struct SolverState {
    std::vector<double> phi_, phi_old_, source;
    bool first;
    static SolverState take() {
        using namespace mesh;
        return {std::vector<double>(phi, phi + NODE_COUNT), std::vector<double>(phi_old, phi_old + NODE_COUNT),
                std::vector<double>(charge_source, charge_source + NODE_COUNT), potential::first_solve};
    }
    void restore() const {
        using namespace mesh;
        std::copy(phi_.begin(), phi_.end(), phi);
        std::copy(phi_old_.begin(), phi_old_.end(), phi_old);
        std::copy(source.begin(), source.end(), charge_source);
        potential::first_solve = first;
    }
};
