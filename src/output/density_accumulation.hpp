#pragma once
// Ion and electron charge densities and the mean electron energy on the mesh,
// rebuilt from the particle stores by cloud-in-cell weighting.
namespace densities {

// m_e/(2e): kinetic energy in eV of an electron of speed 1 cm/s, per (cm/s)^2.
constexpr double ENERGY_PER_SPEED2 = 2.842839659638878e-16;

// Rebuilds ion_density (C/cm^3, one slot for each species), electron_density (C/cm^3) and
// electron_energy (mean eV per node in the gas box) from both stores. A live
// particle outside the gas box stops the run. Leaves both cursors past the end.
void accumulate_densities();

}  // namespace densities
