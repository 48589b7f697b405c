#include "ions/ion_mover.hpp"
#include "particles/species.hpp"

#include "common/fatal_error.hpp"
#include "common/portable_math.hpp"
#include "ions/surface_processes.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/random_numbers.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <string>

using namespace mesh;
using PARTICLE_STORAGE::Particle;
namespace ps = PARTICLE_STORAGE;

namespace {

constexpr double E = ELECTRON_CHARGE;
const double QM[3] = {0.0, species::QM_NE_ION, species::QM_XE_ION};
const double TAU[3] = {0.0, species::BUILT_IN_TAU_NE_ION, species::BUILT_IN_TAU_XE_ION};

void set_uniform_field(double fx, double fy, double fz) {
    std::fill(ex, ex + NODE_COUNT, fx);
    std::fill(ey, ey + NODE_COUNT, fy);
    std::fill(ez, ez + NODE_COUNT, fz);
}

// Moves the generator on until its next draw satisfies `wanted`; returns it.
template <class Wanted>
double seek_draw(Wanted wanted) {
    for (;;) {
        std::int32_t s1, s2;
        random_numbers::get_seed(s1, s2);
        const double r = random_numbers::draw_uniform();
        if (wanted(r)) {
            random_numbers::set_seed(s1, s2);
            return r;
        }
    }
}
// Draws made since the generator was at state (s1, s2), up to `limit`.
int draws_since(std::int32_t s1, std::int32_t s2, int limit = 10) {
    std::int32_t now1, now2;
    random_numbers::get_seed(now1, now2);
    random_numbers::set_seed(s1, s2);
    for (int n = 0; n <= limit; ++n) {
        std::int32_t a, b;
        random_numbers::get_seed(a, b);
        if (a == now1 && b == now2) return n;
        random_numbers::draw_uniform();
    }
    return -1;
}

Particle stored_ion(int slot) {
    const ps::Store& s = ps::ions;
    return {s.w[slot], s.t[slot], s.x[slot], s.y[slot], s.z[slot], s.vx[slot], s.vy[slot], s.vz[slot], s.species[slot]};
}

double sum(const double* a, int n) { return std::accumulate(a, a + n, 0.0); }

class IonMover : public ::testing::Test {
protected:
    void SetUp() override {
        mesh::reset();
        ps::reset();
        random_numbers::set_seed(1100, 550);
        // The gas box of the built-in cell.
        ilo = 15, ihi = 53, jlo = 2, jhi = 136, klo = 2, khi = 9;
        xlow = ilo * dx, xhigh = (ihi + 1) * dx, ylow = jlo * dy, yhigh = (jhi + 1) * dy;
        zlow = klo * dz, zhigh = (khi + 1) * dz;
    }
    void TearDown() override { parallel_mode::reset(); }
};

TEST_F(IonMover, IonsAtOrBeyondTheStepEndAreLeftAsTheyAreWithoutADraw) {
    set_uniform_field(5e4, 5e4, 5e4);
    ps::add_particle(ps::ions, E, 2e-10, 0.005, 0.02, 0.005, 10.0, 20.0, 30.0, 1);
    ps::add_particle(ps::ions, E, 3e-10, 0.006, 0.03, 0.004, -1.0, -2.0, -3.0, 2);
    std::int32_t s1, s2;
    random_numbers::get_seed(s1, s2);
    ion_mover::advance_ions(2e-10);
    EXPECT_EQ(draws_since(s1, s2), 0);
    ASSERT_EQ(ps::ions.count, 2);
    EXPECT_EQ(ps::ions.cursor, 1);
    EXPECT_EQ(stored_ion(1).x, 0.005);
    EXPECT_EQ(stored_ion(1).vz, 30.0);
    EXPECT_EQ(stored_ion(2).t, 3e-10);
}

// The parallel mode moves the store in chunks of 512 ions on the threads:
// every ion, the first and last of each chunk and those of the short last
// chunk too, reaches the step's end drawing from its own stream, and the
// store keeps its order.
TEST_F(IonMover, EveryIonOfAChunkedPassReachesTheStepEnd) {
    set_uniform_field(1e3, -5e2, 2e2);
    parallel_mode::configure(true, 2, 1100, 550);
    const int n = 2 * 512 + 277;
    const auto x0 = [](int k) { return 0.006 + 1e-6 * (k % 37); };
    for (int k = 0; k < n; ++k)
        ps::add_record(ps::ions, {E, 0.0, x0(k), 0.03 + 1e-5 * (k % 53), 0.005, 1e4, -2e3, 0.0, 1 + k % 2},
                       1000u + static_cast<std::uint64_t>(k), 0);
    ion_mover::advance_ions(1e-10);
    ASSERT_EQ(ps::ions.count, n);  // none reached a wall
    std::string behind;
    for (int slot = 1; slot <= n; ++slot) {
        ASSERT_EQ(ps::ions.id[slot], 1000u + static_cast<std::uint64_t>(slot - 1));
        if (std::fabs(ps::ions.t[slot] - 1e-10) > 1e-24 || ps::ions.draws[slot] == 0 || ps::ions.x[slot] == x0(slot - 1))
            behind += " " + std::to_string(slot);
    }
    EXPECT_EQ(behind, "") << "ions not moved to the step's end, by slot";
}

TEST_F(IonMover, AFlightToTheStepEndIsUniformAccelerationWithOneDraw) {
    const double field[3] = {-2e3, 1e3, 3e2}, v0[3] = {1e4, -2e4, 5e3}, r0[3] = {0.006, 0.03, 0.005};
    set_uniform_field(field[0], field[1], field[2]);
    const double step = 1e-10;
    for (int species = 1; species <= 2; ++species) {
        ps::reset();
        ps::add_particle(ps::ions, E, 1e-9, r0[0], r0[1], r0[2], v0[0], v0[1], v0[2], species);
        seek_draw([](double r) { return r < 0.01; });  // a free time far beyond the step
        std::int32_t s1, s2;
        random_numbers::get_seed(s1, s2);
        ion_mover::advance_ions(1e-9 + step);
        EXPECT_EQ(draws_since(s1, s2), 1);
        const Particle p = stored_ion(1);
        const double r[3] = {p.x, p.y, p.z}, v[3] = {p.vx, p.vy, p.vz};
        for (int a = 0; a < 3; ++a) {
            const double dv = QM[species] * field[a] * step, shift = (v0[a] + 0.5 * dv) * step;
            EXPECT_NEAR(v[a], v0[a] + dv, 1e-9 * std::fabs(dv)) << species << a;
            EXPECT_NEAR(r[a], r0[a] + shift, 1e-9 * std::fabs(shift)) << species << a;
        }
        EXPECT_NEAR(p.t, 1e-9 + step, 1e-24);
    }
}

TEST_F(IonMover, AFreeTimeEndingExactlyAtTheStepEndIsACollision) {
    set_uniform_field(1e4, 0.0, 0.0);
    const double t_end = -portable_math::log(seek_draw([](double) { return true; })) * species::BUILT_IN_TAU_NE_ION;
    ps::add_particle(ps::ions, E, 0.0, 0.006, 0.03, 0.005, 0.0, 0.0, 0.0, 1);
    ion_mover::advance_ions(t_end);
    const Particle p = stored_ion(1);
    EXPECT_EQ(p.t, t_end);
    EXPECT_EQ(p.vx, 0.0);  // charge exchange leaves the ion at rest
    EXPECT_GT(p.x, 0.006);
}

// Charge exchange hands the charge to a slow atom: the ion that flies on
// starts at rest in all three components. In a field-free gas an ion then
// stays where its first, free flight ended.
TEST_F(IonMover, ChargeExchangeLeavesTheIonAtRestInEveryComponent) {
    set_uniform_field(0.0, 0.0, 0.0);
    const double t_end = 1e-10;
    for (int species = 1; species <= 2; ++species) {
        // A first free time well inside the step, a second one beyond its end.
        double tau1 = 0.0;
        for (;;) {
            std::int32_t s1, s2;
            random_numbers::get_seed(s1, s2);
            tau1 = -portable_math::log(random_numbers::draw_uniform()) * TAU[species];
            const double tau2 = -portable_math::log(random_numbers::draw_uniform()) * TAU[species];
            random_numbers::set_seed(s1, s2);
            if (tau1 < 0.5 * t_end && tau2 > t_end) break;
            random_numbers::draw_uniform();
        }
        ps::reset();
        const double v0[3] = {3e4, -2e4, 5e4};
        ps::add_particle(ps::ions, E, 0.0, 0.006, 0.03, 0.005, v0[0], v0[1], v0[2], species);
        ion_mover::advance_ions(t_end);
        const Particle p = stored_ion(1);
        EXPECT_EQ(p.vx, 0.0) << species;
        EXPECT_EQ(p.vy, 0.0) << species;
        EXPECT_EQ(p.vz, 0.0) << species;
        EXPECT_NEAR(p.x, 0.006 + v0[0] * tau1, 1e-15) << species;
        EXPECT_NEAR(p.z, 0.005 + v0[2] * tau1, 1e-15) << species;
        EXPECT_EQ(p.t, t_end);
    }
}

TEST_F(IonMover, DriftVelocityIsTheMobilityTimesTheField) {
    // An ion that stops at every charge exchange drifts on average at
    // (e/M)·E·tau once it has forgotten its start from rest:
    // <x(T)> = (e/M)·E·tau·(T - tau·(1 - exp(-T/tau))).
    const double field = 1e3;  // V/cm
    set_uniform_field(field, 0.0, 0.0);
    const int per_species = 3000;
    for (int n = 0; n < per_species; ++n)
        for (int species = 1; species <= 2; ++species)
            ps::add_particle(ps::ions, E, 0.0, 0.006, 0.03, 0.005, 0.0, 0.0, 0.0, species);
    const int steps = 100;
    for (int s = 1; s <= steps; ++s) ion_mover::advance_ions(s * 1e-10);
    ASSERT_EQ(ps::ions.count, 2 * per_species);

    double shift[3] = {0.0, 0.0, 0.0};
    for (int slot = 1; slot <= ps::ions.count; ++slot) shift[ps::ions.species[slot]] += ps::ions.x[slot] - 0.006;
    const double T = steps * 1e-10;
    for (int s = 1; s <= 2; ++s) {
        const double expected = QM[s] * field * TAU[s] * (T - TAU[s] * (1.0 - std::exp(-T / TAU[s])));
        EXPECT_NEAR(shift[s] / per_species / expected, 1.0, 0.04) << s;
    }
}

TEST_F(IonMover, MirrorsReflectAtTheSymmetryPlanesAndStopWhenStillOutside) {
    Particle p{E, 0.0, 0.006, ylow, zlow, 0.0, -5.0, -7.0, 1};
    ion_mover::mirror_ion_y(p);  // on ylow: inside, untouched
    EXPECT_EQ(p.vy, -5.0);
    ion_mover::mirror_ion_zlow(p);  // on zlow: reflected
    EXPECT_EQ(p.z, zlow);
    EXPECT_EQ(p.vz, 7.0);
    p.y = yhigh + 2e-4;
    ion_mover::mirror_ion_y(p);
    EXPECT_DOUBLE_EQ(p.y, yhigh - 2e-4);
    EXPECT_EQ(p.vy, 5.0);

    for (int species = 1; species <= 2; ++species) {
        p.species = species;
        p.y = ylow - 1.5 * (yhigh - ylow);
        testing::internal::CaptureStdout();
        EXPECT_THROW(ion_mover::mirror_ion_y(p), pdp::FatalError);
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  std::string("ion outside of region\n") + (species == 2 ? "Xe" : "Ne") + " ion outside of region\n");
    }
    p.z = zlow - (zhigh - zlow) - 1e-4;
    testing::internal::CaptureStdout();
    EXPECT_THROW(ion_mover::mirror_ion_zlow(p), pdp::FatalError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "electron outside of z region\n");
}

