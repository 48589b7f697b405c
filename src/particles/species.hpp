#pragma once
// The fill gas and the charged species that move through it: the physical
// data that several units read, each value typed once, with its unit. The
// collision cross sections live with the collision frequencies, which alone
// use them.
namespace species {

// The fill: 86 % Ne, 14 % Xe, at this total number density.
constexpr double GAS_DENSITY = 1.143456217105263e19;       // cm^-3
constexpr double INV_GAS_DENSITY = 8.745415740810504e-20;  // cm^3

constexpr double ELECTRON_CHARGE = 1.6021892e-19;  // C

// Charge-to-mass ratios e/m, cm/s^2 per V/cm.
constexpr double QM_ELECTRON = 1758804786282152.5;
constexpr double QM_NE_ION = 47804833225.874596;
constexpr double QM_XE_ION = 7348400220.85169;

// Electron mass over atom mass, for the energy lost in elastic scattering.
constexpr double MASS_RATIO_XE = 4.178064716542589e-6;
constexpr double MASS_RATIO_NE = 2.718029516335738e-5;

// Mean free times of the ions between charge-exchange collisions in the
// fill, s.
constexpr double TAU_NE_ION = 1.8466814083649364e-10;
constexpr double TAU_XE_ION = 8.714245786255116e-10;

// Ion mobilities of the ion model itself, cm^2/(V·s): a flight starts at
// rest after charge exchange and lasts tau on average, so the drift is
// (e/M)·E·tau.
constexpr double NE_ION_MOBILITY = QM_NE_ION * TAU_NE_ION;  // 8.8
constexpr double XE_ION_MOBILITY = QM_XE_ION * TAU_XE_ION;  // 6.4

// Electron mobility times gas density, 1/(V·cm·s). From the swarm tool
// (pdpcell-swarm, the same collision model) the drift velocity over E is
// (mu_e·N, 1e22 /(V·cm·s)): 2.58 at 10 Td, 2.30 at 30, 2.14 at 60, 2.02 at
// 100, 1.76 at 200. The plasma field takes the largest, that of the weakly
// driven plasma body, since its solve is stable only when its conductivity
// is at least half the true one; overestimating merely damps more.
constexpr double ELECTRON_MOBILITY_TIMES_GAS_DENSITY = 2.6e22;

}  // namespace species
