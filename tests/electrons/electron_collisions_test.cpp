#include "electrons/electron_collisions.hpp"
#include "particles/species.hpp"

#include "electron_test_support.hpp"
#include "electrons/collision_frequencies.hpp"
#include "electrons/electron_mover.hpp"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <map>
#include <utility>

using namespace electron_collisions;
using namespace collision_frequencies;
using PARTICLE_STORAGE::Particle;
using electron_test::speed_of;

namespace {

// The seventeen outcomes in their order of selection, as (kind, level).
std::array<Process, 17> outcomes_in_order() {
    std::array<Process, 17> p{};
    int n = 0;
    p[n++] = {Kind::null, 0};
    p[n++] = {Kind::elastic_xe, 0};
    p[n++] = {Kind::elastic_ne, 0};
    for (int k = 1; k <= 6; ++k) p[n++] = {Kind::excite_xe, k};
    p[n++] = {Kind::ionize_xe, 0};
    for (int k = 1; k <= 6; ++k) p[n++] = {Kind::excite_ne, k};
    p[n++] = {Kind::ionize_ne, 0};
    return p;
}

double frequency_of(const Process& p, double v) {
    switch (p.kind) {
        case Kind::null: return std::max(electron_mover::numax - nu_total(v), 0.0);
        case Kind::elastic_xe: return numt_Xe(v);
        case Kind::elastic_ne: return numt_Ne(v);
        case Kind::excite_xe: return nu_exc_Xe(p.level, v);
        case Kind::ionize_xe: return nu_ion_Xe(v);
        case Kind::excite_ne: return nu_exc_Ne(p.level, v);
        case Kind::ionize_ne: return nu_ion_Ne(v);
    }
    return 0;
}

int draws_of(Kind kind) {
    switch (kind) {
        case Kind::null: return 0;
        case Kind::elastic_xe:
        case Kind::elastic_ne:
        case Kind::excite_xe: return 2;
        case Kind::excite_ne: return 4;
        case Kind::ionize_xe:
        case Kind::ionize_ne: return 5;
    }
    return -1;
}

int code_of(const Process& p) { return static_cast<int>(p.kind) * 10 + p.level; }

Particle electron_moving_along_x(double speed) {
    return Particle{-mesh::ELECTRON_CHARGE, 3e-10, 0.005, 0.02, 0.004, speed, 0.0, 0.0, 0};
}

double speed(const Particle& e) { return std::sqrt(e.vx * e.vx + e.vy * e.vy + e.vz * e.vz); }

class ElectronCollisions : public testing::Test {
protected:
    void SetUp() override { electron_test::reset_world(); }
    pass_output::Context exact_context = pass_output::exact();
};

}  // namespace

// A uniform R picks each process with probability nu/numax: on an even grid
// of R the share of each outcome must match its frequency, and every one of
// the seventeen outcomes must turn up at 40 eV, where all sixteen processes
// are open.
TEST_F(ElectronCollisions, SelectionSharesFollowTheFrequencies) {
    const double v = speed_of(40);
    const int grid = 200000;
    std::map<int, int> hits;
    int previous_rank = 0;
    bool in_order = true;
    const auto order = outcomes_in_order();
    for (int n = 0; n < grid; ++n) {
        const Process p = select_process(v, (n + 0.5) / grid, electron_mover::numax);
        ++hits[code_of(p)];
        // Outcomes come in bands along R, in the fixed order (the null band
        // of the envelope's head-room at the top excepted).
        int rank = 0;
        while (code_of(order[rank]) != code_of(p)) ++rank;
        if (rank != 0) {
            if (rank < previous_rank) in_order = false;
            previous_rank = rank;
        }
    }
    EXPECT_TRUE(in_order);
    const double null_share = 1.0 - [&] {
        double sum = 0;
        for (int n = 1; n < 17; ++n) sum += frequency_of(order[n], v);
        return sum / electron_mover::numax;
    }();
    EXPECT_NEAR(hits[code_of(order[0])] / double(grid), null_share, 2.0 / grid);
    for (int n = 1; n < 17; ++n) {
        EXPECT_GT(hits[code_of(order[n])], 0) << n;
        EXPECT_NEAR(hits[code_of(order[n])] / double(grid), frequency_of(order[n], v) / electron_mover::numax,
                    2.0 / grid)
            << n;
    }
}