TEST_F(IonMover, WallsAreTestedRibFirstAndAHitOnThePlaneCounts) {
    const double q = E * inv_cell_volume;  // Xe+ never emits at the rear or rib wall
    // Across both zhigh and xlow in one flight: the rib, at the clamped column.
    ps::add_particle(ps::ions, E, 0.0, xlow + 1e-5, 0.0301, zhigh - 1e-5, -1e6, 0.0, 1e6, 2);
    // At rest exactly on a wall plane.
    ps::add_particle(ps::ions, E, 0.0, xhigh, 0.0301, 0.0055, 0.0, 0.0, 0.0, 2);
    ps::add_particle(ps::ions, E, 0.0, 0.006, 0.0301, zhigh, 0.0, 0.0, 0.0, 2);
    seek_draw([](double r) { return r < 0.01; });
    ion_mover::advance_ions(1e-10);
    EXPECT_EQ(ps::ions.count, 0);
    EXPECT_EQ(ps::electrons.count, 0);
    EXPECT_EQ(wall_charge_z[padded(ilo, 60, khi + 1)], q);
    EXPECT_EQ(wall_charge_z[padded(30, 60, khi + 1)], q);
    EXPECT_EQ(wall_charge_x[padded(ihi + 1, 60, 5)], q);
    EXPECT_EQ(sum(wall_charge_x, PADDED_COUNT) + sum(wall_charge_z, PADDED_COUNT), 3 * q);
}

