#include "ions/floating_gap_solver.hpp"

#include "common/fatal_error.hpp"
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>

using namespace mesh;
namespace fs = std::filesystem;

namespace {

int material(int i, int j, int k) { return material_map[padded(i, j, k)]; }

// The built-in cell, built in a scratch folder (the set-up needs an
// "input_file.txt" and writes "control_file.txt").
void build_builtin_cell() {
    const fs::path home = fs::current_path();
    const fs::path scratch = fs::temp_directory_path() / "pdpcell_floating_gap_test";
    fs::create_directories(scratch);
    std::FILE* f = std::fopen((scratch / "input_file.txt").c_str(), "w");
    ASSERT_NE(f, nullptr);
    std::fclose(f);
    fs::current_path(scratch);
    testing::internal::CaptureStdout();
    geometry::build_geometry();
    testing::internal::GetCapturedStdout();
    fs::current_path(home);
    fs::remove_all(scratch);
}

// Uniform plates over a one-dimensional stack: the front and rear
// dielectrics of the built-in cell (13 spacings of eps 11 and of eps 8) with
// gas between them, no rib, every plate node an electrode.
void build_plane_cell(double v_front, double v_rear) {
    for (int k = 0; k < PZ; ++k)
        for (int j = 0; j < PY; ++j)
            for (int i = 0; i < PX; ++i) {
                int m = 0;
                if (i <= 1 || i >= 67 || j <= 1 || j >= 137 || k <= 1 || k >= 13) m = -1;
                else if (i <= 14 || i >= 54) m = 1;
                material_map[padded(i, j, k)] = m;
            }
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                eps_node[node(i, j, k)] = i <= 14 ? 11.0 : i >= 54 ? 8.0 : 1.0;
                electrode_map[node(i, j, k)] = i == 1 ? 1 : i == NX ? 3 : 0;
            }
    electrodes::electrode_voltage[1] = v_front;
    electrodes::electrode_voltage[3] = v_rear;
    // The plate values, as the boundary update sets them from the electrodes.
    std::fill(phi, phi + NODE_COUNT, 0.0);
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j) {
            phi[node(1, j, k)] = v_front;
            phi[node(NX, j, k)] = v_rear;
        }
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
        electrodes::reset();
        FILE_MANAGER::reset();
    }
};

TEST_F(FloatingGap, SolidWeightsSumToOneAndGasFacesTakeTheFullPermittivity) {
    build_builtin_cell();
    floating_gap::setup_sustain_coefficients();
    int solid_nodes = 0;
    for (int k = 2; k <= 12; ++k)
        for (int j = 2; j <= 136; ++j)
            for (int i = 2; i <= 66; ++i) {
                if (material(i, j, k) == 0) continue;
                const int n = node(i, j, k);
                const double sum = sor_xm[n] + sor_xp[n] + sor_ym[n] + sor_yp[n] + sor_zm[n] + sor_zp[n];
                ASSERT_NEAR(sum, 1.0, 1e-14) << i << ' ' << j << ' ' << k;
                ++solid_nodes;
            }
    EXPECT_EQ(solid_nodes, 65 * 135 * 11 - 39 * 135 * 8);

    // Front dielectric node under the gas: the gas face is half a spacing
    // away, so it couples twice as strongly as the dielectric face below.
    const int front = node(14, 50, 5);
    EXPECT_NEAR(sor_xp[front] / sor_xm[front], 2.0, 1e-14);
    // Across eps 11 | eps 8 (rib over phosphor) the series value 2·11·8/19.
    const int rib = node(30, 50, 11);
    EXPECT_NEAR(sor_zm[rib] / sor_zp[rib], (2.0 * 8.0 / 19.0) / 1.0, 1e-14);
    // The first node under a sustain electrode couples to it; under the
    // electrode gap it does not.
    EXPECT_GT(sor_xm[node(2, 30, 5)], 0.0);
    EXPECT_EQ(sor_xm[node(2, 70, 5)], 0.0);

    // Gas nodes couple only to dielectric neighbours, by eps/h^2.
    const int next_to_front = node(15, 50, 5);
    EXPECT_EQ(sor_xm[next_to_front], 11.0 / (dx * dx));
    EXPECT_EQ(sor_xp[next_to_front], 0.0);
    EXPECT_EQ(sor_ym[next_to_front] + sor_yp[next_to_front] + sor_zm[next_to_front] + sor_zp[next_to_front], 0.0);
    const int rear_corner = node(53, 50, 9);
    EXPECT_EQ(sor_xp[rear_corner], 8.0 / (dx * dx));
    EXPECT_EQ(sor_zp[rear_corner], 8.0 / (dz * dz));
    EXPECT_EQ(sor_zm[node(30, 50, 2)], 0.0);  // the z boundary layer is no dielectric
}

