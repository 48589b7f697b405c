// The fluid's exchanges with the run keep the books: records taken over and
// given back, ions born, wall charge, mesh densities and collision counts.
#include "electrons/fluid_coupling.hpp"
#include "electrons/electron_fluid.hpp"
#include "electrons/electron_transport_tables.hpp"
#include "mesh/mesh_arrays.hpp"
#include "output/density_accumulation.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/particle_storage.hpp"
#include "particles/pass_output.hpp"
#include "particles/random_numbers.hpp"
#include "particles/species.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

using PARTICLE_STORAGE::Particle;
constexpr double E = mesh::ELECTRON_CHARGE;
constexpr double VOLUME = mesh::dx * mesh::dy * mesh::dz;

class FluidCoupling : public ::testing::Test {
protected:
    void SetUp() override {
        species::reset();
        mesh::reset();
        PARTICLE_STORAGE::reset();
        parallel_mode::reset();
        pass_output::reset();
        fluid_coupling::reset();
        mesh::ilo = 1, mesh::ihi = 6, mesh::jlo = 1, mesh::jhi = 5, mesh::klo = 1, mesh::khi = 4;
        mesh::xlow = mesh::ilo * mesh::dx, mesh::xhigh = (mesh::ihi + 1) * mesh::dx;
        mesh::ylow = mesh::jlo * mesh::dy, mesh::yhigh = (mesh::jhi + 1) * mesh::dy;
        mesh::zlow = mesh::klo * mesh::dz, mesh::zhigh = (mesh::khi + 1) * mesh::dz;
        electron_fluid::reset();
        random_numbers::set_seed(1100, 550);
    }
    void TearDown() override {
        PARTICLE_STORAGE::reset();
        parallel_mode::reset();
        electron_fluid::reset();
        fluid_coupling::reset();
        pass_output::reset();
        mesh::reset();
    }
    static std::vector<Particle> electrons() {
        std::vector<Particle> out;
        Particle p{};
        for (PARTICLE_STORAGE::rewind(PARTICLE_STORAGE::electrons);
             PARTICLE_STORAGE::get_current(PARTICLE_STORAGE::electrons, p); PARTICLE_STORAGE::advance(PARTICLE_STORAGE::electrons))
            if (p.w != 0.0) out.push_back(p);
        return out;
    }
};

// Records become fluid with their electrons and energy, and the mesh densities
// then show the same charge and mean energy the records showed.
TEST_F(FluidCoupling, RecordsBecomeFluidAndTheMeshShowsTheSameElectrons) {
    // Three records of 1, 5 and 2.5 electrons at 1, 4 and 9 eV, off the nodes.
    const double speed_per_sqrt_ev = 1.0 / std::sqrt(densities::ENERGY_PER_SPEED2);
    const double weights[3] = {1.0, 5.0, 2.5}, energies[3] = {1.0, 4.0, 9.0};
    const double xs[3] = {2.3 * mesh::dx, 4.9 * mesh::dx, 6.5 * mesh::dx};
    for (int r = 0; r < 3; ++r)
        PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::electrons, -E * weights[r], 0.0, xs[r], 3.2 * mesh::dy,
                                       (2.7 + r * 0.6) * mesh::dz, 0.0, speed_per_sqrt_ev * std::sqrt(energies[r]), 0.0,
                                       0);
    densities::accumulate_densities();
    std::vector<double> rho(mesh::electron_density, mesh::electron_density + mesh::NODE_COUNT);
    std::vector<double> mean(mesh::electron_energy, mesh::electron_energy + mesh::NODE_COUNT);

    EXPECT_DOUBLE_EQ(fluid_coupling::take_records(), 8.5);
    EXPECT_EQ(PARTICLE_STORAGE::live_count(PARTICLE_STORAGE::electrons), 0);
    EXPECT_NEAR(electron_fluid::total_electrons(), 8.5, 1e-12);
    EXPECT_NEAR(electron_fluid::total_energy(), 1.0 + 20.0 + 22.5, 1e-11);

    densities::accumulate_densities();
    fluid_coupling::add_to_mesh_densities();
    for (int n = 0; n < mesh::NODE_COUNT; ++n) {
        ASSERT_NEAR(mesh::electron_density[n], rho[n], 1e-12 * std::fabs(rho[n]) + 1e-30) << n;
        ASSERT_NEAR(mesh::electron_energy[n], mean[n], 1e-12 * mean[n]) << n;
    }

    // Records and fluid at one node: the charge adds, the mean energy is
    // the electrons' mean.
    const int n = mesh::node(3, 3, 2);
    electron_fluid::reset();
    electron_fluid::set_node(3, 3, 2, 3.0 / VOLUME, 10.0);
    PARTICLE_STORAGE::add_particle(PARTICLE_STORAGE::electrons, -E, 0.0, 3.5 * mesh::dx, 3.5 * mesh::dy,
                                   2.5 * mesh::dz, speed_per_sqrt_ev * 2.0, 0.0, 0.0, 0);
    densities::accumulate_densities();
    fluid_coupling::add_to_mesh_densities();
    EXPECT_NEAR(mesh::electron_density[n] * VOLUME, -4.0 * E, 1e-12 * E);
    EXPECT_NEAR(mesh::electron_energy[n], (3.0 * 10.0 + 4.0) / 4.0, 1e-12);
}

