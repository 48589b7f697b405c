#pragma once
// A nonsymmetric seven-point system on the nodes of the gas box (mesh::ilo..ihi,
// jlo..jhi, klo..khi), solved by BiCGSTAB (van der Vorst, 1992) with a
// preconditioner on the right. Row n of the system:
//     diagonal[n]·x[n] + lower_x[n]·x[n - 1] + upper_x[n]·x[n + 1]
//                      + lower_y[n]·x[n - NX] + ... = rhs[n]
// A coefficient towards a node outside the box must be 0 (its neighbour is
// never read), unless the box is periodic: then the neighbour across an end
// is the node at the other end of the axis.
//
// The fluid's transport has its finest spacing (2 um) along x, where its
// couplings are 6 and 25 times those along y and z: the x-line
// preconditioner solves each line along x exactly (a tridiagonal solve), and
// a 0.1 ns step of a dense gas box takes 21 iterations instead of Jacobi's
// 59, in half the time (bench/fluid_transport_bench.cpp). The conducting
// solve's multigrid cycle is symmetric and would need the fluid's drift
// taken out of its coarse couplings; the lines were enough.
// Fixed arrays of the mesh's size; nothing is allocated per solve. One
// thread, sums in the plain k, j, i order: the same input gives the same bits.
#include "mesh/mesh_arrays.hpp"

namespace bicgstab {

// The system's coefficients, filled by the caller on the box's nodes.
extern double diagonal[mesh::NODE_COUNT];
extern double lower_x[mesh::NODE_COUNT], upper_x[mesh::NODE_COUNT];
extern double lower_y[mesh::NODE_COUNT], upper_y[mesh::NODE_COUNT];
extern double lower_z[mesh::NODE_COUNT], upper_z[mesh::NODE_COUNT];

enum class Preconditioner { jacobi, x_lines };

// Iterations after which a solve that has not converged stops the run.
constexpr int MAX_ITERATIONS = 1000;

struct Result {
    int iterations = 0;
    double relative_residual = 0;  // |rhs − A·x| / |rhs|, 2-norms over the box
};

// Solves for x on the box's nodes, starting from x as given, until the
// residual's 2-norm is below tolerance times the right-hand side's (a zero
// right-hand side gives x = 0). Nodes outside the box are neither read nor
// written. Refuses (pdp::fatal) a value that is not finite, and a solve
// that has not converged in MAX_ITERATIONS.
Result solve(const double* rhs, double* x, double tolerance, Preconditioner preconditioner, bool periodic);

// out := A·x on the box's nodes.
void multiply(const double* x, double* out, bool periodic);

}  // namespace bicgstab
