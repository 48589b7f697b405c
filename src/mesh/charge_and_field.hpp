#pragma once
// The source of the potential solve (ion space charge plus wall charge) and
// the face-centred field, corrected at charged dielectric surfaces.
namespace field {

// charge_source := rho·(cell volume)/eps0 (V·cm) from both ion species on the
// gas nodes, plus each wall cell's charge split between the gas node and the
// dielectric node beside the surface in proportion 1 : eps.
void build_charge_source();
// Adds scale·(wall charge) to the nodes of `source`, split between the gas
// node and the dielectric node beside each surface as build_charge_source
// does (scale 1: C/cm^3 into a node array).
void add_wall_charge(double* source, double scale);
// ex, ey, ez (V/cm) on the cell faces from phi, with the gas-side field at the
// front, rear and rib surfaces from Gauss's law with the wall charge.
void compute_field();

}  // namespace field
