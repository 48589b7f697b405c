#pragma once
// The field at a particle: trilinear interpolation on the staggered mesh,
// shared by the electron and the ion movers. Each component lives on the faces
// normal to its own axis (grid coordinate c/h there) and on the node planes
// across it ((c - h/2)/h). An index outside the gas box is held at the box's
// bound with no weight towards its neighbour, so the field is never
// extrapolated. Header-only: it is inlined into the movers' flight loops.
#include "mesh/mesh_arrays.hpp"

namespace mesh {

// Cell number n and fraction f of grid coordinate g, clamped to [lo, hi]; the
// clamps test the truncated index.
[[gnu::always_inline]] inline void locate(double g, int lo, int hi, int& n, double& f) {
    n = static_cast<int>(g);
    f = g - n;
    if (n < lo) {
        n = lo;
        f = 0.0;
    }
    if (n > hi) {
        n = hi;
        f = 0.0;
    }
}

// Node array a interpolated from entry (i, j, k) towards (i+1, j+1, k+1).
[[gnu::always_inline]] inline double trilinear(const double* a, int i, int j, int k, double fx,
                                               double fy, double fz) {
    constexpr int SX = 1, SY = NX, SZ = NX * NY;
    const int c = node(i, j, k);
    const double near_z = (1 - fy) * ((1 - fx) * a[c] + fx * a[c + SX]) +
                          fy * ((1 - fx) * a[c + SY] + fx * a[c + SY + SX]);
    const int d = c + SZ;
    const double far_z = (1 - fy) * ((1 - fx) * a[d] + fx * a[d + SX]) +
                         fy * ((1 - fx) * a[d + SY] + fx * a[d + SY + SX]);
    return (1 - fz) * near_z + fz * far_z;
}

// (Ex, Ey, Ez) in V/cm at (x, y, z) in cm; the six grid coordinates are
// computed once for the three components.
[[gnu::always_inline]] inline void interpolate_field(double x, double y, double z, double& Ex,
                                                     double& Ey, double& Ez) {
    int i_face, i_node, j_face, j_node, k_face, k_node;
    double fx_face, fx_node, fy_face, fy_node, fz_face, fz_node;
    locate(x / dx, ilo, ihi, i_face, fx_face);
    locate((x - dx / 2) / dx, ilo, ihi, i_node, fx_node);
    locate(y / dy, jlo, jhi, j_face, fy_face);
    locate((y - dy / 2) / dy, jlo, jhi, j_node, fy_node);
    locate(z / dz, klo, khi, k_face, fz_face);
    locate((z - dz / 2) / dz, klo, khi, k_node, fz_node);
    Ex = trilinear(ex, i_face, j_node, k_node, fx_face, fy_node, fz_node);
    Ey = trilinear(ey, i_node, j_face, k_node, fx_node, fy_face, fz_node);
    Ez = trilinear(ez, i_node, j_node, k_face, fx_node, fy_node, fz_face);
}

}  // namespace mesh
