#pragma once
// Ion and electron charge densities and the mean electron energy on the mesh,
// rebuilt from the particle stores by cloud-in-cell weighting.
namespace densities {

void accumulate_densities();

}  // namespace densities
