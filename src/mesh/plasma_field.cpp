#include "mesh/plasma_field.hpp"

#include "particles/species.hpp"
#include "mesh/conducting_solve.hpp"
#include "mesh/mesh_arrays.hpp"

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
    return std::fabs(electron_density[n]) * electron_mobility() + ion_density[2 * n] * species::fill().ne_ion_mobility +
           ion_density[2 * n + 1] * species::fill().xe_ion_mobility;
}

// The smoothed space charge (C/cm^3) and conductivity (S/cm) of the gas
// nodes, and the smoothing's scratch.
double space_charge[NODE_COUNT];
double node_sigma[NODE_COUNT];
double scratch[NODE_COUNT];

// frozen_time·sigma/eps0 on the face between nodes a and b (no unit): the
// conduction a field frozen that long drives, over the permittivity of vacuum.
double conduction(int a, int b, double frozen_time) {
    return frozen_time * 0.5 * (node_sigma[a] + node_sigma[b]) * INV_EPS0;
}

// One 1-2-1 pass along the axis of node offset `step` ((di, dj, dk) in
// indices): each gas node keeps half its value and hands a quarter to each
// gas neighbour; the quarter towards a wall or a mirror plane stays.
void smooth_along(double* a, int step, int di, int dj, int dk) {
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                if (!gas(i, j, k)) continue;
                const int n = node(i, j, k);
                const double lower = gas(i - di, j - dj, k - dk) ? a[n - step] : a[n];
                const double upper = gas(i + di, j + dj, k + dk) ? a[n + step] : a[n];
                scratch[n] = 0.5 * a[n] + 0.25 * (lower + upper);
            }
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                if (gas(i, j, k)) a[node(i, j, k)] = scratch[node(i, j, k)];
}

// Saves the vacuum face couplings before the first conducting ones replace them.
void keep_vacuum_couplings() {
    if (conducting) return;
    std::copy(eps_face_x, eps_face_x + NODE_COUNT, vacuum_face_x);
    std::copy(eps_face_y, eps_face_y + NODE_COUNT, vacuum_face_y);
    std::copy(eps_face_z, eps_face_z + NODE_COUNT, vacuum_face_z);
    conducting = true;
}

}  // namespace

double electron_mobility() { return species::ELECTRON_MOBILITY_TIMES_GAS_DENSITY / species::fill().density; }

void smooth_over_gas(double* values) {
    for (int pass = 0; pass < SMOOTHING_PASSES; ++pass) {
        smooth_along(values, 1, 1, 0, 0);
        smooth_along(values, NX, 0, 1, 0);
        smooth_along(values, NX * NY, 0, 0, 1);
    }
}

void add_electron_charge() {
    const double c = dx * dy * dz * INV_EPS0;  // C/cm^3 -> V·cm per node
    // The ions' share, put in by build_charge_source(), is taken out again.
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const int n = node(i, j, k);
                const bool in_gas = gas(i, j, k);
                space_charge[n] = in_gas ? ion_density[2 * n] + ion_density[2 * n + 1] + electron_density[n] : 0.0;
            }
    smooth_over_gas(space_charge);
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const int n = node(i, j, k);
                if (gas(i, j, k))
                    charge_source[n] += c * space_charge[n] - c * (ion_density[2 * n] + ion_density[2 * n + 1]);
            }
}

void load_conducting_couplings(double frozen_time) {
    keep_vacuum_couplings();
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                node_sigma[node(i, j, k)] = gas(i, j, k) ? conductivity(node(i, j, k)) : 0.0;
    smooth_over_gas(node_sigma);
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
}

void add_charge_density(const double* charge_density) {
    const double c = dx * dy * dz * INV_EPS0;  // C/cm^3 -> V·cm per node
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                if (gas(i, j, k)) charge_source[node(i, j, k)] += c * charge_density[node(i, j, k)];
}

void load_face_conductivities(const double* sigma_x, const double* sigma_y, const double* sigma_z,
                              double frozen_time) {
    keep_vacuum_couplings();
    const double gx = dy * dz / dx, gy = dx * dz / dy, gz = dx * dy / dz;
    const double scale = frozen_time * INV_EPS0;
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const int n = node(i, j, k);
                if (!gas(i, j, k)) continue;
                if (gas(i - 1, j, k)) eps_face_x[n] = vacuum_face_x[n] + scale * sigma_x[n] * gx;
                if (gas(i, j - 1, k)) eps_face_y[n] = vacuum_face_y[n] + scale * sigma_y[n] * gy;
                if (gas(i, j, k - 1)) eps_face_z[n] = vacuum_face_z[n] + scale * sigma_z[n] * gz;
            }
}

void restore_vacuum_couplings() {
    if (!conducting) return;
    std::copy(vacuum_face_x, vacuum_face_x + NODE_COUNT, eps_face_x);
    std::copy(vacuum_face_y, vacuum_face_y + NODE_COUNT, eps_face_y);
    std::copy(vacuum_face_z, vacuum_face_z + NODE_COUNT, eps_face_z);
    conducting = false;
}

bool field_due(int n, int interval, double electron_charge) {
    dense = electron_charge > DENSE_ELECTRONS * ELECTRON_CHARGE;
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
