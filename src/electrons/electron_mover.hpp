#pragma once
// The electron pass: free flights in the frozen field, null collisions against
// the constant bound numax, mirrors at ylow, yhigh and zlow, absorption at the
// front, rear and rib walls.
namespace electron_mover {

extern double numax;  // 1/s, bound of the total collision frequency

void advance_electrons(double t_end);
void interpolate_electron_field(double x, double y, double z, double& Ex, double& Ey, double& Ez);

void reset();

}  // namespace electron_mover
