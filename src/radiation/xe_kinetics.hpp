#pragma once
// Xenon's excited states and excimers on the mesh nodes of the gas box, fed
// by the electrons' Xe excitations, and the VUV photons they give. The states
// and rates are xe_rates'; between two advances the system is linear with
// constant rates, so it is advanced by its exact propagator exp(M dt) and the
// photons and wall losses by the integral of the states over the interval.
// Where a node holds electrons (the densities the field phase last
// accumulated), electron mixing of 1s5 and 1s4 and superelastic collisions
// to the ground state come first in each advance, as their own exact 2x2
// step. Every excitation deposited ends as a photon (147, 150 or 173 nm), a
// wall loss or a superelastic loss, or is still held: the tally closes to
// rounding.
#include "particles/xe_rates.hpp"

namespace xe_kinetics {

using xe_rates::LINES;
using xe_rates::STATES;

// Where the photons land: the phosphor (the rear plate and the ribs) or the
// front plate.
constexpr int PHOSPHOR = 0, FRONT = 1;

// Cumulative since the start of the run, in real atoms and photons.
struct Tally {
    double excited[6];              // deposited, by Xe level 1..6 (index k-1)
    double photons[2][LINES];       // [PHOSPHOR or FRONT][line]
    double wall_loss;               // excited atoms and excimers lost at the walls
    double superelastic[2];         // 1s5, 1s4 atoms returned to the ground state by electrons
    // Electron exposure of 1s5 and 1s4: the sum over nodes of n_e (cm^-3)
    // times the atoms, integrated over time (s). Times a rate coefficient
    // (cm^3/s), the atoms that process would have taken, e.g. stepwise
    // ionization.
    double exposure[2];
};

// Whether the states are kept (--vuv). Off, nothing here is called.
bool on();

// Switches the states on for the fill and the cell built on the mesh (after
// the geometry), all states empty, with interval (s) the usual advance.
void start(const species::Fill& fill, double interval);

// One electron-impact excitation of Xe level (1..6) by `atoms` real
// electrons at (x, y, z) cm, spread over the nearest nodes as the densities are.
void add_excitation(double x, double y, double z, double atoms, int level);

// Advances every node by dt (s); what was deposited since the last advance
// enters at its start.
void advance(double dt);

const Tally& tally();
// Atoms and excimers held in every state, including the deposits not yet advanced.
double inventory();
// Summed over the nodes, and the largest node density (cm^-3), of state s
// (the deposits not yet advanced left out).
double total(int s);
double peak_density(int s);
// Density (cm^-3) of state s at node offset n after the last advance.
double node_density(int n, int s);
// The three excimer states' densities summed, cm^-3.
double excimer_density(int n);
const xe_rates::Rates& rates();
// The superelastic rate coefficient (cm^3/s) of state s (METASTABLE or
// RESONANT) at electron temperature te (eV), from the table made at start.
double superelastic_coefficient(int s, double te);

// The state values for a checkpoint, and back: the nodes' states and
// deposits, the tally and the electrons' mean energies (which the main
// record does not hold), as a flat list.
int saved_count();
void save(double* values);
void load(const double* values);

// Off, empty, as at program start.
void reset();

}  // namespace xe_kinetics
