#include "mesh/potential_solver.hpp"

#include "input/electrode_voltages.hpp"
#include "mesh/mesh_arrays.hpp"

#include <algorithm>
#include <cmath>

namespace potential {

using namespace mesh;

bool first_solve = true;
int sweeps_in_last_solve = 0;

namespace {

// Node offsets of the j+1 and k+1 neighbours.
constexpr int STEP_Y = NX;
constexpr int STEP_Z = NX * NY;

// Interior nodes, the unknowns of the solve.
constexpr int I_FIRST = 2, I_LAST = NX - 1;
constexpr int J_FIRST = 2, J_LAST = NY - 1;
constexpr int K_FIRST = 2, K_LAST = NZ - 1;

// |r| of each interior node in the latest sweep. The sum of these sets the
// convergence ratio; adding them in the plain k, j, i order afterwards keeps
// its rounding, and so the whole solve, independent of the tiling.
double sweep_change[NODE_COUNT];

// One over-relaxation pass over the interior nodes of a tile, in k, j, i order.
// Neighbours already visited in this sweep contribute their new values.
void relax_tile(int i0, int i1, int j0, int j1, int k0, int k1) {
    for (int k = k0; k <= k1; ++k)
        for (int j = j0; j <= j1; ++j) {
            // The new value of the node just updated is the next one's x- neighbour:
            // keep it in a register rather than reload it from phi.
            double west = phi[node(i0, j, k) - 1];
            for (int n = node(i0, j, k); n <= node(i1, j, k); ++n) {
                const double old = phi[n];
                phi_prev[n] = old;
                const double r = (old - charge_source[n] - sor_zm[n] * phi[n - STEP_Z] -
                                  sor_zp[n] * phi[n + STEP_Z] - sor_ym[n] * phi[n - STEP_Y] -
                                  sor_yp[n] * phi[n + STEP_Y] - sor_xm[n] * west -
                                  sor_xp[n] * phi[n + 1]) * OMEGA_SOR;
                west = old - r;
                phi[n] = west;
                sweep_change[n] = std::fabs(r);
            }
        }
}

// Tiles of at most TILE nodes per axis keep the three planes of the stencil
// in cache. Every pair of neighbours is still visited in the same relative
// order as in the plain k, j, i sweep, so the result is the same bit for bit.
void relax_sweep() {
    for (int k0 = K_FIRST; k0 <= K_LAST; k0 += TILE)
        for (int j0 = J_FIRST; j0 <= J_LAST; j0 += TILE)
            for (int i0 = I_FIRST; i0 <= I_LAST; i0 += TILE)
                relax_tile(i0, std::min(i0 + TILE - 1, I_LAST), j0, std::min(j0 + TILE - 1, J_LAST),
                           k0, std::min(k0 + TILE - 1, K_LAST));
}

// Sum and largest of the changes of the latest sweep, summed in plain order.
void sweep_totals(double& sum, double& largest) {
    sum = 0.0;
    largest = 0.0;
    for (int k = K_FIRST; k <= K_LAST; ++k)
        for (int j = J_FIRST; j <= J_LAST; ++j)
            for (int n = node(I_FIRST, j, k); n <= node(I_LAST, j, k); ++n) {
                sum = sum + sweep_change[n];
                largest = std::max(largest, sweep_change[n]);
            }
}

// Once the change shrinks by a steady ratio lambda per sweep, the remaining
// corrections form a geometric series: add its sum lambda/(1 - lambda) at once.
void add_geometric_tail(double lambda) {
    for (int k = K_FIRST; k <= K_LAST; ++k)
        for (int j = J_FIRST; j <= J_LAST; ++j)
            for (int n = node(I_FIRST, j, k); n <= node(I_LAST, j, k); ++n)
                phi[n] = phi[n] + (phi[n] - phi_prev[n]) * lambda / (1.0 - lambda);
}

}  // namespace

void setup_sor_coefficients() {
    for (int k = K_FIRST; k <= K_LAST; ++k)
        for (int j = J_FIRST; j <= J_LAST; ++j)
            for (int i = I_FIRST; i <= I_LAST; ++i) {
                const int n = node(i, j, k);
                double a_xm = eps_face_x[n], a_xp = eps_face_x[node(i + 1, j, k)];
                double a_ym = eps_face_y[n], a_yp = eps_face_y[node(i, j + 1, k)];
                double a_zm = eps_face_z[n], a_zp = eps_face_z[node(i, j, k + 1)];
                // y and z boundary layers carry no flux.
                if (k == K_FIRST) a_zm = 0.0;
                if (k == K_LAST) a_zp = 0.0;
                if (j == J_FIRST) a_ym = 0.0;
                if (j == J_LAST) a_yp = 0.0;
                // An electrode plane lies half a spacing from the first node,
                // so its coupling doubles; a plate node without one is not coupled.
                if (i == I_FIRST) a_xm = electrode_map[node(1, j, k)] != 0 ? 2.0 * eps_face_x[n] : 0.0;
                if (i == I_LAST)
                    a_xp = electrode_map[node(NX, j, k)] != 0 ? 2.0 * eps_face_x[node(NX, j, k)] : 0.0;

                const double center = 1.0 / (a_ym + a_yp + a_xm + a_xp + a_zm + a_zp);
                sor_center[n] = center;
                sor_xm[n] = a_xm * center;
                sor_xp[n] = a_xp * center;
                sor_ym[n] = a_ym * center;
                sor_yp[n] = a_yp * center;
                sor_zm[n] = a_zm * center;
                sor_zp[n] = a_zp * center;
            }
}

void apply_boundary_values() {
    for (int k = 1; k <= NZ; ++k)
        for (int i = 1; i <= NX; ++i) {
            phi[node(i, 1, k)] = phi[node(i, 2, k)];
            phi[node(i, NY, k)] = phi[node(i, NY - 1, k)];
        }
    for (int j = 1; j <= NY; ++j)
        for (int i = 1; i <= NX; ++i) {
            phi[node(i, j, 1)] = phi[node(i, j, 2)];
            phi[node(i, j, NZ)] = phi[node(i, j, NZ - 1)];
        }
    const double* voltage = electrodes::electrode_voltage;
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j) {
            const int front = electrode_map[node(1, j, k)];
            phi[node(1, j, k)] = front >= 1 ? voltage[front] : phi[node(2, j, k)];
        }
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j) {
            const int rear = electrode_map[node(NX, j, k)];
            phi[node(NX, j, k)] = rear >= 1 ? voltage[rear] : phi[node(NX - 1, j, k)];
        }
}

