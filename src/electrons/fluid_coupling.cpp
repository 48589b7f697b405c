#include "electrons/fluid_coupling.hpp"

#include "common/portable_math.hpp"
#include "electrons/electron_fluid.hpp"
#include "electrons/electron_transport_tables.hpp"
#include "ions/surface_processes.hpp"
#include "mesh/mesh_arrays.hpp"
#include "output/density_accumulation.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/particle_storage.hpp"
#include "particles/particle_streams.hpp"
#include "particles/pass_output.hpp"
#include "particles/random_source.hpp"
#include "particles/species.hpp"
#include "radiation/xe_kinetics.hpp"

#include <algorithm>
#include <cmath>

namespace fluid_coupling {

namespace {

using namespace mesh;
using PARTICLE_STORAGE::Particle;

constexpr double PI = 3.141592653589793;
constexpr int NE_ION = 1, XE_ION = 2;
// Fewer real electrons at a node than this: their collisions are not counted.
constexpr double COUNTED_ELECTRONS = 1e-6;
// Slots of the collision processes in the tallies' order.
constexpr int FIRST_XE_LEVEL = 2;

// Real ions of each species counted at each node, not yet records.
double pending[2][NODE_COUNT];

constexpr double node_volume = dx * dy * dz;  // cm^3

double node_x(int i) { return (i + 0.5) * dx; }
double node_y(int j) { return (j + 0.5) * dy; }
double node_z(int k) { return (k + 0.5) * dz; }

template <typename F>
void for_gas_nodes(F f) {
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) f(i, j, k, node(i, j, k));
}

// Adds a record's electrons (and their energy, eV) to the fluid at the
// nodes around (x, y, z), as accumulate_densities spreads a record's charge.
void spread(double electrons, double energy, double x, double y, double z) {
    densities::for_cloud(x, y, z, [&](int n, double f) {
        if (f == 0.0) return;
        electron_fluid::density[n] += electrons * f * inv_cell_volume;
        electron_fluid::energy_density[n] += energy * f * inv_cell_volume;
    });
}

// Identities of the records the fluid makes, in a domain of their own: step,
// node and what the record is (ion species, or the index of an electron).
std::uint64_t record_identity(std::uint64_t step, std::uint64_t index) {
    return particle_streams::seed_identity(step, index | (std::uint64_t{1} << 63));
}

void add_to_store(PARTICLE_STORAGE::Store& store, const Particle& p, std::uint64_t id, std::uint64_t draws) {
    if (store.id != nullptr)
        PARTICLE_STORAGE::add_record(store, p, id, draws);
    else
        PARTICLE_STORAGE::add_particle(store, p.w, p.t, p.x, p.y, p.z, p.vx, p.vy, p.vz, p.species);
}

// One normal deviate from two uniform numbers (Box-Muller, the cosine half).
double normal(random_source::Source& source) {
    const double u1 = random_source::draw_uniform(source), u2 = random_source::draw_uniform(source);
    return std::sqrt(-2.0 * portable_math::log(u1)) * portable_math::cos(2.0 * PI * u2);
}

int make_ion_records(double min_ions, double t, std::uint64_t step) {
    int made = 0;
    for_gas_nodes([&](int i, int j, int k, int n) {
        for (int s = 0; s < 2; ++s) {
            const double ions = pending[s][n];
            if (!(ions > 0.0) || ions < min_ions) continue;
            pending[s][n] = 0.0;
            const int species = s == 0 ? NE_ION : XE_ION;
            const Particle p{ELECTRON_CHARGE * ions, t, node_x(i), node_y(j), node_z(k), 0.0, 0.0, 0.0, species};
            add_to_store(PARTICLE_STORAGE::ions, p, record_identity(step, 2 * static_cast<std::uint64_t>(n) + s), 0);
            ++made;
        }
    });
    return made;
}

}  // namespace

double take_records() {
    PARTICLE_STORAGE::Store& electrons = PARTICLE_STORAGE::electrons;
    double moved = 0.0;
    Particle p{};
    for (PARTICLE_STORAGE::rewind(electrons); PARTICLE_STORAGE::get_current(electrons, p);
         PARTICLE_STORAGE::advance(electrons)) {
        if (p.w == 0.0) continue;
        const double real = std::fabs(p.w) / ELECTRON_CHARGE;
        spread(real, real * PARTICLE_STORAGE::speed2(p) * densities::ENERGY_PER_SPEED2, p.x, p.y, p.z);
        moved += real;
        PARTICLE_STORAGE::delete_current(electrons);
    }
    PARTICLE_STORAGE::compact(electrons);
    return moved;
}

