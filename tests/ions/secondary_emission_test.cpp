#include "ions/surface_processes.hpp"

#include "common/fatal_error.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

using namespace mesh;
using PARTICLE_STORAGE::Particle;
namespace ps = PARTICLE_STORAGE;

namespace {

constexpr double E = ELECTRON_CHARGE;

using EmitFunction = void (*)(const Particle&, double, const surface::WallCell&);

struct WallCase {
    surface::Wall wall;
    EmitFunction emit;
    double gamma[2];  // yield of Ne+, Xe+
    const char* name;
};

const WallCase WALLS[] = {
    {surface::Wall::front, surface::emit_secondary_front, {0.64, 0.001}, "front"},
    {surface::Wall::rear, surface::emit_secondary_rear, {0.32, 0.0}, "rear"},
    {surface::Wall::rib, surface::emit_secondary_rib, {0.32, 0.0}, "rib"},
};

double* wall_array(surface::Wall wall) { return wall == surface::Wall::rib ? wall_charge_z : wall_charge_x; }

class SecondaryEmission : public ::testing::Test {
protected:
    void SetUp() override {
        mesh::reset();
        ps::reset();
        random_numbers::set_seed(1100, 550);
        ilo = 15, ihi = 53, jlo = 2, jhi = 136, klo = 2, khi = 9;
        xlow = ilo * dx, xhigh = (ihi + 1) * dx;
        ylow = jlo * dy, yhigh = (jhi + 1) * dy;
        zlow = klo * dz, zhigh = (khi + 1) * dz;
    }
    // An ion that has just reached the wall, at the end of a 4e-11 s flight.
    Particle ion_at(surface::Wall wall, int species) const {
        switch (wall) {
            case surface::Wall::front: return {E, 7e-10, xlow - 1e-6, 0.0312, 0.0047, -1e4, 2e3, 0.0, species};
            case surface::Wall::rear: return {E, 7e-10, xhigh + 1e-6, 0.0312, 0.0047, 1e4, 2e3, 0.0, species};
            case surface::Wall::rib: break;
        }
        return {E, 7e-10, 0.0061, 0.0312, zhigh + 1e-6, 0.0, 2e3, 1e4, species};
    }
};

// Each absorption takes exactly one draw and emits exactly when that draw is
// below the yield of the wall for the species; Xe+ never emits at the rear
// wall or the rib.
TEST_F(SecondaryEmission, OneDrawPerIonAndEmissionExactlyBelowTheYield) {
    for (const WallCase& w : WALLS)
        for (int species = 1; species <= 2; ++species) {
            const Particle ion = ion_at(w.wall, species);
            const surface::WallCell cell = surface::wall_cell(w.wall, ion.x, ion.y, ion.z);
            int emitted = 0;
            for (int n = 0; n < 400; ++n) {
                std::int32_t s1, s2, a1, a2;
                random_numbers::get_seed(s1, s2);
                const double r = random_numbers::draw_uniform();
                random_numbers::get_seed(a1, a2);
                random_numbers::set_seed(s1, s2);
                const int before = ps::electrons.count;

                w.emit(ion, 4e-11, cell);

                std::int32_t e1, e2;
                random_numbers::get_seed(e1, e2);
                ASSERT_EQ(e1, a1);
                ASSERT_EQ(e2, a2);
                const bool expected = r < w.gamma[species - 1];
                ASSERT_EQ(ps::electrons.count - before, expected ? 1 : 0) << w.name << " species " << species;
                emitted += expected;
            }
            if (w.gamma[species - 1] == 0.0) {
                EXPECT_EQ(emitted, 0) << w.name;
            } else if (w.gamma[species - 1] > 0.3) {
                EXPECT_GT(emitted, 0) << w.name;
            }
        }
}

TEST_F(SecondaryEmission, TheElectronStartsAtRestJustInsideTheGasAndTheWallGainsASecondCharge) {
    for (const WallCase& w : WALLS) {
        ps::reset();
        const Particle ion = ion_at(w.wall, 1);
        const surface::WallCell cell = surface::wall_cell(w.wall, ion.x, ion.y, ion.z);
        double* charge = wall_array(w.wall);
        const double cell_before = charge[padded(cell.i, cell.j, cell.k)];
        // Find a draw that emits.
        std::int32_t s1, s2;
        for (;;) {
            random_numbers::get_seed(s1, s2);
            if (random_numbers::draw_uniform() < 0.32) break;
        }
        random_numbers::set_seed(s1, s2);

        w.emit(ion, 4e-11, cell);

        ASSERT_EQ(ps::electrons.count, 1) << w.name;
        Particle e{};
        ASSERT_TRUE(ps::get_current(ps::electrons, e));
        EXPECT_EQ(e.w, -E);
        EXPECT_EQ(e.t, 7e-10 - 1e-9 * 4e-11);
        EXPECT_LT(e.t, ion.t);
        EXPECT_EQ(e.vx, 0.0);
        EXPECT_EQ(e.vy, 0.0);
        EXPECT_EQ(e.vz, 0.0);
        EXPECT_EQ(e.species, 0);
        EXPECT_EQ(e.y, ion.y);
        switch (w.wall) {
            case surface::Wall::front:
                EXPECT_EQ(e.x, xlow + 1e-9 * dx);
                EXPECT_GT(e.x, xlow);
                EXPECT_EQ(e.z, ion.z);
                break;
            case surface::Wall::rear:
                EXPECT_EQ(e.x, xhigh - 1e-9 * dx);
                EXPECT_LT(e.x, xhigh);
                EXPECT_EQ(e.z, ion.z);
                break;
            case surface::Wall::rib:
                EXPECT_EQ(e.z, zhigh - 1e-9 * dz);
                EXPECT_LT(e.z, zhigh);
                EXPECT_EQ(e.x, ion.x);
                break;
        }
        EXPECT_EQ(charge[padded(cell.i, cell.j, cell.k)] - cell_before, E * inv_cell_volume) << w.name;
    }
    // Only the two arrays of the hit walls took charge.
    double y_total = 0.0;
    for (int n = 0; n < PADDED_COUNT; ++n) y_total += wall_charge_y[n];
    EXPECT_EQ(y_total, 0.0);
}

TEST_F(SecondaryEmission, AFullElectronStoreStopsTheRun) {
    for (int n = 1; n < ps::ELECTRON_CAPACITY; ++n)  // the last free slot taken
        ps::add_particle(ps::electrons, -E, 0.0, 0.005, 0.03, 0.005, 0.0, 0.0, 0.0, 0);
    const Particle ion = ion_at(surface::Wall::front, 1);
    const surface::WallCell cell = surface::wall_cell(surface::Wall::front, ion.x, ion.y, ion.z);
    std::int32_t s1, s2;
    for (;;) {
        random_numbers::get_seed(s1, s2);
        if (random_numbers::draw_uniform() < 0.64) break;
    }
    random_numbers::set_seed(s1, s2);
    testing::internal::CaptureStdout();
    EXPECT_THROW(surface::emit_secondary_front(ion, 4e-11, cell), pdp::FatalError);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              "ERROR: There is not enough space in PARTICLE_STORAGE. Terminating\n");
}

TEST_F(SecondaryEmission, AnUnknownSpeciesIsAFatalError) {
    const Particle ion = ion_at(surface::Wall::rear, 5);
    const surface::WallCell cell = surface::wall_cell(surface::Wall::rear, ion.x, ion.y, ion.z);
    testing::internal::CaptureStdout();
    EXPECT_THROW(surface::emit_secondary_rear(ion, 4e-11, cell), pdp::FatalError);
    EXPECT_NE(testing::internal::GetCapturedStdout().find("unknown species 5"), std::string::npos);
}

}  // namespace
