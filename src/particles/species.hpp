#pragma once
// The fill gas and the charged species that move through it: the physical
// data that every other unit reads, each value typed once, with its unit.
// What belongs to the species (masses, thresholds) is fixed; what belongs to
// the case (the fill's densities, the ions' transport in it, the walls'
// secondary emission) is the current Fill, the built-in one unless the case
// has a cell file. The collision cross sections live with the collision
// frequencies, which alone use them.
namespace species {

constexpr double ELECTRON_CHARGE = 1.6021892e-19;  // C

// Charge-to-mass ratios e/m, cm/s^2 per V/cm.
constexpr double QM_ELECTRON = 1758804786282152.5;
constexpr double QM_NE_ION = 47804833225.874596;
constexpr double QM_XE_ION = 7348400220.85169;

// Electron mass over atom mass, for the energy lost in elastic scattering.
constexpr double MASS_RATIO_XE = 4.178064716542589e-6;
constexpr double MASS_RATIO_NE = 2.718029516335738e-5;

// Threshold speeds of the excitation levels k = 1..6 (index k-1) and of
// ionization, cm/s; each is SPEED_PER_SQRT_EV·sqrt(threshold in eV).
constexpr double EXC_SPEED_XE[6] = {170971739.03302476, 172303873.41092938, 184622958.37221882,
                                    187552914.46843413, 196707156.19459334, 202869494.99359533};
constexpr double EXC_SPEED_NE[6] = {241790552.12301713, 242153983.18958429, 243385589.55270287,
                                    256611868.77915493, 265239875.3038606, 269515561.0968906};
constexpr double ION_SPEED_XE = 206478638.1673217;  // 12.12 eV
constexpr double ION_SPEED_NE = 275390018.6724301;  // 21.56 eV
// An excited Ne atom ionizes a Xe atom (Penning); the electron keeps 4.41 eV.
constexpr double PENNING_SPEED = 124549822.21983;  // cm/s

// The built-in fill: 86 % Ne, 14 % Xe, at this total number density.
constexpr double BUILT_IN_DENSITY = 1.143456217105263e19;  // cm^-3
constexpr double BUILT_IN_XENON_FRACTION = 0.14;

// Mean free times of the ions between charge-exchange collisions in the
// built-in fill, s.
constexpr double BUILT_IN_TAU_NE_ION = 1.8466814083649364e-10;
constexpr double BUILT_IN_TAU_XE_ION = 8.714245786255116e-10;

// Electron mobility times gas density, 1/(V·cm·s). From the swarm tool
// (pdpcell-swarm, the same collision model) the drift velocity over E is
// (mu_e·N, 1e22 /(V·cm·s)): 2.58 at 10 Td, 2.30 at 30, 2.14 at 60, 2.02 at
// 100, 1.76 at 200. The plasma field takes the largest, that of the weakly
// driven plasma body, since its solve is stable only when its conductivity
// is at least half the true one; overestimating merely damps more.
constexpr double ELECTRON_MOBILITY_TIMES_GAS_DENSITY = 2.6e22;

// Index of a wall in Fill::yield.
constexpr int FRONT = 0, REAR = 1, RIB = 2;

// What the case decides.
struct Fill {
    double density;          // cm^-3, all atoms
    double inv_density;      // cm^3, its reciprocal
    double xenon_fraction;   // Xe atoms over all atoms
    // Partial density of each gas over that of the built-in fill: the factor
    // on that gas's collision frequencies.
    double ne_scale, xe_scale;
    // Mean free times between charge-exchange collisions, s. An ion's flight
    // starts at rest and lasts tau on average, so its mobility is (e/M)·tau.
    double tau_ne_ion, tau_xe_ion;
    double ne_ion_mobility, xe_ion_mobility;  // cm^2/(V·s)
    // Secondary electrons per absorbed ion, [wall][species - 1] (Ne+, Xe+).
    double yield[3][2];
    double emission_energy;  // eV, of each secondary electron as it leaves the wall
};

constexpr Fill BUILT_IN_FILL = {
    BUILT_IN_DENSITY,
    8.745415740810504e-20,
    BUILT_IN_XENON_FRACTION,
    1.0,
    1.0,
    BUILT_IN_TAU_NE_ION,
    BUILT_IN_TAU_XE_ION,
    QM_NE_ION * BUILT_IN_TAU_NE_ION,  // 8.8
    QM_XE_ION * BUILT_IN_TAU_XE_ION,  // 6.4
    {{0.64, 0.001}, {0.32, 0.0}, {0.32, 0.0}},
    0.0,
};

// A Ne-Xe fill of `density` atoms per cm^3 of which `xenon_fraction` are
// xenon, with the built-in walls. Each gas's collision frequencies scale with
// its partial density; the ions' mobilities follow Blanc's law from the
// reduced mobilities in the pure gases below, taken relative to the built-in
// fill, so that the built-in fill keeps its own values exactly.
Fill fill_with(double density, double xenon_fraction);

// Reduced mobilities at low field, cm^2/(V·s) at 2.687e19 cm^-3 (273 K,
// 760 Torr): each ion in its parent gas (resonant charge exchange; quoted
// from memory, not checked against a table), and in the other gas (the
// polarization limit 13.876/sqrt(alpha·mu), alpha in A^3 and mu in amu).
// Only their ratio to the built-in fill's is used. See
// docs/model/cell-and-fill.md.
constexpr double K0_NE_ION_IN_NE = 4.1;
constexpr double K0_NE_ION_IN_XE = 1.65;
constexpr double K0_XE_ION_IN_XE = 0.58;
constexpr double K0_XE_ION_IN_NE = 5.27;

// The fill of this run, read in the hot loops; set once at start-up.
extern Fill current_fill;
inline const Fill& fill() { return current_fill; }
void set_fill(const Fill& fill);
// Back to the built-in fill.
void reset();

}  // namespace species
