#include "mesh/mesh_arrays.hpp"

#include <algorithm>

namespace mesh {

double phi[NODE_COUNT], phi_old[NODE_COUNT], phi_save[NODE_COUNT], phi_prev[NODE_COUNT];
double sor_center[NODE_COUNT];
double sor_xm[NODE_COUNT], sor_xp[NODE_COUNT];
double sor_ym[NODE_COUNT], sor_yp[NODE_COUNT];
double sor_zm[NODE_COUNT], sor_zp[NODE_COUNT];
double charge_source[NODE_COUNT];
double ex[NODE_COUNT], ey[NODE_COUNT], ez[NODE_COUNT];
double ion_density[2 * NODE_COUNT];
double electron_density[NODE_COUNT];
double electron_energy[NODE_COUNT];
double eps_node[NODE_COUNT];
double eps_face_x[NODE_COUNT], eps_face_y[NODE_COUNT], eps_face_z[NODE_COUNT];
int electrode_map[NODE_COUNT];
int material_map[PADDED_COUNT];
double wall_charge_x[PADDED_COUNT], wall_charge_y[PADDED_COUNT], wall_charge_z[PADDED_COUNT];

int ilo, ihi, jlo, jhi, klo, khi;
double xlow, xhigh, ylow, yhigh, zlow, zhigh;

void reset() {
    for (double* a : {phi, phi_old, phi_save, phi_prev, sor_center, sor_xm, sor_xp, sor_ym, sor_yp,
                      sor_zm, sor_zp, charge_source, ex, ey, ez, electron_density, electron_energy,
                      eps_node, eps_face_x, eps_face_y, eps_face_z})
        std::fill(a, a + NODE_COUNT, 0.0);
    std::fill(ion_density, ion_density + 2 * NODE_COUNT, 0.0);
    std::fill(electrode_map, electrode_map + NODE_COUNT, 0);
    std::fill(material_map, material_map + PADDED_COUNT, 0);
    for (double* a : {wall_charge_x, wall_charge_y, wall_charge_z}) std::fill(a, a + PADDED_COUNT, 0.0);
    ilo = ihi = jlo = jhi = klo = khi = 0;
    xlow = xhigh = ylow = yhigh = zlow = zhigh = 0.0;
}

}  // namespace mesh
