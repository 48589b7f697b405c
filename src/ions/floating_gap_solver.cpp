#include "ions/floating_gap_solver.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace floating_gap {

double gap_potential = 0.0;
double gap_coupling_sum = 0.0;
int sweeps_in_last_solve = 0;

using namespace mesh;

namespace {

// Offsets of the neighbours of a node in a node array.
constexpr int STEP_X = 1, STEP_Y = NX, STEP_Z = NX * NY;

bool is_gas(int i, int j, int k) { return material_map[padded(i, j, k)] == 0; }
bool is_dielectric(int i, int j, int k) { return material_map[padded(i, j, k)] == 1; }

// Coupling of a gas node to its dielectric neighbours: the permittivity of
// that neighbour over the squared spacing; nothing towards gas or outside.
double dielectric_coupling(int i, int j, int k, double h) {
    return is_dielectric(i, j, k) ? eps_node[node(i, j, k)] / (h * h) : 0.0;
}

// Permittivity-weighted sum of the dielectric potentials around gas node n.
double gas_node_flux(int n) {
    return sor_zp[n] * phi[n + STEP_Z] + sor_zm[n] * phi[n - STEP_Z] + sor_xp[n] * phi[n + STEP_X] +
           sor_xm[n] * phi[n - STEP_X] + sor_yp[n] * phi[n + STEP_Y] + sor_ym[n] * phi[n - STEP_Y];
}

// Per node of the latest pass: |r| of a solid node, the flux of a gas node.
// The loops run i fastest, along memory; the sums then add these up in the
// k, i, j order that fixes their rounding.
double node_value[NODE_COUNT];

// The potential of the whole gas region such that no net flux leaves it: the
// weighted mean of its dielectric neighbours. Every gas node takes it.
double float_gas_region() {
    for (int k = 2; k <= 12; ++k)
        for (int j = 2; j <= 136; ++j)
            for (int i = 2; i <= 66; ++i)
                if (is_gas(i, j, k)) node_value[node(i, j, k)] = gas_node_flux(node(i, j, k));
    double flux = 0.0;
    for (int k = 2; k <= 12; ++k)
        for (int i = 2; i <= 66; ++i)
            for (int j = 2; j <= 136; ++j)
                if (is_gas(i, j, k)) flux += node_value[node(i, j, k)];
    const double floating = flux / gap_coupling_sum;
    for (int k = 2; k <= 12; ++k)
        for (int j = 2; j <= 136; ++j)
            for (int i = 2; i <= 66; ++i)
                if (is_gas(i, j, k)) phi[node(i, j, k)] = floating;
    return floating;
}

// Sum and largest of the changes of the solid nodes in the k, i, j order.
// Kept out of line so that both stay in registers.
[[gnu::noinline]] void add_changes(double& sum_out, double& largest_out) {
    double sum = 0.0, largest = 0.0;
    for (int k = 2; k <= 12; ++k)
        for (int i = 2; i <= 66; ++i)
            for (int j = 2; j <= 136; ++j) {
                if (is_gas(i, j, k)) continue;
                const double change = node_value[node(i, j, k)];
                sum = sum + change;
                largest = std::max(largest, change);
            }
    sum_out = sum;
    largest_out = largest;
}

// Over-relaxation of the solid nodes in place; the gas nodes hold still. In
// this k, j, i order a node sees the same new (i-1, j-1, k-1) and old (i+1,
// j+1, k+1) neighbours as in the k, i, j order whose sums are kept.
void relax_solid_nodes(double& sum_out, double& largest_out) {
    for (int k = 2; k <= 12; ++k)
        for (int j = 2; j <= 136; ++j)
            for (int i = 2; i <= 66; ++i) {
                if (is_gas(i, j, k)) continue;
                const int n = node(i, j, k);
                const double r =
                    OMEGA_SUSTAIN * (sor_zm[n] * phi[n - STEP_Z] + sor_zp[n] * phi[n + STEP_Z] +
                                     sor_ym[n] * phi[n - STEP_Y] + sor_yp[n] * phi[n + STEP_Y] +
                                     sor_xm[n] * phi[n - STEP_X] + sor_xp[n] * phi[n + STEP_X] - phi[n]);
                phi[n] = phi[n] + r;
                node_value[n] = std::fabs(r);
            }
    add_changes(sum_out, largest_out);
}

template <class F>
void for_interior_nodes(F&& f) {
    for (int k = 2; k <= 12; ++k)
        for (int j = 2; j <= 136; ++j)
            for (int i = 2; i <= 66; ++i) f(node(i, j, k));
}

}  // namespace

