// pdpcell-swarm: transport figures of the built-in gas model. Electrons run in
// a uniform field without walls, through the same electron pass and collision
// step as the cell simulation; after a relaxation time the tool samples mean
// energy, drift velocity and ionization rate coefficient, and from the
// displacements over each pass the bulk drift and the diffusion coefficients,
// so that the drift-diffusion steps of thermal electrons can be set against
// the flights they replace.
#include "common/fatal_error.hpp"
#include "common/portable_math.hpp"
#include "electrons/collision_frequencies.hpp"
#include "electrons/drift_diffusion.hpp"
#include "electrons/electron_fluid.hpp"
#include "electrons/electron_transport_tables.hpp"
#include "electrons/electron_mover.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/parallel_mode.hpp"
#include "particles/pass_output.hpp"
#include "particles/particle_storage.hpp"
#include "particles/particle_streams.hpp"
#include "particles/random_numbers.hpp"
#include "input/cell_file.hpp"
#include "particles/species.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace collision_frequencies;
using PARTICLE_STORAGE::Particle;
using PARTICLE_STORAGE::electrons;
using PARTICLE_STORAGE::ions;

constexpr double TOWNSEND = 1e-17;  // V·cm^2
constexpr int BLOCKS = 10;          // sampling blocks for the error estimate
constexpr int USAGE_EXIT_STATUS = 2;
// Bound of the total ionization frequency (direct Ne and Xe plus Penning after
// Ne excitation), 1/s: it limits how far the population can grow in one pass.
constexpr double NU_IONIZATION_MAX = 1.5e12;

struct Options {
    double reduced_field = 0;   // Td
    int electrons = 1000;       // population kept between target and twice it
    double relax_ns = 3;        // ns before sampling starts
    double sample_ns = 5;       // ns of sampling
    double interval_ns = 0.002; // ns between samples (one electron pass)
    int seed1 = 1100, seed2 = 550;
    bool parallel = false;      // per-electron random streams, as pdpcell --parallel
    bool second_order = false;  // leapfrog sub-steps, as pdpcell --second-order-flights
    int threads = 1;
    bool interval_given = false;
    std::string cell_file;      // a case's cell file: its fill; empty: the built-in fill
    bool drift_diffusion = false;  // thermal electrons by drift-diffusion steps
    bool moments = false;          // the fluid's transport and rate coefficients as well
    bool fluid = false;            // the electron fluid's uniform swarm instead of flights
    drift_diffusion::Limits limits = drift_diffusion::STANDARD_LIMITS;
};

void print_usage(std::FILE* out) {
    std::fputs(
        "Usage: pdpcell-swarm E/N [options]\n"
        "Runs electrons in a uniform field E/N (Td) through the built-in Ne-Xe gas\n"
        "model without walls and prints mean energy, drift velocity and ionization\n"
        "rate coefficient, each with its standard error.\n"
        "\n"
        "  --electrons N   population size (default 1000; thinned when it doubles)\n"
        "  --relax NS      relaxation time before sampling, ns (default 3)\n"
        "  --sample NS     sampling time, ns (default 5)\n"
        "  --interval NS   time between samples, ns (default 0.002; shortened so\n"
        "                  that the population cannot outgrow the electron store)\n"
        "  --seed S1 S2    seed of the random generator (default 1100 550)\n"
        "  --cell FILE     the fill of this cell file (a case's cell.toml) instead of\n"
        "                  the built-in Ne + 14 % Xe at 1.143456e19 cm^-3\n"
        "  --parallel      every electron draws from its own stream, as in pdpcell\n"
        "                  --parallel (the starting directions still come from the\n"
        "                  generator)\n"
        "  --threads N     threads of the --parallel electron pass (default 1)\n"
        "  --second-order  leapfrog sub-steps in the flights, as pdpcell\n"
        "                  --second-order-flights\n"
        "  --drift-diffusion  thermal electrons by drift-diffusion steps, as pdpcell\n"
        "                  --drift-diffusion (give --interval 0.1, the cell's time step)\n"
        "  --dd-margin EV  the steps stop this far below 8.31 eV (default 1)\n"
        "  --dd-field TD   and above this E/N (default 10)\n"
        "  --dd-collisions F  and where the momentum-transfer frequency is below\n"
        "                  F (1/s, default 1e11)\n"
        "  --moments       also print the electron fluid's coefficients: the rate\n"
        "                  coefficient of each of the 16 processes, the energy loss,\n"
        "                  the flux mobility from the power balance, the energy\n"
        "                  mobility and the two diffusion coefficients (lines 'moment')\n"
        "  --fluid         instead of flights, the electron fluid (its tables, the\n"
        "                  built-in fill only) as an unbounded uniform swarm: mean\n"
        "                  energy, drift velocity and rate coefficients (lines 'fluid')\n",
        out);
}

