#include "mesh/plasma_field.hpp"

#include "electrons/collision_frequencies.hpp"
#include "mesh/conducting_solve.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"
#include "particles/particle_storage.hpp"

#include <algorithm>
#include <cmath>

namespace plasma_field {

using namespace mesh;

namespace {

constexpr int GAS = 0;

// The vacuum face couplings, kept while the conducting ones are loaded.
double vacuum_face_x[NODE_COUNT], vacuum_face_y[NODE_COUNT], vacuum_face_z[NODE_COUNT];
bool conducting = false;
bool dense = false;  // the electrons of this step exceed DENSE_ELECTRONS

bool gas(int i, int j, int k) { return material_map[padded(i, j, k)] == GAS; }

// Conductivity of node n, S/cm: electron_density is the signed charge
// density (C/cm^3), so |rho_e|·mu_e; each ion species adds rho_i·mu_i.
double conductivity(int n) {
    return std::fabs(electron_density[n]) * electron_mobility() + ion_density[2 * n] * NE_ION_MOBILITY +
           ion_density[2 * n + 1] * XE_ION_MOBILITY;
}

// frozen_time·sigma/eps0 on the face between nodes a and b (no unit): the
// conduction a field frozen that long drives, over the permittivity of vacuum.
double conduction(int a, int b, double frozen_time) {
    return frozen_time * 0.5 * (conductivity(a) + conductivity(b)) * INV_EPS0;
}

}  // namespace

double electron_mobility() { return MOBILITY_TIMES_GAS_DENSITY / collision_frequencies::GAS_DENSITY; }

void add_electron_charge() {
    const double c = dx * dy * dz * INV_EPS0;  // C/cm^3 -> V·cm per node
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                if (gas(i, j, k)) charge_source[node(i, j, k)] += c * electron_density[node(i, j, k)];
}

void load_conducting_couplings(double frozen_time) {
    if (!conducting) {
        std::copy(eps_face_x, eps_face_x + NODE_COUNT, vacuum_face_x);
        std::copy(eps_face_y, eps_face_y + NODE_COUNT, vacuum_face_y);
        std::copy(eps_face_z, eps_face_z + NODE_COUNT, vacuum_face_z);
        conducting = true;
    }
    // Face area over node distance, as in the vacuum couplings.
    const double gx = dy * dz / dx, gy = dx * dz / dy, gz = dx * dy / dz;
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const int n = node(i, j, k);
                if (!gas(i, j, k)) continue;
                if (gas(i - 1, j, k))
                    eps_face_x[n] = vacuum_face_x[n] + conduction(node(i - 1, j, k), n, frozen_time) * gx;
                if (gas(i, j - 1, k))
                    eps_face_y[n] = vacuum_face_y[n] + conduction(node(i, j - 1, k), n, frozen_time) * gy;
                if (gas(i, j, k - 1))
                    eps_face_z[n] = vacuum_face_z[n] + conduction(node(i, j, k - 1), n, frozen_time) * gz;
            }
    potential::setup_sor_coefficients();
}

void restore_vacuum_couplings() {
    if (!conducting) return;
    std::copy(vacuum_face_x, vacuum_face_x + NODE_COUNT, eps_face_x);
    std::copy(vacuum_face_y, vacuum_face_y + NODE_COUNT, eps_face_y);
    std::copy(vacuum_face_z, vacuum_face_z + NODE_COUNT, eps_face_z);
    conducting = false;
    potential::setup_sor_coefficients();
}

bool field_due(int n, int interval) {
    const PARTICLE_STORAGE::Store& s = PARTICLE_STORAGE::electrons;
    double real = 0.0;
    for (int slot = 1; slot <= s.count; ++slot) real += std::fabs(s.w[slot]);
    dense = real > DENSE_ELECTRONS * ELECTRON_CHARGE;
    return dense || n % interval == 0;
}

void solve_potential(double time_step, int interval) {
    add_electron_charge();
    load_conducting_couplings(dense ? time_step : interval * time_step);
    conducting_solve::solve_potential();
    restore_vacuum_couplings();
}

void reset() {
    conducting = false;
    dense = false;
}

}  // namespace plasma_field