// The fluid given back as records: the nodes' shares by systematic sampling,
// every record of one weight, the mean energy kept on average, the fluid
// emptied; in the parallel mode the same records whatever else was drawn.
TEST_F(FluidCoupling, FluidBecomesRecordsOfItsDensityAndEnergy) {
    electron_fluid::set_node(2, 2, 2, 3000.0 / VOLUME, 2.0);
    electron_fluid::set_node(5, 4, 3, 1000.0 / VOLUME, 8.0);
    EXPECT_EQ(fluid_coupling::give_records(4000, 1e-6, 7), 4000);
    EXPECT_EQ(electron_fluid::total_electrons(), 0.0);
    double energy[2] = {}, count[2] = {};
    for (const Particle& p : electrons()) {
        ASSERT_DOUBLE_EQ(p.w, -E);
        ASSERT_EQ(p.t, 1e-6);
        const int at = p.x < 4 * mesh::dx ? 0 : 1;
        EXPECT_EQ(p.x, (at == 0 ? 2.5 : 5.5) * mesh::dx);
        count[at] += 1;
        energy[at] += PARTICLE_STORAGE::speed2(p) * densities::ENERGY_PER_SPEED2;
    }
    EXPECT_EQ(count[0], 3000);
    EXPECT_EQ(count[1], 1000);
    // Mean kinetic energy of a Maxwellian sample of 3000 (1000): standard
    // error sqrt(2/3)/sqrt(N) of the mean.
    EXPECT_NEAR(energy[0] / count[0], 2.0, 4 * 2.0 * 0.816 / std::sqrt(3000.0));
    EXPECT_NEAR(energy[1] / count[1], 8.0, 4 * 8.0 * 0.816 / std::sqrt(1000.0));

    // Fewer records than electrons: heavier records, the split still 3:1.
    PARTICLE_STORAGE::reset();
    electron_fluid::set_node(2, 2, 2, 3000.0 / VOLUME, 2.0);
    electron_fluid::set_node(5, 4, 3, 1000.0 / VOLUME, 8.0);
    EXPECT_EQ(fluid_coupling::give_records(8, 0.0, 7), 8);
    const std::vector<Particle> eight = electrons();
    ASSERT_EQ(eight.size(), 8u);
    EXPECT_DOUBLE_EQ(eight[0].w, -500.0 * E);
    EXPECT_EQ(eight[5].x, 2.5 * mesh::dx);
    EXPECT_EQ(eight[6].x, 5.5 * mesh::dx);

    // The parallel mode: each record's draws come from its own stream.
    PARTICLE_STORAGE::reset();
    parallel_mode::configure(true, 1, 1100, 550);
    electron_fluid::set_node(2, 2, 2, 3.0 / VOLUME, 2.0);
    fluid_coupling::give_records(3, 0.0, 9);
    const std::vector<Particle> first = electrons();
    PARTICLE_STORAGE::reset();
    parallel_mode::configure(true, 1, 1100, 550);
    random_numbers::draw_uniform();  // the run's generator plays no part
    electron_fluid::set_node(2, 2, 2, 3.0 / VOLUME, 2.0);
    fluid_coupling::give_records(3, 0.0, 9);
    const std::vector<Particle> second = electrons();
    ASSERT_EQ(first.size(), 3u);
    for (int r = 0; r < 3; ++r) EXPECT_EQ(first[r].vx, second[r].vx);
    EXPECT_NE(first[0].vx, first[1].vx);
    EXPECT_EQ(fluid_coupling::give_records(3, 0.0, 9), 0);  // an empty fluid
}