bool parse_number(const char* text, double& value) {
    char* end = nullptr;
    value = std::strtod(text, &end);
    return end != text && *end == '\0' && std::isfinite(value);
}

[[noreturn]] void usage_error(const std::string& message) {
    std::fprintf(stderr, "pdpcell-swarm: %s\n", message.c_str());
    print_usage(stderr);
    std::exit(USAGE_EXIT_STATUS);
}

Options parse_options(int argc, char** argv) {
    Options o;
    bool have_field = false;
    for (int a = 1; a < argc; ++a) {
        const std::string arg = argv[a];
        if (arg == "--help" || arg == "-h") {
            print_usage(stdout);
            std::exit(0);
        }
        double v = 0;
        auto next_number = [&](const char* what) {
            if (a + 1 >= argc || !parse_number(argv[++a], v)) usage_error(std::string(what) + " needs a number");
            return v;
        };
        if (arg == "--cell") {
            if (a + 1 >= argc) usage_error("--cell needs a file name");
            o.cell_file = argv[++a];
        } else if (arg == "--electrons") {
            next_number("--electrons");
            if (v < 1 || v > PARTICLE_STORAGE::ELECTRON_CAPACITY / 4 || v != std::floor(v))
                usage_error("--electrons needs a whole number from 1 to 24999");
            o.electrons = static_cast<int>(v);
        } else if (arg == "--relax") {
            if (next_number("--relax") < 0) usage_error("--relax must not be negative");
            o.relax_ns = v;
        } else if (arg == "--sample") {
            if (next_number("--sample") <= 0) usage_error("--sample must be positive");
            o.sample_ns = v;
        } else if (arg == "--interval") {
            if (next_number("--interval") <= 0) usage_error("--interval must be positive");
            o.interval_ns = v;
            o.interval_given = true;
        } else if (arg == "--parallel") {
            o.parallel = true;
        } else if (arg == "--drift-diffusion") {
            o.drift_diffusion = true;
        } else if (arg == "--dd-margin") {
            if (next_number("--dd-margin") <= 0 || v >= drift_diffusion::INELASTIC_THRESHOLD)
                usage_error("--dd-margin needs a number of eV between 0 and 8.31");
            o.limits.energy_margin = v;
        } else if (arg == "--dd-field") {
            if (next_number("--dd-field") <= 0) usage_error("--dd-field must be positive");
            o.limits.reduced_field = v;
        } else if (arg == "--dd-collisions") {
            if (next_number("--dd-collisions") < 0) usage_error("--dd-collisions must not be negative");
            o.limits.collision_frequency = v;
        } else if (arg == "--fluid") {
            o.fluid = true;
        } else if (arg == "--moments") {
            o.moments = true;
        } else if (arg == "--second-order") {
            o.second_order = true;
        } else if (arg == "--threads") {
            const double n = next_number("--threads");
            if (n < 1 || n > 1024 || n != std::floor(n)) usage_error("--threads needs a whole number from 1 to 1024");
            o.threads = static_cast<int>(n);
        } else if (arg == "--seed") {
            const double s1 = next_number("--seed"), s2 = next_number("--seed");
            if (s1 < 1 || s2 < 1 || s1 > random_numbers::S1_LIMIT || s2 > random_numbers::S2_LIMIT ||
                s1 != std::floor(s1) || s2 != std::floor(s2))
                usage_error("--seed needs two whole numbers of at least 1");
            o.seed1 = static_cast<int>(s1);
            o.seed2 = static_cast<int>(s2);
        } else if (!have_field && parse_number(argv[a], v)) {
            if (v < 0) usage_error("E/N must not be negative");
            o.reduced_field = v;
            have_field = true;
        } else {
            usage_error("unknown argument '" + arg + "'");
        }
    }
    if (!have_field) usage_error("E/N (Td) is missing");
    if (o.sample_ns / o.interval_ns < BLOCKS) usage_error("--sample must hold at least 10 intervals");
    return o;
}

