#pragma once
// The 3D state for ParaView and VisIt, in the VTK XML formats (raw appended
// binary, little-endian, 64-bit block headers), into the folder "vtk/":
//   fields_NNNNNNN.vti     the mesh's node arrays (ImageData, lengths in um);
//   walls_NNNNNNN.vtp      the wall charge on quads of the three charged walls;
//   particles_NNNNNNN.vtp  every live ion and electron as a point;
// with NNNNNNN the step, and one collection per kind (fields.pvd, walls.pvd,
// particles.pvd) indexed by simulated time in ns. Every file is written to a
// temporary name and renamed, the collections after the data files, so a run
// killed at any moment leaves readable collections of complete files.
// The unit only reads the particle stores and the mesh arrays.
namespace vtk_output {

// Writes the state when due: at the first call while the collections are
// empty (the first step of a run, or of a restart whose saved run wrote
// none) and whenever step - 1 is a multiple of every. densities_current: this step already accumulated the densities at
// its start (they then equal the slices'); otherwise they are accumulated
// from the stores for the write and the arrays are put back afterwards.
void write_state_if_due(int step, double t, int every, bool densities_current);

// Writes the three files of this step and adds them to the collections.
// t (s) is the simulated time of the step's start, as in the slices.
void write_state(int step, double t, bool densities_current);

// A restarted run resuming at `step` keeps the collections' entries of the
// steps before it and appends to them; data files of that step and later,
// left by the saved run past its checkpoint, are removed.
void continue_collections(int step);

// Field (V/cm) at node (i, j, k) as a particle sitting there feels it; zero at
// nodes that are not gas, where no particle moves.
void node_field(int i, int j, int k, double& Ex, double& Ey, double& Ez);

// Forgets the collections and the folder, as at program start.
void reset();

}  // namespace vtk_output
