// The hand-over between records and fluid, both ways, with its hysteresis,
// and the hybrid's state through a checkpoint.
#include "electrons/hybrid_electrons.hpp"
#include "electrons/electron_fluid.hpp"
#include "electrons/fluid_coupling.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_merging.hpp"
#include "particles/particle_storage.hpp"
#include "particles/pass_output.hpp"
#include "particles/random_numbers.hpp"
#include "particles/species.hpp"

#include <gtest/gtest.h>

#include <vector>

namespace {

constexpr double E = mesh::ELECTRON_CHARGE;

class HybridElectrons : public ::testing::Test {
protected:
    void SetUp() override {
        species::reset();
        mesh::reset();
        PARTICLE_STORAGE::reset();
        pass_output::reset();
        mesh::ilo = 1, mesh::ihi = 30, mesh::jlo = 1, mesh::jhi = 20, mesh::klo = 1, mesh::khi = 10;
        mesh::xlow = mesh::ilo * mesh::dx, mesh::xhigh = (mesh::ihi + 1) * mesh::dx;
        mesh::ylow = mesh::jlo * mesh::dy, mesh::yhigh = (mesh::jhi + 1) * mesh::dy;
        mesh::zlow = mesh::klo * mesh::dz, mesh::zhigh = (mesh::khi + 1) * mesh::dz;
        random_numbers::set_seed(1100, 550);
    }
    void TearDown() override {
        hybrid_electrons::reset();
        electron_fluid::reset();
        PARTICLE_STORAGE::reset();
        pass_output::reset();
        mesh::reset();
    }
    // Records of `weight` real electrons at 3 eV in the middle of the box.
    static void add_records(int count, double weight) {
        for (int r = 0; r < count; ++r)
            PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::electrons, -E * weight, 0.0, (15.2 + 0.1 * r) * mesh::dx,
                                           10.7 * mesh::dy, 5.6 * mesh::dz, 1.0e8, 0.0, 0.0, 0);
    }
};

TEST_F(HybridElectrons, RecordsBecomeFluidAboveTheThresholdAndComeBackBelowTheOther) {
    hybrid_electrons::Settings settings;
    settings.fluid_from = 1000;
    settings.records_below = 100;
    settings.records_back = 50;
    hybrid_electrons::start(settings);

    // 999 real electrons: still records.
    add_records(9, 111.0);
    hybrid_electrons::after_electron_pass(0.0, 1e-10, 1);
    EXPECT_FALSE(hybrid_electrons::fluid_active());
    EXPECT_EQ(PARTICLE_STORAGE::live_count(PARTICLE_STORAGE::electrons), 9);
    EXPECT_NEAR(hybrid_electrons::electron_charge_carried(), 999 * E, 1e-9 * E);

    // One more record: 1110, the fluid takes them all and moves them a step
    // (no field: they spread, lose energy and some reach the walls).
    add_records(1, 111.0);
    hybrid_electrons::after_electron_pass(1e-10, 1e-10, 2);
    EXPECT_TRUE(hybrid_electrons::fluid_active());
    EXPECT_EQ(PARTICLE_STORAGE::live_count(PARTICLE_STORAGE::electrons), 0);
    const double in_fluid = hybrid_electrons::fluid_electrons();
    EXPECT_GT(in_fluid, 100.0);
    EXPECT_LE(in_fluid, 1110.0 * 1.001);  // births at 3 eV are few
    EXPECT_NEAR(hybrid_electrons::electron_charge_carried(), in_fluid * E, 1e-9 * E);
    const pass_output::Tally tally = pass_output::take_tally();
    EXPECT_GT(tally.collided[0], 0.0);  // elastic collisions on Xe, counted from the rates

    // A new record (a secondary electron) joins the fluid in its step, even
    // though the records alone are far below the threshold.
    add_records(1, 1.0);
    hybrid_electrons::after_electron_pass(2e-10, 1e-10, 3);
    EXPECT_TRUE(hybrid_electrons::fluid_active());
    EXPECT_EQ(PARTICLE_STORAGE::live_count(PARTICLE_STORAGE::electrons), 0);

    // Fewer than records_below: back to at most records_back records of one
    // weight, the fluid empty, every pending ion a record.
    for (int n = 0; n < mesh::NODE_COUNT; ++n) {
        electron_fluid::density[n] *= 0.05;
        electron_fluid::energy_density[n] *= 0.05;
    }
    hybrid_electrons::after_electron_pass(3e-10, 1e-10, 4);
    EXPECT_FALSE(hybrid_electrons::fluid_active());
    EXPECT_EQ(electron_fluid::total_electrons(), 0.0);
    EXPECT_EQ(fluid_coupling::pending_ions(), 0.0);
    const int records = PARTICLE_STORAGE::live_count(PARTICLE_STORAGE::electrons);
    EXPECT_GE(records, 1);
    EXPECT_LE(records, 50);
    EXPECT_LT(particle_merging::real_count(PARTICLE_STORAGE::electrons), 100.0);
}

TEST_F(HybridElectrons, ItsStateComesBackFromACheckpointExactly) {
    hybrid_electrons::Settings settings;
    settings.fluid_from = 10;
    settings.records_below = 1;
    hybrid_electrons::start(settings);
    add_records(4, 1e3);
    hybrid_electrons::after_electron_pass(0.0, 1e-10, 1);
    ASSERT_TRUE(hybrid_electrons::fluid_active());
    electron_fluid::wall_electrons[mesh::node(mesh::ilo, 2, 2)] = 3.5;
    std::vector<double> saved(static_cast<std::size_t>(hybrid_electrons::saved_count()));
    hybrid_electrons::save(saved.data());
    const std::vector<double> density(electron_fluid::density, electron_fluid::density + mesh::NODE_COUNT);

    hybrid_electrons::start(settings);  // empties everything
    EXPECT_FALSE(hybrid_electrons::fluid_active());
    EXPECT_EQ(electron_fluid::total_electrons(), 0.0);
    hybrid_electrons::load(saved.data());
    EXPECT_TRUE(hybrid_electrons::fluid_active());
    for (int n = 0; n < mesh::NODE_COUNT; ++n) ASSERT_EQ(electron_fluid::density[n], density[n]) << n;
    EXPECT_EQ(electron_fluid::wall_electrons[mesh::node(mesh::ilo, 2, 2)], 3.5);
    std::vector<double> again(saved.size());
    hybrid_electrons::save(again.data());
    EXPECT_EQ(again, saved);
}

}  // namespace
