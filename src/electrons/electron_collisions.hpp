#pragma once
// One null-collision step for a moving electron: selects and performs elastic
// scattering, excitation (with Penning ionization after Ne excitation) or
// ionization, appending new electrons and ions.
#include "particles/particle_storage.hpp"
#include "particles/pass_output.hpp"
#include "particles/species.hpp"

namespace electron_collisions {

constexpr int SPECIES_NE = 1;
constexpr int SPECIES_XE = 2;

// The thresholds, from the species' data.
using species::EXC_SPEED_NE;
using species::EXC_SPEED_XE;
using species::ION_SPEED_NE;
using species::ION_SPEED_XE;
using species::PENNING_SPEED;

enum class Kind { null, elastic_xe, elastic_ne, excite_xe, ionize_xe, excite_ne, ionize_ne };

struct Process {
    Kind kind;
    int level;  // 1..6 for the excitations, 0 otherwise
};

// Index of a process (not the null one) in the tallies' order: elastic Xe,
// elastic Ne, Xe levels 1..6, Xe ionization, Ne levels 1..6, Ne ionization.
int process_index(const Process& process);

struct Direction {
    double x, y, z;
};
// Isotropic unit vector from two draws: cos(chi) uniform in (-1, 1), azimuth
// uniform in (0, 2 pi).
Direction isotropic_direction(pass_output::Context& context);

// Draws one number, selects the process and performs it on the electron at a
// collision candidate of rate `bound` (1/s, the flight's numax); numbers come
// from, and births go to, the context of the electron's move.
void collide(PARTICLE_STORAGE::Particle& electron, double bound, pass_output::Context& context);

// The process that the uniform number R picks for an electron of speed v
// (cm/s) under the collision bound (1/s): the null share comes first, then the
// sixteen processes in their fixed order.
Process select_process(double v, double R, double bound);

// Carries out a selected process on an electron of speed v and tallies it
// in the context (its charge under the process, the recoil energy), with its own
// draws: 2 for elastic scattering and Xe excitation, 4 for Ne excitation with
// Penning ionization, 5 for ionization, none for the null process.
void perform(const Process& process, PARTICLE_STORAGE::Particle& electron, double v,
             pass_output::Context& context);

}  // namespace electron_collisions
