#include "ions/ion_mover.hpp"

#include "common/fatal_error.hpp"
#include "ions/surface_processes.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <string>

using namespace mesh;
using PARTICLE_STORAGE::Particle;
namespace ps = PARTICLE_STORAGE;

namespace {

constexpr double E = ELECTRON_CHARGE;

// The gas box of the built-in cell, without building the whole geometry.
void set_gas_box() {
    ilo = 15, ihi = 53, jlo = 2, jhi = 136, klo = 2, khi = 9;
    xlow = ilo * dx, xhigh = (ihi + 1) * dx;
    ylow = jlo * dy, yhigh = (jhi + 1) * dy;
    zlow = klo * dz, zhigh = (khi + 1) * dz;
}

void set_uniform_field(double fx, double fy, double fz) {
    std::fill(ex, ex + NODE_COUNT, fx);
    std::fill(ey, ey + NODE_COUNT, fy);
    std::fill(ez, ez + NODE_COUNT, fz);
}

struct Seed {
    std::int32_t s1, s2;
    bool operator==(const Seed&) const = default;
};
Seed seed() {
    Seed s{};
    random_numbers::get_seed(s.s1, s.s2);
    return s;
}
Seed seed_after_draws(int n) {
    const Seed start = seed();
    for (int d = 0; d < n; ++d) random_numbers::draw_uniform();
    const Seed after = seed();
    random_numbers::set_seed(start.s1, start.s2);
    return after;
}

// Moves the generator on until its next draw satisfies `wanted`; returns it.
template <class Wanted>
double seek_draw(Wanted wanted) {
    for (;;) {
        const Seed s = seed();
        const double r = random_numbers::draw_uniform();
        if (wanted(r)) {
            random_numbers::set_seed(s.s1, s.s2);
            return r;
        }
    }
}

Particle ion_at(int slot) {
    Particle p{};
    ps::ions.cursor = slot;
    EXPECT_TRUE(ps::get_current(ps::ions, p));
    ps::rewind(ps::ions);
    return p;
}

double total_wall_charge(const double* wall) {
    double sum = 0.0;
    for (int n = 0; n < PADDED_COUNT; ++n) sum += wall[n];
    return sum;
}

class IonMover : public ::testing::Test {
protected:
    void SetUp() override {
        mesh::reset();
        ps::reset();
        random_numbers::reset();
        random_numbers::set_seed(1100, 550);
        set_gas_box();
    }
};

TEST_F(IonMover, IonsAtOrBeyondTheStepEndAreLeftAsTheyAreWithoutADraw) {
    set_uniform_field(5e4, 5e4, 5e4);
    ps::add_particle(ps::ions, E, 2e-10, 0.005, 0.02, 0.005, 10.0, 20.0, 30.0, 1);
    ps::add_particle(ps::ions, E, 3e-10, 0.006, 0.03, 0.004, -1.0, -2.0, -3.0, 2);
    const Seed before = seed();

    ion_mover::advance_ions(2e-10);

    EXPECT_EQ(seed(), before);
    ASSERT_EQ(ps::ions.count, 2);
    EXPECT_EQ(ps::ions.cursor, 1);
    const Particle a = ion_at(1), b = ion_at(2);
    EXPECT_EQ(a.t, 2e-10);
    EXPECT_EQ(a.x, 0.005);
    EXPECT_EQ(a.vz, 30.0);
    EXPECT_EQ(b.t, 3e-10);
    EXPECT_EQ(b.vx, -1.0);
}

TEST_F(IonMover, FreeFlightToTheStepEndIsUniformAcceleration) {
    // Both species over one whole step, each with a draw long enough that
    // the flight is not cut by charge exchange.
    const double field[3] = {-2e3, 1e3, 3e2};  // V/cm
    set_uniform_field(field[0], field[1], field[2]);
    const double qm[3] = {0.0, ion_mover::QM_NE_ION, ion_mover::QM_XE_ION};
    const double step = 1e-10;  // s
    for (int species = 1; species <= 2; ++species) {
        ps::reset();
        const double v0[3] = {1e4, -2e4, 5e3};
        const double r0[3] = {0.006, 0.03, 0.005};
        ps::add_particle(ps::ions, E, 1e-9, r0[0], r0[1], r0[2], v0[0], v0[1], v0[2], species);
        seek_draw([](double r) { return r < 0.01; });
        const Seed one_draw = seed_after_draws(1);

        ion_mover::advance_ions(1e-9 + step);

        EXPECT_EQ(seed(), one_draw);
        const Particle p = ion_at(1);
        const double r[3] = {p.x, p.y, p.z}, v[3] = {p.vx, p.vy, p.vz};
        for (int a = 0; a < 3; ++a) {
            const double accel = qm[species] * field[a];
            EXPECT_NEAR(v[a], v0[a] + accel * step, 1e-9 * std::fabs(accel * step)) << species << a;
            const double shift = v0[a] * step + 0.5 * accel * step * step;
            EXPECT_NEAR(r[a], r0[a] + shift, 1e-9 * std::fabs(shift)) << species << a;
        }
        EXPECT_NEAR(p.t, 1e-9 + step, 1e-24);
        EXPECT_EQ(p.species, species);
        EXPECT_EQ(p.w, E);
    }
}

TEST_F(IonMover, ChargeExchangeLeavesTheIonAtRest) {
    // No field: after its last collision the ion cannot pick up speed again.
    ps::add_particle(ps::ions, E, 0.0, 0.006, 0.03, 0.005, 3e4, -3e4, 1e4, 2);
    const double step = 2e-8;  // some twenty mean free times of Xe+
    ion_mover::advance_ions(step);

    const Particle p = ion_at(1);
    EXPECT_EQ(p.vx, 0.0);
    EXPECT_EQ(p.vy, 0.0);
    EXPECT_EQ(p.vz, 0.0);
    EXPECT_NEAR(p.t, step, 1e-22);
    // It travelled for less than the step before stopping.
    EXPECT_GT(p.x, 0.006);
    EXPECT_LT(p.x, 0.006 + 3e4 * step);
    EXPECT_NEAR((p.x - 0.006) / 3e4, (0.03 - p.y) / 3e4, 1e-15);
}

TEST_F(IonMover, AFreeTimeEndingExactlyAtTheStepEndIsACollision) {
    set_uniform_field(1e4, 0.0, 0.0);
    const double r = seek_draw([](double) { return true; });
    const double t_end = -std::log(r) * ion_mover::TAU_NE_ION;  // the flight ends exactly here
    ps::add_particle(ps::ions, E, 0.0, 0.006, 0.03, 0.005, 0.0, 0.0, 0.0, 1);
    const Seed one_draw = seed_after_draws(1);

    ion_mover::advance_ions(t_end);

    EXPECT_EQ(seed(), one_draw);
    const Particle p = ion_at(1);
    EXPECT_EQ(p.t, t_end);
    EXPECT_EQ(p.vx, 0.0);
    EXPECT_GT(p.x, 0.006);  // it did fly, in the field, before stopping
}

TEST_F(IonMover, DriftVelocityIsTheMobilityTimesTheField) {
    // A slow ion that stops at every charge exchange drifts, on average, at
    // (e/M)·E·tau once it has forgotten its start from rest:
    // <x(T)> = (e/M)·E·tau·(T - tau·(1 - exp(-T/tau))).
    const double field = 1e3;  // V/cm
    set_uniform_field(field, 0.0, 0.0);
    const int ions_per_species = 3000;
    for (int n = 0; n < ions_per_species; ++n) {
        ps::add_particle(ps::ions, E, 0.0, 0.006, 0.03, 0.005, 0.0, 0.0, 0.0, 1);
        ps::add_particle(ps::ions, E, 0.0, 0.006, 0.03, 0.005, 0.0, 0.0, 0.0, 2);
    }
    const double dt = 1e-10;
    const int steps = 100;
    for (int s = 1; s <= steps; ++s) ion_mover::advance_ions(s * dt);
    ASSERT_EQ(ps::ions.count, 2 * ions_per_species);

    double shift[3] = {0.0, 0.0, 0.0};
    Particle p{};
    while (ps::get_current(ps::ions, p)) {
        shift[p.species] += p.x - 0.006;
        ps::advance(ps::ions);
    }
    ps::rewind(ps::ions);
    const double T = steps * dt;
    const double qm[3] = {0.0, ion_mover::QM_NE_ION, ion_mover::QM_XE_ION};
    const double tau[3] = {0.0, ion_mover::TAU_NE_ION, ion_mover::TAU_XE_ION};
    for (int species = 1; species <= 2; ++species) {
        const double expected = qm[species] * field * tau[species] *
                                (T - tau[species] * (1.0 - std::exp(-T / tau[species])));
        EXPECT_NEAR(shift[species] / ions_per_species / expected, 1.0, 0.04) << species;
    }
}

TEST_F(IonMover, MirrorInYReflectsOnlyStrictlyOutsideAndStopsWhenStillOutside) {
    Particle p{E, 0.0, 0.006, ylow, 0.005, 0.0, -5.0, 0.0, 1};
    ion_mover::mirror_ion_y(p);
    EXPECT_EQ(p.y, ylow);
    EXPECT_EQ(p.vy, -5.0);

    p.y = ylow - 1e-4;
    ion_mover::mirror_ion_y(p);
    EXPECT_DOUBLE_EQ(p.y, ylow + 1e-4);
    EXPECT_EQ(p.vy, 5.0);

    p.y = yhigh + 2e-4;
    ion_mover::mirror_ion_y(p);
    EXPECT_DOUBLE_EQ(p.y, yhigh - 2e-4);
    EXPECT_EQ(p.vy, -5.0);

    for (int species = 1; species <= 2; ++species) {
        p.species = species;
        p.y = yhigh + (yhigh - ylow) * 1.5;
        testing::internal::CaptureStdout();
        EXPECT_THROW(ion_mover::mirror_ion_y(p), pdp::FatalError);
        const std::string species_line = species == 2 ? "Xe" : "Ne";
        EXPECT_EQ(testing::internal::GetCapturedStdout(),
                  "ion outside of region\n" + species_line + " ion outside of region\n");
    }
}

TEST_F(IonMover, MirrorAtZlowIncludesThePlaneAndStopsWhenStillOutside) {
    Particle p{E, 0.0, 0.006, 0.03, zlow, 0.0, 0.0, -7.0, 1};
    ion_mover::mirror_ion_zlow(p);
    EXPECT_EQ(p.z, zlow);
    EXPECT_EQ(p.vz, 7.0);

    p.z = zlow + 1e-5;
    ion_mover::mirror_ion_zlow(p);
    EXPECT_EQ(p.z, zlow + 1e-5);
    EXPECT_EQ(p.vz, 7.0);

    p.z = zlow - (zhigh - zlow) - 1e-4;
    testing::internal::CaptureStdout();
    EXPECT_THROW(ion_mover::mirror_ion_zlow(p), pdp::FatalError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "electron outside of z region\n");
}

TEST_F(IonMover, AFlightAcrossYlowEndsMirrored) {
    ps::add_particle(ps::ions, E, 0.0, 0.006, ylow + 1e-4, 0.005, 0.0, -3e6, 0.0, 1);
    seek_draw([](double r) { return r < 0.01; });
    ion_mover::advance_ions(1e-10);  // moves 3e-4 cm towards -y
    const Particle p = ion_at(1);
    EXPECT_NEAR(p.y, ylow + 2e-4, 1e-15);
    EXPECT_EQ(p.vy, 3e6);
}

TEST_F(IonMover, WallsAreTestedRibFirstThenFrontThenRear) {
    // Xe+ never emits at the rear or rib wall, so each wall cell gets exactly
    // one ion charge.
    const double q = E * inv_cell_volume;
    // Across both zhigh and xlow in one flight: the rib takes it, at the
    // clamped column i = ilo.
    ps::add_particle(ps::ions, E, 0.0, xlow + 1e-5, 0.0301, zhigh - 1e-5, -1e6, 0.0, 1e6, 2);
    seek_draw([](double r) { return r < 0.01; });
    ion_mover::advance_ions(1e-10);
    EXPECT_EQ(ps::ions.count, 0);
    EXPECT_EQ(wall_charge_z[padded(ilo, 60, khi + 1)], q);
    EXPECT_EQ(total_wall_charge(wall_charge_z), q);
    EXPECT_EQ(total_wall_charge(wall_charge_x), 0.0);

    // At rest exactly on a wall plane is a hit.
    std::fill(wall_charge_z, wall_charge_z + PADDED_COUNT, 0.0);
    ps::add_particle(ps::ions, E, 0.0, xhigh, 0.0301, 0.0055, 0.0, 0.0, 0.0, 2);
    ps::add_particle(ps::ions, E, 0.0, 0.006, 0.0301, zhigh, 0.0, 0.0, 0.0, 2);
    ion_mover::advance_ions(1e-10);
    EXPECT_EQ(ps::ions.count, 0);
    EXPECT_EQ(ps::electrons.count, 0);
    EXPECT_EQ(wall_charge_x[padded(ihi + 1, 60, 5)], q);
    EXPECT_EQ(wall_charge_z[padded(30, 60, khi + 1)], q);

    // The front wall, with its emission: one or two charges, one per electron.
    ps::add_particle(ps::ions, E, 0.0, xlow, 0.0301, 0.0055, 0.0, 0.0, 0.0, 1);
    ion_mover::advance_ions(1e-10);
    EXPECT_EQ(ps::ions.count, 0);
    EXPECT_EQ(wall_charge_x[padded(ilo, 60, 5)], q * (1 + ps::electrons.count));
}

TEST_F(IonMover, AbsorptionWithEmissionConservesCharge) {
    // Ne+ pushed into the front wall; the count of emitted electrons follows
    // the front-wall yield of 0.64.
    set_uniform_field(-3e4, 0.0, 0.0);
    const int n = 4000;
    for (int m = 0; m < n; ++m)
        ps::add_particle(ps::ions, E, 0.0, xlow + 1e-4 * (1 + m % 10), 0.001 + 0.067 * (m + 0.5) / n,
                         0.0021 + 0.0078 * (m % 37) / 37.0, 0.0, 0.0, 0.0, 1);
    const double cell_volume = dx * dy * dz;
    auto total_charge = [&] {
        double q = total_wall_charge(wall_charge_x) * cell_volume + total_wall_charge(wall_charge_z) * cell_volume;
        for (ps::Store* s : {&ps::ions, &ps::electrons})
            for (int slot = 1; slot <= s->count; ++slot) q += s->w[slot];
        return q;
    };
    const double before = total_charge();
    for (int step = 1; step <= 100 && ps::ions.count > 0; ++step) ion_mover::advance_ions(step * 1e-10);

    EXPECT_EQ(ps::ions.count, 0);
    EXPECT_NEAR(total_charge(), before, 1e-12 * n * E);
    EXPECT_NEAR(static_cast<double>(ps::electrons.count) / n, 0.64, 0.04);
    Particle e{};
    ps::electrons.cursor = 1;
    ASSERT_TRUE(ps::get_current(ps::electrons, e));
    ps::rewind(ps::electrons);
    EXPECT_EQ(e.w, -E);
    EXPECT_EQ(e.x, xlow + surface::EMISSION_OFFSET * dx);
}

TEST_F(IonMover, AnIonOfUnknownSpeciesIsAFatalError) {
    ps::add_particle(ps::ions, E, 0.0, 0.006, 0.03, 0.005, 0.0, 0.0, 0.0, 3);
    testing::internal::CaptureStdout();
    EXPECT_THROW(ion_mover::advance_ions(1e-10), pdp::FatalError);
    const std::string out = testing::internal::GetCapturedStdout();
    EXPECT_NE(out.find("ERROR: ion of unknown species 3"), std::string::npos) << out;
}

// Field interpolation: a field that is linear in space is reproduced exactly
// wherever the box is not clamped, which pins each component's staggering.
// Agreement to rounding, relative to the size of the expected value.
#define EXPECT_CLOSE(value, expected) EXPECT_NEAR(value, expected, 1e-12 * std::fabs(expected))

double linear(double x, double y, double z) { return 100.0 + 3e5 * x - 2e5 * y + 7e4 * z; }

class IonField : public IonMover {
protected:
    void SetUp() override {
        IonMover::SetUp();
        for (int k = 1; k <= NZ; ++k)
            for (int j = 1; j <= NY; ++j)
                for (int i = 1; i <= NX; ++i) {
                    ex[node(i, j, k)] = linear(i * dx, (j + 0.5) * dy, (k + 0.5) * dz);
                    ey[node(i, j, k)] = 2.0 * linear((i + 0.5) * dx, j * dy, (k + 0.5) * dz);
                    ez[node(i, j, k)] = 3.0 * linear((i + 0.5) * dx, (j + 0.5) * dy, k * dz);
                }
    }
};

TEST_F(IonField, LinearFieldIsReproducedInsideTheGas) {
    const double points[][3] = {{0.00612, 0.03177, 0.00533}, {0.0035, 0.0021, 0.0027}, {0.0104, 0.0671, 0.0093}};
    for (const auto& r : points) {
        double Ex, Ey, Ez;
        ion_mover::interpolate_ion_field(r[0], r[1], r[2], Ex, Ey, Ez);
        const double f = linear(r[0], r[1], r[2]);
        EXPECT_CLOSE(Ex, f);
        EXPECT_CLOSE(Ey, 2.0 * f);
        EXPECT_CLOSE(Ez, 3.0 * f);
    }
}

TEST_F(IonField, OutsideTheBoxTheNearestBoundarySampleIsTaken) {
    double Ex, Ey, Ez;
    // Below xlow: Ex takes its sample on the front wall face, i = ilo.
    ion_mover::interpolate_ion_field(xlow - 0.3 * dx, 0.03, 0.005, Ex, Ey, Ez);
    EXPECT_CLOSE(Ex, linear(xlow, 0.03, 0.005));
    // Ey and Ez sit at node x positions: below the first gas node they take it.
    EXPECT_CLOSE(Ey, 2.0 * linear((ilo + 0.5) * dx, 0.03, 0.005));
    EXPECT_CLOSE(Ez, 3.0 * linear((ilo + 0.5) * dx, 0.03, 0.005));
    // Beyond the last face index the clamp falls back to i = ihi.
    ion_mover::interpolate_ion_field(xhigh + 0.5 * dx, 0.03, 0.005, Ex, Ey, Ez);
    EXPECT_CLOSE(Ex, linear(ihi * dx, 0.03, 0.005));
    // Below zlow in z.
    ion_mover::interpolate_ion_field(0.006, 0.03, zlow - 0.4 * dz, Ex, Ey, Ez);
    EXPECT_CLOSE(Ez, 3.0 * linear(0.006, 0.03, zlow));
    EXPECT_CLOSE(Ex, linear(0.006, 0.03, (klo + 0.5) * dz));
}

}  // namespace
