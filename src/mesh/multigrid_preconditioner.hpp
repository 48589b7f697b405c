#pragma once
// Multigrid preconditioner for the conducting potential solve: one symmetric
// cycle of an aggregation multigrid on the interior nodes of the mesh.
//
// Each coarser level joins the nodes of the level below in boxes of two
// along the axes whose spacing is within twice the smallest (the x-couplings
// of the 2, 5 and 10 um mesh are 6 and 25 times the y- and z-ones, so the
// first level coarsens x alone, the second x and y, then all three):
// 96525, 49005, 12716, 1836, 255 unknowns, and 54 solved exactly. A coupling
// of two boxes is the flux between their centres, the fine couplings in
// series along the axis and side by side across it, again a seven-point
// matrix; a plasma's couplings, 1e4 to 1e6 times the vacuum ones, so stay
// inside its boxes, and a box that straddles its edge keeps the weak
// coupling outside. Smoothing is red-black Gauss-Seidel, six half-sweeps on
// the finest level and four below before the coarse correction and the same
// in reverse order after it, so the cycle is symmetric; from level 3 (1836
// unknowns) down each level cycles twice.
// The cycle works in single precision; the conjugate gradients around it do
// not.
//
// Shared among the members of the running thread team (thread_team), if
// any, on the two finest levels: each takes a band of rows, and the result
// has the same bits for any number of members.
#include "mesh/mesh_arrays.hpp"

namespace multigrid_preconditioner {

// Both calls run on the thread team that is running, if any.
//
// Builds every level from the fine matrix in the mesh's node layout, over
// the interior nodes (i = 2..NX−1 and so on): the couplings of each node to
// its i − 1, j − 1 and k − 1 neighbour, 0 where that neighbour is not an
// unknown (1/cm), and the part of the diagonal that is no coupling to an
// unknown, the plates' couplings (1/cm). The diagonal is their sum.
void setup(const double* couple_x, const double* couple_y, const double* couple_z, const double* anchor);

// z := B·r on the interior nodes, B the cycle from a zero start; returns
// r·z, summed along each row of interior nodes (lane_sum::sum) and the rows
// added in the plain k, j order. z's boundary layers are left as they are.
double apply(const double* r, double* z);

void reset();

}  // namespace multigrid_preconditioner