// The mesh of the cell with its gas-box indices, so that the field lookup
// reads valid entries, but with every wall and mirror moved to infinity.
void set_up_open_gas(double field) {
    using namespace mesh;
    mesh::reset();
    ilo = 15, ihi = 53, jlo = 2, jhi = 136, klo = 2, khi = 9;
    const double inf = std::numeric_limits<double>::infinity();
    xlow = ylow = zlow = -inf;
    xhigh = yhigh = zhigh = inf;
    for (int n = 0; n < NODE_COUNT; ++n) {
        ex[n] = field;  // along +x: electrons drift towards -x
        ey[n] = 0.0;
        ez[n] = 0.0;
    }
}

// Where every electron is put back after each pass: in a uniform field the
// position does not matter, and the lookup indices stay small.
constexpr double X0 = 0.007, Y0 = 0.03, Z0 = 0.005;

// Electron n of the start; in the parallel mode it is seeded particle n.
void isotropic_start(double speed, double t, int n) {
    const double c = 2.0 * random_numbers::draw_uniform() - 1.0;
    const double s = std::sqrt(1.0 - c * c);
    const double phi = 6.283185307179586 * random_numbers::draw_uniform();
    PARTICLE_STORAGE::add_record(electrons,
                                 {-mesh::ELECTRON_CHARGE, t, X0, Y0, Z0, speed * s * portable_math::cos(phi),
                                  speed * s * portable_math::sin(phi), speed * c, 0},
                                 particle_streams::seed_identity(0, static_cast<std::uint64_t>(n)), 0);
}

// Ions play no part here; they are dropped after every pass.
void clear_ions() {
    Particle p;
    for (PARTICLE_STORAGE::rewind(ions); PARTICLE_STORAGE::get_current(ions, p); PARTICLE_STORAGE::advance(ions))
        PARTICLE_STORAGE::delete_current(ions);
    PARTICLE_STORAGE::compact(ions);
    PARTICLE_STORAGE::rewind(ions);
}

// Keeps every other electron once the population has doubled; electrons are
// alike, so the averages per electron do not change.
void thin_out(int target) {
    if (electrons.count < 2 * target) return;
    Particle p;
    int n = 0;
    for (PARTICLE_STORAGE::rewind(electrons); PARTICLE_STORAGE::get_current(electrons, p);
         PARTICLE_STORAGE::advance(electrons))
        if (n++ % 2 == 1) PARTICLE_STORAGE::delete_current(electrons);
    PARTICLE_STORAGE::compact(electrons);
    PARTICLE_STORAGE::rewind(electrons);
}

struct Sums {
    double energy = 0, drift = 0, ionization = 0, penning = 0;  // per-electron sums
    double electrons = 0;                                        // electrons sampled
    double ions_made = 0, electron_time = 0;                     // counted production, s
    double dx = 0, dy = 0, dz = 0;                               // cm, displacements over a pass
    double dx2 = 0, dy2 = 0, dz2 = 0;                            // cm^2, their squares
    double xe_excitations = 0, xe_ionizations = 0;               // counted, electrons
    double below = 0, climbs = 0;  // electrons below 8.31 eV at a pass's start, and above it at its end
    // For the fluid's tables: per-electron sums of each process's frequency
    // (1/s, tallies' order), of the energy lost (eV/s), of the frequency of
    // new electrons (1/s), of the energy flux along -x (eV·cm/s) and of the
    // two-term diffusion v^2/(3 nu_m) without and with the energy (cm^2/s, eV·cm^2/s).
    double rate[16] = {};
    double loss = 0, births = 0, energy_flux = 0, diffusion = 0, energy_diffusion = 0;
};

constexpr double CLIMB_SPEED2 = drift_diffusion::INELASTIC_THRESHOLD * SPEED_PER_SQRT_EV * SPEED_PER_SQRT_EV;
std::vector<char> below_at_start;  // by slot

// Marks which electrons start the pass below the threshold.
void mark_below(Sums& s) {
    below_at_start.assign(static_cast<std::size_t>(electrons.count) + 1, 0);
    Particle p;
    for (int slot = 1; slot <= electrons.count; ++slot) {
        PARTICLE_STORAGE::get_slot(electrons, slot, p);
        below_at_start[static_cast<std::size_t>(slot)] = PARTICLE_STORAGE::speed2(p) < CLIMB_SPEED2;
        s.below += below_at_start[static_cast<std::size_t>(slot)];
    }
}

