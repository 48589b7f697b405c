#include "mesh/charge_and_field.hpp"

#include "mesh/cell_setup.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace mesh;

namespace {

constexpr double C_NODE = dx * dy * dz * INV_EPS0;  // C/cm^3 -> V·cm of one node

struct ChargeAndField : ::testing::Test {
    void SetUp() override { build_builtin_cell(); }
};

}  // namespace

TEST_F(ChargeAndField, IonChargeEntersOnGasNodesOnly) {
    std::fill(charge_source, charge_source + NODE_COUNT, 7.0);  // a stale source is cleared
    ion_density[ion_slot(1, 30, 50, 5)] = 3e-6;
    ion_density[ion_slot(2, 30, 50, 5)] = 1e-6;
    ion_density[ion_slot(1, 10, 50, 5)] = 5e-6;  // in the front dielectric
    electron_density[node(31, 50, 5)] = -9e-6;   // electrons do not enter the solve
    field::build_charge_source();
    EXPECT_NEAR(charge_source[node(30, 50, 5)], C_NODE * 4e-6, 1e-15 * C_NODE);
    EXPECT_EQ(charge_source[node(10, 50, 5)], 0.0);
    EXPECT_EQ(charge_source[node(31, 50, 5)], 0.0);
    EXPECT_EQ(charge_source[node(1, 1, 1)], 0.0);
}

TEST_F(ChargeAndField, WallChargeSplitsOneToEpsBetweenGasAndDielectric) {
    const double w = 2e-5;  // C/cm^3
    wall_charge_x[padded(15, 50, 5)] = w;       // front: first gas node, eps 11 below
    wall_charge_x[padded(54, 60, 4)] = w;       // rear: first dielectric node, eps 8
    wall_charge_z[padded(30, 70, 10)] = w;      // rib: phosphor node, eps 8
    wall_charge_x[padded(15, 90, 9)] = w;       // a corner gas node gets front and rib shares
    wall_charge_z[padded(15, 90, 10)] = w;
    wall_charge_y[padded(30, 2, 5)] = w;        // no y surfaces: never read
    field::build_charge_source();

    const double tol = 1e-15 * C_NODE * w;
    EXPECT_NEAR(charge_source[node(15, 50, 5)], C_NODE * w / 12, tol);
    EXPECT_NEAR(charge_source[node(14, 50, 5)], C_NODE * w * 11 / 12, tol);
    EXPECT_NEAR(charge_source[node(53, 60, 4)], C_NODE * w / 9, tol);
    EXPECT_NEAR(charge_source[node(54, 60, 4)], C_NODE * w * 8 / 9, tol);
    EXPECT_NEAR(charge_source[node(30, 70, 9)], C_NODE * w / 9, tol);
    EXPECT_NEAR(charge_source[node(30, 70, 10)], C_NODE * w * 8 / 9, tol);
    EXPECT_NEAR(charge_source[node(15, 90, 9)], C_NODE * w * (1.0 / 12 + 1.0 / 9), tol);
    EXPECT_EQ(charge_source[node(30, 2, 5)], 0.0);

    // Each wall charge is carried whole: the source adds up to the five deposits.
    double total = 0.0;
    for (int n = 0; n < NODE_COUNT; ++n) total += charge_source[n];
    EXPECT_NEAR(total, 5 * C_NODE * w, 10 * tol);
}

TEST_F(ChargeAndField, FieldDifferencesAndSurfaceCorrections) {
    // phi = a·i + b·j + c·k: a uniform field, except where the rules say otherwise.
    const double a = -0.5, b = 0.25, c = 2.0;  // V per node
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) phi[node(i, j, k)] = a * i + b * j + c * k;
    const double ex0 = -a * inv_dx, ey0 = -b * inv_dy, ez0 = -c * inv_dz;
    auto near = [](double expected) { return std::fabs(expected) * 1e-12; };

    field::compute_field();
    EXPECT_NEAR(ex[node(30, 50, 5)], ex0, near(ex0));
    EXPECT_NEAR(ex[node(2, 50, 5)], 2 * ex0, near(ex0));   // plate nodes stand half a spacing off
    EXPECT_NEAR(ex[node(67, 50, 5)], 2 * ex0, near(ex0));
    EXPECT_NEAR(ey[node(30, 137, 1)], ey0, near(ey0));
    EXPECT_NEAR(ez[node(30, 50, 13)], ez0, near(ez0));
    EXPECT_NEAR(ez[node(30, 50, 9)], ez0, near(ez0));
    // Uncharged surfaces: the gas-side field is 2·eps/(eps+1) of the plain difference.
    EXPECT_NEAR(ex[node(15, 50, 5)], 22.0 / 12.0 * ex0, near(ex0));  // front, eps 11
    EXPECT_NEAR(ex[node(54, 50, 5)], 16.0 / 9.0 * ex0, near(ex0));   // rear, eps 8
    EXPECT_NEAR(ez[node(30, 50, 10)], 16.0 / 9.0 * ez0, near(ez0));  // rib (phosphor), eps 8
    EXPECT_NEAR(ex[node(15, 50, 11)], ex0, near(ex0));  // in the rib no gas meets the front dielectric

    // A positive charge on the front wall pushes the gas-side field away from
    // the wall (+x); on the rear wall and the rib it pushes towards the gas (-x, -z).
    const double w = 3e-6;
    wall_charge_x[padded(15, 50, 5)] = w;
    wall_charge_x[padded(54, 50, 5)] = w;
    wall_charge_z[padded(30, 50, 10)] = w;
    field::compute_field();
    EXPECT_NEAR(ex[node(15, 50, 5)], 22.0 / 12.0 * ex0 + dx * INV_EPS0 * w / 12, near(ex0));
    EXPECT_NEAR(ex[node(54, 50, 5)], 16.0 / 9.0 * ex0 - dx * INV_EPS0 * w / 9, near(ex0));
    EXPECT_NEAR(ez[node(30, 50, 10)], 16.0 / 9.0 * ez0 - dz * INV_EPS0 * w / 9, near(ez0));
}

