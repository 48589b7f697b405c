#include "electrons/electron_mover.hpp"
#include "particles/species.hpp"

#include "common/fatal_error.hpp"
#include "common/portable_math.hpp"
#include "electron_test_support.hpp"
#include "electrons/collision_frequencies.hpp"
#include "electrons/electron_collisions.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/pass_output.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

using namespace electron_test;
using PARTICLE_STORAGE::Particle;
using PARTICLE_STORAGE::electrons;
using PARTICLE_STORAGE::ions;

namespace {

class ElectronMover : public testing::Test {
protected:
    void SetUp() override { reset_world(); }
};

std::vector<Particle> all_electrons() {
    std::vector<Particle> out;
    Particle p;
    for (PARTICLE_STORAGE::rewind(electrons); PARTICLE_STORAGE::get_current(electrons, p);
         PARTICLE_STORAGE::advance(electrons))
        out.push_back(p);
    PARTICLE_STORAGE::rewind(electrons);
    return out;
}

Particle only_electron() {
    const std::vector<Particle> all = all_electrons();
    EXPECT_EQ(all.size(), 1u);
    return all.empty() ? Particle{} : all.front();
}

// The free time the next draw will give, s.
double next_free_time() { return -portable_math::log(peek_draw()) / electron_mover::numax; }

// A linear potential-free test field: value = a + b·x + c·y + d·z at the
// position of every entry of the three staggered arrays.
struct LinearField {
    double a, b, c, d;
    double at(double x, double y, double z) const { return a + b * x + c * y + d * z; }
};

void fill_linear(const LinearField& fx, const LinearField& fy, const LinearField& fz) {
    using namespace mesh;
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                const double xn = (i + 0.5) * dx, yn = (j + 0.5) * dy, zn = (k + 0.5) * dz;
                ex[node(i, j, k)] = fx.at(i * dx, yn, zn);
                ey[node(i, j, k)] = fy.at(xn, j * dy, zn);
                ez[node(i, j, k)] = fz.at(xn, yn, k * dz);
            }
}

double total_charge() {
    double sum = 0;
    for (const PARTICLE_STORAGE::Store* s : {&electrons, &ions})
        for (int n = 1; n <= s->count; ++n)
            if (s->alive[n]) sum += s->w[n];
    double wall = 0;
    for (int n = 0; n < mesh::PADDED_COUNT; ++n) wall += mesh::wall_charge_x[n] + mesh::wall_charge_z[n];
    return sum + wall * (mesh::dx * mesh::dy * mesh::dz);
}

}  // namespace

TEST_F(ElectronMover, FirstCallPrintsTheBoundAndRaisesIt) {
    testing::internal::CaptureStdout();
    electron_mover::advance_electrons(1e-10);
    // The bound per unit density is the double nearest 6e-7, in ES23.16.
    EXPECT_EQ(testing::internal::GetCapturedStdout(), " 5.9999999999999997E-07\n");
    EXPECT_EQ(electron_mover::numax, 6929344675657.894);

    testing::internal::CaptureStdout();
    electron_mover::advance_electrons(2e-10);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    EXPECT_EQ(electron_mover::numax, 6929344675657.894);
}

TEST_F(ElectronMover, FieldInterpolationOnTheStaggeredMesh) {
    const LinearField fx{100, 3e6, -2e5, 4e5}, fy{-50, 1e6, 7e5, -3e5}, fz{20, -2e6, 1e5, 9e5};
    fill_linear(fx, fy, fz);
    double Ex, Ey, Ez;
    // A linear field is reproduced wherever no clamp applies.
    for (int n = 0; n < 200; ++n) {
        const double x = 0.0035 + 0.0065 * ((n * 37) % 200) / 200.0;
        const double y = 0.002 + 0.065 * ((n * 91) % 200) / 200.0;
        const double z = 0.003 + 0.006 * ((n * 53) % 200) / 200.0;
        electron_mover::interpolate_electron_field(x, y, z, Ex, Ey, Ez);
        EXPECT_NEAR(Ex, fx.at(x, y, z), 1e-8);
        EXPECT_NEAR(Ey, fy.at(x, y, z), 1e-8);
        EXPECT_NEAR(Ez, fz.at(x, y, z), 1e-8);
    }
    // Outside the gas box each index is held at its bound with no weight
    // towards the neighbour: Ex beyond the rear wall is the value on face ihi,
    // and below the first node row in y the value on that row.
    using namespace mesh;
    electron_mover::interpolate_electron_field(0.0109, 0.03, 0.005, Ex, Ey, Ez);
    EXPECT_NEAR(Ex, fx.at(ihi * dx, 0.03, 0.005), 1e-8);
    electron_mover::interpolate_electron_field(0.0025, 0.03, 0.005, Ex, Ey, Ez);
    EXPECT_NEAR(Ex, fx.at(ilo * dx, 0.03, 0.005), 1e-8);
    electron_mover::interpolate_electron_field(0.005, 0.0011, 0.005, Ex, Ey, Ez);
    EXPECT_NEAR(Ex, fx.at(0.005, (jlo + 0.5) * dy, 0.005), 1e-8);
    EXPECT_NEAR(Ey, fy.at(0.005, 0.0011, 0.005), 1e-8);  // its own axis is a face axis: no clamp
}