// Counts the marked electrons that ended the pass above it (no electron
// dies in a pass, so the slots of the start still hold them).
void count_climbs(Sums& s) {
    Particle p;
    for (int slot = 1; slot < static_cast<int>(below_at_start.size()); ++slot) {
        PARTICLE_STORAGE::get_slot(electrons, slot, p);
        if (below_at_start[static_cast<std::size_t>(slot)] && !(PARTICLE_STORAGE::speed2(p) < CLIMB_SPEED2))
            s.climbs += 1;
    }
}

// The collisions of the pass, counted by the collision step.
void count_collisions(Sums& s) {
    const pass_output::Tally t = pass_output::take_tally();
    for (int k = 2; k <= 7; ++k) s.xe_excitations += t.collided[k] / mesh::ELECTRON_CHARGE;
    s.xe_ionizations += t.collided[8] / mesh::ELECTRON_CHARGE;
}

double threshold_ev(double speed) {
    const double root = speed * SQRT_EV_PER_SPEED;
    return root * root;
}

// The fluid's coefficients need the frequencies over the population rather
// than counted collisions: every snapshot weighs all electrons, which keeps
// the noise of the rare processes low. The energy lost per elastic collision
// is 2(m/M)·energy on average (isotropic scattering, atom at rest); an excited
// Ne atom gives back the Penning electron's energy at once.
void add_moments(Sums& s, double v, double energy, double vx_along_field) {
    double nu[16];
    nu[0] = numt_Xe(v);
    nu[1] = numt_Ne(v);
    for (int k = 1; k <= 6; ++k) nu[1 + k] = nu_exc_Xe(k, v);
    nu[8] = nu_ion_Xe(v);
    for (int k = 1; k <= 6; ++k) nu[8 + k] = nu_exc_Ne(k, v);
    nu[15] = nu_ion_Ne(v);
    const bool penning = species::fill().xenon_fraction > 0.0;
    const double penning_ev = threshold_ev(species::PENNING_SPEED);
    double nu_m = 0, loss = 2 * (species::MASS_RATIO_XE * nu[0] + species::MASS_RATIO_NE * nu[1]) * energy;
    double births = nu[8] + nu[15];
    for (int p = 0; p < 16; ++p) {
        s.rate[p] += nu[p];
        nu_m += nu[p];
    }
    for (int k = 0; k < 6; ++k) {
        loss += nu[2 + k] * threshold_ev(species::EXC_SPEED_XE[k]);
        loss += nu[9 + k] * (threshold_ev(species::EXC_SPEED_NE[k]) - (penning ? penning_ev : 0.0));
        if (penning) births += nu[9 + k];
    }
    loss += nu[8] * threshold_ev(species::ION_SPEED_XE) + nu[15] * threshold_ev(species::ION_SPEED_NE);
    s.loss += loss;
    s.births += births;
    s.energy_flux += energy * vx_along_field;
    if (nu_m > 0) {
        s.diffusion += v * v / (3 * nu_m);
        s.energy_diffusion += energy * v * v / (3 * nu_m);
    }
}

// Adds one snapshot of the population and puts every electron back at the
// reference position.
void sample(Sums& s) {
    Particle p;
    for (PARTICLE_STORAGE::rewind(electrons); PARTICLE_STORAGE::get_current(electrons, p);
         PARTICLE_STORAGE::advance(electrons)) {
        const double v = std::sqrt(p.vx * p.vx + p.vy * p.vy + p.vz * p.vz);
        const double root = v * SQRT_EV_PER_SPEED;
        s.energy += root * root;
        s.drift -= p.vx;
        s.ionization += nu_ion_Ne(v) + nu_ion_Xe(v);
        for (int k = 1; k <= 6; ++k) s.penning += nu_exc_Ne(k, v);
        s.electrons += 1;
        add_moments(s, v, root * root, -p.vx);
        s.dx += p.x - X0, s.dy += p.y - Y0, s.dz += p.z - Z0;
        s.dx2 += (p.x - X0) * (p.x - X0), s.dy2 += (p.y - Y0) * (p.y - Y0), s.dz2 += (p.z - Z0) * (p.z - Z0);
        p.x = X0, p.y = Y0, p.z = Z0;
        PARTICLE_STORAGE::set_current(electrons, p);
    }
    PARTICLE_STORAGE::rewind(electrons);
}

