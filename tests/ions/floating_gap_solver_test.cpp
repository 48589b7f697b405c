#include "ions/floating_gap_solver.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/quiet_geometry.hpp"
#include "common/temp_folder.hpp"
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>
#include <vector>

using namespace mesh;

namespace {

// The built-in cell; its set-up needs an "input_file.txt" in the working
// folder and writes "control_file.txt" there.
void build_builtin_cell() {
    TempFolder folder;
    build_geometry_quietly();
}

// One-dimensional cell: the front (eps 11) and rear (eps 8) dielectrics of
// the built-in cell, 13 spacings each, gas between them and no rib; each
// plate is one electrode. The plate values are set as the boundary update
// sets them.
void build_plane_cell(double v_front, double v_rear) {
    for (int k = 0; k < PZ; ++k)
        for (int j = 0; j < PY; ++j)
            for (int i = 0; i < PX; ++i) {
                const bool outside = i <= 1 || i >= 67 || j <= 1 || j >= 137 || k <= 1 || k >= 13;
                material_map[padded(i, j, k)] = outside ? -1 : (i <= 14 || i >= 54) ? 1 : 0;
            }
    std::fill(phi, phi + NODE_COUNT, 0.0);
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const int n = node(i, j, k);
                eps_node[n] = i <= 14 ? 11.0 : i >= 54 ? 8.0 : 1.0;
                electrode_map[n] = i == 1 ? 1 : i == NX ? 3 : 0;
                if (i == 1) phi[n] = v_front;
                if (i == NX) phi[n] = v_rear;
            }
    electrodes::electrode_voltage[1] = v_front;
    electrodes::electrode_voltage[3] = v_rear;
}

bool is_gas(int i, int j, int k) { return material_map[padded(i, j, k)] == 0; }

// The floating-gap solve written out in its plain k, i, j order, summing as it
// goes: the reference for the reordered, threaded sweep. Returns the sweeps
// and counts the geometric-tail steps taken.
int plain_order_solve(int& tail_steps) {
    using floating_gap::OMEGA_SUSTAIN;
    auto at = [](int i, int j, int k) { return phi[node(i, j, k)]; };
    auto gas_flux = [&]() {
        double flux = 0.0;
        for (int k = 2; k <= 12; ++k)
            for (int i = 2; i <= 66; ++i)
                for (int j = 2; j <= 136; ++j)
                    if (is_gas(i, j, k)) {
                        const int n = node(i, j, k);
                        flux += sor_zp[n] * at(i, j, k + 1) + sor_zm[n] * at(i, j, k - 1) + sor_xp[n] * at(i + 1, j, k) +
                                sor_xm[n] * at(i - 1, j, k) + sor_yp[n] * at(i, j + 1, k) + sor_ym[n] * at(i, j - 1, k);
                    }
        return flux;
    };
    auto set_gas = [](double value) {
        for (int k = 2; k <= 12; ++k)
            for (int j = 2; j <= 136; ++j)
                for (int i = 2; i <= 66; ++i)
                    if (is_gas(i, j, k)) phi[node(i, j, k)] = value;
    };
    double coupling = 0.0;
    for (int k = 2; k <= 12; ++k)
        for (int i = 2; i <= 66; ++i)
            for (int j = 2; j <= 136; ++j)
                if (is_gas(i, j, k)) {
                    const int n = node(i, j, k);
                    coupling += sor_zp[n] + sor_zm[n] + sor_xp[n] + sor_xm[n] + sor_yp[n] + sor_ym[n];
                }
    double lambda_prev = 0.0, r_prev = 1.0, largest = 0.0;
    int sweeps = 0;
    tail_steps = 0;
    do {
        for (int n = 0; n < NODE_COUNT; ++n) phi_prev[n] = phi[n];
        double sum = 0.0;
        largest = 0.0;
        for (int k = 2; k <= 12; ++k)
            for (int i = 2; i <= 66; ++i)
                for (int j = 2; j <= 136; ++j) {
                    if (is_gas(i, j, k)) continue;
                    const int n = node(i, j, k);
                    const double r = OMEGA_SUSTAIN * (sor_zm[n] * at(i, j, k - 1) + sor_zp[n] * at(i, j, k + 1) +
                                                      sor_ym[n] * at(i, j - 1, k) + sor_yp[n] * at(i, j + 1, k) +
                                                      sor_xm[n] * at(i - 1, j, k) + sor_xp[n] * at(i + 1, j, k) - phi[n]);
                    phi[n] = phi[n] + r;
                    sum = sum + std::fabs(r);
                    largest = std::max(largest, std::fabs(r));
                }
        set_gas(gas_flux() / coupling);
        ++sweeps;
        const double R = sum * dx * dy * 0.2;
        const double lambda = R / r_prev;
        if (std::fabs(lambda_prev / lambda - 1.0) <= floating_gap::SUSTAIN_RATIO_TOLERANCE) {
            ++tail_steps;
            for (int k = 2; k <= 12; ++k)
                for (int j = 2; j <= 136; ++j)
                    for (int i = 2; i <= 66; ++i) {
                        const int n = node(i, j, k);
                        phi[n] = phi[n] + (phi[n] - phi_prev[n]) * lambda / (1.0 - lambda);
                    }
        }
        lambda_prev = lambda;
        r_prev = R;
    } while (largest > floating_gap::SUSTAIN_TOLERANCE);
    potential::apply_boundary_values();
    floating_gap::gap_potential = gas_flux() / coupling;
    set_gas(floating_gap::gap_potential);
    potential::apply_boundary_values();
    return sweeps;
}

