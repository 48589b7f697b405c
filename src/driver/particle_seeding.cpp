#include "driver/particle_seeding.hpp"

#include "common/portable_math.hpp"
#include "input/electrode_voltages.hpp"
#include "input/file_units.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_storage.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/particle_streams.hpp"
#include "particles/random_source.hpp"

#include <algorithm>
#include <cmath>

namespace seeding {

using namespace mesh;

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

// The numbers of one seeded pair: the run's generator, or in the parallel
// mode the stream of the pair's electron, whose identity comes from the step
// and the pair's place in that seeding (the ion's is the next one).
struct PairSource {
    particle_streams::Stream stream{};
    random_source::Source source;
    std::uint64_t ion_id = 0;
};

void open_pair(PairSource& pair, int step, int index) {
    if (!parallel_mode::on()) {
        pair.source = random_source::run_generator();
        return;
    }
    const auto n = static_cast<std::uint64_t>(index);
    pair.stream = particle_streams::open_stream(parallel_mode::settings.key,
                                                particle_streams::seed_identity(static_cast<std::uint64_t>(step), 2 * n), 0);
    pair.source = random_source::particle_stream(pair.stream);
    pair.ion_id = particle_streams::seed_identity(static_cast<std::uint64_t>(step), 2 * n + 1);
}

void add_ion(const PairSource& pair, double t, double x, double y, double z) {
    PARTICLE_STORAGE::add_record(PARTICLE_STORAGE::ions, {ELECTRON_CHARGE, t, x, y, z, 0.0, 0.0, 0.0, SPECIES_XE},
                                 pair.ion_id, 0);
}

void add_electron(const PairSource& pair, double t, double x, double y, double z, double vx, double vy, double vz) {
    PARTICLE_STORAGE::add_record(PARTICLE_STORAGE::electrons, {-ELECTRON_CHARGE, t, x, y, z, vx, vy, vz, ORIGIN_SEED},
                                 pair.stream.id, pair.stream.counter);
}

double seed_x() { return (ilo + 0.5) * dx; }
double seed_y(int j) { return (j + 0.5) * dy; }
double seed_z(int k) { return zlow + (k + 0.5) * dz; }

}  // namespace

int first_seed_row() { return jlo + (jhi - jlo + 1) / 2 + 7; }

void seed_initial_particles() {
    FILE_MANAGER::OPENFILE("input_file.txt", "READ");
    const int j0 = first_seed_row();
    PairSource pair;
    for (int j = j0; j <= j0 + 44; ++j) {
        open_pair(pair, 0, j - j0);
        add_ion(pair, 0.0, seed_x(), seed_y(j), seed_z(0));
    }
    for (int j = j0; j <= j0 + 44; ++j) {
        open_pair(pair, 0, j - j0);
        random_source::draw_uniform(pair.source);  // unused, kept for the fixed sequence
        const double u2 = random_source::draw_uniform(pair.source);
        const double u3 = random_source::draw_uniform(pair.source);
        double vx, vy, vz;
        seed_velocity(u2, u3, vx, vy, vz);
        add_electron(pair, 0.0, seed_x(), seed_y(j), seed_z(0), vx, vy, vz);
    }
    FILE_MANAGER::CLOSEFILE("input_file.txt");
    std::fill(wall_charge_x, wall_charge_x + PADDED_COUNT, 0.0);
}

void seed_particles(double t, int step, bool at_cathode) {
    const int j0 = first_seed_row();
    PairSource pair;
    open_pair(pair, step, 0);
    int j = static_cast<int>(j0 + 44 * random_source::draw_uniform(pair.source));
    // The layer lies over the second sustain electrode, the cathode of a pulse
    // that holds the first one higher. A seed electron at the anode is lost to
    // the wall at once, so a reversed pulse would never be primed.
    const double* v = electrodes::electrode_voltage;
    if (at_cathode && v[1] < v[2]) j = jlo + jhi - j;
    const int k = static_cast<int>(7 * random_source::draw_uniform(pair.source));
    add_ion(pair, t, seed_x(), seed_y(j), seed_z(k));
    random_source::draw_uniform(pair.source);  // unused, kept for the fixed sequence
    const double u4 = random_source::draw_uniform(pair.source);
    const double u5 = random_source::draw_uniform(pair.source);
    double vx, vy, vz;
    seed_velocity(u4, u5, vx, vy, vz);
    add_electron(pair, t, seed_x(), seed_y(j), seed_z(k), vx, vy, vz);
}

}  // namespace seeding
