#pragma once
// Thermal electrons by drift-diffusion (Langevin) steps. Below the lowest
// inelastic threshold (Xe level 1, 8.31 eV) an electron only scatters
// elastically, and isotropically, tens to a hundred times per time step. In a
// weak field its motion over such times is a drift and a diffusion whose
// coefficients at its own energy eps follow from the momentum-transfer
// frequency nu_m(eps) of the collision model alone (the two-term expansion
// of the Boltzmann equation):
//   drift             u = -mu·E,   mu = (e/m)/nu_m · (1 - (2 eps/3)·(dnu_m/deps)/nu_m)
//   diffusion         D = v^2/(3 nu_m) per axis
//   recoil loss       P = 2·sum_gas (m/M)·nu_gas·eps
// Its energy changes by the field's work on its displacement, -e E·dx, less
// P·dt. The work on the diffusive part of a step is the two-term energy
// diffusion, (e E)^2·D·dt on average squared, and on its drift part the
// energy drift e·mu·E^2·dt, so electrons taking such steps evolve by the
// same equation as the kinetic ones' energy distribution; the climb over the
// threshold, where the kinetic mover takes over, comes with it.
//
// Assumed where a step is taken (Limits): energy below the threshold, a
// field weak enough that the velocity changes little between collisions,
// enough collisions per time step, and no absorbing wall within a few mean
// free paths. The tables are built by set_up() from collision_frequencies.
#include "particles/pass_output.hpp"

namespace drift_diffusion {

// Lowest inelastic threshold, eV: Xe level 1.
constexpr double INELASTIC_THRESHOLD = 8.31;

struct Limits {
    double energy_margin;  // eV, steps stop at INELASTIC_THRESHOLD - energy_margin
    double reduced_field;  // Td, |E|/N above which the kinetic mover takes over
    double wall_distance;  // cm, from the front, rear and rib walls
    double collision_frequency;  // 1/s, nu_m below which the motion is not diffusive over a step
};
// 1 eV below the threshold; 10 Td; 10 um, three mean free paths at 3 eV;
// ten collisions in a 0.1 ns step.
constexpr Limits STANDARD_LIMITS{1.0, 10.0, 10e-4, 1e11};

// Transport of an electron of energy eps (eV) by the formulas above.
struct Transport {
    double mobility;     // cm^2/(V·s)
    double diffusion;    // cm^2/s
    double recoil_rate;  // 1/s, P/eps
    double collision_frequency;  // nu_m, 1/s
};
Transport transport(double energy);

// Builds the tables and turns the steps on with these limits.
void set_up(const Limits& limits);
bool on();
const Limits& limits();

// Whether an electron of energy eps (eV) and transport t = transport(eps) in a field of squared magnitude
// field2 ((V/cm)^2), wall_distance (cm) from the nearest absorbing wall, may
// go on with drift-diffusion sub-steps, or begin them at the start of a
// time step: there it must be RETURN_GAP below the energy where they stop,
// so that a step does not begin only to stop at once.
constexpr double RETURN_GAP = 1.0;  // eV
bool may_continue(double energy, const Transport& t, double field2, double wall_distance);
bool may_enter(double energy, const Transport& t, double field2, double wall_distance);

// One Euler-Maruyama sub-step from energy eps (eV), of transport t, in the field (V/cm), at
// most `longest` seconds: short enough that its rms displacement is at most
// SUBSTEP_LENGTH and its rms energy change at most SUBSTEP_ENERGY. Draws
// three normal numbers (four uniform ones) from the context.
constexpr double SUBSTEP_LENGTH = 2.5e-4;  // cm
constexpr double SUBSTEP_ENERGY = 0.5;     // eV
struct Substep {
    double dx, dy, dz;  // cm
    double h;           // s
    double recoil;      // eV lost to the atoms
};
Substep substep(double energy, const Transport& t, double Ex, double Ey, double Ez, double longest,
                pass_output::Context& c);

void reset();

}  // namespace drift_diffusion
