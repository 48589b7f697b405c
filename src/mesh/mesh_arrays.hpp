#pragma once
// The fixed mesh of the cell and every array stored on it.
//
// Node arrays hold 67 x 137 x 13 nodes numbered from 1, i (x) fastest; padded
// arrays hold 68 x 138 x 14 entries numbered from 0 (layer 0 is a guard layer
// below node 1). Node n of an axis with spacing h lies at (n + 1/2)·h, and the
// face between nodes n-1 and n at n·h. Units: cm, V, C.
#include <algorithm>

namespace mesh {

constexpr int NX = 67, NY = 137, NZ = 13;
constexpr int NODE_COUNT = NX * NY * NZ;        // 119327
constexpr int PX = 68, PY = 138, PZ = 14;
constexpr int PADDED_COUNT = PX * PY * PZ;      // 131376

constexpr double dx = 0.0002;                    // cm, across the gap
constexpr double dy = 0.0005;                    // cm, along the sustain electrodes
constexpr double dz = 0.001;                     // cm, across the barrier rib
constexpr double inv_dx = 5000.0;                // 1/cm
constexpr double inv_dy = 2000.0;
constexpr double inv_dz = 1000.0;
constexpr double inv_cell_volume = 9999999999.999998;  // 1/(dx·dy·dz), cm^-3

constexpr double ELECTRON_CHARGE = 1.6021892e-19;      // C
constexpr double INV_EPS0 = 11294090664546.123;        // 1/eps0, cm/F

// Flat offset of node (i, j, k), 1-based, and of padded entry (i, j, k), 0-based.
inline int node(int i, int j, int k) { return (i - 1) + NX * ((j - 1) + NY * (k - 1)); }
inline int padded(int i, int j, int k) { return i + PX * (j + PY * k); }
// The mesh cell that holds (x, y, z) in cm, the one above its nearest node
// below-left, as one number; clamped to the padded mesh. Cells further
// along x, then y, then z have larger numbers.
inline long cell_number(double x, double y, double z) {
    const int i = std::clamp(static_cast<int>(x * inv_dx), 0, PX);
    const int j = std::clamp(static_cast<int>(y * inv_dy), 0, PY);
    const int k = std::clamp(static_cast<int>(z * inv_dz), 0, PZ);
    return i + (PX + 1L) * (j + (PY + 1L) * k);
}
// Offset in ion_density of species s (1 Ne+, 2 Xe+) at node (i, j, k).
inline int ion_slot(int s, int i, int j, int k) { return 2 * node(i, j, k) + (s - 1); }

// Potential and its solver (node arrays).
extern double phi[NODE_COUNT];            // V
extern double phi_old[NODE_COUNT];        // V, result of the previous solve
extern double phi_save[NODE_COUNT];       // V, scratch of the extrapolation
extern double phi_prev[NODE_COUNT];       // V, value before the latest relaxation
extern double sor_center[NODE_COUNT];     // 1/cm
extern double sor_xm[NODE_COUNT], sor_xp[NODE_COUNT];
extern double sor_ym[NODE_COUNT], sor_yp[NODE_COUNT];
extern double sor_zm[NODE_COUNT], sor_zp[NODE_COUNT];
extern double charge_source[NODE_COUNT];  // rho·(cell volume)/eps0, V·cm

// Field on the cell faces, V/cm: ex(i,j,k) between nodes (i-1,j,k) and (i,j,k).
extern double ex[NODE_COUNT], ey[NODE_COUNT], ez[NODE_COUNT];

// Charge densities, C/cm^3, and mean electron energy, eV.
extern double ion_density[2 * NODE_COUNT];  // species slot fastest
extern double electron_density[NODE_COUNT];
extern double electron_energy[NODE_COUNT];

// Cell map, filled once by the geometry set-up.
extern double eps_node[NODE_COUNT];        // relative permittivity
extern double eps_face_x[NODE_COUNT];      // face couplings, cm
extern double eps_face_y[NODE_COUNT];
extern double eps_face_z[NODE_COUNT];
extern int electrode_map[NODE_COUNT];      // electrode number, 0 for none
extern int material_map[PADDED_COUNT];     // -1 outside, 0 gas, 1 dielectric

// Charge of absorbed particles per wall cell, C/cm^3 (padded arrays).
extern double wall_charge_x[PADDED_COUNT];  // front and rear walls
extern double wall_charge_y[PADDED_COUNT];  // never charged; cleared only
extern double wall_charge_z[PADDED_COUNT];  // rib wall

// Gas region: index bounds of the gas nodes and the planes half a spacing
// outside them. Front wall x = xlow, rear wall x = xhigh, rib wall z = zhigh
// absorb; ylow, yhigh and zlow mirror.
extern int ilo, ihi, jlo, jhi, klo, khi;
extern double xlow, xhigh, ylow, yhigh, zlow, zhigh;

// Zeroes every array and the gas-region bounds, as at program start.
void reset();

}  // namespace mesh
