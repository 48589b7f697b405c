#include "mesh/electrode_response.hpp"

#include "mesh/cell_setup.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace mesh;
using electrode_response::capacitance;
using electrode_response::ELECTRODES;

namespace {

constexpr double EPS0 = 1.0 / INV_EPS0;  // F/cm

double psi(int e, int n) { return electrode_response::unit_potential[ELECTRODES * n + e]; }

}  // namespace

// The layered cell is a plane capacitor: a chain of face couplings from the
// front plate to the rear one, so C = eps0 / sum(1/coupling) per column, and
// the unit potential falls linearly within each layer.
TEST(ElectrodeResponse, LayeredCellIsASeriesCapacitor) {
    build_layered_cell();
    electrode_response::compute();
    double inverse = 0.5 / eps_face_x[node(2, 5, 5)] + 0.5 / eps_face_x[node(NX, 5, 5)];  // the plates' half spacings
    for (int i = 3; i <= NX - 1; ++i) inverse += 1.0 / eps_face_x[node(i, 5, 5)];
    const double columns = (NY - 2) * (NZ - 2);
    const double expected = columns * EPS0 / inverse;  // F
    EXPECT_NEAR(capacitance[0][0], expected, 1e-6 * expected);
    EXPECT_NEAR(capacitance[1][1], expected, 1e-6 * expected);
    EXPECT_NEAR(capacitance[0][1], -expected, 1e-6 * expected);
    EXPECT_NEAR(capacitance[1][0], -expected, 1e-6 * expected);
    EXPECT_EQ(capacitance[2][2], 0.0);  // no third electrode
    // S1 is the front plate: its unit potential falls from 1 at the front.
    EXPECT_GT(psi(0, node(10, 70, 6)), psi(0, node(30, 70, 6)));
    EXPECT_NEAR(psi(0, node(30, 70, 6)) + psi(1, node(30, 70, 6)), 1.0, 1e-7);
    // Energy of 1 V on the front plate: C/2.
    std::vector<double> unit(NODE_COUNT);
    for (int n = 0; n < NODE_COUNT; ++n) unit[n] = psi(0, n);
    EXPECT_NEAR(electrode_response::field_energy(unit.data()), 0.5 * expected, 1e-6 * expected);
}

// Built-in cell: the matrix is symmetric and its rows add up to 0 (all
// electrodes at 1 V leave no field); a charge q at a gas node induces
// -q·psi_e on electrode e (Green's reciprocity), which a sign or a swapped
// electrode breaks; and the run's own solver state is left as it was.
TEST(ElectrodeResponse, BuiltInCellCapacitanceReciprocityAndUntouchedSolverState) {
    build_builtin_cell();
    for (int n = 0; n < NODE_COUNT; ++n) {
        phi[n] = 0.001 * (n % 977);
        phi_old[n] = 0.002 * (n % 331);
        charge_source[n] = 1e-9 * (n % 17);
    }
    electrodes::electrode_voltage[1] = 180.0;
    const std::vector<double> phi_before(phi, phi + NODE_COUNT), old_before(phi_old, phi_old + NODE_COUNT),
        source_before(charge_source, charge_source + NODE_COUNT);
    const bool first_before = potential::first_solve;
    electrode_response::compute();
    EXPECT_TRUE(std::equal(phi_before.begin(), phi_before.end(), phi));
    EXPECT_TRUE(std::equal(old_before.begin(), old_before.end(), phi_old));
    EXPECT_TRUE(std::equal(source_before.begin(), source_before.end(), charge_source));
    EXPECT_EQ(potential::first_solve, first_before);
    EXPECT_EQ(electrodes::electrode_voltage[1], 180.0);

    for (int e = 0; e < ELECTRODES; ++e) {
        EXPECT_GT(capacitance[e][e], 0.0);
        double row = 0.0;
        for (int f = 0; f < ELECTRODES; ++f) {
            row += capacitance[e][f];
            EXPECT_NEAR(capacitance[e][f], capacitance[f][e], 1e-5 * capacitance[e][e]);
            if (f != e) {
                EXPECT_LT(capacitance[e][f], 0.0);
            }
        }
        EXPECT_NEAR(row, 0.0, 1e-5 * capacitance[e][e]);
    }
    // S1 lies under y nodes 19..62, S2 under 76..119: a charge over S1 couples
    // to S1 more than to S2.
    const int over_s1 = node(20, 40, 5), over_s2 = node(20, 97, 5);
    EXPECT_GT(psi(0, over_s1), psi(1, over_s1));
    EXPECT_GT(psi(1, over_s2), psi(0, over_s2));

    std::vector<double> charge(NODE_COUNT, 0.0), result(NODE_COUNT);
    const double q = 1e-13;  // C, hundreds of volts nearby: the solve's microvolts are small
    charge[over_s1] = q;
    electrode_response::solve_grounded(charge.data(), result.data());
    double induced[ELECTRODES];
    electrode_response::electrode_charges(result.data(), induced);
    for (int e = 0; e < ELECTRODES; ++e) EXPECT_NEAR(induced[e], -q * psi(e, over_s1), 1e-4 * q) << "electrode " << e + 1;
    // No flux leaves through the y and z sides, so the induced charges add up to -q.
    EXPECT_NEAR(induced[0] + induced[1] + induced[2], -q, 1e-4 * q);
    // The field energy of the grounded solve is q·phi/2 at the charge, as the
    // report takes it.
    EXPECT_NEAR(electrode_response::field_energy(result.data()), 0.5 * q * result[over_s1], 1e-4 * 0.5 * q * result[over_s1]);
}
