#pragma once
// Built-in electron collision frequencies of the Ne-Xe fill (14 % Xe at
// 1.143456e19 cm^-3), as functions of the electron speed v in cm/s; every
// frequency is in 1/s and already holds the gas density and the speed.
namespace collision_frequencies {

double numt_Ne(double v);
double numt_Xe(double v);
double nu_exc_Ne(int k, double v);
double nu_exc_Xe(int k, double v);
double nu_ion_Ne(double v);
double nu_ion_Xe(double v);
double nu_total(double v);

}  // namespace collision_frequencies
