#include "electrons/electron_collisions.hpp"

#include "common/portable_math.hpp"
#include "electrons/collision_frequencies.hpp"
#include "particles/species.hpp"
#include "particles/particle_streams.hpp"
#include "radiation/xe_kinetics.hpp"

#include <algorithm>
#include <cmath>

namespace electron_collisions {

namespace {

using namespace collision_frequencies;
using PARTICLE_STORAGE::Particle;
using PARTICLE_STORAGE::speed2;
using pass_output::Context;
using pass_output::draw_uniform;

constexpr double TWO_PI = 6.283185307179586;

// Below the lowest excitation threshold (Xe level 1) and below the lowest Ne
// threshold (Ne level 1) every later frequency in the list is exactly 0, so
// the remaining subtractions could not change R; skipping them saves lookups.
constexpr double LOWEST_INELASTIC_SPEED = EXC_SPEED_XE[0];
constexpr double LOWEST_NE_INELASTIC_SPEED = EXC_SPEED_NE[0];

void set_velocity(Particle& e, double speed, const Direction& n) {
    e.vx = speed * n.x;
    e.vy = speed * n.y;
    e.vz = speed * n.z;
}

// The atom recoils: the speed falls by mass_ratio·(1 - cos theta) of itself,
// theta the scattering angle; the energy lost goes to the report.
void scatter_elastic(Particle& e, double v, double mass_ratio, Context& c) {
    const Direction n = isotropic_direction(c);
    const double v_new = v - (v - (e.vx * n.x + e.vy * n.y + e.vz * n.z)) * mass_ratio;
    set_velocity(e, v_new, n);
    pass_output::tally(c).recoil_energy +=
        pass_output::kinetic_energy(e.w, v * v - v_new * v_new, species::QM_ELECTRON);
}

// The level energy is lost; in speed-squared units, v'^2 = v^2 - u^2.
void excite(Particle& e, double v, double threshold_speed, Context& c) {
    const Direction n = isotropic_direction(c);
    set_velocity(e, std::sqrt(v * v - threshold_speed * threshold_speed), n);
}

// The electron and the ion of an ionization start where and when the
// colliding electron is; the ion starts at rest.
void append_pair(const Particle& e, double speed, const Direction& n, int species, Context& c) {
    pass_output::add_electron(c, {e.w, e.t, e.x, e.y, e.z, speed * n.x, speed * n.y, speed * n.z, species},
                              particle_streams::CHILD_ELECTRON);
    pass_output::add_ion(c, {-e.w, e.t, e.x, e.y, e.z, 0.0, 0.0, 0.0, species}, particle_streams::CHILD_ION);
}

// The excited Ne atom ionizes a Xe atom at once (Penning); the released
// electron carries the 4.41 eV left over. Pure neon has no Xe to ionize.
void excite_ne_with_penning(Particle& e, double v, double threshold_speed, Context& c) {
    excite(e, v, threshold_speed, c);
    if (species::fill().xenon_fraction == 0.0) return;
    const Direction n2 = isotropic_direction(c);
    append_pair(e, PENNING_SPEED, n2, SPECIES_XE, c);
}

// The energy above threshold is shared by a uniform fraction r between the
// two electrons, which leave in independent directions.
void ionize(Particle& e, double v, double threshold_speed, int species, Context& c) {
    const Direction n1 = isotropic_direction(c);
    const double left = v * v - threshold_speed * threshold_speed;  // (cm/s)^2
    const double r = draw_uniform(c);
    set_velocity(e, std::sqrt(r * left), n1);
    const Direction n2 = isotropic_direction(c);
    append_pair(e, std::sqrt((1.0 - r) * left), n2, species, c);
}

}  // namespace

Direction isotropic_direction(Context& c) {
    const double cos_chi = 2.0 * draw_uniform(c) - 1.0;
    const double sin_chi = std::sqrt(1.0 - cos_chi * cos_chi);
    const double phi = TWO_PI * draw_uniform(c);
    return {sin_chi * portable_math::cos(phi), sin_chi * portable_math::sin(phi), cos_chi};
}

Process select_process(double v, double R, double bound) {
    R = R - std::max(bound - nu_total(v), 0.0) / bound;
    if (R < 0.0) return {Kind::null, 0};

    R = R - numt_Xe(v) / bound;
    if (R < 0.0) return {Kind::elastic_xe, 0};
    R = R - numt_Ne(v) / bound;
    if (R < 0.0) return {Kind::elastic_ne, 0};
    if (v < LOWEST_INELASTIC_SPEED) return {Kind::null, 0};

    for (int k = 1; k <= 6; ++k) {
        R = R - nu_exc_Xe(k, v) / bound;
        if (R < 0.0) return {Kind::excite_xe, k};
    }
    R = R - nu_ion_Xe(v) / bound;
    if (R < 0.0) return {Kind::ionize_xe, 0};
    if (v < LOWEST_NE_INELASTIC_SPEED) return {Kind::null, 0};

    for (int k = 1; k <= 6; ++k) {
        R = R - nu_exc_Ne(k, v) / bound;
        if (R < 0.0) return {Kind::excite_ne, k};
    }
    R = R - nu_ion_Ne(v) / bound;
    if (R < 0.0) return {Kind::ionize_ne, 0};
    return {Kind::null, 0};
}

int process_index(const Process& process) {
    switch (process.kind) {
        case Kind::null: break;
        case Kind::elastic_xe: return 0;
        case Kind::elastic_ne: return 1;
        case Kind::excite_xe: return 1 + process.level;
        case Kind::ionize_xe: return 8;
        case Kind::excite_ne: return 8 + process.level;
        case Kind::ionize_ne: return 15;
    }
    return -1;
}

void perform(const Process& process, Particle& e, double v, Context& c) {
    if (process.kind == Kind::null) return;
    const double speed2_before = speed2(e);
    switch (process.kind) {
        case Kind::null: break;
        case Kind::elastic_xe: scatter_elastic(e, v, species::MASS_RATIO_XE, c); break;
        case Kind::elastic_ne: scatter_elastic(e, v, species::MASS_RATIO_NE, c); break;
        case Kind::excite_xe:
            excite(e, v, EXC_SPEED_XE[process.level - 1], c);
            if (xe_kinetics::on()) pass_output::excite_xe(c, e, process.level);
            break;
        case Kind::ionize_xe: ionize(e, v, ION_SPEED_XE, SPECIES_XE, c); break;
        case Kind::excite_ne: excite_ne_with_penning(e, v, EXC_SPEED_NE[process.level - 1], c); break;
        case Kind::ionize_ne: ionize(e, v, ION_SPEED_NE, SPECIES_NE, c); break;
    }
    pass_output::Tally& tally = pass_output::tally(c);
    tally.collided[process_index(process)] += std::fabs(e.w);
    // The mover counts the kinetic energy an electron gains over its move as
    // the field's work; what the collision changed is not.
    tally.electron_work -= pass_output::kinetic_energy(e.w, speed2(e) - speed2_before, species::QM_ELECTRON);
}

void collide(Particle& e, double bound, Context& c) {
    const double v = std::sqrt(e.vx * e.vx + e.vy * e.vy + e.vz * e.vz);
    const double R = draw_uniform(c);
    perform(select_process(v, R, bound), e, v, c);
}

}  // namespace electron_collisions