TEST_F(ElectronMover, PassCompactsAndLeavesElectronsAtOrPastTheEnd) {
    pass_first_call();
    add_electron(0.005, 0.03, 0.005, 1e7, 0, 0, 1e-10);
    add_electron(0.006, 0.03, 0.005, 1e7, 0, 0, 1e-10);
    add_electron(0.007, 0.03, 0.005, 1e7, 0, 0, 2e-10);
    electrons.cursor = 2;
    PARTICLE_STORAGE::delete_current(electrons);
    std::int32_t s1, s2;
    random_numbers::get_seed(s1, s2);
    electron_mover::advance_electrons(1e-10);
    EXPECT_EQ(draws_since(s1, s2), 0);
    EXPECT_EQ(electrons.count, 2);
    EXPECT_EQ(electrons.cursor, 1);
    for (const Particle& p : all_electrons()) {
        EXPECT_EQ(p.vx, 1e7);
        EXPECT_TRUE(p.x == 0.005 || p.x == 0.007);
    }
    // An empty store: compacted and rewound, nothing drawn.
    PARTICLE_STORAGE::reset();
    electrons.cursor = 5;
    electron_mover::advance_electrons(3e-10);
    EXPECT_EQ(electrons.count, 0);
    EXPECT_EQ(electrons.cursor, 1);
    EXPECT_EQ(draws_since(s1, s2), 0);
}

// A flight that would end after t_end is cut there: one draw, no collision,
// enough sub-steps to cross at most 1/20 of a cell per sub-step.
TEST_F(ElectronMover, FlightCutAtTheEndOfTheStep) {
    pass_first_call();
    const double vy = 3e9, dt = 0.5 * next_free_time();
    add_electron(0.005, 0.03, 0.005, 0.0, vy, 0.0);
    std::int32_t s1, s2;
    random_numbers::get_seed(s1, s2);
    electron_mover::advance_electrons(dt);
    EXPECT_EQ(draws_since(s1, s2), 1);
    EXPECT_EQ(electron_mover::flight_count, 1);
    const int substeps = 1 + static_cast<int>(dt * vy * 20 / mesh::dy);
    EXPECT_GT(substeps, 3);
    EXPECT_EQ(electron_mover::substep_count, substeps);
    const Particle e = only_electron();
    EXPECT_NEAR(e.t, dt, 1e-14 * dt);
    EXPECT_NEAR(e.y, 0.03 + vy * dt, 1e-15);
    EXPECT_EQ(e.vy, vy);
}

// At rest a flight is a single sub-step, pushed by the field at the start.
TEST_F(ElectronMover, ElectronAtRestTakesOneSubStep) {
    using namespace mesh;
    for (int n = 0; n < NODE_COUNT; ++n) ex[n] = 1e4 + 10.0 * (n % NX);
    pass_first_call();
    const double dt = 0.5 * next_free_time();
    const double x0 = 0.00613;
    add_electron(x0, 0.03, 0.005, 0.0, 0.0, 0.0);
    electron_mover::advance_electrons(dt);
    EXPECT_EQ(electron_mover::substep_count, 1);
    double Ex, Ey, Ez;
    electron_mover::interpolate_electron_field(x0, 0.03, 0.005, Ex, Ey, Ez);
    const double dv = dt * Ex * -species::QM_ELECTRON;
    const Particle e = only_electron();
    EXPECT_DOUBLE_EQ(e.vx, dv);
    EXPECT_NEAR(e.x - x0, 0.5 * dv * dt, 1e-18);
    EXPECT_LT(e.vx, 0.0);  // electrons run against the field
}

