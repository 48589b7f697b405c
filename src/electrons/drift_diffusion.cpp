#include "electrons/drift_diffusion.hpp"

#include "common/portable_math.hpp"
#include "electrons/collision_frequencies.hpp"
#include "particles/species.hpp"

#include <algorithm>
#include <cmath>

namespace drift_diffusion {

namespace {

using collision_frequencies::SPEED_PER_SQRT_EV;

constexpr double TOWNSEND = 1e-17;  // V·cm^2
constexpr double TWO_PI = 6.283185307179586;

// Transport on an energy grid, linear in between: 0 to TABLE_TOP eV.
constexpr double TABLE_STEP = 0.01;  // eV
constexpr double TABLE_TOP = 10.0;   // eV, above the threshold, which ends every step
constexpr int TABLE_SIZE = static_cast<int>(TABLE_TOP / TABLE_STEP) + 1;
Transport table[TABLE_SIZE];

bool steps_on = false;
Limits chosen = STANDARD_LIMITS;
double highest_energy = 0;  // eV
double highest_field2 = 0;  // (V/cm)^2

double nu_m(double energy) {
    const double v = SPEED_PER_SQRT_EV * std::sqrt(energy);
    return collision_frequencies::numt_Ne(v) + collision_frequencies::numt_Xe(v);
}

// The formulas of the header at one energy; the slope of nu_m by a central
// difference across a grid step.
Transport transport_from_frequencies(double energy) {
    const double nu = nu_m(energy);
    if (!(nu > 0)) return {0, 0, 0, 0};
    const double half = TABLE_STEP / 2;
    const double slope = (nu_m(energy + half) - nu_m(std::max(energy - half, 0.0))) /
                         (energy + half - std::max(energy - half, 0.0));  // 1/(s·eV)
    const double v2 = SPEED_PER_SQRT_EV * SPEED_PER_SQRT_EV * energy;     // (cm/s)^2
    const double v = SPEED_PER_SQRT_EV * std::sqrt(energy);
    const double recoil = 2 * (species::MASS_RATIO_NE * collision_frequencies::numt_Ne(v) +
                               species::MASS_RATIO_XE * collision_frequencies::numt_Xe(v));
    return {species::QM_ELECTRON / nu * (1 - 2 * energy / 3 * slope / nu), v2 / (3 * nu), recoil, nu};
}

}  // namespace

Transport transport(double energy) {
    // A non-finite energy reads the top entry; may_continue() then refuses it.
    const double at = (energy < TABLE_TOP ? std::max(energy, 0.0) : TABLE_TOP) / TABLE_STEP;
    const int i = std::min(static_cast<int>(at), TABLE_SIZE - 2);
    const double f = at - i;
    const Transport& a = table[i];
    const Transport& b = table[i + 1];
    return {a.mobility + f * (b.mobility - a.mobility), a.diffusion + f * (b.diffusion - a.diffusion),
            a.recoil_rate + f * (b.recoil_rate - a.recoil_rate),
            a.collision_frequency + f * (b.collision_frequency - a.collision_frequency)};
}

void set_up(const Limits& limits) {
    for (int i = 0; i < TABLE_SIZE; ++i) table[i] = transport_from_frequencies(i * TABLE_STEP);
    chosen = limits;
    highest_energy = INELASTIC_THRESHOLD - limits.energy_margin;
    const double highest_field = chosen.reduced_field * TOWNSEND * species::fill().density;  // V/cm
    highest_field2 = highest_field * highest_field;
    steps_on = true;
}

bool on() { return steps_on; }
const Limits& limits() { return chosen; }

bool may_continue(double energy, const Transport& t, double field2, double wall_distance) {
    return energy < highest_energy && field2 < highest_field2 && wall_distance > chosen.wall_distance &&
           t.collision_frequency > chosen.collision_frequency;
}

Substep substep(double energy, const Transport& t, double Ex, double Ey, double Ez, double longest,
                pass_output::Context& c) {
    const double field2 = Ex * Ex + Ey * Ey + Ez * Ez;
    // rms displacement sqrt(2 D h) per axis, rms work |E|·sqrt(2 D h).
    double h = std::min(longest, SUBSTEP_LENGTH * SUBSTEP_LENGTH / (2 * t.diffusion));
    if (field2 > 0) h = std::min(h, SUBSTEP_ENERGY * SUBSTEP_ENERGY / (2 * t.diffusion * field2));
    const double spread = std::sqrt(2 * t.diffusion * h);  // cm
    // Box-Muller: two pairs of normal numbers from four uniform ones.
    const double r1 = std::sqrt(-2 * portable_math::log(pass_output::draw_uniform(c)));
    const double phi1 = TWO_PI * pass_output::draw_uniform(c);
    const double r2 = std::sqrt(-2 * portable_math::log(pass_output::draw_uniform(c)));
    const double phi2 = TWO_PI * pass_output::draw_uniform(c);
    const double drift = -t.mobility * h;  // cm per V/cm
    return {drift * Ex + spread * r1 * portable_math::cos(phi1), drift * Ey + spread * r1 * portable_math::sin(phi1),
            drift * Ez + spread * r2 * portable_math::cos(phi2), h, t.recoil_rate * energy * h};
}

bool may_enter(double energy, const Transport& t, double field2, double wall_distance) {
    return energy < highest_energy - RETURN_GAP && may_continue(energy, t, field2, wall_distance);
}

void reset() {
    steps_on = false;
    chosen = STANDARD_LIMITS;
}

}  // namespace drift_diffusion
