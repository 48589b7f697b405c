#include "electrons/collision_frequencies.hpp"

namespace collision_frequencies {

// Filled in by the electron-physics work.
double numt_Ne(double) { return 0.0; }
double numt_Xe(double) { return 0.0; }
double nu_exc_Ne(int, double) { return 0.0; }
double nu_exc_Xe(int, double) { return 0.0; }
double nu_ion_Ne(double) { return 0.0; }
double nu_ion_Xe(double) { return 0.0; }
double nu_total(double) { return 0.0; }

}  // namespace collision_frequencies
