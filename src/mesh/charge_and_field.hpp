#pragma once
// The source of the potential solve (ion space charge plus wall charge) and
// the face-centred field, corrected at charged dielectric surfaces.
namespace field {

// charge_source := rho·(cell volume)/eps0 (V·cm) from both ion species on the
// gas nodes, plus each wall cell's charge split between the gas node and the
// dielectric node beside the surface in proportion 1 : eps.
void build_charge_source();
// ex, ey, ez (V/cm) on the cell faces from phi, with the gas-side field at the
// front, rear and rib surfaces from Gauss's law with the wall charge.
void compute_field();

}  // namespace field
