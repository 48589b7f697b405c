#include "ions/surface_processes.hpp"

#include "mesh/mesh_arrays.hpp"
#include "particles/random_numbers.hpp"
#include "particles/species.hpp"
#include "electrons/collision_frequencies.hpp"

#include <gtest/gtest.h>

#include <cstdint>

using namespace mesh;
using PARTICLE_STORAGE::Particle;
namespace ps = PARTICLE_STORAGE;

namespace {

constexpr double E = ELECTRON_CHARGE;

struct WallCase {
    surface::Wall wall;
    void (*emit)(const Particle&, double, const surface::WallCell&, pass_output::Context&);
    double gamma[2];  // yield of Ne+, Xe+
    Particle ion;     // just absorbed there, at the end of its flight
};

class SecondaryEmission : public ::testing::Test {
protected:
    WallCase walls[3];
    pass_output::Context exact_context = pass_output::exact();
    void SetUp() override {
        mesh::reset();
        ps::reset();
        random_numbers::set_seed(1100, 550);
        ilo = 15, ihi = 53, khi = 9;
        xlow = 0.003, xhigh = 0.0108, zhigh = 0.01;
        walls[0] = {surface::Wall::front, surface::emit_secondary_front, {0.64, 0.001},
                    {E, 7e-10, xlow - 1e-6, 0.0312, 0.0047, -1e4, 2e3, 0.0, 1}};
        walls[1] = {surface::Wall::rear, surface::emit_secondary_rear, {0.32, 0.0},
                    {E, 7e-10, xhigh + 1e-6, 0.0312, 0.0047, 1e4, 2e3, 0.0, 1}};
        walls[2] = {surface::Wall::rib, surface::emit_secondary_rib, {0.32, 0.0},
                    {E, 7e-10, 0.0061, 0.0312, zhigh + 1e-6, 0.0, 2e3, 1e4, 1}};
    }
};

// Each absorbed ion takes exactly one draw and emits exactly when that draw
// lies below the yield of its wall and species.
TEST_F(SecondaryEmission, OneDrawPerIonAndEmissionExactlyBelowTheYield) {
    for (WallCase& w : walls)
        for (int species = 1; species <= 2; ++species) {
            w.ion.species = species;
            const surface::WallCell cell = surface::wall_cell(w.wall, w.ion.x, w.ion.y, w.ion.z);
            int emitted = 0;
            for (int n = 0; n < 400; ++n) {
                std::int32_t s1, s2, a1, a2, e1, e2;
                random_numbers::get_seed(s1, s2);
                const bool expected = random_numbers::draw_uniform() < w.gamma[species - 1];
                random_numbers::get_seed(a1, a2);
                random_numbers::set_seed(s1, s2);
                const int before = ps::electrons.count;
                w.emit(w.ion, 4e-11, cell, exact_context);
                random_numbers::get_seed(e1, e2);
                ASSERT_TRUE(e1 == a1 && e2 == a2);
                ASSERT_EQ(ps::electrons.count - before, expected ? 1 : 0) << int(w.wall) << ' ' << species;
                emitted += expected;
            }
            // Xe+ never emits at the rear wall or the rib; Ne+ does everywhere.
            if (species == 1) {
                EXPECT_GT(emitted, 0) << int(w.wall);
            } else if (w.gamma[1] == 0.0) {
                EXPECT_EQ(emitted, 0) << int(w.wall);
            }
        }
}

TEST_F(SecondaryEmission, TheElectronStartsAtRestJustInsideTheGasAndTheWallGainsASecondCharge) {
    for (const WallCase& w : walls) {
        ps::reset();
        const surface::WallCell cell = surface::wall_cell(w.wall, w.ion.x, w.ion.y, w.ion.z);
        const double* charge = w.wall == surface::Wall::rib ? wall_charge_z : wall_charge_x;
        const double before = charge[padded(cell.i, cell.j, cell.k)];
        std::int32_t s1, s2;
        do random_numbers::get_seed(s1, s2);
        while (random_numbers::draw_uniform() >= 0.32);
        random_numbers::set_seed(s1, s2);

        w.emit(w.ion, 4e-11, cell, exact_context);

        ASSERT_EQ(ps::electrons.count, 1);
        Particle e{};
        ASSERT_TRUE(ps::get_current(ps::electrons, e));
        EXPECT_EQ(e.w, -E);
        EXPECT_EQ(e.t, 7e-10 - 1e-9 * 4e-11);
        EXPECT_TRUE(e.vx == 0.0 && e.vy == 0.0 && e.vz == 0.0);
        EXPECT_EQ(e.species, 0);
        EXPECT_EQ(e.y, w.ion.y);
        if (w.wall == surface::Wall::rib) {
            EXPECT_EQ(e.x, w.ion.x);
            EXPECT_EQ(e.z, zhigh - 1e-9 * dz);
        } else {
            EXPECT_EQ(e.x, w.wall == surface::Wall::front ? xlow + 1e-9 * dx : xhigh - 1e-9 * dx);
            EXPECT_EQ(e.z, w.ion.z);
        }
        EXPECT_EQ(charge[padded(cell.i, cell.j, cell.k)] - before, E * inv_cell_volume);
    }
}

// A case's own yields, one per wall and species, decide each emission, and
// its emission energy sends the electron into the gas along the wall's normal.
TEST_F(SecondaryEmission, TheCaseYieldsPerWallAndTheEmissionEnergyAreTaken) {
    species::Fill fill = species::BUILT_IN_FILL;
    const double yields[3][2] = {{0.1, 0.2}, {0.3, 0.4}, {0.5, 0.6}};
    for (int w = 0; w < 3; ++w)
        for (int s = 0; s < 2; ++s) fill.yield[w][s] = yields[w][s];
    fill.emission_energy = 4.0;
    species::set_fill(fill);
    const double speed = 2 * collision_frequencies::SPEED_PER_SQRT_EV;
    const double normal[3][2] = {{speed, 0.0}, {-speed, 0.0}, {0.0, -speed}};  // vx, vz
    for (int w = 0; w < 3; ++w)
        for (int species = 1; species <= 2; ++species) {
            walls[w].ion.species = species;
            const surface::WallCell cell = surface::wall_cell(walls[w].wall, walls[w].ion.x, walls[w].ion.y, walls[w].ion.z);
            for (int n = 0; n < 200; ++n) {
                ps::reset();
                std::int32_t s1, s2;
                random_numbers::get_seed(s1, s2);
                const bool expected = random_numbers::draw_uniform() < yields[w][species - 1];
                random_numbers::set_seed(s1, s2);
                walls[w].emit(walls[w].ion, 4e-11, cell, exact_context);
                ASSERT_EQ(ps::electrons.count, expected ? 1 : 0) << w << ' ' << species;
                Particle e{};
                if (!expected || !ps::get_current(ps::electrons, e)) continue;
                EXPECT_DOUBLE_EQ(e.vx, normal[w][0]);
                EXPECT_EQ(e.vy, 0.0);
                EXPECT_DOUBLE_EQ(e.vz, normal[w][1]);
            }
        }
    species::reset();
}

}  // namespace
