#include "driver/particle_seeding.hpp"

#include "common/quiet_geometry.hpp"
#include "common/temp_folder.hpp"
#include "input/cell_geometry.hpp"
#include "input/electrode_voltages.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/particle_storage.hpp"
#include "particles/particle_streams.hpp"
#include "particles/random_numbers.hpp"

#include <gtest/gtest.h>

using namespace PARTICLE_STORAGE;

namespace {

struct Seeding : ::testing::Test {
    TempFolder folder;
    void SetUp() override {
        FILE_MANAGER::reset();
        mesh::reset();
        PARTICLE_STORAGE::reset();
        build_geometry_quietly();
        random_numbers::set_seed(1100, 550);
    }
    void TearDown() override {
        FILE_MANAGER::reset();
        PARTICLE_STORAGE::reset();
    }
};

// Number of draws between two generator states, by stepping a copy.
int draws_between(std::int32_t a1, std::int32_t a2, std::int32_t b1, std::int32_t b2) {
    random_numbers::set_seed(a1, a2);
    for (int n = 0; n <= 1000; ++n) {
        std::int32_t s1, s2;
        random_numbers::get_seed(s1, s2);
        if (s1 == b1 && s2 == b2) return n;
        random_numbers::draw_uniform();
    }
    return -1;
}

}  // namespace

TEST_F(Seeding, InitialPairsSitOverTheSecondSustainElectrodeAtRest) {
    mesh::wall_charge_x[mesh::padded(15, 80, 3)] = 1.0;
    seeding::seed_initial_particles();
    EXPECT_EQ(seeding::first_seed_row(), 76);
    ASSERT_EQ(ions.count, 45);
    ASSERT_EQ(electrons.count, 45);
    for (int n = 1; n <= 45; ++n) {
        const int j = 75 + n;
        EXPECT_DOUBLE_EQ(ions.x[n], 0.0031);
        EXPECT_DOUBLE_EQ(ions.y[n], (j + 0.5) * mesh::dy);
        EXPECT_DOUBLE_EQ(ions.z[n], 0.0025);
        EXPECT_EQ(ions.w[n], mesh::ELECTRON_CHARGE);
        EXPECT_EQ(ions.species[n], 2);
        EXPECT_EQ(electrons.w[n], -mesh::ELECTRON_CHARGE);
        EXPECT_EQ(electrons.species[n], 0);
        EXPECT_EQ(electrons.y[n], ions.y[n]);
        EXPECT_EQ(electrons.t[n], 0.0);
        EXPECT_EQ(electrons.vx[n], 0.0);
        EXPECT_EQ(electrons.vy[n], 0.0);
        EXPECT_EQ(electrons.vz[n], 0.0);
    }
    EXPECT_EQ(mesh::wall_charge_x[mesh::padded(15, 80, 3)], 0.0);
    // input_file.txt is closed again.
    EXPECT_EQ(FILE_MANAGER::recorded_name(FILE_MANAGER::FIRST_UNIT), "");
}

TEST_F(Seeding, InitialSeedingTakesThreeDrawsPerElectron) {
    seeding::seed_initial_particles();
    std::int32_t s1, s2;
    random_numbers::get_seed(s1, s2);
    EXPECT_EQ(draws_between(1100, 550, s1, s2), 135);
}

TEST_F(Seeding, PeriodicPairSharesOnePlaceInsideTheSeedLayer) {
    const double time = 2.0e-8;
    std::int32_t a1, a2, b1, b2;
    for (int call = 0; call < 300; ++call) {
        random_numbers::get_seed(a1, a2);
        const double u1 = random_numbers::draw_uniform();
        const double u2 = random_numbers::draw_uniform();
        random_numbers::set_seed(a1, a2);
        seeding::seed_particles(time, call + 1);
        random_numbers::get_seed(b1, b2);
        const int n = ions.count;
        ASSERT_EQ(electrons.count, n);
        const int j = static_cast<int>(76 + 44 * u1);
        const int k = static_cast<int>(7 * u2);
        ASSERT_GE(j, 76);
        ASSERT_LE(j, 119);  // row j0 + 44 is reserved to the initial seeding
        ASSERT_LE(k, 6);
        EXPECT_DOUBLE_EQ(ions.y[n], (j + 0.5) * mesh::dy);
        EXPECT_DOUBLE_EQ(ions.z[n], mesh::zlow + (k + 0.5) * mesh::dz);
        EXPECT_EQ(ions.t[n], time);
        EXPECT_EQ(electrons.x[n], ions.x[n]);
        EXPECT_EQ(electrons.y[n], ions.y[n]);
        EXPECT_EQ(electrons.z[n], ions.z[n]);
        EXPECT_EQ(electrons.t[n], time);
        EXPECT_EQ(electrons.vx[n], 0.0);
        if (call < 3) {
            EXPECT_EQ(draws_between(a1, a2, b1, b2), 5);
        }
        random_numbers::set_seed(b1, b2);
    }
}

