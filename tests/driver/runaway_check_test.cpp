// The runaway check on stores set by hand: each branch stops the run with its
// own diagnosis, and what a physical discharge does passes.
#include "driver/runaway_check.hpp"

#include "common/fatal_error.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_merging.hpp"
#include "particles/particle_storage.hpp"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

namespace {

using PARTICLE_STORAGE::ions;

struct RunawayCheck : testing::Test {
    // A gas box of 2 x 3 x 2 mesh cells, so that the whole-gas limit is 12
    // times the one-record limit; merging on, as the check needs.
    void SetUp() override {
        mesh::reset();
        PARTICLE_STORAGE::reset();
        particle_merging::reset();
        runaway_check::reset();
        mesh::xlow = 20 * mesh::dx, mesh::xhigh = 22 * mesh::dx;
        mesh::ylow = 10 * mesh::dy, mesh::yhigh = 13 * mesh::dy;
        mesh::zlow = 3 * mesh::dz, mesh::zhigh = 5 * mesh::dz;
        particle_merging::configure(1000, 1000, 1100, 550);
        runaway_check::start();
    }
    void TearDown() override {
        particle_merging::reset();
        PARTICLE_STORAGE::reset();
        mesh::reset();
    }
    // Real ions that one record may stand for.
    static double record_limit() { return runaway_check::DENSITY_LIMIT * mesh::dx * mesh::dy * mesh::dz; }
    // The ion store as `records` records of `real` ions each (others dead).
    static void set_ions(int records, double real) {
        while (ions.count < records)
            PARTICLE_STORAGE::add_particle(ions, 0.0, 0.0, mesh::xlow + 0.5 * mesh::dx, mesh::ylow + 0.5 * mesh::dy,
                                           mesh::zlow + 0.5 * mesh::dz, 0, 0, 0, 1);
        for (int slot = 1; slot <= ions.count; ++slot) ions.w[slot] = slot <= records ? real * mesh::ELECTRON_CHARGE : 0.0;
    }
    // Runs the check after steps 1, 2, ... with the given real ions in one
    // record; returns the step that stopped the run (0: none) and its message.
    static std::pair<int, std::string> steps(std::initializer_list<double> reals) {
        runaway_check::start();
        int step = 0;
        for (double real : reals) {
            set_ions(1, real);
            ++step;
            try {
                testing::internal::CaptureStdout();
                runaway_check::after_step(step, step * 1e-10);
                testing::internal::GetCapturedStdout();
            } catch (const pdp::FatalError& error) {
                testing::internal::GetCapturedStdout();
                return {step, error.what()};
            }
        }
        return {0, ""};
    }
};

}  // namespace

TEST_F(RunawayCheck, OneRecordAndTheWholeGasEachHaveTheirLimit) {
    const double limit = record_limit();
    EXPECT_EQ(steps({0.9 * limit}).first, 0);
    const auto [step, message] = steps({0.9 * limit, 1.1 * limit});
    EXPECT_EQ(step, 2);
    EXPECT_NE(message.find("one record stands for 1.1e+17 cm^-3 in its mesh cell"), std::string::npos) << message;

    // Twelve cells: eleven records just under the one-record limit pass,
    // thirteen stop the run over the whole gas.
    set_ions(11, 0.99 * limit);
    EXPECT_NO_THROW(runaway_check::after_step(1, 1e-10));
    set_ions(13, 0.99 * limit);
    try {
        testing::internal::CaptureStdout();
        runaway_check::after_step(2, 2e-10);
        testing::internal::GetCapturedStdout();
        ADD_FAILURE() << "thirteen records of 0.99 times the limit in twelve cells passed";
    } catch (const pdp::FatalError& error) {
        testing::internal::GetCapturedStdout();
        EXPECT_NE(std::string(error.what()).find("1.07e+17 cm^-3 over the whole gas"), std::string::npos) << error.what();
    }
}

// Growth is measured against the real number GROWTH_STEPS steps before, once
// there is one, and only above GROWTH_FLOOR.
TEST_F(RunawayCheck, GrowthOverFiveStepsAboveTheFloorStopsTheRun) {
    // 1e4 to 1.5e6 within five steps, through larger numbers between.
    const auto [step, message] = steps({1e4, 1e7, 1e7, 1e7, 1e7, 1.5e6});
    EXPECT_EQ(step, 6);
    EXPECT_NE(message.find("the real particles grew from 1e+04 to 1.5e+06 within 5 steps"), std::string::npos)
        << message;
    // Ninety-fold within five steps, and 200-fold within six.
    EXPECT_EQ(steps({1e4, 2.2e4, 2.2e4, 2.2e4, 2.2e4, 2.2e4, 2e6}).first, 0);
    // Growth from nothing: a run's first steps, and a climb below the floor.
    EXPECT_EQ(steps({5e6, 5e6}).first, 0);
    EXPECT_EQ(steps({1e2, 1e2, 1e2, 1e2, 1e2, 9e5}).first, 0);
    // Later steps go on comparing with five steps before.
    EXPECT_EQ(steps({2e4, 2e4, 2e4, 2e4, 2e4, 1e6, 1e6, 1e6, 1e6, 1e6, 1.5e8}).first, 11);
}
