#pragma once
// Electron collision frequencies in the fill, as functions of the electron
// speed v in cm/s; every frequency is in 1/s and already holds the gas
// density and the speed. The tables are those of the built-in fill (14 % Xe
// at 1.143456e19 cm^-3); follow_fill scales each gas's processes with its
// partial density (species::Fill::ne_scale, xe_scale).
namespace collision_frequencies {

// Speed of an electron of 1 eV, cm/s: v = SPEED_PER_SQRT_EV·sqrt(E/eV).
constexpr double SPEED_PER_SQRT_EV = 59309439.1523;
constexpr double SQRT_EV_PER_SPEED = 1.686072258130973e-8;  // its reciprocal, s/cm


double numt_Ne(double v);           // elastic (momentum transfer) on Ne
double numt_Xe(double v);           // elastic (momentum transfer) on Xe
double nu_exc_Ne(int k, double v);  // excitation of Ne level k = 1..6
double nu_exc_Xe(int k, double v);  // excitation of Xe level k = 1..6
double nu_ion_Ne(double v);
double nu_ion_Xe(double v);

// Upper envelope of the sum of the sixteen frequencies above.
double nu_total(double v);
// The envelope's largest value over the energies 0 to `energy` (eV, may be
// infinite): a collision bound for every electron below that energy.
double nu_total_max_below(double energy);

// Rebuilds the tables and the envelope for species::fill(); the built-in
// fill keeps the built-in envelope.
void follow_fill();
// The factor on the built-in fill's collision bound (NUMAX_START) that bounds
// every frequency of the current fill: the larger of the two scales.
double bound_scale();

}  // namespace collision_frequencies
