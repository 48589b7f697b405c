#pragma once
// The rate data of xenon's excited states and excimers, and their rates in a
// given fill: what the VUV kinetics (src/radiation/xe_kinetics.*) integrates.
// Sources and their status ([C] seen in the paper's abstract or first page,
// [U] unconfirmed, [A] arithmetic): docs/model/vuv.md.
#include "particles/species.hpp"

namespace xe_rates {

// The states, in the order of every array below.
constexpr int STATES = 6;
constexpr int METASTABLE = 0;   // Xe*(1s5, 3P2), 8.315 eV
constexpr int RESONANT = 1;     // Xe*(1s4, 3P1), 8.437 eV, emits 147 nm
constexpr int HIGHER = 2;       // Xe** (6p and above, lumped)
constexpr int SINGLET_HOT = 3;  // Xe2*(O_u+), vibrationally hot, emits 150 nm
constexpr int SINGLET = 4;      // Xe2*(O_u+/1Sigma_u+), relaxed, emits 172 nm
constexpr int TRIPLET = 5;      // Xe2*(3Sigma_u+), emits 173 nm

// The state that each electron-impact Xe level k = 1..6 (index k-1; 8.31,
// 8.44, 9.69, 10.0, 11.0, 11.7 eV) feeds. 9.69 eV lies in the 6p group
// (9.58-9.93 eV), above 1s2/1s3, so it and the higher ones go to Xe**.
constexpr int STATE_OF_LEVEL[6] = {METASTABLE, RESONANT, HIGHER, HIGHER, HIGHER, HIGHER};

// The lines, and the energy of one photon of each, eV.
constexpr int LINES = 3;
constexpr int LINE_147 = 0, LINE_150 = 1, LINE_173 = 2;
constexpr double PHOTON_EV[LINES] = {8.44, 8.3, 7.2};

// Radiative data.
constexpr double A_RESONANT = 2.67e8;        // 1/s, 147 nm, tau 3.74 ns (Wilkinson & Hulburt 1965) [C]
constexpr double LAMBDA_RESONANT = 146.96e-7;  // cm
constexpr double G_RATIO_RESONANT = 3.0;     // g(1s4, J=1) / g(ground, J=0)
constexpr double A_HIGHER = 1.0 / 30e-9;     // 1/s, 6p cascade, tau 25-40 ns [U]
constexpr double A_SINGLET = 1.0 / 5.5e-9;   // 1/s, hot O_u+ (Keto et al. 1974) [C]
constexpr double A_SINGLET_RELAXED = 1.0 / 4.5e-9;  // 1/s, v ~ 0 (Moutard et al. 1988) [C]
constexpr double A_TRIPLET = 1.0 / 99e-9;    // 1/s (Leichner et al. 1976; Keto 96 ns, Museur 101 ns) [C]

// Self-broadening of the 1s4 level (Cedolin, Hanson & Cappelli 1996, 828 nm
// line) [C]: Hz cm^3 per Xe atom. Neon's over xenon's per atom [U], 0.03-0.1.
constexpr double SELF_BROADENING = 6.04e-9;
constexpr double NE_BROADENING_RATIO = 0.05;

// Xe** to 1s5/1s4, radiative and by collisions (Xe: ~1e-10, Ne: 1e-11 cm^3/s)
// [U]; the share going to 1s5 [U] (a start value to vary).
constexpr double K_HIGHER_XE = 1e-10;  // cm^3/s
constexpr double K_HIGHER_NE = 1e-11;  // cm^3/s
constexpr double HIGHER_TO_METASTABLE = 0.5;

// 1s4 -> 1s5 by collisions (Xe: 1e-15 to 1e-14; Ne smaller) [U]; the reverse
// by detailed balance with the level gap.
constexpr double K_MIX_XE = 3e-15;      // cm^3/s
constexpr double K_MIX_NE = 3e-16;      // cm^3/s
constexpr double MIX_GAP_EV = 0.122;    // E(1s4) - E(1s5)
constexpr double MIX_G_RATIO = 3.0 / 5.0;  // g(1s4) / g(1s5)
constexpr double GAS_TEMPERATURE_EV = 0.025852;  // kT at 300 K

// Three-body excimer formation, cm^6/s: 1s5 + 2 Xe (5.0e-32) [C]; 1s5 + Xe +
// Ne (between He 1.4e-32 and Ar 2.3e-32) [U]; 1s4 likewise [U].
constexpr double K3_METASTABLE_XE = 5.0e-32;
constexpr double K3_METASTABLE_NE = 1.7e-32;
constexpr double K3_RESONANT_XE = 5.0e-32;
constexpr double K3_RESONANT_NE = 1.7e-32;

// Vibrational relaxation of the singlet excimer [U], cm^3/s.
constexpr double K_RELAX_XE = 1e-10;
constexpr double K_RELAX_NE = 1e-11;

// Diffusion coefficients times the density, 1/(cm·s) (Chapman-Enskog, Lennard-
// Jones parameters) [A]; excimers at 0.7 of the atoms' [U].
constexpr double DN_XE_IN_NE = 5.2e18;
constexpr double DN_XE_IN_XE = 1.40e18;
constexpr double EXCIMER_DIFFUSION_RATIO = 0.7;

// Electron mixing 1s5 -> 1s4, cm^3/s (1e-7 to 4e-7 at T_e 1-3 eV) [U]; the
// reverse by detailed balance at T_e with the level gap above.
constexpr double K_ELECTRON_MIX = 2e-7;
constexpr double G_METASTABLE = 5.0, G_RESONANT = 3.0, G_GROUND = 1.0;

// The electron temperatures (eV) the superelastic rate coefficients are
// tabulated at, log-spaced; outside, the end values hold.
constexpr int TE_POINTS = 64;
constexpr double TE_LOW = 0.2, TE_HIGH = 20.0;

// The Maxwellian average at temperature te (eV) of sigma·v (cm^3/s, a
// function of the electron energy in eV), zero below threshold (eV), times
// exp(threshold/te): with g_ground/g_excited, the superelastic rate
// coefficient of the excited level by detailed balance. Integrated from the
// threshold up (energy = threshold + e'), so that the large exponential
// never appears.
double maxwell_rate_above(double (*sigma_v)(double energy), double threshold, double te);

// The rates of one fill in one cell: dn/dt = matrix·n + sources, n in atoms;
// every loss appears as an emission or a wall loss.
struct Rates {
    double matrix[STATES][STATES];     // 1/s
    double emission[LINES][STATES];    // photons/s per excited atom or molecule
    double wall[STATES];               // 1/s, lost at the walls by diffusion
    double escape_factor;              // of the 147 nm line
};

// The escape factor of a pressure-broadened resonance line from a slab of
// thickness gap (cm), fundamental mode (Holstein; Walsh): 1.125/sqrt(pi k0 L),
// k0 the line-centre absorption coefficient (1/cm) in Xe of density xe and Ne
// of density ne (cm^-3), ne_ratio neon's broadening per atom over xenon's.
double escape_factor(double xe, double ne, double gap, double ne_ratio);

// The rates for a fill; gap (cm) the gas gap between the plates,
// inverse_length2 (1/cm^2) 1/Lambda^2 of the fundamental diffusion mode.
Rates rates_for(const species::Fill& fill, double gap, double inverse_length2);

}  // namespace xe_rates