int give_records(int records, double t, std::uint64_t step) {
    const double total = electron_fluid::total_electrons();
    if (!(total > 0.0)) return 0;
    if (records < 1) records = 1;
    const double weight = total / records;  // real electrons a record
    // Systematic sampling: node n gets the records whose midpoints
    // (r + 1/2)·weight fall within its share of the running sum.
    double before = 0.0;
    long long made = 0;
    for_gas_nodes([&](int i, int j, int k, int n) {
        const double here = electron_fluid::density[n] * node_volume;
        if (!(here > 0.0)) return;
        const double after = before + here;
        const long long last = static_cast<long long>(std::floor(after / weight + 0.5));
        const double mean_energy = electron_fluid::mean_energy(n);
        // Each velocity component of a Maxwellian of kT = 2/3 of the mean
        // energy: sigma^2 = kT/m, and m/2 = e·ENERGY_PER_SPEED2 (eV per (cm/s)^2).
        const double sigma = std::sqrt(2.0 / 3.0 * mean_energy / (2.0 * densities::ENERGY_PER_SPEED2));
        for (; made < last && made < records; ++made) {
            const std::uint64_t id = record_identity(step, static_cast<std::uint64_t>(made) | (std::uint64_t{1} << 62));
            particle_streams::Stream stream = particle_streams::open_stream(parallel_mode::settings.key, id, 0);
            random_source::Source source =
                parallel_mode::on() ? random_source::particle_stream(stream) : random_source::run_generator();
            const double vx = sigma * normal(source), vy = sigma * normal(source), vz = sigma * normal(source);
            add_to_store(PARTICLE_STORAGE::electrons,
                       {-ELECTRON_CHARGE * weight, t, node_x(i), node_y(j), node_z(k), vx, vy, vz, 0}, id,
                       stream.counter);
        }
        before = after;
    });
    for_gas_nodes([](int, int, int, int n) { electron_fluid::density[n] = electron_fluid::energy_density[n] = 0.0; });
    return static_cast<int>(made);
}

int births_to_ions(double min_ions, double t, std::uint64_t step) {
    for_gas_nodes([](int, int, int, int n) {
        pending[0][n] += electron_fluid::births_ne[n] * node_volume;
        pending[1][n] += electron_fluid::births_xe[n] * node_volume;
    });
    return make_ion_records(min_ions, t, step);
}

int flush_births(double t, std::uint64_t step) { return make_ion_records(0.0, t, step); }

double pending_ions() {
    double sum = 0.0;
    for (int n = 0; n < NODE_COUNT; ++n) sum += pending[0][n] + pending[1][n];
    return sum;
}

double walls_to_charge() {
    double charge = 0.0;
    const auto absorb = [&](surface::Wall wall, int face, double area, int i, int j, int k) {
        const double w = -ELECTRON_CHARGE * electron_fluid::wall_electrons[face] * area;
        electron_fluid::wall_electrons[face] = 0.0;
        if (w == 0.0) return;
        surface::deposit(wall, {i, j, k}, w);
        charge += w;
    };
    for_gas_nodes([&](int i, int j, int k, int n) {
        if (i == ilo) absorb(surface::Wall::front, n, dy * dz, ilo, j, k);
        if (i == ihi) absorb(surface::Wall::rear, node(i + 1, j, k), dy * dz, ihi + 1, j, k);
        if (k == khi) absorb(surface::Wall::rib, node(i, j, k + 1), dx * dy, i, j, khi + 1);
    });
    return charge;
}

void add_to_mesh_densities() {
    // The ions born but not yet records are charge where they were born.
    for_gas_nodes([](int, int, int, int n) {
        ion_density[2 * n] += ELECTRON_CHARGE * pending[0][n] * inv_cell_volume;
        ion_density[2 * n + 1] += ELECTRON_CHARGE * pending[1][n] * inv_cell_volume;
    });
    for_gas_nodes([](int, int, int, int n) {
        const double fluid = electron_fluid::density[n];
        if (!(fluid > 0.0)) return;
        const double records = std::fabs(electron_density[n]) / ELECTRON_CHARGE;  // cm^-3
        const double energy = electron_energy[n] * records + electron_fluid::energy_density[n];
        electron_density[n] -= ELECTRON_CHARGE * fluid;
        electron_energy[n] = energy / (records + fluid);
    });
}

void count_collisions(double dt) {
    const double gas = species::fill().density;
    pass_output::Tally& tally = pass_output::pass_tally;
    for_gas_nodes([&](int i, int j, int k, int n) {
        const double electrons = electron_fluid::density[n] * node_volume;
        // A millionth of an electron collides too rarely to count, and the
        // diffusion leaves such traces on nearly every node.
        if (!(electrons > COUNTED_ELECTRONS)) return;
        const electron_transport_tables::Coefficients c =
            electron_transport_tables::at(electron_fluid::mean_energy(n));
        for (int p = 0; p < electron_transport_tables::PROCESS_COUNT; ++p) {
            const double events = electrons * gas * c.rate[p] * dt;  // real collisions in the step
            tally.collided[p] += ELECTRON_CHARGE * events;
            const int level = p - FIRST_XE_LEVEL + 1;
            if (xe_kinetics::on() && level >= 1 && level <= 6 && events > 0.0)
                xe_kinetics::add_excitation(node_x(i), node_y(j), node_z(k), events, level);
        }
    });
}

int saved_count() { return 2 * NODE_COUNT; }

void save(double* values) {
    std::copy(&pending[0][0], &pending[0][0] + 2 * NODE_COUNT, values);
}

void load(const double* values) {
    std::copy(values, values + 2 * NODE_COUNT, &pending[0][0]);
}

void reset() {
    for (int n = 0; n < NODE_COUNT; ++n) pending[0][n] = pending[1][n] = 0.0;
}

}  // namespace fluid_coupling