TEST_F(FloatingGap, ZeroVoltagesGiveZeroEverywhere) {
    build_builtin_cell();
    floating_gap::setup_sustain_coefficients();
    EXPECT_EQ(solve_quietly(), " PH_M= 0.0000000000000000E+00\n");
    EXPECT_EQ(floating_gap::gap_potential, 0.0);
    EXPECT_TRUE(std::all_of(phi, phi + NODE_COUNT, [](double v) { return v == 0.0; }));
}

// A one-dimensional cell: the floating gas is the middle plate of two
// capacitors in series, so its potential is the capacitive divider
// (C_f·V_f + C_r·V_r)/(C_f + C_r) with C = eps/thickness per unit area.
TEST_F(FloatingGap, GapPotentialIsTheCapacitiveDividerOfTheTwoStacks) {
    const double thickness = 13 * dx;  // both stacks
    const double c_front = 11.0 / thickness, c_rear = 8.0 / thickness;
    const double cases[][2] = {{180.0, 0.0}, {-60.0, 150.0}};  // V front, V rear
    for (const auto& v : cases) {
        build_plane_cell(v[0], v[1]);
        floating_gap::setup_sustain_coefficients();
        // Neither the regular solver's centre weights nor a charge source
        // belong to this problem.
        std::fill(sor_center, sor_center + NODE_COUNT, 1e30);
        std::fill(charge_source, charge_source + NODE_COUNT, -7.0);
        const std::string out = solve_quietly();

        const double divider = (c_front * v[0] + c_rear * v[1]) / (c_front + c_rear);
        EXPECT_NEAR(floating_gap::gap_potential, divider, 1e-6) << v[0] << ' ' << v[1];
        EXPECT_EQ(out.rfind(" PH_M= ", 0), 0u);
        EXPECT_NEAR(std::stod(out.substr(7)), floating_gap::gap_potential, 1e-12 * std::fabs(divider));

        for (int k = 2; k <= 12; ++k)
            for (int j = 2; j <= 136; ++j)
                for (int i = 15; i <= 53; ++i) ASSERT_EQ(phi[node(i, j, k)], floating_gap::gap_potential);
        // Inside each stack the potential falls linearly from the electrode
        // plane to the gas surface.
        for (int i = 2; i <= 14; ++i) {
            const double x = (i + 0.5) * dx;
            const double expected = v[0] + (divider - v[0]) * (x - 2 * dx) / thickness;
            EXPECT_NEAR(phi[node(i, 70, 6)], expected, 1e-6) << i;
        }
        for (int i = 54; i <= 66; ++i) {
            const double x = (i + 0.5) * dx;
            const double expected = divider + (v[1] - divider) * (x - 54 * dx) / thickness;
            EXPECT_NEAR(phi[node(i, 70, 6)], expected, 1e-6) << i;
        }
        EXPECT_EQ(sor_center[node(30, 70, 6)], 1e30);
        EXPECT_EQ(charge_source[node(30, 70, 6)], -7.0);
    }
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