TEST_F(IonMover, AbsorptionWithEmissionConservesCharge) {
    // Ne+ driven into the front wall, where 64 % of them release an electron.
    set_uniform_field(-3e4, 0.0, 0.0);
    const int n = 4000;
    for (int m = 0; m < n; ++m)
        ps::add_particle(ps::ions, E, 0.0, xlow + 1e-4 * (1 + m % 10), 0.001 + 0.067 * (m + 0.5) / n,
                         0.0021 + 0.0078 * (m % 37) / 37.0, 0.0, 0.0, 0.0, 1);
    auto total_charge = [] {
        return (sum(wall_charge_x, PADDED_COUNT) + sum(wall_charge_z, PADDED_COUNT)) * dx * dy * dz +
               sum(ps::ions.w + 1, ps::ions.count) + sum(ps::electrons.w + 1, ps::electrons.count);
    };
    const double before = total_charge();
    for (int step = 1; step <= 100; ++step) ion_mover::advance_ions(step * 1e-10);
    EXPECT_EQ(ps::ions.count, 0);
    EXPECT_NEAR(total_charge(), before, 1e-12 * n * E);
    EXPECT_NEAR(static_cast<double>(ps::electrons.count) / n, 0.64, 0.04);
    EXPECT_EQ(ps::electrons.x[1], xlow + surface::EMISSION_OFFSET * dx);
}

