#include "ions/ion_mover.hpp"

namespace ion_mover {

// Filled in by the ion work.
void advance_ions(double) {}
void interpolate_ion_field(double, double, double, double& Ex, double& Ey, double& Ez) {
    Ex = Ey = Ez = 0.0;
}

}  // namespace ion_mover
