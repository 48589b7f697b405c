#pragma once
// Saved inputs of the conducting potential solve, taken from dense steps of a
// --plasma-field run of examples/sustain (bench/conducting_states/, written
// by bench/pack_conducting_state.py; docs/conducting_solve.md tells how they
// were captured). Each holds what the solve reads besides the geometry: the
// electrode voltages, the face couplings over the gas box (the only place the
// plasma changes them), the extrapolated guess and the charge source. Values
// are stored as floats to keep the files small, so a loaded state is a state
// of the run to 7 digits, not to the bit.
//
// File layout, little-endian: "PDPCS01\n"; the gas box ilo, ihi, jlo, jhi,
// klo, khi (int32); electrode_voltage[0..3] (double); eps_face_x, _y, _z over
// the gas box, i fastest (float); the guess on every node (float); the count
// of nonzero charge_source entries (uint32) and each as node, value
// (uint32, float).
#include "input/electrode_voltages.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

// The saved states, by name (which conducting solve of the run they were).
inline const std::vector<std::string>& conducting_state_names() {
    static const std::vector<std::string> names{"solve150", "solve200", "solve250"};
    return names;
}

inline std::string conducting_state_path(const std::string& name) {
    return std::string(PDPCELL_SOURCE_DIR) + "/bench/conducting_states/" + name + ".pdps";
}

// Loads a state into the mesh arrays of a cell whose geometry is built:
// phi and phi_old both hold the guess, so the solve's extrapolation keeps it.
inline void load_conducting_state(const std::string& name) {
    using namespace mesh;
    std::ifstream in(conducting_state_path(name), std::ios::binary);
    if (!in) throw std::runtime_error("cannot open " + conducting_state_path(name));
    char magic[8];
    in.read(magic, 8);
    if (std::memcmp(magic, "PDPCS01\n", 8) != 0) throw std::runtime_error(name + ": not a conducting state");
    std::int32_t box[6];
    in.read(reinterpret_cast<char*>(box), sizeof box);
    if (box[0] != ilo || box[1] != ihi || box[2] != jlo || box[3] != jhi || box[4] != klo || box[5] != khi)
        throw std::runtime_error(name + ": saved for another gas box");
    in.read(reinterpret_cast<char*>(electrodes::electrode_voltage), 4 * sizeof(double));
    for (double* face : {eps_face_x, eps_face_y, eps_face_z})
        for (int k = klo; k <= khi; ++k)
            for (int j = jlo; j <= jhi; ++j)
                for (int i = ilo; i <= ihi; ++i) {
                    float value;
                    in.read(reinterpret_cast<char*>(&value), sizeof value);
                    face[node(i, j, k)] = value;
                }
    std::vector<float> guess(NODE_COUNT);
    in.read(reinterpret_cast<char*>(guess.data()), NODE_COUNT * sizeof(float));
    for (int n = 0; n < NODE_COUNT; ++n) phi[n] = phi_old[n] = guess[n];
    std::uint32_t count;
    in.read(reinterpret_cast<char*>(&count), sizeof count);
    std::fill(charge_source, charge_source + NODE_COUNT, 0.0);
    for (std::uint32_t e = 0; e < count; ++e) {
        std::uint32_t n;
        float value;
        in.read(reinterpret_cast<char*>(&n), sizeof n);
        in.read(reinterpret_cast<char*>(&value), sizeof value);
        if (n >= static_cast<std::uint32_t>(NODE_COUNT)) throw std::runtime_error(name + ": node out of range");
        charge_source[n] = value;
    }
    if (!in) throw std::runtime_error(name + ": file too short");
    potential::first_solve = false;
}