struct Estimate {
    double mean, error;
};

// Mean over the blocks and the standard error of that mean.
template <typename F>
Estimate over_blocks(const Sums (&blocks)[BLOCKS], F value) {
    double sum = 0, sum2 = 0;
    for (const Sums& b : blocks) {
        const double x = value(b);
        sum += x;
        sum2 += x * x;
    }
    const double mean = sum / BLOCKS;
    const double variance = std::max(sum2 / BLOCKS - mean * mean, 0.0) * BLOCKS / (BLOCKS - 1);
    return {mean, std::sqrt(variance / BLOCKS)};
}

// A swarm that has not relaxed shows a trend between the first and the last
// blocks; the block-to-block noise is taken from successive differences, which
// a steady trend hardly affects.
template <typename F>
bool still_drifting(const Sums (&blocks)[BLOCKS], F value) {
    double squares = 0;
    for (int b = 1; b < BLOCKS; ++b) squares += std::pow(value(blocks[b]) - value(blocks[b - 1]), 2);
    const double noise = std::sqrt(squares / (2.0 * (BLOCKS - 1)));
    const double first = (value(blocks[0]) + value(blocks[1]) + value(blocks[2])) / 3;
    const double last = (value(blocks[BLOCKS - 3]) + value(blocks[BLOCKS - 2]) + value(blocks[BLOCKS - 1])) / 3;
    return std::fabs(last - first) > 4 * noise * std::sqrt(2.0 / 3.0);
}

void print_estimate(const char* name, const Estimate& e, const char* unit) {
    std::printf(" %-34s %13.5e +- %9.2e %s\n", name, e.mean, e.error, unit);
}

// The fluid's coefficients, all per gas density N so that they hold for any
// density of this fill's composition. The flux mobility comes from the power
// balance of the steady swarm, e·E·w = loss + births·mean energy, so that a
// fluid with these coefficients heats and cools its electrons as the flights
// do and settles at their mean energy; the sampled drift velocity above
// checks it (the two agree within their noise, 0.2 to 2 %).
void print_moments(const Sums (&blocks)[BLOCKS], double field, double reduced_field) {
    const double n_inv = species::fill().inv_density;
    const auto per_n = [&](auto value) { return over_blocks(blocks, [&](const Sums& s) { return value(s) / s.electrons * n_inv; }); };
    const auto mean_energy = [](const Sums& s) { return s.energy / s.electrons; };
    const auto power_drift = [&](const Sums& s) {
        return (s.loss + s.births * mean_energy(s)) / s.electrons / field;  // cm/s
    };
    const auto put = [](const char* name, const Estimate& e) {
        std::printf(" moment %-14s %.8e +- %.3e\n", name, e.mean, e.error);
    };
    put("mean_energy", over_blocks(blocks, mean_energy));
    put("mobility_N", over_blocks(blocks, [&](const Sums& s) { return power_drift(s) / reduced_field; }));
    put("drift_power", over_blocks(blocks, power_drift));
    put("energy_mob_N", over_blocks(blocks, [&](const Sums& s) {
            return s.energy_flux / s.energy / reduced_field;
        }));
    put("diffusion_N", over_blocks(blocks, [&](const Sums& s) { return s.diffusion / s.electrons / n_inv; }));
    put("energy_diff_N", over_blocks(blocks, [&](const Sums& s) { return s.energy_diffusion / s.energy / n_inv; }));
    put("loss_per_N", per_n([](const Sums& s) { return s.loss; }));
    put("births_per_N", per_n([](const Sums& s) { return s.births; }));
    for (int p = 0; p < 16; ++p) {
        char name[16];
        std::snprintf(name, sizeof name, "rate_%02d", p);
        put(name, per_n([p](const Sums& s) { return s.rate[p]; }));
    }
}

}  // namespace

