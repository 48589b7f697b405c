#include "driver/particle_seeding.hpp"

#include "common/portable_math.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include <algorithm>
#include <cmath>

namespace seeding {

using namespace mesh;
using PARTICLE_STORAGE::add_particle;

namespace {

constexpr double TWO_PI = 6.283185307179586;
constexpr double SEED_SPEED = 0.0;  // cm/s: seeds start at rest
constexpr int SPECIES_XE = 2;
constexpr int ORIGIN_SEED = 0;

// An isotropic direction from (u_m, u_phi) scaled by the seed speed. The
// draws are made even though the speed is zero: they keep the run's random
// sequence fixed.
void seed_velocity(double u_m, double u_phi, double& vx, double& vy, double& vz) {
    const double m = 2.0 * u_m - 1.0;
    const double s = std::sqrt(1.0 - m * m);
    const double angle = TWO_PI * u_phi;
    vx = s * portable_math::cos(angle) * SEED_SPEED;
    vy = s * portable_math::sin(angle) * SEED_SPEED;
    vz = m * SEED_SPEED;
}

double seed_x() { return (ilo + 0.5) * dx; }
double seed_y(int j) { return (j + 0.5) * dy; }
double seed_z(int k) { return zlow + (k + 0.5) * dz; }

}  // namespace

int first_seed_row() { return jlo + (jhi - jlo + 1) / 2 + 7; }

void seed_initial_particles() {
    FILE_MANAGER::OPENFILE("input_file.txt", "READ");
    const int j0 = first_seed_row();
    for (int j = j0; j <= j0 + 44; ++j)
        add_particle(PARTICLE_STORAGE::ions, ELECTRON_CHARGE, 0.0, seed_x(), seed_y(j), seed_z(0),
                     0.0, 0.0, 0.0, SPECIES_XE);
    for (int j = j0; j <= j0 + 44; ++j) {
        random_numbers::draw_uniform();  // unused, kept for the fixed sequence
        const double u2 = random_numbers::draw_uniform();
        const double u3 = random_numbers::draw_uniform();
        double vx, vy, vz;
        seed_velocity(u2, u3, vx, vy, vz);
        add_particle(PARTICLE_STORAGE::electrons, -ELECTRON_CHARGE, 0.0, seed_x(), seed_y(j),
                     seed_z(0), vx, vy, vz, ORIGIN_SEED);
    }
    FILE_MANAGER::CLOSEFILE("input_file.txt");
    std::fill(wall_charge_x, wall_charge_x + PADDED_COUNT, 0.0);
}

void seed_particles(double t) {
    const int j0 = first_seed_row();
    const int j = static_cast<int>(j0 + 44 * random_numbers::draw_uniform());
    const int k = static_cast<int>(7 * random_numbers::draw_uniform());
    add_particle(PARTICLE_STORAGE::ions, ELECTRON_CHARGE, t, seed_x(), seed_y(j), seed_z(k),
                 0.0, 0.0, 0.0, SPECIES_XE);
    random_numbers::draw_uniform();  // unused, kept for the fixed sequence
    const double u4 = random_numbers::draw_uniform();
    const double u5 = random_numbers::draw_uniform();
    double vx, vy, vz;
    seed_velocity(u4, u5, vx, vy, vz);
    add_particle(PARTICLE_STORAGE::electrons, -ELECTRON_CHARGE, t, seed_x(), seed_y(j), seed_z(k),
                 vx, vy, vz, ORIGIN_SEED);
}

}  // namespace seeding
