#include "electrons/drift_diffusion.hpp"

#include "electron_test_support.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/pass_output.hpp"

#include <gtest/gtest.h>

#include <vector>

using namespace electron_test;
using PARTICLE_STORAGE::electrons;

namespace {

class DriftDiffusion : public testing::Test {
protected:
    void SetUp() override {
        reset_world();
        drift_diffusion::reset();
        pass_output::reset();
    }
    void TearDown() override { drift_diffusion::reset(); }

    // n electrons of 3 eV at (x, y, z), in directions that cover the sphere.
    static void add_thermal(int n, double x, double y, double z) {
        const double v = speed_of(3);
        for (int k = 0; k < n; ++k) {
            const double c = 2.0 * (k + 0.5) / n - 1.0, s = std::sqrt(1 - c * c), phi = 2.39996 * k;
            PARTICLE_STORAGE::add_record(
                electrons, {-mesh::ELECTRON_CHARGE, 0.0, x, y, z, v * s * std::cos(phi), v * s * std::sin(phi), v * c, 0},
                0, 0);
        }
    }

    // In the well of a uniform ion excess along y (axis 1) or z (axis 2),
    // E = g·(c - bottom), 2000 electrons start at c = start; over one step
    // the field's work is their charge times the fall of the potential
    // -g·(c - bottom)^2/2, within 1 %.
    static void expect_work_in_well(int axis, double bottom, double start) {
        using namespace mesh;
        const double g = 2e5;  // V/cm^2
        double* field = axis == 1 ? ey : ez;
        for (int k = 1; k <= NZ; ++k)
            for (int j = 1; j <= NY; ++j)
                for (int i = 1; i <= NX; ++i) field[node(i, j, k)] = g * (axis == 1 ? j * dy - bottom : k * dz - bottom);
        pass_first_call();
        drift_diffusion::set_up(drift_diffusion::STANDARD_LIMITS);
        add_thermal(2000, 0.007, axis == 1 ? start : 0.03, axis == 1 ? 0.005 : start);
        pass_output::take_tally();
        electron_mover::advance_electrons(1e-10);
        const pass_output::Tally tally = pass_output::take_tally();

        double work = 0;  // J
        for (int n = 1; n <= electrons.count; ++n) {
            const double c = axis == 1 ? electrons.y[n] : electrons.z[n];
            work += electrons.w[n] * g / 2 * ((c - bottom) * (c - bottom) - (start - bottom) * (start - bottom));
        }
        EXPECT_LT(work, 0.0);
        EXPECT_NEAR(tally.electron_work, work, -0.01 * work);
    }
};

// In a uniform field of 8 Td every joule the field gives the electrons,
// through drift-diffusion steps and the flights after them alike, is the
// force times their displacement; the steps replace almost every flight, the
// swarm drifts along the force and the atoms take recoil energy.
TEST_F(DriftDiffusion, TheFieldsWorkIsTheForceTimesTheDisplacement) {
    remove_walls();
    const double E[3] = {900.0, -300.0, 150.0};  // V/cm
    fill_uniform_field(E[0], E[1], E[2]);
    pass_first_call();
    drift_diffusion::set_up(drift_diffusion::STANDARD_LIMITS);
    add_thermal(1000, 0.007, 0.03, 0.005);
    pass_output::take_tally();
    electron_mover::flight_count = 0;
    electron_mover::advance_electrons(1e-10);
    const pass_output::Tally tally = pass_output::take_tally();

    ASSERT_EQ(electrons.count, 1000);  // no ionization: the slots still hold the electrons
    double work = 0;  // J, q E·dx with q = w
    for (int n = 1; n <= electrons.count; ++n)
        work += electrons.w[n] * (E[0] * (electrons.x[n] - 0.007) + E[1] * (electrons.y[n] - 0.03) +
                                  E[2] * (electrons.z[n] - 0.005));
    EXPECT_GT(work, 0.0);
    EXPECT_NEAR(tally.electron_work, work, 1e-6 * std::fabs(work));
    EXPECT_GT(tally.recoil_energy, 0.0);
    EXPECT_LT(electron_mover::flight_count, 10 * 1000);  // flights alone take some 40 an electron
}

// Across a space charge the field's work is the potential difference: in
// Ey = g·(y - y0), the field of a uniform ion excess, electrons that start at
// the bottom of its well, y0, lose g·D·t eV on average as they diffuse out
// of it, which the field at each sub-step's start alone would miss.
TEST_F(DriftDiffusion, AcrossASpaceChargeTheWorkIsThePotentialDifference) {
    remove_walls();
    expect_work_in_well(1, 68 * mesh::dy, 68 * mesh::dy);
}

// The same well centred on the mirror plane z = zlow: electrons that start
// 1 um above it cross it in their first sub-steps, and a crossing step's work
// is still the potential difference (with the field at the start there it
// came out a fifth short).
TEST_F(DriftDiffusion, AcrossTheMirrorPlaneTheWorkIsThePotentialDifference) {
    expect_work_in_well(2, mesh::zlow, mesh::zlow + 1e-4);
}

// With the wall limit all but lifted, steps run into the front and rib walls:
// the walls keep the charge of every electron that left, and no electron is
// left beyond them.
TEST_F(DriftDiffusion, AStepAcrossAWallLeavesTheChargeOnIt) {
    using namespace mesh;
    pass_first_call();
    drift_diffusion::Limits limits = drift_diffusion::STANDARD_LIMITS;
    limits.wall_distance = 0.1e-4;
    drift_diffusion::set_up(limits);
    add_thermal(500, xlow + 3e-4, 0.03, 0.005);
    add_thermal(500, 0.007, 0.031, zhigh - 3e-4);
    electron_mover::advance_electrons(1e-10);

    double in_electrons = 0, front = 0, rib = 0;
    for (int n = 1; n <= electrons.count; ++n) {
        if (!electrons.alive[n]) continue;
        in_electrons += electrons.w[n];
        EXPECT_TRUE(electrons.x[n] > xlow && electrons.x[n] < xhigh && electrons.z[n] < zhigh) << n;
    }
    for (int k = 0; k < PZ; ++k)
        for (int j = 0; j < PY; ++j) front += wall_charge_x[padded(ilo, j, k)];
    for (int n = 0; n < PADDED_COUNT; ++n) rib += wall_charge_z[n];
    const double volume = dx * dy * dz;
    EXPECT_LT(front * volume, -50 * ELECTRON_CHARGE);
    EXPECT_LT(rib * volume, -50 * ELECTRON_CHARGE);
    EXPECT_NEAR(in_electrons + (front + rib) * volume, -1000 * ELECTRON_CHARGE, 1e-9 * 1000 * ELECTRON_CHARGE);
}

}  // namespace