// Electrons at rest on a plane end their first sub-step exactly on it.
TEST_F(ElectronMover, AbsorptionAtTheWallsAndTheRibColumnClamp) {
    using namespace mesh;
    pass_first_call();
    const double w = -ELECTRON_CHARGE * inv_cell_volume;
    const double y = 0.0312, z = 0.0057;
    const int j = static_cast<int>(y / dy), k = static_cast<int>(z / dz);
    add_electron(xlow, y, z, 0, 0, 0);
    add_electron(xhigh, y, z, 0, 0, 0);
    add_electron(0.0051, y, zhigh, 0, 0, 0);
    add_electron(0.0021, y, zhigh, 0, 0, 0);   // beyond the front plane: column ilo
    add_electron(0.0113, y, zhigh, 0, 0, 0);   // beyond the rear plane: column ihi
    add_electron(0.0051, y, 0.005, 0, 0, 0);   // stays
    electron_mover::advance_electrons(1e-12);
    EXPECT_EQ(electrons.count, 1);
    EXPECT_EQ(wall_charge_x[padded(ilo, j, k)], w);
    EXPECT_EQ(wall_charge_x[padded(ihi + 1, j, k)], w);
    EXPECT_EQ(wall_charge_z[padded(25, j, khi + 1)], w);
    EXPECT_EQ(wall_charge_z[padded(ilo, j, khi + 1)], w);
    EXPECT_EQ(wall_charge_z[padded(ihi, j, khi + 1)], w);
    double sum = 0;
    for (int n = 0; n < PADDED_COUNT; ++n) sum += wall_charge_x[n] + wall_charge_z[n];
    EXPECT_DOUBLE_EQ(sum, 5 * w);
}

// On ylow an electron stays put; on zlow it is mirrored onto the same plane,
// which shows in the sign of its (zero) velocity.
TEST_F(ElectronMover, MirrorPlanes) {
    using namespace mesh;
    pass_first_call();
    double dt = 0.5 * next_free_time();
    add_electron(0.005, ylow, 0.005, 0, 0, 0);
    add_electron(0.005, 0.03, zlow, 0, 0, 0);
    electron_mover::advance_electrons(dt);
    std::vector<Particle> all = all_electrons();
    ASSERT_EQ(all.size(), 2u);
    EXPECT_EQ(all[0].y, ylow);
    EXPECT_FALSE(std::signbit(all[0].vy));
    EXPECT_EQ(all[1].z, zlow);
    EXPECT_TRUE(std::signbit(all[1].vz));

    // Moving electrons come back through the plane they crossed.
    PARTICLE_STORAGE::reset();
    dt = 0.5 * next_free_time();
    const double v = 1e8;
    add_electron(0.005, ylow + 0.5 * v * dt, 0.005, 0, -v, 0, 0.0);
    add_electron(0.005, yhigh - 0.5 * v * dt, 0.005, 0, v, 0, 0.0);
    add_electron(0.005, 0.03, zlow + 0.5 * v * dt, 0, 0, -v, 0.0);
    electron_mover::advance_electrons(dt);
    all = all_electrons();
    ASSERT_EQ(all.size(), 3u);
    EXPECT_NEAR(all[0].y, ylow + 0.5 * v * dt, 1e-15);
    EXPECT_EQ(all[0].vy, v);
    EXPECT_NEAR(all[1].y, yhigh - 0.5 * v * dt, 1e-15);
    EXPECT_EQ(all[1].vy, -v);
    EXPECT_NEAR(all[2].z, zlow + 0.5 * v * dt, 1e-15);
    EXPECT_EQ(all[2].vz, v);
}

TEST_F(ElectronMover, StopsWhenOneMirrorCannotBringTheElectronBack) {
    pass_first_call();
    const struct {
        double y, z;
        const char* message;
    } cases[] = {{-0.1, 0.005, "electron outside of region\n"},
                 {0.2, 0.005, "electron outside of region\n"},
                 {0.03, -0.1, "electron outside of z region\n"}};
    for (const auto& c : cases) {
        PARTICLE_STORAGE::reset();
        add_electron(0.005, c.y, c.z, 0, 0, 0);
        testing::internal::CaptureStdout();
        EXPECT_THROW(electron_mover::advance_electrons(1e-12), pdp::FatalError);
        EXPECT_EQ(testing::internal::GetCapturedStdout(), c.message);
    }
}

