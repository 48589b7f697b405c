#include "output/density_accumulation.hpp"

#include "common/fatal_error.hpp"
#include "mesh/cell_setup.hpp"
#include "particles/particle_storage.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

using namespace mesh;
using PARTICLE_STORAGE::add_particle;
using PARTICLE_STORAGE::electrons;
using PARTICLE_STORAGE::ions;

namespace {

constexpr double Q_ION = ELECTRON_CHARGE * inv_cell_volume;  // C/cm^3 of one ion on one node

// Coordinate of node n plus a fraction f of a spacing h.
double at(int n, double f, double h) { return (n + 0.5 + f) * h; }

// Speed of an electron of the given kinetic energy, cm/s.
double speed_for(double ev) { return std::sqrt(ev / densities::ENERGY_PER_SPEED2); }

void add_ion(double x, double y, double z, int species = 1) {
    add_particle(ions, ELECTRON_CHARGE, 0.0, x, y, z, 0.0, 0.0, 0.0, species);
}
void add_electron(double x, double y, double z, double vx = 0.0) {
    add_particle(electrons, -ELECTRON_CHARGE, 0.0, x, y, z, vx, 0.0, 0.0, 0);
}

// Runs the accumulation expecting a stop; returns what it printed.
std::string stop_message() {
    testing::internal::CaptureStdout();
    EXPECT_THROW(densities::accumulate_densities(), pdp::FatalError);
    return testing::internal::GetCapturedStdout();
}

struct Densities : ::testing::Test {
    void SetUp() override {
        build_builtin_cell();
        PARTICLE_STORAGE::reset();
    }
};

}  // namespace

TEST_F(Densities, CloudInCellWeightsOfAnIonInsideACell) {
    add_ion(at(20, 0.25, dx), at(50, 0.5, dy), at(5, 0.75, dz), 2);
    densities::accumulate_densities();
    double total = 0.0;
    for (int dk = 0; dk <= 1; ++dk)
        for (int dj = 0; dj <= 1; ++dj)
            for (int di = 0; di <= 1; ++di) {
                const double w = (di ? 0.25 : 0.75) * 0.5 * (dk ? 0.75 : 0.25);
                const double got = ion_density[ion_slot(2, 20 + di, 50 + dj, 5 + dk)];
                EXPECT_NEAR(got, Q_ION * w, 1e-12 * Q_ION) << di << dj << dk;
                EXPECT_EQ(ion_density[ion_slot(1, 20 + di, 50 + dj, 5 + dk)], 0.0);  // Xe+ slot only
                total += got;
            }
    EXPECT_NEAR(total, Q_ION, 1e-12 * Q_ION);
}

TEST_F(Densities, WithinHalfASpacingOfAWallTheOutermostGasNodeTakesAll) {
    add_ion(xlow + 0.25 * dx, at(50, 0.5, dy), at(5, 0.0, dz));  // v below ilo
    add_ion(at(30, 0.0, dx), yhigh, zhigh - 0.25 * dz);          // v above jhi and khi
    densities::accumulate_densities();
    EXPECT_NEAR(ion_density[ion_slot(1, ilo, 50, 5)], 0.5 * Q_ION, 1e-12 * Q_ION);
    EXPECT_NEAR(ion_density[ion_slot(1, ilo, 51, 5)], 0.5 * Q_ION, 1e-12 * Q_ION);
    EXPECT_EQ(ion_density[ion_slot(1, ilo - 1, 50, 5)], 0.0);
    EXPECT_EQ(ion_density[ion_slot(1, ilo + 1, 50, 5)], 0.0);
    EXPECT_NEAR(ion_density[ion_slot(1, 30, jhi, khi)], Q_ION, 1e-12 * Q_ION);
}

TEST_F(Densities, DeadRecordsAreSkippedAndEveryCallStartsFromZero) {
    add_particle(ions, 0.0, 0.0, -1.0, -1.0, -1.0, 0, 0, 0, 1);  // dead, far outside
    add_particle(electrons, 0.0, 0.0, 1.0, 1.0, 1.0, 0, 0, 0, 0);
    add_ion(at(25, 0.3, dx), at(60, 0.1, dy), at(3, 0.6, dz));
    add_electron(at(26, 0.7, dx), at(61, 0.2, dy), at(4, 0.4, dz), 1e7);
    densities::accumulate_densities();
    const std::vector<double> ion_first(ion_density, ion_density + 2 * NODE_COUNT);
    const std::vector<double> energy_first(electron_energy, electron_energy + NODE_COUNT);
    densities::accumulate_densities();
    EXPECT_EQ(std::vector<double>(ion_density, ion_density + 2 * NODE_COUNT), ion_first);
    EXPECT_EQ(std::vector<double>(electron_energy, electron_energy + NODE_COUNT), energy_first);
    EXPECT_EQ(ions.cursor, ions.count + 1);  // both walks end past the last record
    EXPECT_EQ(electrons.cursor, electrons.count + 1);
}