// The built-in cell at sustain voltages of both signs on the three
// electrodes, its floating-gap coefficients set; returns the starting phi.
std::vector<double> builtin_cell_at_mixed_voltages() {
    build_builtin_cell();
    electrodes::electrode_voltage[1] = 180.0;
    electrodes::electrode_voltage[2] = -35.0;
    electrodes::electrode_voltage[3] = 70.0;
    potential::apply_boundary_values();
    floating_gap::setup_sustain_coefficients();
    return std::vector<double>(phi, phi + NODE_COUNT);
}

std::string solve_quietly() {
    testing::internal::CaptureStdout();
    floating_gap::solve_floating_gap();
    return testing::internal::GetCapturedStdout();
}

class FloatingGap : public ::testing::Test {
protected:
    void SetUp() override {
        mesh::reset();
        floating_gap::reset();
        electrodes::reset();
        FILE_MANAGER::reset();
    }
};

// The built-in cell at sustain voltages of both signs on the three
// electrodes: the threaded sweep of the solid nodes in blocks of rows, the
// sum of changes kept in the k, i, j order and the gas flux summed over the
// gas nodes next to a dielectric give the plain order's bits for every count.
TEST_F(FloatingGap, EveryThreadCountGivesThePlainOrderPotentialBitForBit) {
    const std::vector<double> start = builtin_cell_at_mixed_voltages();

    int tail_steps = 0;
    const int plain_sweeps = plain_order_solve(tail_steps);
    EXPECT_GT(tail_steps, 0) << "the geometric tail, which needs the ordered sum, was not exercised";
    const std::vector<double> plain(phi, phi + NODE_COUNT);
    const double plain_gap = floating_gap::gap_potential;

    for (int threads : {1, 2, 3, 8}) {
        std::copy(start.begin(), start.end(), phi);
        floating_gap::set_thread_count(threads);
        const std::string out = solve_quietly();
        EXPECT_EQ(floating_gap::sweeps_in_last_solve, plain_sweeps) << threads << " threads";
        EXPECT_EQ(std::memcmp(phi, plain.data(), sizeof(double) * NODE_COUNT), 0) << threads << " threads";
        EXPECT_EQ(out, " PH_M= " + fortran::free_real(plain_gap) + "\n") << threads << " threads";
    }
}