// A non-finite coordinate or velocity once made the sub-step count
// 1 + int(NaN) and left the electron's clock standing; an absurd speed asked
// for billions of sub-steps. Both stop the run, naming the electron's values.
TEST_F(ElectronMover, NonFiniteOrAbsurdElectronsStopTheRunWithTheirValues) {
    pass_first_call();
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const struct {
        double x, vx, vy, vz;
        const char* reason;
        const char* shown;
    } cases[] = {{nan, 1e7, 0, 0, "a coordinate or velocity is not finite", "NAN"},
                 {0.005, 1e7, inf, 0, "a coordinate or velocity is not finite", "INF"},
                 {0.005, 0, 0, -nan, "a coordinate or velocity is not finite", "NAN"},
                 {0.005, 3e17, 0, 0, "sub-steps", " 3.0000000000000000E+17"}};
    for (const auto& c : cases) {
        PARTICLE_STORAGE::reset();
        add_electron(c.x, 0.03, 0.005, c.vx, c.vy, c.vz);
        testing::internal::CaptureStdout();
        EXPECT_THROW(electron_mover::advance_electrons(1e-10), pdp::FatalError) << c.shown;
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind("ERROR: an electron cannot be moved: ", 0), 0u) << out;
        EXPECT_NE(out.find(c.reason), std::string::npos) << out;
        EXPECT_NE(out.find(c.shown), std::string::npos) << out;
        EXPECT_NE(out.find("x, y, z (cm) ="), std::string::npos) << out;
    }
    // The fastest sane electron, 1 keV, passes the check.
    PARTICLE_STORAGE::reset();
    add_electron(0.005, 0.03, 0.005, speed_of(1000.0), 0, 0);
    EXPECT_NO_THROW(electron_mover::advance_electrons(1e-12));
}

// Electrons born in the pass are fetched behind the cursor and moved from
// their birth time to the end of the step.
TEST_F(ElectronMover, ElectronsBornInThePassReachTheEndOfTheStep) {
    remove_walls();
    pass_first_call();
    const int start = 200;
    for (int n = 0; n < start; ++n) add_electron(0.005, 0.03, 0.005, speed_of(80) * (n % 2 ? 1 : -1), 0, 0);
    const double t_end = 2e-11;
    electron_mover::advance_electrons(t_end);
    EXPECT_GT(electrons.count, start + 100);
    EXPECT_EQ(ions.count, electrons.count - start);
    bool some_late_birth = false;
    for (const Particle& e : all_electrons()) {
        EXPECT_NEAR(e.t, t_end, 1e-12 * t_end);
        EXPECT_TRUE(e.species == 0 || e.species == 1 || e.species == 2);
    }
    for (int n = 1; n <= ions.count; ++n) some_late_birth |= ions.t[n] > 0.9 * t_end;
    EXPECT_TRUE(some_late_birth);
}

// Over a pass with absorption at every kind of wall and ionization, particle
// charge plus wall charge stays what it was.
TEST_F(ElectronMover, ChargeIsConservedOverAPass) {
    using namespace mesh;
    fill_uniform_field(2e4, -1e4, -2e4);
    pass_first_call();
    const int start = 2000;
    for (int n = 0; n < start; ++n) {
        const double x = xlow + (xhigh - xlow) * ((n * 7919LL) % 1000 + 0.5) / 1000;
        const double y = ylow + (yhigh - ylow) * ((n * 104729LL) % 1000 + 0.5) / 1000;
        const double z = zlow + (zhigh - zlow) * ((n * 1299709LL) % 1000 + 0.5) / 1000;
        const double v = speed_of(5);
        add_electron(x, y, z, v * ((n % 3) - 1), v * (((n / 3) % 3) - 1), v * 0.5, 0.0);
    }
    const double before = total_charge();
    electron_mover::advance_electrons(5e-11);
    EXPECT_GT(ions.count, 100);       // ionization happened
    double rib = 0, front = 0;
    for (int n = 0; n < PADDED_COUNT; ++n) rib += wall_charge_z[n];
    for (int k = 0; k < PZ; ++k)
        for (int j = 0; j < PY; ++j) front += wall_charge_x[padded(ilo, j, k)];
    EXPECT_LT(rib, 0.0);
    EXPECT_LT(front, 0.0);
    EXPECT_NEAR(total_charge(), before, 1e-12 * start * ELECTRON_CHARGE);
}

