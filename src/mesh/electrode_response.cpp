#include "mesh/electrode_response.hpp"

#include "input/electrode_voltages.hpp"
#include "mesh/conducting_solve.hpp"
#include "mesh/potential_solver.hpp"

#include <algorithm>

namespace electrode_response {

using namespace mesh;

double unit_potential[ELECTRODES * NODE_COUNT];
double capacitance[ELECTRODES][ELECTRODES];

namespace {

constexpr double EPS0 = 1.0 / INV_EPS0;  // F/cm
// V: a unit potential is kept to a millionth of its volt over the mesh; a
// grounded solve of wall and space charge (tens of volts) to a microvolt.
constexpr double UNIT_TOLERANCE = 1e-9;
constexpr double GROUNDED_TOLERANCE = 1e-6;

bool done = false;

// What a solve of the run leaves behind and the next one reads.
double saved_phi[NODE_COUNT], saved_phi_old[NODE_COUNT], saved_phi_save[NODE_COUNT];
double saved_source[NODE_COUNT];
double saved_voltage[41];
double node_potential[NODE_COUNT];

// Solves with the given electrode voltages (V, entries 1..3) and node charges
// (C; null: none) into result, the run's solver state kept.
void solve_aside(const double voltage[ELECTRODES + 1], const double* node_charge, double tolerance, double* result) {
    std::copy(phi, phi + NODE_COUNT, saved_phi);
    std::copy(phi_old, phi_old + NODE_COUNT, saved_phi_old);
    std::copy(phi_save, phi_save + NODE_COUNT, saved_phi_save);
    std::copy(charge_source, charge_source + NODE_COUNT, saved_source);
    std::copy(electrodes::electrode_voltage, electrodes::electrode_voltage + 41, saved_voltage);
    const bool saved_first = potential::first_solve;
    const int saved_iterations = conducting_solve::iterations_in_last_solve;

    std::fill(electrodes::electrode_voltage, electrodes::electrode_voltage + 41, 0.0);
    for (int e = 1; e <= ELECTRODES; ++e) electrodes::electrode_voltage[e] = voltage[e];
    std::fill(phi, phi + NODE_COUNT, 0.0);
    for (int n = 0; n < NODE_COUNT; ++n) charge_source[n] = node_charge == nullptr ? 0.0 : node_charge[n] * INV_EPS0;
    potential::first_solve = true;  // no history: start from phi
    conducting_solve::solve_potential(tolerance);
    std::copy(phi, phi + NODE_COUNT, result);

    std::copy(saved_phi, saved_phi + NODE_COUNT, phi);
    std::copy(saved_phi_old, saved_phi_old + NODE_COUNT, phi_old);
    std::copy(saved_phi_save, saved_phi_save + NODE_COUNT, phi_save);
    std::copy(saved_source, saved_source + NODE_COUNT, charge_source);
    std::copy(saved_voltage, saved_voltage + 41, electrodes::electrode_voltage);
    potential::first_solve = saved_first;
    conducting_solve::iterations_in_last_solve = saved_iterations;
}

// Calls f(coupling, n, m) for every face between interior node n and its
// lower neighbour m along each axis, and for the plate faces (m the plate node).
template <class F>
void for_faces(F&& f) {
    for (int k = 2; k <= NZ - 1; ++k)
        for (int j = 2; j <= NY - 1; ++j)
            for (int i = 2; i <= NX - 1; ++i) {
                const potential::Couplings a = potential::node_couplings(i, j, k);
                const int n = node(i, j, k);
                f(a.xm, n, node(i - 1, j, k));
                f(a.ym, n, node(i, j - 1, k));
                f(a.zm, n, node(i, j, k - 1));
                if (i == NX - 1) f(a.xp, n, node(NX, j, k));
            }
}

}  // namespace

void compute() {
    for (int f = 0; f < ELECTRODES; ++f) {
        double voltage[ELECTRODES + 1] = {};
        voltage[f + 1] = 1.0;
        solve_aside(voltage, nullptr, UNIT_TOLERANCE, node_potential);
        for (int n = 0; n < NODE_COUNT; ++n) unit_potential[ELECTRODES * n + f] = node_potential[n];
        double charges[ELECTRODES];
        electrode_charges(node_potential, charges);
        for (int e = 0; e < ELECTRODES; ++e) capacitance[e][f] = charges[e];
    }
    done = true;
}

bool computed() { return done; }

void electrode_charges(const double* p, double charges[ELECTRODES]) {
    std::fill(charges, charges + ELECTRODES, 0.0);
    for (int k = 2; k <= NZ - 1; ++k)
        for (int j = 2; j <= NY - 1; ++j) {
            const int front = electrode_map[node(1, j, k)], rear = electrode_map[node(NX, j, k)];
            if (front >= 1 && front <= ELECTRODES)
                charges[front - 1] += EPS0 * potential::node_couplings(2, j, k).xm * (p[node(1, j, k)] - p[node(2, j, k)]);
            if (rear >= 1 && rear <= ELECTRODES)
                charges[rear - 1] +=
                    EPS0 * potential::node_couplings(NX - 1, j, k).xp * (p[node(NX, j, k)] - p[node(NX - 1, j, k)]);
        }
}

double field_energy(const double* p) {
    double sum = 0.0;  // V^2·cm
    for_faces([&](double coupling, int n, int m) {
        const double d = p[n] - p[m];
        sum += coupling * d * d;
    });
    return 0.5 * EPS0 * sum;
}

void solve_grounded(const double* node_charge, double* result) {
    const double voltage[ELECTRODES + 1] = {};
    solve_aside(voltage, node_charge, GROUNDED_TOLERANCE, result);
}

void reset() {
    done = false;
    std::fill(unit_potential, unit_potential + ELECTRODES * NODE_COUNT, 0.0);
    for (auto& row : capacitance) std::fill(row, row + ELECTRODES, 0.0);
}

}  // namespace electrode_response
