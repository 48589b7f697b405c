#pragma once
// What the electron fluid (electron_fluid) exchanges with the rest of a run:
// the electron records it takes over and gives back, the ion records its
// ionizations make, the wall charge of the electrons it loses to the walls,
// its share of the mesh densities, and the collisions it counts for the
// per-pulse report and the VUV kinetics. Each exchange keeps the books: the
// real electrons, their energy and the charge are the same on both sides.
#include <cstdint>

namespace fluid_coupling {

// Every live electron record becomes fluid: its real electrons (|w|/e) and
// their kinetic energy go to the nodes around it with the densities'
// cloud-in-cell weights, and the record is deleted. Returns the electrons moved.
double take_records();

// The fluid becomes `records` electron records (at least one, all of the same
// weight) and is emptied. Nodes get records by systematic sampling of their
// electrons; each record sits at its node with a velocity from a Maxwellian of
// kT = 2/3 of the node's mean energy, drawn from the run's generator (the
// exact mode) or from a stream of its own (the parallel mode), born at time t
// (s) in step `step`. Returns the records made (0 for an empty fluid).
int give_records(int records, double t, std::uint64_t step);

// The ions the fluid's last step gave birth to (electron_fluid::births_ne,
// births_xe) add to each node's count; a node's count becomes an ion record,
// at rest at the node at time t (s), once it reaches min_ions real ions.
// In the parallel mode a record's identity comes from `key`, the node and
// the species: each call needs a key of its own. Returns the records made.
int births_to_ions(double min_ions, double t, std::uint64_t key);
// The counts below min_ions, as records, whatever their size (before the fluid
// is given back as records, and at the end).
int flush_births(double t, std::uint64_t key);
// Real ions counted but not yet made records.
double pending_ions();

// The electrons the walls absorbed since the last call
// (electron_fluid::wall_electrons) become wall charge in the wall cells behind
// their faces, as an absorbed record's charge does; the tallies are emptied.
// Returns the charge, C (negative).
double walls_to_charge();

// Adds the fluid to mesh::electron_density (C/cm^3) and mesh::electron_energy
// (mean eV per node), as rebuilt from the records by accumulate_densities,
// and the ions born but not yet records to mesh::ion_density at their nodes:
// the field and the outputs see every charge.
void add_to_mesh_densities();

// Counts the collisions of the fluid over dt (s) at each node's density and
// mean energy: into the per-pulse tally (the charge of the electrons that
// underwent each of the sixteen processes) and, when the VUV kinetics is on,
// the Xe excitations into it at their nodes.
void count_collisions(double dt);

// The pending births for a checkpoint, and back.
int saved_count();
void save(double* values);
void load(const double* values);

// Empties the pending births, as at program start.
void reset();

}  // namespace fluid_coupling
