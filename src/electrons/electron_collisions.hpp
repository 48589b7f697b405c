#pragma once
// One null-collision step for a moving electron: selects and performs elastic
// scattering, excitation (with Penning ionization after Ne excitation) or
// ionization, appending new electrons and ions.
#include "particles/particle_storage.hpp"
#include "particles/pass_output.hpp"

namespace electron_collisions {

constexpr int SPECIES_NE = 1;
constexpr int SPECIES_XE = 2;

// Threshold speeds of the excitation levels k = 1..6 (index k-1) and of
// ionization, cm/s; each is SPEED_PER_SQRT_EV·sqrt(threshold in eV).
constexpr double EXC_SPEED_XE[6] = {170971739.03302476, 172303873.41092938, 184622958.37221882,
                                    187552914.46843413, 196707156.19459334, 202869494.99359533};
constexpr double EXC_SPEED_NE[6] = {241790552.12301713, 242153983.18958429, 243385589.55270287,
                                    256611868.77915493, 265239875.3038606, 269515561.0968906};
constexpr double ION_SPEED_XE = 206478638.1673217;  // 12.12 eV
constexpr double ION_SPEED_NE = 275390018.6724301;  // 21.56 eV

constexpr double PENNING_SPEED = 124549822.21983;  // cm/s, 4.41 eV

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