void extrapolate_potential() {
    // The first solve has no history: phi_old = phi makes the step below a no-op.
    if (first_solve) {
        apply_boundary_values();
        std::copy(phi, phi + NODE_COUNT, phi_old);
        first_solve = false;
    }
    for (int n = 0; n < NODE_COUNT; ++n) {
        phi_save[n] = phi[n];
        phi[n] = 2.0 * phi[n] - phi_old[n];
        phi_old[n] = phi_save[n];
    }
}

void solve_potential() {
    extrapolate_potential();
    apply_boundary_values();

    // Pre-divide the source so a node update needs no division.
    for (int k = K_FIRST; k <= K_LAST; ++k)
        for (int j = J_FIRST; j <= J_LAST; ++j)
            for (int n = node(I_FIRST, j, k); n <= node(I_LAST, j, k); ++n)
                charge_source[n] = charge_source[n] * sor_center[n];

    double lambda_prev = 0.0, residual_prev = 1.0;
    double sum = 0.0, largest = 0.0;
    sweeps_in_last_solve = 0;
    do {
        relax_sweep();
        ++sweeps_in_last_solve;
        sweep_totals(sum, largest);
        const double residual = sum * dx * dy * 0.2;
        const double lambda = residual / residual_prev;
        // A sweep that changed nothing gives lambda = 0 and never passes this test.
        if (std::fabs(lambda_prev / lambda - 1.0) <= RATIO_TOLERANCE) add_geometric_tail(lambda);
        lambda_prev = lambda;
        residual_prev = residual;
    } while (largest > SOR_TOLERANCE);

    apply_boundary_values();
}

void reset() {
    first_solve = true;
    sweeps_in_last_solve = 0;
}

}  // namespace potential
