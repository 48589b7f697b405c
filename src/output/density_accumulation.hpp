#pragma once
// Ion and electron charge densities and the mean electron energy on the mesh,
// rebuilt from the particle stores by cloud-in-cell weighting.
#include "mesh/mesh_arrays.hpp"

namespace densities {

// m_e/(2e): kinetic energy in eV of an electron of speed 1 cm/s, per (cm/s)^2.
constexpr double ENERGY_PER_SPEED2 = 2.842839659638878e-16;

// Lower node and fraction towards the next node along one axis, for the
// cloud-in-cell weights of coordinate c (cm) on an axis of spacing h with gas
// nodes lo..hi. Within half a spacing of the gas box's edge the whole weight
// goes to the outermost gas node.
struct AxisWeight {
    int n;
    double f;
};
inline AxisWeight axis_weight(double c, double h, double inv_h, int lo, int hi) {
    const double v = (c - h * 0.5) * inv_h;
    AxisWeight a{static_cast<int>(v), 0.0};
    a.f = v - a.n;
    if (v < lo) a = {lo, 0.0};
    if (v > hi) a = {hi, 0.0};
    return a;
}

// Calls f(node, weight) for the eight nodes around (x, y, z) cm with the
// cloud-in-cell weights of the charge deposit, in the deposit's order.
template <class F>
[[gnu::always_inline]] inline void for_cloud(double x, double y, double z, F&& f) {
    using namespace mesh;
    const AxisWeight wx = axis_weight(x, dx, inv_dx, ilo, ihi);
    const AxisWeight wy = axis_weight(y, dy, inv_dy, jlo, jhi);
    const AxisWeight wz = axis_weight(z, dz, inv_dz, klo, khi);
    for (int dk = 0; dk <= 1; ++dk)
        for (int dj = 0; dj <= 1; ++dj)
            for (int di = 0; di <= 1; ++di)
                f(node(wx.n + di, wy.n + dj, wz.n + dk),
                  (di == 0 ? 1.0 - wx.f : wx.f) * (dj == 0 ? 1.0 - wy.f : wy.f) * (dk == 0 ? 1.0 - wz.f : wz.f));
}

// Rebuilds ion_density (C/cm^3, one slot for each species), electron_density (C/cm^3) and
// electron_energy (mean eV per node in the gas box) from both stores. A live
// particle outside the gas box stops the run. Leaves both cursors past the end.
void accumulate_densities();

// A function that accumulate_densities calls at its end to add electrons held
// elsewhere than in records (the electron fluid); nullptr: none.
void add_after_records(void (*add)());

}  // namespace densities
