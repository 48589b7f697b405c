#pragma once
// Multigrid preconditioner for the conducting potential solve: one symmetric
// V-cycle of an aggregation multigrid on the interior nodes of the mesh.
//
// Each coarser level joins the nodes of the level below in boxes of two
// along the axes whose spacing is within twice the smallest (the x-couplings
// of the 2, 5 and 10 um mesh are 6 and 25 times the y- and z-ones, so the
// first levels coarsen x alone, then x and y, then all three), down to a few
// dozen nodes solved exactly. The coarse matrix is the Galerkin product with
// piecewise-constant interpolation, again a seven-point matrix: a coupling of
// two boxes is the sum of the fine couplings across their common face. A
// plasma's couplings, 1e4 to 1e6 times the vacuum ones, so stay inside its
// boxes, and a box that straddles its edge keeps the weak coupling outside;
// the constant over the plasma, the mode a point smoother cannot reduce, is
// on every level. Smoothing is red-black Gauss-Seidel: red then black before
// the coarse correction, black then red after, so the cycle is symmetric.
//
// Serial and in a fixed order: the same matrix and residual give the same
// bits.
#include "mesh/mesh_arrays.hpp"

namespace multigrid_preconditioner {

// Builds every level from the fine matrix in the mesh's node layout, over
// the interior nodes (i = 2..NX−1 and so on): the couplings of each node to
// its i − 1, j − 1 and k − 1 neighbour, 0 where that neighbour is not an
// unknown (1/cm), and the part of the diagonal that is no coupling to an
// unknown, the plates' couplings (1/cm). The diagonal is their sum.
void setup(const double* couple_x, const double* couple_y, const double* couple_z, const double* anchor);

// z := B·r on the interior nodes, B the cycle from a zero start; returns
// r·z, summed over the interior nodes in the plain k, j, i order. z's
// boundary layers are left as they are.
double apply(const double* r, double* z);

// Levels and nodes of the hierarchy, for the tests and the documentation.
int level_count();
int unknowns_on_level(int level);

void reset();

}  // namespace multigrid_preconditioner