// An envelope above the bound leaves no null share ahead of the list.
TEST_F(ElectronCollisions, NoNullShareWhenTheEnvelopeExceedsTheBound) {
    electron_mover::numax = 1e11;
    EXPECT_EQ(select_process(speed_of(3), 1e-12, electron_mover::numax).kind, Kind::elastic_xe);
    EXPECT_EQ(select_process(speed_of(3), 0.999, electron_mover::numax).kind, Kind::elastic_xe);
}

// Each process draws its fixed count, and the full step draws one more for the
// selection; the store changes that each process makes.
TEST_F(ElectronCollisions, DrawCountsAndNewParticlesPerProcess) {
    const double v = speed_of(40);
    for (const Process& p : outcomes_in_order()) {
        PARTICLE_STORAGE::reset();
        Particle e = electron_moving_along_x(v);
        std::int32_t s1, s2;
        random_numbers::get_seed(s1, s2);
        perform(p, e, v, exact_context);
        EXPECT_EQ(electron_test::draws_since(s1, s2), draws_of(p.kind)) << code_of(p);
        const bool ionizing = p.kind == Kind::excite_ne || p.kind == Kind::ionize_xe || p.kind == Kind::ionize_ne;
        EXPECT_EQ(PARTICLE_STORAGE::electrons.count, ionizing ? 1 : 0) << code_of(p);
        EXPECT_EQ(PARTICLE_STORAGE::ions.count, ionizing ? 1 : 0) << code_of(p);
    }

    // The whole step, over many collisions at 40 eV.
    int ionizations = 0;
    for (int n = 0; n < 3000; ++n) {
        Particle e = electron_moving_along_x(v);
        const Process expected = select_process(v, electron_test::peek_draw(), electron_mover::numax);
        std::int32_t s1, s2;
        random_numbers::get_seed(s1, s2);
        const int electrons_before = PARTICLE_STORAGE::electrons.count;
        collide(e, electron_mover::numax, exact_context);
        ASSERT_EQ(electron_test::draws_since(s1, s2), 1 + draws_of(expected.kind)) << n;
        if (PARTICLE_STORAGE::electrons.count > electrons_before) ++ionizations;
        if (expected.kind == Kind::null) {
            EXPECT_EQ(e.vx, v);
            EXPECT_EQ(e.vy, 0.0);
        }
    }
    EXPECT_GT(ionizations, 0);
}

TEST_F(ElectronCollisions, EnergyBookkeeping) {
    const double v = speed_of(40);
    // Excitation takes exactly the level energy.
    Particle e = electron_moving_along_x(v);
    perform({Kind::excite_xe, 4}, e, v, exact_context);
    EXPECT_NEAR(electron_test::energy_of(e.vx, e.vy, e.vz), 30.0, 1e-12 * 40);

    // Ne excitation: the electron loses the level energy, the Penning
    // electron leaves with 4.41 eV and the ion is a Xe+ at rest, all born
    // where and when the collision happened.
    e = electron_moving_along_x(v);
    perform({Kind::excite_ne, 6}, e, v, exact_context);
    EXPECT_NEAR(electron_test::energy_of(e.vx, e.vy, e.vz), 40 - 20.65, 1e-12 * 40);
    Particle born, ion;
    PARTICLE_STORAGE::rewind(PARTICLE_STORAGE::electrons);
    ASSERT_TRUE(PARTICLE_STORAGE::get_current(PARTICLE_STORAGE::electrons, born));
    PARTICLE_STORAGE::rewind(PARTICLE_STORAGE::ions);
    ASSERT_TRUE(PARTICLE_STORAGE::get_current(PARTICLE_STORAGE::ions, ion));
    EXPECT_NEAR(speed(born), PENNING_SPEED, 1e-9 * PENNING_SPEED);
    EXPECT_EQ(born.species, SPECIES_XE);
    EXPECT_EQ(born.w, e.w);
    EXPECT_EQ(ion.w, mesh::ELECTRON_CHARGE);
    EXPECT_EQ(ion.species, SPECIES_XE);
    EXPECT_EQ(speed(ion), 0.0);
    for (const Particle* p : {&born, &ion}) {
        EXPECT_EQ(p->t, e.t);
        EXPECT_EQ(p->x, e.x);
        EXPECT_EQ(p->y, e.y);
        EXPECT_EQ(p->z, e.z);
    }

    // Ionization shares what is left above the threshold between the two
    // electrons; the ion carries the gas code.
    PARTICLE_STORAGE::reset();
    e = electron_moving_along_x(v);
    perform({Kind::ionize_ne, 0}, e, v, exact_context);
    PARTICLE_STORAGE::rewind(PARTICLE_STORAGE::electrons);
    ASSERT_TRUE(PARTICLE_STORAGE::get_current(PARTICLE_STORAGE::electrons, born));
    PARTICLE_STORAGE::rewind(PARTICLE_STORAGE::ions);
    ASSERT_TRUE(PARTICLE_STORAGE::get_current(PARTICLE_STORAGE::ions, ion));
    const double left = electron_test::energy_of(e.vx, e.vy, e.vz) + electron_test::energy_of(born.vx, born.vy, born.vz);
    EXPECT_NEAR(left, 40 - 21.56, 1e-9);
    EXPECT_EQ(born.species, SPECIES_NE);
    EXPECT_EQ(ion.species, SPECIES_NE);

    // Exactly at threshold nothing is left: both electrons stop.
    PARTICLE_STORAGE::reset();
    e = electron_moving_along_x(ION_SPEED_XE);
    perform({Kind::ionize_xe, 0}, e, ION_SPEED_XE, exact_context);
    PARTICLE_STORAGE::rewind(PARTICLE_STORAGE::electrons);
    ASSERT_TRUE(PARTICLE_STORAGE::get_current(PARTICLE_STORAGE::electrons, born));
    EXPECT_EQ(speed(e), 0.0);
    EXPECT_EQ(speed(born), 0.0);
    EXPECT_EQ(born.species, SPECIES_XE);
}