TEST_F(Densities, MeanElectronEnergyPerNode) {
    // Two electrons of 1 eV and 3 eV on one node: a mean of 2 eV there.
    add_electron(at(30, 0.0, dx), at(70, 0.0, dy), at(6, 0.0, dz), speed_for(1.0));
    add_electron(at(30, 0.0, dx), at(70, 0.0, dy), at(6, 0.0, dz), -speed_for(3.0));
    // One electron at rest elsewhere: its nodes hold density but zero energy.
    add_electron(at(40, 0.5, dx), at(20, 0.5, dy), at(3, 0.5, dz));
    densities::accumulate_densities();
    EXPECT_NEAR(electron_energy[node(30, 70, 6)], 2.0, 1e-12);
    EXPECT_NEAR(electron_density[node(30, 70, 6)], -2 * Q_ION, 1e-9 * Q_ION);
    EXPECT_LT(electron_density[node(40, 20, 3)], 0.0);
    EXPECT_EQ(electron_energy[node(40, 20, 3)], 0.0);
}

TEST_F(Densities, AMergedRecordCountsAsTheElectronsItStandsFor) {
    // A record of three electrons at 1 eV and one electron at 5 eV: the mean
    // is 2 eV, not the 3 eV of two records.
    add_particle(electrons, -3 * ELECTRON_CHARGE, 0.0, at(30, 0.0, dx), at(70, 0.0, dy), at(6, 0.0, dz),
                 speed_for(1.0), 0.0, 0.0, 1);
    add_electron(at(30, 0.0, dx), at(70, 0.0, dy), at(6, 0.0, dz), speed_for(5.0));
    add_particle(ions, 4 * ELECTRON_CHARGE, 0.0, at(30, 0.0, dx), at(70, 0.0, dy), at(6, 0.0, dz), 0, 0, 0, 2);
    densities::accumulate_densities();
    EXPECT_NEAR(electron_energy[node(30, 70, 6)], 2.0, 1e-12);
    EXPECT_NEAR(electron_density[node(30, 70, 6)], -4 * Q_ION, 1e-9 * Q_ION);
    EXPECT_NEAR(ion_density[ion_slot(2, 30, 70, 6)], 4 * Q_ION, 1e-9 * Q_ION);
}

TEST_F(Densities, AParticleOutsideTheGasBoxStopsTheRunWithItsAxis) {
    add_ion(at(30, 0.0, dx), ylow, at(5, 0.0, dz));  // both y ends belong to the box
    add_ion(at(30, 0.0, dx), yhigh, at(5, 0.0, dz));
    densities::accumulate_densities();

    ions.w[2] = ELECTRON_CHARGE;
    ions.y[2] = yhigh + 0.5 * dy;
    // The second line says how far outside, in spacings from each y end.
    const std::string y_stop = stop_message();
    const std::string first_line = "ERROR: ion is out of gap region in Y-direction\n";
    ASSERT_EQ(y_stop.substr(0, first_line.size()), first_line);
    double from_low = 0, from_high = 0;
    ASSERT_EQ(std::sscanf(y_stop.c_str() + first_line.size(), " %lf %lf", &from_low, &from_high), 2);
    EXPECT_NEAR(from_low, -135.5, 1e-9);
    EXPECT_NEAR(from_high, -0.5, 1e-9);
    EXPECT_EQ(y_stop.back(), '\n');
    ions.y[2] = yhigh;
    ions.x[2] = xlow;  // the x and z ends are walls: excluded
    EXPECT_EQ(stop_message(), "ERROR: ion is out of gap region in X-direction\n");
    ions.x[2] = at(30, 0.0, dx);
    ions.z[2] = zhigh;
    EXPECT_EQ(stop_message(), "ERROR: ion is out of gap region in Z-direction\n");
    ions.z[2] = std::nan("");
    EXPECT_EQ(stop_message(), "ERROR: ion is out of gap region in Z-direction\n");
    ions.w[2] = 0.0;

    add_electron(at(30, 0.0, dx), ylow - 0.1 * dy, at(5, 0.0, dz));
    EXPECT_EQ(stop_message(), "ERROR: electron is out of gap region in Y-direction\n");
    electrons.y[1] = ylow;
    electrons.x[1] = xhigh;
    EXPECT_EQ(stop_message(), "ERROR: electron is out of gap region in X-direction\n");
    electrons.x[1] = at(30, 0.0, dx);
    electrons.z[1] = zlow;
    EXPECT_EQ(stop_message(), "ERROR: electron is out of gap region in Z-direction\n");
}
