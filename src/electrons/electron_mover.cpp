#include "electrons/electron_mover.hpp"

namespace electron_mover {

double numax = 6860737302631.578;

// Filled in by the electron-physics work.
void advance_electrons(double) {}
void interpolate_electron_field(double, double, double, double& Ex, double& Ey, double& Ez) {
    Ex = Ey = Ez = 0.0;
}

void reset() { numax = 6860737302631.578; }

}  // namespace electron_mover
