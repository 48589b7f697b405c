#include "mesh/plasma_field.hpp"

#include "electrons/collision_frequencies.hpp"
#include "mesh/conducting_solve.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"
#include "particles/particle_storage.hpp"
#include "particles/particle_merging.hpp"

#include <algorithm>
#include <cmath>
#include <cstdlib>

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

int smoothing_passes() {
    static const int n = std::getenv("PDPCELL_SMOOTH") ? std::atoi(std::getenv("PDPCELL_SMOOTH")) : 0;  // TEMPORARY
    return n;
}
bool smoothing_on() { return smoothing_passes() > 0; }

}  // namespace

double electron_mobility() { return MOBILITY_TIMES_GAS_DENSITY / collision_frequencies::GAS_DENSITY; }

void smooth_over_gas(double* values) {
    for (int pass = 0; pass < std::max(1, smoothing_passes()); ++pass) {
        smooth_along(values, 1, 1, 0, 0);
        smooth_along(values, NX, 0, 1, 0);
        smooth_along(values, NX * NY, 0, 0, 1);
    }
}

void add_electron_charge() {
    const double c = dx * dy * dz * INV_EPS0;  // C/cm^3 -> V·cm per node
    if (!smoothing_on()) {
        for (int k = 1; k <= NZ; ++k)
            for (int j = 1; j <= NY; ++j)
                for (int i = 1; i <= NX; ++i)
                    if (gas(i, j, k)) charge_source[node(i, j, k)] += c * electron_density[node(i, j, k)];
        return;
    }
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const int n = node(i, j, k);
                space_charge[n] = gas(i, j, k) ? ion_density[2 * n] + ion_density[2 * n + 1] + electron_density[n] : 0.0;
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
    if (!conducting) {
        std::copy(eps_face_x, eps_face_x + NODE_COUNT, vacuum_face_x);
        std::copy(eps_face_y, eps_face_y + NODE_COUNT, vacuum_face_y);
        std::copy(eps_face_z, eps_face_z + NODE_COUNT, vacuum_face_z);
        conducting = true;
    }
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i)
                node_sigma[node(i, j, k)] = gas(i, j, k) ? conductivity(node(i, j, k)) : 0.0;
    if (smoothing_on()) smooth_over_gas(node_sigma);
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