// In zero field below the excitation thresholds electrons only lose energy to
// atom recoil: on average 2(m/M)·E per elastic collision, so
// dE/dt = -2·(m/M_Ne·nu_Ne + m/M_Xe·nu_Xe)·E.
TEST_F(ElectronMover, EnergyRelaxesAtTheElasticRate) {
    using namespace collision_frequencies;
    using namespace electron_collisions;
    remove_walls();
    pass_first_call();
    const int count = 400;
    const double e0 = 3.0, duration = 1.5e-9;
    for (int n = 0; n < count; ++n) {
        const double c = -1 + (2.0 * n + 1) / count, s = std::sqrt(1 - c * c), phi = 2.399963 * n;
        add_electron(0.005, 0.03, 0.005, speed_of(e0) * s * std::cos(phi), speed_of(e0) * s * std::sin(phi),
                     speed_of(e0) * c);
    }
    electron_mover::advance_electrons(duration);

    double predicted = e0;
    const int steps = 2000;
    for (int n = 0; n < steps; ++n) {
        const double v = speed_of(predicted);
        const double rate = 2 * (species::MASS_RATIO_NE * numt_Ne(v) + species::MASS_RATIO_XE * numt_Xe(v));
        predicted -= rate * predicted * duration / steps;
    }

    double sum = 0, sum2 = 0;
    const std::vector<Particle> all = all_electrons();
    ASSERT_EQ(static_cast<int>(all.size()), count);
    for (const Particle& e : all) {
        const double energy = energy_of(e.vx, e.vy, e.vz);
        sum += energy;
        sum2 += energy * energy;
    }
    const double mean = sum / count;
    const double standard_error = std::sqrt((sum2 / count - mean * mean) / (count - 1));
    EXPECT_GT(e0 - predicted, 0.04);                 // a clear loss, ...
    EXPECT_LT(standard_error, 0.02 * (e0 - predicted));  // ... measured precisely
    EXPECT_NEAR(mean, predicted, 4 * standard_error);
}

// A slot that died before the pass (absorbed at a wall in the pass before)
// must not fly: the pass squeezes dead slots out first. A pass over a store
// with a dead slot therefore draws exactly what a pass over the live
// electrons alone draws, and leaves the same electrons.
TEST_F(ElectronMover, ADeadSlotNeitherFliesNorDrawsInThePass) {
    pass_first_call();
    fill_uniform_field(-2e4, 0.0, 0.0);
    std::int32_t s1, s2;
    random_numbers::get_seed(s1, s2);
    const auto pass = [&](bool with_dead_slot) {
        PARTICLE_STORAGE::reset();
        random_numbers::set_seed(s1, s2);
        add_electron(0.005, 0.03, 0.005, 2e8, 0, 0);
        if (with_dead_slot) {
            add_electron(0.006, 0.03, 0.005, 0, 3e8, 0);
            electrons.cursor = 2;
            PARTICLE_STORAGE::delete_current(electrons);
        }
        add_electron(0.007, 0.03, 0.005, 0, 0, 1e8);
        electron_mover::advance_electrons(5e-12);  // a few dozen flights each
        return draws_since(s1, s2);
    };
    const int draws_live_only = pass(false);
    ASSERT_GT(draws_live_only, 10);
    ASSERT_LT(draws_live_only, 1000);  // what draws_since can count
    const std::vector<Particle> live_only = all_electrons();
    EXPECT_EQ(pass(true), draws_live_only);
    const std::vector<Particle> with_dead = all_electrons();
    ASSERT_EQ(with_dead.size(), live_only.size());
    for (std::size_t n = 0; n < live_only.size(); ++n) {
        EXPECT_EQ(with_dead[n].x, live_only[n].x) << n;
        EXPECT_EQ(with_dead[n].vz, live_only[n].vz) << n;
    }
}