// The electron fluid in one periodic node with the field along x: its mean
// energy settles where the field's heating meets the collision loss (steps of
// 10 ps over 100 ns, with the density held so that only the energy evolves).
void print_fluid(double field, double reduced_field) {
    electron_transport_tables::use_built_in();
    electron_transport_tables::check_fill(species::fill().xenon_fraction);
    mesh::reset();
    mesh::ilo = mesh::ihi = 20, mesh::jlo = mesh::jhi = 20, mesh::klo = mesh::khi = 4;
    for (int n = 0; n < mesh::NODE_COUNT; ++n) mesh::ex[n] = field;
    electron_fluid::reset();
    electron_fluid::configure({true, true, true, true});
    const int n = mesh::node(20, 20, 4);
    electron_fluid::set_uniform(1.0, 1.0);
    for (int s = 0; s < 10000; ++s) {
        electron_fluid::step(1e-11, mesh::ex, mesh::ey, mesh::ez);
        electron_fluid::set_uniform(1.0, electron_fluid::mean_energy(n));
    }
    const double energy = electron_fluid::mean_energy(n);
    const electron_transport_tables::Coefficients c = electron_transport_tables::at(energy);
    std::printf(" fluid %-14s %.8e\n", "mean_energy", energy);
    std::printf(" fluid %-14s %.8e\n", "drift", c.mobility_n * reduced_field);
    for (int p = 0; p < 16; ++p) std::printf(" fluid rate_%02d        %.8e\n", p, c.rate[p]);
}

// The fill of the cell file, as pdpcell takes it.
void take_cell_file(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    if (!file) pdp::fatal({"ERROR: can't open the cell file " + name, "       give the path of a case's cell.toml"});
    std::ostringstream text;
    text << file.rdbuf();
    species::set_fill(cell_file::fill_of(cell_file::parse(text.str(), name)));
    collision_frequencies::follow_fill();
}

