#include "output/density_accumulation.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_storage.hpp"

#include <algorithm>
#include <cmath>

namespace densities {

using namespace mesh;
using PARTICLE_STORAGE::Particle;
using PARTICLE_STORAGE::Store;

namespace {

constexpr double ELECTRON_W = -ELECTRON_CHARGE;  // C, charge of one electron record

void (*add_others)() = nullptr;

// Spreads q over the eight nodes around (x, y, z) with trilinear weights.
// stride and slot address ion_density's species slots; node arrays use 1 and 0.
void deposit(double* a, int stride, int slot, double q, double x, double y, double z) {
    const AxisWeight wx = axis_weight(x, dx, inv_dx, ilo, ihi);
    const AxisWeight wy = axis_weight(y, dy, inv_dy, jlo, jhi);
    const AxisWeight wz = axis_weight(z, dz, inv_dz, klo, khi);
    for (int dk = 0; dk <= 1; ++dk) {
        const double fz = dk == 0 ? 1.0 - wz.f : wz.f;
        for (int dj = 0; dj <= 1; ++dj) {
            const double fy = dj == 0 ? 1.0 - wy.f : wy.f;
            for (int di = 0; di <= 1; ++di) {
                const double fx = di == 0 ? 1.0 - wx.f : wx.f;
                a[stride * node(wx.n + di, wy.n + dj, wz.n + dk) + slot] += q * fx * fy * fz;
            }
        }
    }
}

// Which bound of the gas box a particle breaks: 'y', 'x', 'z', or 0 if none.
// Written so that a NaN coordinate fails too.
char outside_axis(const Particle& p) {
    if (!(ylow <= p.y && p.y <= yhigh)) return 'y';
    if (!(xlow < p.x && p.x < xhigh)) return 'x';
    if (!(zlow < p.z && p.z < zhigh)) return 'z';
    return 0;
}

void stop_for_ion(const Particle& p, char axis) {
    if (axis == 'y')
        pdp::fatal({"ERROR: ion is out of gap region in Y-direction",
                    fortran::FreeLine().item((ylow - p.y) / dy).item((yhigh - p.y) / dy).str()});
    if (axis == 'x') pdp::fatal("ERROR: ion is out of gap region in X-direction");
    pdp::fatal("ERROR: ion is out of gap region in Z-direction");
}

void stop_for_electron(char axis) {
    if (axis == 'y') pdp::fatal("ERROR: electron is out of gap region in Y-direction");
    if (axis == 'x') pdp::fatal("ERROR: electron is out of gap region in X-direction");
    pdp::fatal("ERROR: electron is out of gap region in Z-direction");
}

}  // namespace

void accumulate_densities() {
    Particle p{};

    std::fill(ion_density, ion_density + 2 * NODE_COUNT, 0.0);
    Store& ions = PARTICLE_STORAGE::ions;
    for (PARTICLE_STORAGE::rewind(ions); PARTICLE_STORAGE::get_current(ions, p);
         PARTICLE_STORAGE::advance(ions)) {
        if (p.w == 0.0) continue;  // dead slot
        if (const char axis = outside_axis(p)) stop_for_ion(p, axis);
        deposit(ion_density, 2, p.species - 1, p.w * inv_cell_volume, p.x, p.y, p.z);
    }

    std::fill(electron_density, electron_density + NODE_COUNT, 0.0);
    std::fill(electron_energy, electron_energy + NODE_COUNT, 0.0);
    Store& electrons = PARTICLE_STORAGE::electrons;
    for (PARTICLE_STORAGE::rewind(electrons); PARTICLE_STORAGE::get_current(electrons, p);
         PARTICLE_STORAGE::advance(electrons)) {
        if (p.w == 0.0) continue;
        if (const char axis = outside_axis(p)) stop_for_electron(axis);
        deposit(electron_density, 1, 0, p.w * inv_cell_volume, p.x, p.y, p.z);
        // Energy density in eV/cm^3: counts the electrons a record stands
        // for, |w|/e of them (exactly 1 for a record of one electron).
        const double energy = (p.vz * p.vz + p.vy * p.vy + p.vx * p.vx) * inv_cell_volume * ENERGY_PER_SPEED2;
        deposit(electron_energy, 1, 0, energy * (std::fabs(p.w) / ELECTRON_CHARGE), p.x, p.y, p.z);
    }

    // Energy density over number density: the mean energy of the electrons
    // around each node.
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) {
                const int n = node(i, j, k);
                if (std::fabs(electron_density[n]) > 0.0)
                    electron_energy[n] = electron_energy[n] / std::fabs(electron_density[n] / ELECTRON_W);
            }
    if (add_others != nullptr) add_others();
}

void add_after_records(void (*add)()) { add_others = add; }

}  // namespace densities
