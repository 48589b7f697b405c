#include "mesh/charge_and_field.hpp"

#include "mesh/mesh_arrays.hpp"

#include <algorithm>

namespace field {

using namespace mesh;

namespace {

constexpr int GAS = 0, DIELECTRIC = 1;

int material(int i, int j, int k) { return material_map[padded(i, j, k)]; }

}  // namespace

void build_charge_source() {
    std::fill(charge_source, charge_source + NODE_COUNT, 0.0);
    const double c = dx * dy * dz * INV_EPS0;  // C/cm^3 -> V·cm per node

    // Boundary and guard layers are never gas, so node() below stays in range.
    for (int k = 0; k < PZ; ++k)
        for (int j = 0; j < PY; ++j)
            for (int i = 0; i < PX; ++i)
                if (material(i, j, k) == GAS)
                    charge_source[node(i, j, k)] =
                        c * (ion_density[ion_slot(1, i, j, k)] + ion_density[ion_slot(2, i, j, k)]);

    add_wall_charge(charge_source, c);
}

// A surface charge midway between a gas node and a dielectric node of
// permittivity eps is carried as 1/(eps+1) on the gas node and eps/(eps+1)
// on the dielectric node: this reproduces the field of the sheet on both sides.
void add_wall_charge(double* source, double c) {
    for (int k = 0; k < PZ; ++k)
        for (int j = 0; j < PY; ++j)
            for (int i = 0; i < PX; ++i) {
                if (material(i, j, k) != GAS) continue;
                const int gas = node(i, j, k);
                if (material(i - 1, j, k) == DIELECTRIC) {  // front wall, charge on the gas node
                    const double eps = eps_node[node(i - 1, j, k)];
                    const double m = wall_charge_x[padded(i, j, k)] / (eps + 1.0);
                    source[gas] += c * m;
                    source[node(i - 1, j, k)] += c * eps * m;
                }
                if (material(i + 1, j, k) == DIELECTRIC) {  // rear wall, charge on the dielectric node
                    const double eps = eps_node[node(i + 1, j, k)];
                    const double m = wall_charge_x[padded(i + 1, j, k)] / (eps + 1.0);
                    source[gas] += c * m;
                    source[node(i + 1, j, k)] += c * eps * m;
                }
                if (material(i, j, k + 1) == DIELECTRIC) {  // rib wall, charge on the dielectric node
                    const double eps = eps_node[node(i, j, k + 1)];
                    const double m = wall_charge_z[padded(i, j, k + 1)] / (eps + 1.0);
                    source[gas] += c * m;
                    source[node(i, j, k + 1)] += c * eps * m;
                }
            }
}

void compute_field() {
    // ex(i) lies on the face between nodes i-1 and i. The plate nodes stand for
    // electrode planes half a spacing from the first interior node, hence the
    // doubling at i = 2 and i = NX.
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 2; i <= NX; ++i) {
                double e = -(phi[node(i, j, k)] - phi[node(i - 1, j, k)]) * inv_dx;
                if (i == 2 || i == NX) e = 2.0 * e;
                ex[node(i, j, k)] = e;
            }
    for (int j = 2; j <= NY; ++j) {
        for (int k = 1; k <= NZ; ++k)
            for (int i = 1; i <= NX; ++i)
                ey[node(i, j, k)] = -(phi[node(i, j, k)] - phi[node(i, j - 1, k)]) * inv_dy;
        for (int k = 2; k <= NZ; ++k)
            for (int i = 1; i <= NX; ++i)
                ez[node(i, j, k)] = -(phi[node(i, j, k)] - phi[node(i, j, k - 1)]) * inv_dz;
    }

    // Across a charged surface the plain difference is the mean of the fields
    // on its two sides; Gauss's law with the sheet charge (wall charge times
    // spacing) then gives the gas-side field:
    //   E_gas = (2·eps·E_mean ± h·wall_charge/eps0)/(eps + 1),
    // + where the gas lies above the surface, - where it lies below.
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 2; i <= NX; ++i) {
                const int n = node(i, j, k);
                if (material(i, j, k) == GAS && material(i - 1, j, k) == DIELECTRIC) {
                    const double eps = eps_node[node(i - 1, j, k)];
                    ex[n] = (2.0 * eps * ex[n] + dx * INV_EPS0 * wall_charge_x[padded(i, j, k)]) / (eps + 1.0);
                } else if (material(i, j, k) == DIELECTRIC && material(i - 1, j, k) == GAS) {
                    const double eps = eps_node[n];
                    ex[n] = (2.0 * eps * ex[n] - dx * INV_EPS0 * wall_charge_x[padded(i, j, k)]) / (eps + 1.0);
                }
            }
    for (int k = 2; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                if (material(i, j, k) == DIELECTRIC && material(i, j, k - 1) == GAS) {
                    const int n = node(i, j, k);
                    const double eps = eps_node[n];
                    ez[n] = (2.0 * eps * ez[n] - dz * INV_EPS0 * wall_charge_z[padded(i, j, k)]) / (eps + 1.0);
                }
}

}  // namespace field