// Electrons bound in a potential well, as in a plasma's, without
// collisions: their energy, kinetic plus potential, must stay what it was.
// In leapfrog flights (8 sub-steps per cell) the mean over electrons of
// every phase keeps it within a per cent over 2 ns, some twenty
// oscillations; the first-order sub-step gains a share of order omega·h in
// every oscillation, so even 20 sub-steps per cell heat them by tens of per
// cent in the same time.
TEST_F(ElectronMover, BoundElectronsKeepTheirEnergyInLeapfrogFlights) {
    using namespace mesh;
    const double k = 2.5e6;     // V/cm^2: 5 V at 20 um from the bottom
    const double x0 = 34 * dx;  // cm, the bottom, mid-gap
    auto energy = [&](const Particle& e) {  // eV
        return energy_of(e.vx, e.vy, e.vz) + k * (e.x - x0) * (e.x - x0) / 2;
    };
    double gained[2];
    for (int leapfrog = 0; leapfrog <= 1; ++leapfrog) {
        reset_world();
        for (int i = 1; i <= NX; ++i)
            for (int j = 1; j <= NY; ++j)
                for (int kk = 1; kk <= NZ; ++kk) ex[node(i, j, kk)] = k * (i * dx - x0);  // faces at x = i·dx
        electron_mover::set_leapfrog(leapfrog == 1);
        pass_first_call();
        electron_mover::numax = 1.0;  // 1/s: no collision candidate within the test
        const int count = 24;
        for (int n = 0; n < count; ++n)
            add_electron(x0 + (n - 12) * 1e-4, 0.03, 0.005, speed_of(1.0 + 0.25 * n) * (n % 2 ? 1 : -1),
                         speed_of(0.5), 0.0);
        double before = 0;
        for (const Particle& e : all_electrons()) before += energy(e);
        for (int step = 1; step <= 400; ++step) electron_mover::advance_electrons(step * 5e-12);
        double after = 0;
        for (const Particle& e : all_electrons()) after += energy(e);
        gained[leapfrog] = after / before - 1;
    }
    EXPECT_LT(std::fabs(gained[1]), 0.01) << "leapfrog";
    EXPECT_GT(gained[0], 0.1) << "first order";
}

// The pass's tally against what it did: the ionizations (Penning after every
// Ne excitation included) are the new ions, and the electrons' energy closes:
// the field's work less the thresholds, the recoil and what the walls took,
// plus the 4.41 eV of each Penning electron, is their change of kinetic energy.
TEST_F(ElectronMover, TallyCountsTheNewIonsAndClosesTheElectronEnergy) {
    using namespace mesh;
    using namespace electron_collisions;
    fill_uniform_field(3e4, -1e4, -2e4);
    pass_first_call();
    for (int n = 0; n < 1500; ++n) {
        const double x = xlow + (xhigh - xlow) * ((n * 7919LL) % 1000 + 0.5) / 1000;
        const double y = ylow + (yhigh - ylow) * ((n * 104729LL) % 1000 + 0.5) / 1000;
        const double z = zlow + (zhigh - zlow) * ((n * 1299709LL) % 1000 + 0.5) / 1000;
        add_electron(x, y, z, speed_of(8) * ((n % 3) - 1), speed_of(3), 0.0);
    }
    auto kinetic = [] {
        double sum = 0.0;
        for (int n = 1; n <= electrons.count; ++n)
            if (electrons.alive[n])
                sum += pass_output::kinetic_energy(electrons.w[n],
                                                   electrons.vx[n] * electrons.vx[n] + electrons.vy[n] * electrons.vy[n] +
                                                       electrons.vz[n] * electrons.vz[n],
                                                   species::QM_ELECTRON);
        return sum;
    };
    auto ev = [](double speed) { return std::pow(speed / collision_frequencies::SPEED_PER_SQRT_EV, 2); };
    const double before = kinetic();
    pass_output::take_tally();
    electron_mover::advance_electrons(4e-11);
    const pass_output::Tally tally = pass_output::take_tally();

    double ion_charge = 0.0;
    for (int n = 1; n <= ions.count; ++n) ion_charge += ions.w[n];
    const double* c = tally.collided;
    double penning = 0.0, thresholds = 0.0;  // C, J
    for (int k = 0; k < 6; ++k) {
        penning += c[9 + k];
        thresholds += c[2 + k] * ev(EXC_SPEED_XE[k]) + c[9 + k] * ev(EXC_SPEED_NE[k]);
    }
    thresholds += c[8] * ev(ION_SPEED_XE) + c[15] * ev(ION_SPEED_NE);
    EXPECT_GT(c[8], 20 * ELECTRON_CHARGE);  // ionization, Penning and
    EXPECT_GT(penning, 5 * ELECTRON_CHARGE);
    EXPECT_GT(tally.electron_wall_energy, 0.0);  // absorption happened
    EXPECT_GT(c[0] + c[1], 1000 * ELECTRON_CHARGE);
    EXPECT_NEAR(ion_charge, c[8] + c[15] + penning, 1e-9 * ion_charge);

    const double gained = tally.electron_work - thresholds - tally.recoil_energy - tally.electron_wall_energy +
                          penning * ev(PENNING_SPEED);
    EXPECT_GT(tally.electron_work, 0.1 * thresholds);
    EXPECT_NEAR(kinetic() - before, gained, 1e-9 * tally.electron_work);
}
