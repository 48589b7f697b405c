#pragma once
// The synthetic cell the particle-pass benchmarks share: the built-in gas box
// without the geometry set-up, and a smooth field of about 2e4 V/cm that
// varies over the box, so that particles cross cells as they would in a run.
#include "mesh/mesh_arrays.hpp"

#include <cmath>

inline void set_up_bench_cell() {
    using namespace mesh;
    mesh::reset();
    ilo = 15, ihi = 53, jlo = 2, jhi = 136, klo = 2, khi = 9;
    xlow = ilo * dx, xhigh = (ihi + 1) * dx;
    ylow = jlo * dy, yhigh = (jhi + 1) * dy;
    zlow = klo * dz, zhigh = (khi + 1) * dz;
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const int n = node(i, j, k);
                ex[n] = 2e4 * (1 + 0.3 * std::sin(0.05 * j));  // V/cm
                ey[n] = 5e3 * std::cos(0.05 * j);
                ez[n] = 2e3 * std::sin(0.3 * k);
            }
}