// The parallel mode's red-black sweep: other bits than the plain order, but
// the same for every thread count, and the same state to well within what
// the tolerance lets a solve leave undone.
TEST_F(FloatingGap, RedBlackSweepGivesOneResultForEveryThreadCountCloseToThePlainOrder) {
    const std::vector<double> start = builtin_cell_at_mixed_voltages();
    solve_quietly();
    const std::vector<double> plain(phi, phi + NODE_COUNT);
    const double plain_gap = floating_gap::gap_potential;
    const int plain_sweeps = floating_gap::sweeps_in_last_solve;

    floating_gap::set_red_black(true);
    std::vector<double> first;
    std::string first_out;
    for (int threads : {1, 2, 3, 8}) {
        std::copy(start.begin(), start.end(), phi);
        floating_gap::set_thread_count(threads);
        const std::string out = solve_quietly();
        if (first.empty()) {
            first.assign(phi, phi + NODE_COUNT);
            first_out = out;
            EXPECT_NEAR(floating_gap::gap_potential, plain_gap, 1e-6);
            double largest = 0.0;
            for (int n = 0; n < NODE_COUNT; ++n) largest = std::max(largest, std::fabs(phi[n] - plain[n]));
            EXPECT_LT(largest, 1e-5) << "V, largest difference from the plain order";
            EXPECT_LT(floating_gap::sweeps_in_last_solve, 1.2 * plain_sweeps) << "sweeps; the plain order takes " << plain_sweeps;
            continue;
        }
        EXPECT_EQ(std::memcmp(phi, first.data(), sizeof(double) * NODE_COUNT), 0) << threads << " threads";
        EXPECT_EQ(out, first_out) << threads << " threads";
    }
}

TEST_F(FloatingGap, SolidWeightsSumToOneAndGasFacesTakeTheFullPermittivity) {
    build_builtin_cell();
    floating_gap::setup_sustain_coefficients();
    int solid_nodes = 0;
    for (int k = 2; k <= 12; ++k)
        for (int j = 2; j <= 136; ++j)
            for (int i = 2; i <= 66; ++i) {
                if (material_map[padded(i, j, k)] == 0) continue;
                const int n = node(i, j, k);
                ASSERT_NEAR(sor_xm[n] + sor_xp[n] + sor_ym[n] + sor_yp[n] + sor_zm[n] + sor_zp[n], 1.0, 1e-14)
                    << i << ' ' << j << ' ' << k;
                ++solid_nodes;
            }
    EXPECT_EQ(solid_nodes, 65 * 135 * 11 - 39 * 135 * 8);
    // The gas face lies half a spacing from the node, the dielectric face a
    // whole one between two nodes: twice the coupling for the same eps.
    EXPECT_NEAR(sor_xp[node(14, 50, 5)] / sor_xm[node(14, 50, 5)], 2.0, 1e-14);
    // Rib (11) over phosphor (8): the series value 2·11·8/19 against 11.
    EXPECT_NEAR(sor_zm[node(30, 50, 11)] / sor_zp[node(30, 50, 11)], 16.0 / 19.0, 1e-14);
    // Under a sustain electrode the first node couples to it, under the gap not.
    EXPECT_GT(sor_xm[node(2, 30, 5)], 0.0);
    EXPECT_EQ(sor_xm[node(2, 70, 5)], 0.0);
    // Gas nodes couple only to dielectric neighbours, by eps/h^2.
    const int front = node(15, 50, 5), corner = node(53, 50, 9), low = node(30, 50, 2);
    EXPECT_EQ(sor_xm[front], 11.0 / (dx * dx));
    EXPECT_EQ(sor_xp[front] + sor_ym[front] + sor_yp[front] + sor_zm[front] + sor_zp[front], 0.0);
    EXPECT_EQ(sor_xp[corner], 8.0 / (dx * dx));
    EXPECT_EQ(sor_zp[corner], 8.0 / (dz * dz));
    EXPECT_EQ(sor_zm[low], 0.0);
}