TEST_F(IonMover, AnIonOfUnknownSpeciesIsAFatalError) {
    ps::add_particle(ps::ions, E, 0.0, 0.006, 0.03, 0.005, 0.0, 0.0, 0.0, 3);
    testing::internal::CaptureStdout();
    EXPECT_THROW(ion_mover::advance_ions(1e-10), pdp::FatalError);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("ERROR: ion of unknown species 3"), std::string::npos);
}

// NaN would otherwise flow into the field lookup and past every wall test.
TEST_F(IonMover, AnIonWithANonFiniteStateStopsTheRunWithItsValues) {
    const double nan = std::nan(""), inf = std::numeric_limits<double>::infinity();
    const double states[][6] = {{nan, 0.03, 0.005, 0, 0, 0}, {0.006, 0.03, 0.005, 0, -inf, 0},
                                {0.006, 0.03, inf, 0, 0, 0}};
    for (const auto& s : states) {
        ps::reset();
        ps::add_particle(ps::ions, E, 0.0, s[0], s[1], s[2], s[3], s[4], s[5], 2);
        testing::internal::CaptureStdout();
        EXPECT_THROW(ion_mover::advance_ions(1e-10), pdp::FatalError);
        const std::string out = testing::internal::GetCapturedStdout();
        EXPECT_EQ(out.rfind("ERROR: an ion cannot be moved: a coordinate or velocity is not finite\n", 0), 0u) << out;
        EXPECT_NE(out.find(std::isnan(s[0]) ? "NAN" : "INF"), std::string::npos) << out;
        EXPECT_NE(out.find("species 2"), std::string::npos) << out;
    }
}

// A field linear in space is reproduced exactly wherever no axis is
// clamped, which pins each component's staggering; outside the gas box each
// clamped axis takes its boundary sample.
double linear(double x, double y, double z) { return 100.0 + 3e5 * x - 2e5 * y + 7e4 * z; }

TEST_F(IonMover, FieldInterpolationIsTrilinearOnTheStaggeredSamples) {
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j)
            for (int i = 1; i <= NX; ++i) {
                ex[node(i, j, k)] = linear(i * dx, (j + 0.5) * dy, (k + 0.5) * dz);
                ey[node(i, j, k)] = 2.0 * linear((i + 0.5) * dx, j * dy, (k + 0.5) * dz);
                ez[node(i, j, k)] = 3.0 * linear((i + 0.5) * dx, (j + 0.5) * dy, k * dz);
            }
    auto expect_field = [](double x, double y, double z, double fx, double fy, double fz) {
        double Ex, Ey, Ez;
        ion_mover::interpolate_ion_field(x, y, z, Ex, Ey, Ez);
        EXPECT_NEAR(Ex, fx, 1e-12 * std::fabs(fx)) << x << ' ' << y << ' ' << z;
        EXPECT_NEAR(Ey, fy, 1e-12 * std::fabs(fy)) << x << ' ' << y << ' ' << z;
        EXPECT_NEAR(Ez, fz, 1e-12 * std::fabs(fz)) << x << ' ' << y << ' ' << z;
    };
    for (const auto& r : {std::array{0.00612, 0.03177, 0.00533}, std::array{0.0035, 0.0021, 0.0027},
                          std::array{0.0104, 0.0671, 0.0093}}) {
        const double f = linear(r[0], r[1], r[2]);
        expect_field(r[0], r[1], r[2], f, 2.0 * f, 3.0 * f);
    }
    // Below xlow Ex takes the wall face i = ilo, Ey and Ez the first gas node.
    const double node_x = (ilo + 0.5) * dx;
    expect_field(xlow - 0.3 * dx, 0.03, 0.005, linear(xlow, 0.03, 0.005), 2.0 * linear(node_x, 0.03, 0.005),
                 3.0 * linear(node_x, 0.03, 0.005));
    // Beyond the last face index the clamp falls back to i = ihi.
    double Ex, Ey, Ez;
    ion_mover::interpolate_ion_field(xhigh + 0.5 * dx, 0.03, 0.005, Ex, Ey, Ez);
    EXPECT_NEAR(Ex, linear(ihi * dx, 0.03, 0.005), 1e-9);
}

}  // namespace