void setup_sustain_coefficients() {
    // Face area over node distance, times 2.
    const double Kx = 2.0 * dy * dz / dx;
    const double Ky = 2.0 * dx * dz / dy;
    const double Kz = 2.0 * dx * dy / dz;
    for (int k = 2; k <= 12; ++k)
        for (int j = 2; j <= 136; ++j)
            for (int i = 2; i <= 66; ++i) {
                const int n = node(i, j, k);
                if (is_gas(i, j, k)) {
                    sor_zp[n] = k == 12 ? 0.0 : dielectric_coupling(i, j, k + 1, dz);
                    sor_zm[n] = k == 2 ? 0.0 : dielectric_coupling(i, j, k - 1, dz);
                    sor_xp[n] = dielectric_coupling(i + 1, j, k, dx);
                    sor_xm[n] = dielectric_coupling(i - 1, j, k, dx);
                    sor_yp[n] = 0.0;
                    sor_ym[n] = 0.0;
                    continue;
                }
                // Solid node: towards gas the face is held at the gas
                // potential half a spacing away; towards a solid neighbour the
                // two half spacings act in series.
                const double e0 = eps_node[n];
                auto face = [e0](double K, int ni, int nj, int nk) {
                    if (is_gas(ni, nj, nk)) return K * e0;
                    return K * e0 / (e0 / eps_node[node(ni, nj, nk)] + 1.0);
                };
                double a_xm = face(Kx, i - 1, j, k), a_xp = face(Kx, i + 1, j, k);
                double a_ym = face(Ky, i, j - 1, k), a_yp = face(Ky, i, j + 1, k);
                double a_zm = face(Kz, i, j, k - 1), a_zp = face(Kz, i, j, k + 1);
                // No flux through the y and z boundaries; a plate node couples
                // only under an electrode, whose surface is half a spacing away.
                if (k == 12) a_zp = 0.0;
                if (k == 2) a_zm = 0.0;
                if (j == 136) a_yp = 0.0;
                if (j == 2) a_ym = 0.0;
                if (i == 66) a_xp = electrode_map[node(67, j, k)] != 0 ? 2.0 * a_xp : 0.0;
                if (i == 2) a_xm = electrode_map[node(1, j, k)] != 0 ? 2.0 * a_xm : 0.0;
                const double s = 1.0 / (a_ym + a_yp + a_xm + a_xp + a_zm + a_zp);
                sor_zp[n] = a_zp * s;
                sor_zm[n] = a_zm * s;
                sor_xp[n] = a_xp * s;
                sor_xm[n] = a_xm * s;
                sor_yp[n] = a_yp * s;
                sor_ym[n] = a_ym * s;
            }
}

void solve_floating_gap() {
    gap_coupling_sum = 0.0;
    for (int k = 2; k <= 12; ++k)
        for (int i = 2; i <= 66; ++i)
            for (int j = 2; j <= 136; ++j)
                if (is_gas(i, j, k)) {
                    const int n = node(i, j, k);
                    gap_coupling_sum += sor_zp[n] + sor_zm[n] + sor_xp[n] + sor_xm[n] + sor_yp[n] + sor_ym[n];
                }
    if (!(gap_coupling_sum > 0.0))
        pdp::fatal({"ERROR: the gas region touches no dielectric node,",
                    "       so its floating potential is undefined"});

    double lambda_prev = 0.0, residual_prev = 1.0;
    double largest = 0.0;
    sweeps_in_last_solve = 0;
    do {
        for_interior_nodes([](int n) { phi_prev[n] = phi[n]; });

        double sum = 0.0;
        relax_solid_nodes(sum, largest);
        float_gas_region();

        // Once the error shrinks by a steady ratio, add the rest of its
        // geometric series at once.
        const double residual = sum * dx * dy * 0.2;
        const double lambda = residual / residual_prev;
        if (std::fabs(lambda_prev / lambda - 1.0) <= SUSTAIN_RATIO_TOLERANCE)
            for_interior_nodes([lambda](int n) {
                phi[n] = phi[n] + (phi[n] - phi_prev[n]) * lambda / (1.0 - lambda);
            });
        lambda_prev = lambda;
        residual_prev = residual;
        ++sweeps_in_last_solve;
        // Rounding noise alone can exceed the absolute tolerance at absurd
        // voltages; no sane case comes near this many sweeps.
        if (largest > SUSTAIN_TOLERANCE && sweeps_in_last_solve >= MAX_SUSTAIN_SWEEPS)
            pdp::fatal({"ERROR: the floating-gap solve of the sustain state did not converge in " +
                            std::to_string(MAX_SUSTAIN_SWEEPS) + " sweeps:",
                        "       the last sweep changed phi by up to " + fortran::free_real(largest) +
                            " V (tolerance " + fortran::free_real(SUSTAIN_TOLERANCE) + " V)"});
    } while (largest > SUSTAIN_TOLERANCE);

    potential::apply_boundary_values();
    gap_potential = float_gas_region();
    fortran::write_line(stdout, fortran::FreeLine().item("PH_M=").item(gap_potential).str());
    potential::apply_boundary_values();
}

void reset() {
    sweeps_in_last_solve = 0;
    gap_potential = 0.0;
    gap_coupling_sum = 0.0;
}

}  // namespace floating_gap
