#pragma once
// The ion pass: one push per free flight between charge-exchange collisions,
// mirrors at ylow, yhigh and zlow, absorption with secondary emission at the
// front, rear and rib walls.
namespace ion_mover {

void advance_ions(double t_end);
void interpolate_ion_field(double x, double y, double z, double& Ex, double& Ey, double& Ez);

}  // namespace ion_mover
