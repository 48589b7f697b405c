#pragma once
// The field of a dense discharge. Two changes to the plain solve:
// - the electrons' charge joins the source, so a quasi-neutral plasma has no
//   space-charge field;
// - the solve is semi-implicit in the electron current: it finds the field
//   that is consistent with the charge the electrons will have moved by the end
//   of the interval in which the field stays frozen,
//       div((eps0·eps + dt_f·sigma) grad phi) = -rho,  sigma = e·mu_e·n_e,
//   which damps a charge separation instead of overshooting it when the
//   dielectric relaxation time eps0/sigma is far shorter than dt_f.
namespace plasma_field {

// Electron mobility times gas density, 1/(V·cm·s), of the built-in 86 % Ne,
// 14 % Xe fill. From the swarm tool (pdpcell-swarm, same collision model) the
// drift velocity over E is (mu_e·N, 1e22 /(V·cm·s)): 4.4 at 10 Td, 3.7 at 30,
// 2.6 at 100, 1.5 at 200. The solve is stable only when its conductivity is
// at least half the true one, so the largest value, that of the weakly
// driven plasma body, is taken; overestimating merely damps more.
constexpr double MOBILITY_TIMES_GAS_DENSITY = 2.6e22;

// Electron mobility in the run's gas, cm^2/(V·s).
double electron_mobility();

// Adds the electron charge density to charge_source on every gas node; call it
// after field::build_charge_source().
void add_electron_charge();

// Loads into the solver's coefficients the gas-to-gas face couplings
// eps + frozen_time·sigma/eps0 (times area over spacing), with sigma from the
// mean electron density of the two nodes. Faces that touch a dielectric keep
// their vacuum coupling: electrons reaching a wall become wall charge in the
// movers, and the wall-charge split and the gas-side field at a surface rest
// on that coupling. frozen_time in s.
void load_conducting_couplings(double frozen_time);
// Puts the vacuum couplings back into the face couplings and the solver's
// coefficients, as every other solve (sustain state, floating gap) expects.
void restore_vacuum_couplings();

// Real electrons above which the field is solved in every step instead of
// every interval: the charge that holds the applied voltage across the cell is
// about 1e7 e (eps0·area/gap ~ 8e-15 F at 180 V), and a dense discharge
// multiplies or drains its electrons within a few steps, far faster than a
// field frozen for an interval can follow.
constexpr double DENSE_ELECTRONS = 1e5;

// Whether the field phase is due in step n (counted from 0): every interval
// steps, and in every step while the electrons are dense. Reads the electron
// store; the answer holds for the solve of the same step.
bool field_due(int n, int interval);

// The field phase's solve, where the plain solve would be called: electrons
// into the source, conducting couplings for the time the field stays frozen
// (one step while dense, else the interval), potential::solve_potential(),
// vacuum couplings back. time_step in s.
void solve_potential(double time_step, int interval);

void reset();

}  // namespace plasma_field