// The uncharged floating gas is the middle plate of two capacitors in series:
// its potential is the divider (C_f·V_f + C_r·V_r)/(C_f + C_r), C = eps/d.
TEST_F(FloatingGap, GapPotentialIsTheCapacitiveDividerOfTheTwoStacks) {
    const double d = 13 * dx, c_front = 11.0 / d, c_rear = 8.0 / d;
    for (const auto& v : {std::pair{180.0, 0.0}, std::pair{-60.0, 150.0}}) {
        build_plane_cell(v.first, v.second);
        floating_gap::setup_sustain_coefficients();
        // The regular solver's centre weights and charge source play no part.
        std::fill(sor_center, sor_center + NODE_COUNT, 1e30);
        std::fill(charge_source, charge_source + NODE_COUNT, -7.0);
        const std::string out = solve_quietly();

        const double divider = (c_front * v.first + c_rear * v.second) / (c_front + c_rear);
        const double gap = floating_gap::gap_potential;
        EXPECT_NEAR(gap, divider, 1e-6);
        EXPECT_EQ(out, " PH_M= " + fortran::free_real(gap) + "\n");
        for (int k = 2; k <= 12; ++k)
            for (int j = 2; j <= 136; ++j)
                for (int i = 15; i <= 53; ++i) ASSERT_EQ(phi[node(i, j, k)], gap);
        // Linear in each stack, from the electrode plane to the gas surface.
        for (int i = 2; i <= 14; ++i) {
            const double front = v.first + (divider - v.first) * ((i + 0.5) * dx - 2 * dx) / d;
            const double rear = divider + (v.second - divider) * ((i + 52.5) * dx - 54 * dx) / d;
            EXPECT_NEAR(phi[node(i, 70, 6)], front, 1e-6) << i;
            EXPECT_NEAR(phi[node(i + 52, 70, 6)], rear, 1e-6) << i + 52;
        }
    }
}

// Smart Start voltages of 5e7 V: the rounding of phi alone exceeds the
// absolute tolerance, so the solve stops at its sweep limit with a message
// naming it, where it once never ended. 180 V converges far below the limit.
TEST_F(FloatingGap, ASolveThatCannotConvergeStopsAtTheSweepLimit) {
    build_plane_cell(180.0, 0.0);
    floating_gap::setup_sustain_coefficients();
    solve_quietly();
    EXPECT_LT(floating_gap::sweeps_in_last_solve, floating_gap::MAX_SUSTAIN_SWEEPS / 5);

    build_plane_cell(5e7, -5e7);
    floating_gap::setup_sustain_coefficients();
    testing::internal::CaptureStdout();
    EXPECT_THROW(floating_gap::solve_floating_gap(), pdp::FatalError);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(floating_gap::sweeps_in_last_solve, floating_gap::MAX_SUSTAIN_SWEEPS);
    EXPECT_EQ(out.rfind("ERROR: the floating-gap solve of the sustain state did not converge in 5000 sweeps:\n", 0), 0u)
        << out;
    EXPECT_NE(out.find("changed phi by up to "), std::string::npos) << out;
}

TEST_F(FloatingGap, AGasRegionWithoutDielectricNeighboursIsAFatalError) {
    build_plane_cell(100.0, 0.0);
    for (int k = 2; k <= 12; ++k)
        for (int j = 2; j <= 136; ++j)
            for (int i = 2; i <= 66; ++i) material_map[padded(i, j, k)] = 0;
    floating_gap::setup_sustain_coefficients();
    testing::internal::CaptureStdout();
    EXPECT_THROW(floating_gap::solve_floating_gap(), pdp::FatalError);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("touches no dielectric"), std::string::npos);
}

}  // namespace
