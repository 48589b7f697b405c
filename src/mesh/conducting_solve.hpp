#pragma once
// Potential solve for a cell whose gas conducts: the same discrete equation as
// the point relaxation, sum_N a_N·(phi_N − phi_P) + charge_source_P = 0 over
// the interior nodes, solved by conjugate gradients with an incomplete
// Cholesky preconditioner.
//
// Why not the relaxation: a dense plasma's couplings (eps0 + dt·sigma) exceed
// the vacuum ones around it by hundreds of times, so the potential of the
// plasma as a whole is tied to the electrodes only weakly, and a point
// relaxation with a fixed factor barely reduces that error in a sweep. The
// conjugate gradients remove such an isolated slow mode in a few iterations,
// and the factorization keeps the strong couplings inside the plasma.
//
// The electrode plate values move to the right-hand side, so the matrix is
// symmetric positive definite. Entry and exit are those of the plain solve:
// the extrapolated guess, the boundary values before and after, the phi_old
// history, charge_source left divided by the diagonal. Its passes are
// shared among threads by rows, and every sum is taken along each row and
// the rows added in the plain order: the same input gives the same bits on
// any number of threads.
#include "mesh/potential_solver.hpp"

namespace conducting_solve {

// Iterations after which a solve that has not converged stops the run.
constexpr int MAX_ITERATIONS = 2000;

// The preconditioner of the conjugate gradients: the incomplete Cholesky
// factor, or one cycle of the aggregation multigrid (multigrid_preconditioner):
// 4 or 5 iterations instead of 58 to 78 on the saved dense states, 12 to 15
// ms per solve on one thread, 3.8 to 4.4 times faster than the factor, and
// 9 to 12 ms on two (docs/model/conducting-solve.md). The run takes the multigrid; the factor
// stays as the reference the tests and the benchmark compare it with.
enum class Preconditioner { incomplete_cholesky, multigrid };

// Iterations made by the latest solve_potential(), and the threads it ran on.
extern int iterations_in_last_solve;
extern int threads_in_last_solve;

// The whole solve, from the face couplings (mesh::eps_face_*) as they are and
// the present electrode voltages; it does not read the relaxation's
// coefficients, so conducting couplings need no setup_sor_coefficients().
// Divides charge_source by the diagonal in place, as the plain solve does, so
// rebuild it before each call. It stops once no node's residual over its
// diagonal, the change a Jacobi update would still make, exceeds tolerance
// (V); the default matches the relaxation's stop on its largest change.
void solve_potential(double tolerance = potential::SOR_TOLERANCE,
                     Preconditioner preconditioner = Preconditioner::multigrid);

// Threads a solve shares its passes with (a thread_team; 1: none); the
// result is the same for any number. While one thread alone has lately been
// faster per iteration (other work keeping the cores busy), the solves keep
// to it, and every 16th tries the other way again; the first solve after
// this call is on the threads.
void set_thread_count(int threads);

void reset();

}  // namespace conducting_solve