// Births become ion records once a node has counted enough; the rest on a
// flush; the charge is that of the births.
TEST_F(FluidCoupling, BirthsBecomeIonRecordsOfTheirCharge) {
    const int a = mesh::node(2, 2, 2), b = mesh::node(4, 3, 1);
    electron_fluid::births_ne[a] = 6.0 / VOLUME;
    electron_fluid::births_xe[a] = 2.0 / VOLUME;
    electron_fluid::births_xe[b] = 20.0 / VOLUME;
    EXPECT_EQ(fluid_coupling::births_to_ions(10.0, 1e-7, 3), 1);  // only b's Xe+ has 10
    EXPECT_NEAR(fluid_coupling::pending_ions(), 8.0, 1e-12);
    // Not yet records, they are charge on the mesh where they were born.
    fluid_coupling::add_to_mesh_densities();
    EXPECT_NEAR(mesh::ion_density[2 * a], 6.0 * E * mesh::inv_cell_volume, 1e-12 * E * mesh::inv_cell_volume);
    EXPECT_NEAR(mesh::ion_density[2 * a + 1], 2.0 * E * mesh::inv_cell_volume, 1e-12 * E * mesh::inv_cell_volume);
    EXPECT_EQ(mesh::ion_density[2 * b + 1], 0.0);  // b's are a record now
    EXPECT_EQ(fluid_coupling::births_to_ions(10.0, 2e-7, 4), 2);  // a's Ne+ at 12, b's Xe+ again
    EXPECT_EQ(fluid_coupling::flush_births(3e-7, 5), 1);          // a's Xe+, 4
    EXPECT_EQ(fluid_coupling::pending_ions(), 0.0);
    double charge = 0.0;
    int ne = 0;
    Particle p{};
    for (PARTICLE_STORAGE::rewind(PARTICLE_STORAGE::ions); PARTICLE_STORAGE::get_current(PARTICLE_STORAGE::ions, p);
         PARTICLE_STORAGE::advance(PARTICLE_STORAGE::ions)) {
        charge += p.w;
        ne += p.species == 1;
        EXPECT_EQ(p.vx, 0.0);
        if (p.species == 1) {
            EXPECT_NEAR(p.w, 12.0 * E, 1e-12 * E);
            EXPECT_EQ(p.x, 2.5 * mesh::dx);
            EXPECT_EQ(p.z, 2.5 * mesh::dz);
        }
    }
    EXPECT_EQ(ne, 1);
    EXPECT_NEAR(charge, 56.0 * E, 1e-12 * 56.0 * E);  // 12 Ne+, 20 + 20 + 4 Xe+
}

// Absorbed electrons become charge in the wall cells behind their faces.
TEST_F(FluidCoupling, AbsorbedElectronsChargeTheWallCellsBehindTheirFaces) {
    using mesh::node;
    using mesh::padded;
    electron_fluid::wall_electrons[node(mesh::ilo, 2, 3)] = 2.0 / (mesh::dy * mesh::dz);
    electron_fluid::wall_electrons[node(mesh::ihi + 1, 4, 1)] = 3.0 / (mesh::dy * mesh::dz);
    electron_fluid::wall_electrons[node(5, 3, mesh::khi + 1)] = 7.0 / (mesh::dx * mesh::dy);
    EXPECT_NEAR(fluid_coupling::walls_to_charge(), -12.0 * E, 1e-12 * E);
    EXPECT_NEAR(mesh::wall_charge_x[padded(mesh::ilo, 2, 3)], -2.0 * E * mesh::inv_cell_volume, 1e-12 * E * mesh::inv_cell_volume);
    EXPECT_NEAR(mesh::wall_charge_x[padded(mesh::ihi + 1, 4, 1)], -3.0 * E * mesh::inv_cell_volume, 1e-12 * E * mesh::inv_cell_volume);
    EXPECT_NEAR(mesh::wall_charge_z[padded(5, 3, mesh::khi + 1)], -7.0 * E * mesh::inv_cell_volume, 1e-12 * E * mesh::inv_cell_volume);
    EXPECT_EQ(fluid_coupling::walls_to_charge(), 0.0);  // taken once
}

// Collisions counted from the rates: n·N·k·dt·V electrons under each process.
TEST_F(FluidCoupling, CollisionsAreCountedFromTheRates) {
    electron_fluid::set_node(3, 3, 3, 1e12, 5.0);
    electron_fluid::set_node(4, 3, 3, 2e12, 5.0);
    const double dt = 1e-10;
    fluid_coupling::count_collisions(dt);
    const pass_output::Tally tally = pass_output::take_tally();
    const electron_transport_tables::Coefficients c = electron_transport_tables::at(5.0);
    for (int p = 0; p < electron_transport_tables::PROCESS_COUNT; ++p)
        EXPECT_NEAR(tally.collided[p], E * 3e12 * VOLUME * species::fill().density * c.rate[p] * dt,
                    1e-12 * tally.collided[p] + 1e-40)
            << p;
    EXPECT_GT(tally.collided[2], 0.0);  // Xe level 1 at 5 eV
}

}  // namespace
