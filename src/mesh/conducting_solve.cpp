#include "mesh/conducting_solve.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/lane_sum.hpp"
#include "common/thread_team.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/multigrid_preconditioner.hpp"
#include "mesh/potential_solver.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <type_traits>

namespace conducting_solve {

using namespace mesh;

int iterations_in_last_solve = 0;
int threads_in_last_solve = 1;

namespace {

constexpr int STEP_Y = NX, STEP_Z = NX * NY;
constexpr int I_FIRST = 2, I_LAST = NX - 1;
constexpr int J_FIRST = 2, J_LAST = NY - 1;
constexpr int K_FIRST = 2, K_LAST = NZ - 1;

// The matrix, 1/cm: the diagonal, and the coupling of each interior node to
// its i − 1, j − 1 and k − 1 neighbour where that neighbour is an unknown too
// (0 otherwise, so a node's upper couplings are its upper neighbours' lower
// ones). Plate couplings are in the diagonal and the right-hand side only.
double diagonal[NODE_COUNT];
double couple_x[NODE_COUNT], couple_y[NODE_COUNT], couple_z[NODE_COUNT];
// The plates' part of the diagonal (1/cm), for the multigrid's coarse levels.
double anchor[NODE_COUNT];
// The incomplete Cholesky factor (E − L)·E^-1·(E − L^T), stored as what its
// two triangular solves multiply by: 1/pivot, and each lower (upper)
// coupling over the pivot of the node being solved for.
double inv_pivot[NODE_COUNT];
double down_x[NODE_COUNT], down_y[NODE_COUNT], down_z[NODE_COUNT];
double up_x[NODE_COUNT], up_y[NODE_COUNT], up_z[NODE_COUNT];
// Right-hand side (V·cm), residual, preconditioned residual, search direction
// and its image under the matrix. Only the unknowns are ever written.
double rhs[NODE_COUNT], residual[NODE_COUNT], precond[NODE_COUNT], direction[NODE_COUNT], image[NODE_COUNT];

// Calls f(n) for every interior node in the plain k, j, i order.
template <class F>
void for_interior(F&& f) {
    for (int k = K_FIRST; k <= K_LAST; ++k)
        for (int j = J_FIRST; j <= J_LAST; ++j)
            for (int n = node(I_FIRST, j, k); n <= node(I_LAST, j, k); ++n) f(n);
}

// The passes over the unknowns are shared among the members of the thread
// team, each taking a run of rows (k, j) in the plain order. A sum is taken
// along each row (lane_sum::sum) and the rows' sums added in the plain
// order, so it has the same bits for any number of members.
constexpr int ROWS_PER_PLANE = J_LAST - J_FIRST + 1;
constexpr int ROWS = ROWS_PER_PLANE * (K_LAST - K_FIRST + 1);
double row_sum[ROWS], row_largest[ROWS];
int thread_count = 1;
// Time per iteration of the latest solves on the team and on one thread.
thread_team::Pace pace;

// Calls f(row, first, last) for each of this member's rows, first and last
// its interior nodes.
template <class F>
void for_rows_of(int member, F&& f) {
    const int members = thread_team::members();
    for (int row = ROWS * member / members; row < ROWS * (member + 1) / members; ++row) {
        const int k = K_FIRST + row / ROWS_PER_PLANE, j = J_FIRST + row % ROWS_PER_PLANE;
        f(row, node(I_FIRST, j, k), node(I_LAST, j, k));
    }
}

// Runs pass(member) on every member of the team.
template <class Pass>
void on_members(Pass&& pass) {
    using P = std::remove_reference_t<Pass>;
    thread_team::run([](void* context, int member) { (*static_cast<P*>(context))(member); }, &pass);
}

double sum_of_rows() {
    double sum = 0.0;
    for (const double row : row_sum) sum += row;
    return sum;
}

double largest_of_rows() {
    double largest = 0.0;
    for (const double row : row_largest) largest = std::max(largest, row);
    return largest;
}

// The couplings of the relaxation solve's own equation (potential::node_couplings);
// the plate values go to the right-hand side.
void build_system(Preconditioner preconditioner) {
    // Every entry read is written below, and couple_x of the first nodes
    // along x, like every entry on the boundary layers, is never written: 0.
    on_members([](int member) {
        for_rows_of(member, [](int row, int first, int) {
            const int k = K_FIRST + row / ROWS_PER_PLANE, j = J_FIRST + row % ROWS_PER_PLANE;
            for (int i = I_FIRST, n = first; i <= I_LAST; ++i, ++n) {
                const potential::Couplings a = potential::node_couplings(i, j, k);
                double plates = 0.0;  // V/cm·cm^2, the plate terms
                anchor[n] = 0.0;
                if (i == I_FIRST) plates += a.xm * phi[node(1, j, k)], anchor[n] += a.xm;
                else couple_x[n] = a.xm;
                if (i == I_LAST) plates += a.xp * phi[node(NX, j, k)], anchor[n] += a.xp;
                couple_y[n] = a.ym;
                couple_z[n] = a.zm;
                diagonal[n] = a.ym + a.yp + a.xm + a.xp + a.zm + a.zp;
                rhs[n] = charge_source[n] + plates;
            }
        });
    });
    if (preconditioner == Preconditioner::multigrid) {
        multigrid_preconditioner::setup(couple_x, couple_y, couple_z, anchor);
        return;
    }
    // Incomplete Cholesky with no fill: the pivot of a node less what its
    // lower neighbours' pivots take. The matrix is an M-matrix, so every
    // pivot stays positive.
    for_interior([](int n) {
        double e = diagonal[n];
        if (couple_x[n] != 0.0) e -= couple_x[n] * couple_x[n] * inv_pivot[n - 1];
        if (couple_y[n] != 0.0) e -= couple_y[n] * couple_y[n] * inv_pivot[n - STEP_Y];
        if (couple_z[n] != 0.0) e -= couple_z[n] * couple_z[n] * inv_pivot[n - STEP_Z];
        inv_pivot[n] = 1.0 / e;
        down_x[n] = couple_x[n] * inv_pivot[n];
        down_y[n] = couple_y[n] * inv_pivot[n];
        down_z[n] = couple_z[n] * inv_pivot[n];
        up_x[n] = couple_x[n + 1] * inv_pivot[n];
        up_y[n] = couple_y[n + STEP_Y] * inv_pivot[n];
        up_z[n] = couple_z[n + STEP_Z] * inv_pivot[n];
    });
}

// out := A·v on the nodes first..last. The couplings to the boundary layers
// are zero, so v's values there (phi's boundary values) do not enter.
// Returns v·out over them.
double multiply_row(const double* v, double* out, int first, int last) {
    return lane_sum::sum(first, last, [=](int n, int) {
        out[n] = diagonal[n] * v[n] - couple_x[n] * v[n - 1] - couple_x[n + 1] * v[n + 1] -
                 couple_y[n] * v[n - STEP_Y] - couple_y[n + STEP_Y] * v[n + STEP_Y] - couple_z[n] * v[n - STEP_Z] -
                 couple_z[n + STEP_Z] * v[n + STEP_Z];
        return v[n] * out[n];
    });
}

// direction := precond (first) or precond + beta·direction, then image :=
// A·direction; returns direction·image. The boundary layers' entries of
// both vectors are 0 and stay 0.
double step_direction_and_multiply(bool first, double beta) {
    on_members([first, beta](int member) {
        for_rows_of(member, [&](int, int begin, int last) {
            for (int n = begin; n <= last; ++n) direction[n] = first ? precond[n] : precond[n] + beta * direction[n];
        });
        thread_team::meet();
        for_rows_of(member, [](int row, int begin, int last) {
            row_sum[row] = multiply_row(direction, image, begin, last);
        });
    });
    return sum_of_rows();
}

// out := M^-1·r: forward through (E − L), then backward through
// (E − L^T)·z = E·y, in the factor's order. The neighbour along the row,
// solved just before, is added last: it alone waits on the previous node.
void factor_solve(const double* r, double* out) {
    for_interior([&](int n) {
        out[n] = (r[n] * inv_pivot[n] + down_y[n] * out[n - STEP_Y] + down_z[n] * out[n - STEP_Z]) +
                 down_x[n] * out[n - 1];
    });
    for (int k = K_LAST; k >= K_FIRST; --k)
        for (int j = J_LAST; j >= J_FIRST; --j)
            for (int n = node(I_LAST, j, k); n >= node(I_FIRST, j, k); --n)
                out[n] = (out[n] + up_y[n] * out[n + STEP_Y] + up_z[n] * out[n + STEP_Z]) + up_x[n] * out[n + 1];
}

// a·b, summed as the passes sum.
double dot(const double* a, const double* b) {
    on_members([a, b](int member) {
        for_rows_of(member, [&](int row, int first, int last) {
            row_sum[row] = lane_sum::sum(first, last, [=](int n, int) { return a[n] * b[n]; });
        });
    });
    return sum_of_rows();
}

// out := M^-1·r; returns r·out.
double precondition(Preconditioner preconditioner, const double* r, double* out) {
    if (preconditioner == Preconditioner::multigrid) return multigrid_preconditioner::apply(r, out);
    factor_solve(r, out);
    return dot(r, out);
}

// A NaN escapes a largest-value search (no comparison holds), so the
// searches also add up what they compare, and a sum that is not finite
// stops the run instead of letting a NaN potential pass the test.
void check_finite(double sum) {
    if (!std::isfinite(sum))
        pdp::fatal({"ERROR: the conducting potential solve met a value that is not finite:",
                    "       the charge source or the couplings hold NaN or infinity"});
}

// The largest and the sum of |residual|/diagonal over a row's nodes (the
// largest is the same in any order, and the sum serves check_finite alone).
void scale_row_residual(int row, int first, int last) {
    double largest[4] = {0.0, 0.0, 0.0, 0.0};
    row_sum[row] = lane_sum::sum(first, last, [&](int n, int lane) {
        const double scaled = std::fabs(residual[n]) / diagonal[n];
        largest[lane] = std::max(largest[lane], scaled);
        return scaled;
    });
    row_largest[row] = std::max(std::max(largest[0], largest[1]), std::max(largest[2], largest[3]));
}

// The largest |residual|/diagonal, V, once every row's is scaled.
double largest_scaled_residual() {
    check_finite(sum_of_rows());
    return largest_of_rows();
}

// residual := rhs − A·phi; returns the largest |residual|/diagonal, V.
double true_residual() {
    on_members([](int member) {
        for_rows_of(member, [](int row, int first, int last) {
            multiply_row(phi, image, first, last);
            for (int n = first; n <= last; ++n) residual[n] = rhs[n] - image[n];
            scale_row_residual(row, first, last);
        });
    });
    return largest_scaled_residual();
}

void stop_unconverged(double largest, double tolerance) {
    pdp::fatal({"ERROR: the conducting potential solve did not converge in " + std::to_string(MAX_ITERATIONS) +
                    " iterations:",
                "       its largest residual over the diagonal is " + fortran::free_real(largest) + " V (tolerance " +
                    fortran::free_real(tolerance) + " V)"});
}

// The solve on a team of `members`.
void solve_on_team(int members, double tolerance, Preconditioner preconditioner) {
    thread_team::Scope team(members);
    threads_in_last_solve = thread_team::members();
    potential::extrapolate_potential();
    potential::apply_boundary_values();
    build_system(preconditioner);

    iterations_in_last_solve = 0;
    double largest = true_residual();
    // The recursive residual drifts from the true one in rounding: when it
    // passes, the true one is checked, and the iteration restarted from it if
    // that fails.
    while (largest > tolerance) {
        double rz = precondition(preconditioner, residual, precond);
        double beta = 0.0;
        bool first = true;  // the first direction is precond itself
        while (largest > tolerance) {
            if (iterations_in_last_solve >= MAX_ITERATIONS) stop_unconverged(largest, tolerance);
            const double alpha = rz / step_direction_and_multiply(first, beta);
            first = false;
            on_members([alpha](int member) {
                for_rows_of(member, [alpha](int row, int first, int last) {
                    for (int n = first; n <= last; ++n) {
                        phi[n] = phi[n] + alpha * direction[n];
                        residual[n] = residual[n] - alpha * image[n];
                    }
                    scale_row_residual(row, first, last);
                });
            });
            largest = largest_scaled_residual();
            ++iterations_in_last_solve;
            if (largest <= tolerance) break;
            const double rz_new = precondition(preconditioner, residual, precond);
            beta = rz_new / rz;
            rz = rz_new;
        }
        largest = true_residual();
    }

    // Left divided by the diagonal, as the relaxation leaves it (its
    // coefficient is one over the same sum).
    for_interior([](int n) { charge_source[n] = charge_source[n] * (1.0 / diagonal[n]); });
    potential::apply_boundary_values();
}

}  // namespace

void solve_potential(double tolerance, Preconditioner preconditioner) {
    if (thread_count == 1) {
        solve_on_team(1, tolerance, preconditioner);
        return;
    }
    // A solve meets its threads some hundred times per iteration: on a
    // machine whose cores are busy with other work those waits can cost more
    // than the threads gain, and the solve then keeps to one thread.
    const bool on_team = pace.team_next();
    const double start = thread_team::seconds();
    solve_on_team(on_team ? thread_count : 1, tolerance, preconditioner);
    pace.record(on_team, (thread_team::seconds() - start) / (iterations_in_last_solve + 1));
}

void set_thread_count(int threads) {
    thread_count = std::clamp(threads, 1, thread_team::MAX_MEMBERS);
    pace = {};
}

void reset() {
    iterations_in_last_solve = 0;
    threads_in_last_solve = 1;
    thread_count = 1;
    pace = {};
    multigrid_preconditioner::reset();
}

}  // namespace conducting_solve