// With at_cathode a pair seeded while the first sustain electrode is the lower
// in voltage takes the mirror row over it, jlo + jhi - j, from the same draws;
// otherwise, and without the option, it sits where the plain seeding puts it.
TEST_F(Seeding, AtTheCathodeAReversedPulseIsSeededOverTheFirstElectrode) {
    electrodes::reset();
    struct Case {
        double v1, v2;
        bool at_cathode, mirrored;
    };
    for (const Case c : {Case{0.0, 180.0, true, true}, Case{180.0, 0.0, true, false}, Case{90.0, 90.0, true, false},
                         Case{0.0, 180.0, false, false}}) {
        electrodes::electrode_voltage[1] = c.v1;
        electrodes::electrode_voltage[2] = c.v2;
        for (int call = 0; call < 50; ++call) {
            std::int32_t a1, a2, b1, b2;
            random_numbers::get_seed(a1, a2);
            const int j_plain = static_cast<int>(76 + 44 * random_numbers::draw_uniform());
            random_numbers::set_seed(a1, a2);
            seeding::seed_particles(2e-8, call + 1, c.at_cathode);
            random_numbers::get_seed(b1, b2);
            if (call == 0) {
                EXPECT_EQ(draws_between(a1, a2, b1, b2), 5);
            }
            random_numbers::set_seed(b1, b2);
            const int j = c.mirrored ? mesh::jlo + mesh::jhi - j_plain : j_plain;
            ASSERT_DOUBLE_EQ(ions.y[ions.count], (j + 0.5) * mesh::dy) << c.v1 << " " << c.v2 << " " << c.at_cathode;
            ASSERT_EQ(electrons.y[electrons.count], ions.y[ions.count]);
            if (c.mirrored) {
                // Over the first electrode's half of the cell, clear of the plain layer.
                ASSERT_LT(ions.y[ions.count], 0.5 * (mesh::ylow + mesh::yhigh));
            }
        }
    }
    electrodes::reset();
}

// In the parallel mode a seeded pair draws from its electron's stream, never
// from the run's generator: the electron of pair i of step s is
// seed_identity(s, 2i) with the draws its seeding took (3 at start-up, 5
// later), the ion seed_identity(s, 2i + 1) with none; the place of a periodic
// pair comes from the electron's first two numbers.
TEST_F(Seeding, ParallelSeedsTakeTheirNumbersAndIdentitiesFromTheirOwnStreams) {
    parallel_mode::configure(true, 1, 1100, 550);
    const particle_streams::Key key = parallel_mode::settings.key;
    std::int32_t s1, s2, a1, a2;
    random_numbers::get_seed(s1, s2);
    seeding::seed_initial_particles();
    for (int step : {1, 201}) seeding::seed_particles(2e-8, step);
    random_numbers::get_seed(a1, a2);
    EXPECT_TRUE(a1 == s1 && a2 == s2);
    ASSERT_EQ(electrons.count, 47);
    ASSERT_EQ(ions.count, 47);
    for (int i = 0; i < 45; ++i) {
        EXPECT_EQ(electrons.id[i + 1], particle_streams::seed_identity(0, 2 * i));
        EXPECT_EQ(electrons.draws[i + 1], 3u);
        EXPECT_EQ(ions.id[i + 1], particle_streams::seed_identity(0, 2 * i + 1));
        EXPECT_EQ(ions.draws[i + 1], 0u);
    }
    for (int n : {46, 47}) {
        const std::uint64_t step = n == 46 ? 1 : 201;
        const std::uint64_t id = particle_streams::seed_identity(step, 0);
        EXPECT_EQ(electrons.id[n], id);
        EXPECT_EQ(electrons.draws[n], 5u);
        EXPECT_EQ(ions.id[n], particle_streams::seed_identity(step, 1));
        const int j = static_cast<int>(76 + 44 * particle_streams::uniform_at(key, id, 0));
        const int k = static_cast<int>(7 * particle_streams::uniform_at(key, id, 1));
        EXPECT_EQ(electrons.y[n], (j + 0.5) * mesh::dy);
        EXPECT_EQ(ions.z[n], mesh::zlow + (k + 0.5) * mesh::dz);
    }
    EXPECT_NE(electrons.y[46], electrons.y[47]);  // other steps, other streams
    parallel_mode::reset();
}