TEST_F(ChargeAndField, MirroredSidesCarryNoFieldAfterASolve) {
    electrodes::electrode_voltage[1] = 180.0;
    ion_density[ion_slot(1, 30, 2, 2)] = 1e-5;  // charge right at the mirror planes
    field::build_charge_source();
    potential::solve_potential();
    field::compute_field();
    for (int i = 1; i <= NX; ++i)
        for (int k = 1; k <= NZ; ++k) {
            EXPECT_EQ(ey[node(i, 2, k)], 0.0);
            EXPECT_EQ(ey[node(i, 137, k)], 0.0);
        }
    for (int i = 1; i <= NX; ++i)
        for (int j = 2; j <= NY; ++j) {
            EXPECT_EQ(ez[node(i, j, 2)], 0.0);
            EXPECT_EQ(ez[node(i, j, 13)], 0.0);
        }
}

// Potential error left by the solver's stopping rule (see the series-capacitor
// test): about ten tolerances; a field from two such values over one spacing.
constexpr double FIELD_ERROR = 2 * 10 * potential::SOR_TOLERANCE / dx;  // V/cm

TEST(LayeredCellField, GaussLawAtAChargedFrontWall) {
    // A uniform sheet sigma on the front surface (x = 15·dx) of the layered
    // cell. By superposition its own field adds to that of the electrodes:
    // the sheet sits at V_s between two grounded series paths, the front
    // dielectric (13·dx/11) and gas plus rear dielectric (39·dx + 13·dx/8),
    // and sigma/eps0 = V_s/S_front + V_s/S_rear.
    build_layered_cell();
    electrodes::electrode_voltage[1] = 180.0;
    electrodes::electrode_voltage[2] = 0.0;
    field::build_charge_source();
    potential::solve_potential();
    field::compute_field();
    const std::vector<double> ex_plain(ex, ex + NODE_COUNT);

    const double sigma_over_eps0 = 1e5;           // V/cm
    const double w = sigma_over_eps0 / (dx * INV_EPS0);  // C/cm^3 in the wall cell
    for (int k = 2; k <= 12; ++k)
        for (int j = 2; j <= 136; ++j) wall_charge_x[padded(15, j, k)] = w;
    potential::reset();  // solve from scratch, not from the extrapolation
    field::build_charge_source();
    potential::solve_potential();
    field::compute_field();

    const double s_front = 13 * dx / EPS_FRONT, s_rear = 39 * dx / EPS_GAS + 13 * dx / EPS_REAR;
    const double v_sheet = sigma_over_eps0 / (1 / s_front + 1 / s_rear);  // 23.0 V
    const double e_gas = v_sheet / s_rear;                                // 2827 V/cm
    const double e_front = -v_sheet / (13 * dx);                          // towards the front electrode
    for (int k : {2, 6, 12})
        for (int j : {2, 40, 70, 136}) {
            auto change = [&](int i) { return ex[node(i, j, k)] - ex_plain[node(i, j, k)]; };
            EXPECT_NEAR(change(15), e_gas, FIELD_ERROR);  // gas side of the charged surface
            EXPECT_NEAR(change(30), e_gas, FIELD_ERROR);
            EXPECT_NEAR(change(8), e_front, FIELD_ERROR);
            // Gauss's law across the surface: eps_gas·E_gas - eps_front·E_front = sigma/eps0.
            EXPECT_NEAR(EPS_GAS * ex[node(15, j, k)] - EPS_FRONT * ex[node(14, j, k)], sigma_over_eps0,
                        EPS_FRONT * FIELD_ERROR);
        }
}