void restore_vacuum_couplings() {
    if (!conducting) return;
    std::copy(vacuum_face_x, vacuum_face_x + NODE_COUNT, eps_face_x);
    std::copy(vacuum_face_y, vacuum_face_y + NODE_COUNT, eps_face_y);
    std::copy(vacuum_face_z, vacuum_face_z + NODE_COUNT, eps_face_z);
    conducting = false;
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

// TEMPORARY diagnostic trace (PDPCELL_TRACE_DENSE): the densest gas node.
#include <cstdio>
#include <cstdlib>
namespace electron_collisions { extern double trace_ion_count, trace_ion_w, trace_ion_wx, trace_ion_wE, trace_ion_wEmax, trace_ion_wen; }
namespace plasma_field {
void trace_dense(int nstep) {
    static const bool on = std::getenv("PDPCELL_TRACE_DENSE") != nullptr;
    if (!on || !dense) return;
    int best = -1, bi = 0, bj = 0, bk = 0;
    double peak = 0.0, total = 0.0;
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) {
                const int n = node(i, j, k);
                const double ne = std::fabs(electron_density[n]);
                total += ne;
                if (ne > peak) peak = ne, best = n, bi = i, bj = j, bk = k;
            }
    if (best < 0) return;
    auto field_at = [](int i, int j, int k) {
        const int n = node(i, j, k);
        const double fx = 0.5 * (ex[n] + ex[node(i + 1, j, k)]);
        const double fy = 0.5 * (ey[n] + ey[node(i, j + 1, k)]);
        const double fz = 0.5 * (ez[n] + ez[node(i, j, k + 1)]);
        return std::sqrt(fx * fx + fy * fy + fz * fz);
    };
    double near = 0.0;
    for (int dk = -1; dk <= 1; ++dk)
        for (int dj = -1; dj <= 1; ++dj)
            for (int di = -1; di <= 1; ++di) {
                const int i = bi + di, j = bj + dj, k = bk + dk;
                if (i < ilo || i > ihi || j < jlo || j > jhi || k < klo || k > khi) continue;
                near += std::fabs(electron_density[node(i, j, k)]);
            }
    // Dense region: nodes above a tenth of the peak; n_e-weighted energy and |E|.
    int dense_nodes = 0;
    double w_sum = 0.0, e_sum = 0.0, f_sum = 0.0, ni_sum = 0.0;
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) {
                const int n = node(i, j, k);
                const double ne = std::fabs(electron_density[n]);
                if (ne < 0.1 * peak) continue;
                ++dense_nodes;
                w_sum += ne;
                e_sum += ne * electron_energy[n];
                f_sum += ne * field_at(i, j, k);
                ni_sum += ion_density[2 * n] + ion_density[2 * n + 1];
            }
    // Records whose nearest node is the densest one.
    const PARTICLE_STORAGE::Store& s = PARTICLE_STORAGE::electrons;
    int records = 0;
    double real = 0.0;
    for (int slot = 1; slot <= s.count; ++slot) {
        if (s.w[slot] == 0.0) continue;
        real += std::fabs(s.w[slot]);
        if (static_cast<int>(s.x[slot] * inv_dx) == bi && static_cast<int>(s.y[slot] * inv_dy) == bj &&
            static_cast<int>(s.z[slot] * inv_dz) == bk)
            ++records;
    }
    // Strongest field in the gas, and the heaviest and hottest records.
    double emax = 0.0;
    int mi = 0, mj = 0, mk = 0;
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) {
                const double f = field_at(i, j, k);
                if (f > emax) emax = f, mi = i, mj = j, mk = k;
            }
    const int mn = node(mi, mj, mk);
    double wmax = 0.0, hot = 0.0, hot_w = 0.0, hot_x = 0.0;
    for (int slot = 1; slot <= s.count; ++slot) {
        if (s.w[slot] == 0.0) continue;
        wmax = std::max(wmax, std::fabs(s.w[slot]));
        const double en = (s.vx[slot] * s.vx[slot] + s.vy[slot] * s.vy[slot] + s.vz[slot] * s.vz[slot]) *
                          2.842839659638878e-16;
        if (en > hot) hot = en, hot_w = std::fabs(s.w[slot]), hot_x = s.x[slot] - xlow;
    }
    std::fprintf(stderr,
                 "TRACE2 step %d Emax %.3e V/cm at (%d,%d,%d) x-xlow %.1f um el %d ne %.3e ni %.3e eps %.2f | "
                 "records %d wmax %.3e e | hottest %.1f eV w %.3e x-xlow %.1f um\n",
                 nstep, emax, mi, mj, mk, (mi - ilo + 0.5) * dx * 1e4, electrode_map[node(1, mj, mk)],
                 std::fabs(electron_density[mn]) / ELECTRON_CHARGE,
                 (ion_density[2 * mn] + ion_density[2 * mn + 1]) / ELECTRON_CHARGE, electron_energy[mn], s.count,
                 wmax / ELECTRON_CHARGE, hot, hot_w / ELECTRON_CHARGE, hot_x * 1e4);
    {
        const PARTICLE_STORAGE::Store& io = PARTICLE_STORAGE::ions;
        double iw = 0.0, ix = 0.0, ireal = 0.0;
        for (int slot = 1; slot <= io.count; ++slot) {
            ireal += std::fabs(io.w[slot]);
            if (std::fabs(io.w[slot]) > iw) iw = std::fabs(io.w[slot]), ix = io.x[slot] - xlow;
        }
        int hs = 0;
        for (int slot = 1; slot <= s.count; ++slot)
            if (std::fabs(s.w[slot]) == wmax) hs = slot;
        const double hen = (s.vx[hs] * s.vx[hs] + s.vy[hs] * s.vy[hs] + s.vz[hs] * s.vz[hs]) * 2.842839659638878e-16;
        std::fprintf(stderr,
                     "TRACE3 step %d merges %lld | heaviest e: w %.3e origin %d at (%.1f,%.1f,%.1f) um from xlow, %.1f eV"
                     " | heaviest ion w %.3e x-xlow %.1f um | real ions %.3e\n",
                     nstep, particle_merging::merge_count, wmax / ELECTRON_CHARGE, s.species[hs],
                     (s.x[hs] - xlow) * 1e4, s.y[hs] * 1e4, s.z[hs] * 1e4, hen, iw / ELECTRON_CHARGE, ix * 1e4,
                     ireal / ELECTRON_CHARGE);
    }
    {
        using namespace electron_collisions;
        const double w = trace_ion_w > 0 ? trace_ion_w : 1;
        std::fprintf(stderr, "TRACE4 step %d ionizations %.0f real %.3e mean x-xlow %.1f um  mean |E| %.3e  max |E| %.3e"
                     "  mean parent energy after %.1f eV\n", nstep, trace_ion_count, trace_ion_w / ELECTRON_CHARGE,
                     trace_ion_wx / w * 1e4, trace_ion_wE / w, trace_ion_wEmax, trace_ion_wen / w);
        trace_ion_count = trace_ion_w = trace_ion_wx = trace_ion_wE = trace_ion_wEmax = trace_ion_wen = 0;
    }
    const double ni = ion_density[2 * best] + ion_density[2 * best + 1];
    std::fprintf(stderr,
                 "TRACE step %d node (%d,%d,%d) x-xlow %.1f um front-electrode %d  ne %.3e ni %.3e cm^-3  "
                 "eps %.2f eV  |E| %.3e V/cm (%.0f Td)  records-at-node %d  near27 %.3f  "
                 "dense-nodes %d dense-eps %.2f dense-|E| %.3e dense-ni/ne %.2f  real-e %.3e\n",
                 nstep, bi, bj, bk, (bi - ilo + 0.5) * dx * 1e4, electrode_map[node(1, bj, bk)],
                 peak / ELECTRON_CHARGE, ni / ELECTRON_CHARGE, electron_energy[best], field_at(bi, bj, bk),
                 field_at(bi, bj, bk) / (collision_frequencies::GAS_DENSITY * 1e-17), records, near / total,
                 dense_nodes, e_sum / w_sum, f_sum / w_sum, ni_sum / w_sum, real / ELECTRON_CHARGE);
}
}  // namespace plasma_field