int main(int argc, char** argv) {
    const Options o = parse_options(argc, argv);
    try {
        if (!o.cell_file.empty()) take_cell_file(o.cell_file);
    } catch (const pdp::FatalError&) {
        return pdp::FATAL_EXIT_STATUS;
    }
    const double field = o.reduced_field * TOWNSEND * species::fill().density;  // V/cm
    if (o.fluid) {
        try {
            std::printf(" pdpcell-swarm: electron fluid, Ne-Xe (%g %% Xe), E/N = %g Td\n",
                        100 * species::fill().xenon_fraction, o.reduced_field);
            print_fluid(field, o.reduced_field * TOWNSEND);
        } catch (const pdp::FatalError&) {
            return pdp::FATAL_EXIT_STATUS;
        }
        return 0;
    }
    // Even at the highest ionization frequency, twice the target population
    // must not outgrow the store within one pass.
    const double longest_interval =
        portable_math::log((PARTICLE_STORAGE::ELECTRON_CAPACITY - 1) / (2.0 * o.electrons)) / (NU_IONIZATION_MAX * bound_scale());
    const double interval = o.interval_given ? o.interval_ns * 1e-9 : std::min(o.interval_ns * 1e-9, longest_interval);  // s
    const long relax_passes = std::lround(o.relax_ns * 1e-9 / interval);
    const long sample_passes = std::lround(o.sample_ns * 1e-9 / interval);
    const long passes_per_block = sample_passes / BLOCKS;

    try {
        set_up_open_gas(field);
        PARTICLE_STORAGE::reset();
        random_numbers::set_seed(o.seed1, o.seed2);
        parallel_mode::configure(o.parallel, o.threads, o.seed1, o.seed2);
        electron_mover::reset();
        electron_mover::set_leapfrog(o.second_order);
        drift_diffusion::reset();
        if (o.drift_diffusion) drift_diffusion::set_up(o.limits);
        std::printf(" pdpcell-swarm: Ne-Xe (%g %% Xe), N = %.6e cm^-3, E/N = %g Td, E = %.6e V/cm%s%s\n",
                    100 * species::fill().xenon_fraction, species::fill().density, o.reduced_field, field, o.parallel ? ", parallel mode" : "",
                    o.second_order ? ", second-order flights" : "");
        if (o.drift_diffusion)
            std::printf(" drift-diffusion steps below %g eV, %g Td, where nu_m > %g /s\n",
                        drift_diffusion::INELASTIC_THRESHOLD - o.limits.energy_margin, o.limits.reduced_field,
                        o.limits.collision_frequency);
        std::printf(" collision bound numax/N (cm^3/s) on the next line\n");
        electron_mover::advance_electrons(0.0);

        for (int n = 0; n < o.electrons; ++n) isotropic_start(SPEED_PER_SQRT_EV, 0.0, n);  // 1 eV
        double t = 0.0;
        for (long pass = 0; pass < relax_passes; ++pass) {
            t += interval;
            electron_mover::advance_electrons(t);
            clear_ions();
            thin_out(o.electrons);
        }
        Sums relaxation;
        sample(relaxation);  // puts the electrons back where the displacements are counted from

        Sums blocks[BLOCKS];
        for (int b = 0; b < BLOCKS; ++b) {
            for (long pass = 0; pass < passes_per_block; ++pass) {
                const int before = electrons.count;
                mark_below(blocks[b]);
                pass_output::take_tally();
                t += interval;
                electron_mover::advance_electrons(t);
                count_climbs(blocks[b]);
                count_collisions(blocks[b]);
                blocks[b].ions_made += ions.count;
                // The population grows exponentially within a pass: its time
                // integral is the logarithmic mean of the two counts.
                const double after = electrons.count;
                blocks[b].electron_time +=
                    (after == before ? after : (after - before) / std::log(after / before)) * interval;
                clear_ions();
                sample(blocks[b]);
                thin_out(o.electrons);
            }
        }

        std::printf(" samples: %ld passes of %.4g ns after %g ns of relaxation, %lld free flights\n",
                    passes_per_block * BLOCKS, interval * 1e9, o.relax_ns, electron_mover::flight_count);
        const auto mean_energy = [](const Sums& s) { return s.energy / s.electrons; };
        print_estimate("mean energy", over_blocks(blocks, mean_energy), "eV");
        const Estimate drift = over_blocks(blocks, [](const Sums& s) { return s.drift / s.electrons; });
        print_estimate("drift velocity (flux)", drift, "cm/s");
        const Estimate ionization = over_blocks(
            blocks, [](const Sums& s) { return s.ionization / s.electrons * species::fill().inv_density; });
        print_estimate("ionization rate coefficient", ionization, "cm^3/s");
        print_estimate("Penning (Ne excitation) coefficient",
                       over_blocks(blocks, [](const Sums& s) { return s.penning / s.electrons * species::fill().inv_density; }),
                       "cm^3/s");
        print_estimate("ion production (counted)",
                       over_blocks(blocks,
                                   [](const Sums& s) { return s.ions_made / s.electron_time * species::fill().inv_density; }),
                       "cm^3/s");
        print_estimate("bulk drift velocity (displacement)",
                       over_blocks(blocks, [&](const Sums& s) { return -s.dx / s.electrons / interval; }), "cm/s");
        const auto variance = [](double sum, double sum2, double n) { return sum2 / n - (sum / n) * (sum / n); };
        print_estimate("longitudinal diffusion D_L",
                       over_blocks(blocks,
                                   [&](const Sums& s) { return variance(s.dx, s.dx2, s.electrons) / (2 * interval); }),
                       "cm^2/s");
        print_estimate("transverse diffusion D_T",
                       over_blocks(blocks,
                                   [&](const Sums& s) {
                                       return (variance(s.dy, s.dy2, s.electrons) + variance(s.dz, s.dz2, s.electrons)) /
                                              (4 * interval);
                                   }),
                       "cm^2/s");
        print_estimate("Xe excitation (counted)",
                       over_blocks(blocks,
                                   [](const Sums& s) { return s.xe_excitations / s.electron_time * species::fill().inv_density; }),
                       "cm^3/s");
        print_estimate("Xe ionization (counted)",
                       over_blocks(blocks,
                                   [](const Sums& s) { return s.xe_ionizations / s.electron_time * species::fill().inv_density; }),
                       "cm^3/s");
        print_estimate("climbs over 8.31 eV per pass",
                       over_blocks(blocks, [](const Sums& s) { return s.below > 0 ? s.climbs / s.below : 0.0; }),
                       "of those below");
        if (o.moments) print_moments(blocks, field, o.reduced_field * TOWNSEND);
        if (drift.mean > 0)
            std::printf(" %-34s %13.5e %s\n", "alpha/N (ionization / drift)", ionization.mean / drift.mean, "cm^2");
        if (still_drifting(blocks, mean_energy))
            std::printf(" warning: the mean energy still drifts over the sampling time; increase --relax\n");
    } catch (const pdp::FatalError&) {
        return pdp::FATAL_EXIT_STATUS;
    }
    return 0;
}