// Elastic scattering: isotropic new directions, and on average the speed falls
// by the mass ratio times v (the mean of 1 - cos(theta) is 1).
TEST_F(ElectronCollisions, ElasticScatteringIsIsotropicWithRecoilLoss) {
    const double v = speed_of(3);
    const int samples = 40000;
    double mean_nx = 0, mean_nz = 0, mean_nz2 = 0, mean_loss = 0;
    double largest_loss = 0;
    for (int n = 0; n < samples; ++n) {
        Particle e = electron_moving_along_x(v);
        perform({Kind::elastic_ne, 0}, e, v, exact_context);
        const double s = speed(e);
        mean_nx += e.vx / s;
        mean_nz += e.vz / s;
        mean_nz2 += (e.vz / s) * (e.vz / s);
        mean_loss += (v - s) / (species::MASS_RATIO_NE * v);
        largest_loss = std::max(largest_loss, (v - s) / (species::MASS_RATIO_NE * v));
        ASSERT_GE(v - s, -1e-6 * v * species::MASS_RATIO_NE);
    }
    EXPECT_NEAR(mean_nx / samples, 0.0, 0.02);
    EXPECT_NEAR(mean_nz / samples, 0.0, 0.02);
    EXPECT_NEAR(mean_nz2 / samples, 1.0 / 3.0, 0.01);
    EXPECT_NEAR(mean_loss / samples, 1.0, 0.02);
    EXPECT_LE(largest_loss, 2.0 + 1e-6);
    EXPECT_GT(largest_loss, 1.99);
}

// The new direction takes cos(chi) from the first of its two draws and the
// azimuth from the second. Both are uniform, so only the order tells a
// swapped pair apart: the run's random sequence depends on it.
TEST_F(ElectronCollisions, ScatteringTakesTheCosineFromTheFirstDrawAndTheAzimuthFromTheSecond) {
    for (const Process process : {Process{Kind::elastic_xe, 0}, Process{Kind::elastic_ne, 0}, Process{Kind::excite_xe, 1}}) {
        random_numbers::set_seed(123456, 654321);
        const double u1 = random_numbers::draw_uniform();
        const double u2 = random_numbers::draw_uniform();
        ASSERT_GT(std::fabs(u1 - u2), 0.2);
        random_numbers::set_seed(123456, 654321);
        Particle e = electron_moving_along_x(speed_of(10.0));
        perform(process, e, speed(e), exact_context);
        const double v = speed(e);
        EXPECT_NEAR(e.vz / v, 2.0 * u1 - 1.0, 1e-12) << code_of(process);
        double azimuth = std::atan2(e.vy, e.vx);
        if (azimuth < 0.0) azimuth += 2.0 * M_PI;
        EXPECT_NEAR(azimuth, 2.0 * M_PI * u2, 1e-9) << code_of(process);
    }
}
