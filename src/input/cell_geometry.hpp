#pragma once
// The built-in discharge cell: permittivities, electrodes, materials, face
// couplings and the gas region, with its echo on the console and in
// "control_file.txt".
namespace geometry {

// Fills the cell map of the mesh (eps_node, eps_face_*, electrode_map,
// material_map) and the gas-region bounds; called once at start-up.
void build_geometry();

// Highest electrode number on the mesh (3 for the built-in cell).
int highest_electrode();

}  // namespace geometry
