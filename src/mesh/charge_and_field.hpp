#pragma once
// The source of the potential solve (ion space charge plus wall charge) and
// the face-centred field, corrected at charged dielectric surfaces.
namespace field {

void build_charge_source();
void compute_field();

}  // namespace field
