#include "mesh/potential_solver.hpp"

#include "common/chunked_work.hpp"
#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/ordered_sum.hpp"
#include "common/red_black_sweep.hpp"
#include "common/thread_team.hpp"
#include "input/electrode_voltages.hpp"
#include "mesh/mesh_arrays.hpp"

#include <algorithm>
#include <cmath>
#include <map>
#include <string>
#include <tuple>

namespace potential {

using namespace mesh;

bool first_solve = true;
int sweeps_in_last_solve = 0;

namespace {

// Node offsets of the j+1 and k+1 neighbours.
constexpr int STEP_Y = NX;
constexpr int STEP_Z = NX * NY;

// Interior nodes, the unknowns of the solve.
constexpr int I_FIRST = 2, I_LAST = NX - 1;
constexpr int J_FIRST = 2, J_LAST = NY - 1;
constexpr int K_FIRST = 2, K_LAST = NZ - 1;

// The six neighbour weights of a node. Most nodes share theirs with many
// others (the gas and each dielectric are uniform), so the sweep reads them
// from a small table of the distinct sets through one index per node: the
// same values, a tenth of the bytes per node update.
struct Stencil {
    double zm, zp, ym, yp, xm, xp;
    bool operator<(const Stencil& o) const {
        return std::tie(zm, zp, ym, yp, xm, xp) < std::tie(o.zm, o.zp, o.ym, o.yp, o.xm, o.xp);
    }
};
Stencil stencils[NODE_COUNT];  // the distinct sets, first stencil_count entries
int stencil_count = 0;
int stencil_of[NODE_COUNT];    // index into stencils, interior nodes only

void build_stencil_table() {
    std::map<Stencil, int> seen;
    stencil_count = 0;
    for (int k = K_FIRST; k <= K_LAST; ++k)
        for (int j = J_FIRST; j <= J_LAST; ++j)
            for (int n = node(I_FIRST, j, k); n <= node(I_LAST, j, k); ++n) {
                const Stencil s{sor_zm[n], sor_zp[n], sor_ym[n], sor_yp[n], sor_xm[n], sor_xp[n]};
                const auto [at, added] = seen.try_emplace(s, stencil_count);
                if (added) stencils[stencil_count++] = s;
                stencil_of[n] = at->second;
            }
}

// Rows relaxed together, and the nodes of a row and a plane.
constexpr int ROWS = 4;
constexpr int LENGTH = I_LAST - I_FIRST + 1;
constexpr int ROWS_PER_PLANE = J_LAST - J_FIRST + 1;
constexpr int PLANE_NODES = LENGTH * ROWS_PER_PLANE;
constexpr int INTERIOR_NODES = PLANE_NODES * (K_LAST - K_FIRST + 1);
constexpr int BANDS_PER_PLANE = (ROWS_PER_PLANE + ROWS - 1) / ROWS;
// Steps of a band: each row one node behind the row below it.
constexpr int BAND_STEPS = LENGTH + ROWS - 1;

// |r| of every interior node of the sweep, in the plain k, j, i order.
double change[INTERIOR_NODES];
int change_index(int j, int k) { return ((k - K_FIRST) * ROWS_PER_PLANE + (j - J_FIRST)) * LENGTH; }

// One over-relaxation of interior node n: neighbours relaxed earlier in the
// sweep contribute their new values, the others their old ones. The new
// values of the i - 1 and j - 1 neighbours come in as left and below.
[[gnu::always_inline]] inline double relax_node(int n, double left, double below, double& node_change) {
    const Stencil& a = stencils[stencil_of[n]];
    const double old = phi[n];
    phi_prev[n] = old;
    const double r = (old - charge_source[n] - a.zm * phi[n - STEP_Z] - a.zp * phi[n + STEP_Z] - a.ym * below -
                      a.yp * phi[n + STEP_Y] - a.xm * left - a.xp * phi[n + 1]) * OMEGA_SOR;
    phi[n] = old - r;
    node_change = std::fabs(r);
    return old - r;
}

// Rows j0 .. j0 + rows - 1 of plane k relaxed together, each row one node
// behind the row below it. Node (i, j) still follows (i - 1, j) and (i, j - 1)
// and precedes (i + 1, j) and (i, j + 1), as in the plain k, j, i sweep, so it
// sees the same new and old values and gets the same bits. One row alone is a
// chain of updates, each waiting on the one before; the skewed rows are
// chains that the processor overlaps.
void relax_band(int k, int j0, int rows, ordered_sum::Tally& tally) {
    const int first = node(I_FIRST, j0, k);  // row r's node i is first + i + r·STEP_Y
    double* band_change = change + change_index(j0, k);
    auto step = [&](int t) __attribute__((always_inline)) {
        for (int r = 0; r < rows; ++r) {
            const int i = t - r, n = first + i + r * STEP_Y;
            if (i >= 0 && i < LENGTH) relax_node(n, phi[n - 1], phi[n - STEP_Y], band_change[i + r * LENGTH]);
        }
        tally.add_some();
    };
    if (rows != ROWS) {
        for (int t = 0; t < LENGTH + rows - 1; ++t) step(t);
        return;
    }
    for (int t = 0; t < ROWS - 1; ++t) step(t);
    // Every row is inside the plane here: no range tests. The left and lower
    // neighbours of a node are the values its row and the row below relaxed
    // at the step before: kept in registers, they spare the chain a trip
    // through memory. The top row goes first so that each row still reads
    // the previous step's value of the row below.
    static_assert(ROWS == 4);
    constexpr int ROW = STEP_Y - 1, CHANGE_ROW = LENGTH - 1;  // from one row's node to the next row's
    // Each row's node relaxed at step ROWS - 2 (row 3's is still its plate node).
    double row0 = phi[first + 2], row1 = phi[first + 1 + STEP_Y], row2 = phi[first + 2 * STEP_Y],
           row3 = phi[first - 1 + 3 * STEP_Y];
    for (int t = ROWS - 1; t < LENGTH; ++t) {
        const int n = first + t;
        double* c = band_change + t;
        row3 = relax_node(n + 3 * ROW, row3, row2, c[3 * CHANGE_ROW]);
        row2 = relax_node(n + 2 * ROW, row2, row1, c[2 * CHANGE_ROW]);
        row1 = relax_node(n + ROW, row1, row0, c[CHANGE_ROW]);
        row0 = relax_node(n, row0, phi[n - STEP_Y], c[0]);
        tally.add_some();
    }
    for (int t = LENGTH; t < LENGTH + ROWS - 1; ++t) step(t);
}

// The sweep split among the team: member m relaxes the bands [first_band[m],
// first_band[m + 1]) of every plane, a plane only after member m - 1 has
// relaxed it. With the seven-point stencil rows of two blocks meet only at
// the block edge, where the lower block's row is new and the upper block's
// row is old, as in the plain order. The last member, the caller, keeps the
// tally of the changes in plain order; it takes fewer bands, as the additions
// take some of its time.
// Timed per thread on two threads: the additions cost the keeper about a
// tenth of its relaxation time.
constexpr double TALLY_MEMBER_SHARE = 0.9;  // of a plain member's bands
int first_band[thread_team::MAX_MEMBERS + 1];
int team_size = 1;
ordered_sum::Tally tally;

int band_row(int band) { return J_FIRST + band * ROWS; }

void split_bands(int members) {
    team_size = members;
    const double weight = members - 1 + TALLY_MEMBER_SHARE;
    for (int m = 0; m < members; ++m) first_band[m] = static_cast<int>(std::lround(BANDS_PER_PLANE * m / weight));
    first_band[members] = BANDS_PER_PLANE;
}

void relax_block(void*, int member) {
    // A local tally, so that its sums stay in registers. Its keeper adds
    // enough changes per step to keep up with a whole plane while it relaxes
    // its own part of one.
    ordered_sum::Tally t;
    const bool keeps_tally = member == team_size - 1;
    const int steps = (first_band[member + 1] - first_band[member]) * BAND_STEPS;
    t.begin(change, keeps_tally ? (PLANE_NODES + steps - 1) / steps : 0);
    for (int k = K_FIRST; k <= K_LAST; ++k) {
        thread_team::wait_for_plane(member, k);
        for (int b = first_band[member]; b < first_band[member + 1]; ++b) {
            const int j0 = band_row(b);
            // Every node before this band in the plain order has been relaxed.
            if (keeps_tally) t.ready = change + change_index(j0, k);
            relax_band(k, j0, std::min(ROWS, J_LAST - j0 + 1), t);
        }
        thread_team::finish_plane(member, k);
    }
    if (keeps_tally) {
        t.add_until(change + INTERIOR_NODES);
        tally = t;
    }
}

// Once the change shrinks by a steady ratio lambda per sweep, the remaining
// corrections form a geometric series: add its sum lambda/(1 - lambda) at once.
double tail_lambda = 0.0;
void add_geometric_tail(void*, int member) {
    const double lambda = tail_lambda;
    const int j_first = band_row(first_band[member]);
    const int j_last = std::min(J_LAST, band_row(first_band[member + 1]) - 1);
    for (int k = K_FIRST; k <= K_LAST; ++k)
        for (int j = j_first; j <= j_last; ++j)
            for (int n = node(I_FIRST, j, k); n <= node(I_LAST, j, k); ++n)
                phi[n] = phi[n] + (phi[n] - phi_prev[n]) * lambda / (1.0 - lambda);
}

int thread_count = 1;

// The red-black sweep: the nodes with i + j + k even (red), then the odd ones
// (black). A node's six neighbours are all of the other colour, so a
// half-sweep relaxes its nodes in any order with the same result, and the
// rows are shared among the threads in chunks. Each row keeps its own sum
// and largest change, added up in row order, so that the convergence test
// sees the same numbers for every thread count.
// It keeps phi_prev only in the sweeps the tail plan names.
bool red_black = false;
red_black_sweep::TailPlan tail_plan;
constexpr int INTERIOR_ROWS = ROWS_PER_PLANE * (K_LAST - K_FIRST + 1);
double row_change_sum[2][INTERIOR_ROWS];
double row_change_max[2][INTERIOR_ROWS];
// Each thread keeps its rows from pass to pass; the caller alone when faster.
chunked_work::Pace red_black_pace{0, true, true};

void relax_colour_rows(void* context, int chunk) {
    const int colour = *static_cast<const int*>(context);
    const chunked_work::Range rows = chunked_work::chunk_range(chunk, INTERIOR_ROWS, red_black_sweep::CHUNK_ROWS);
    for (int row = rows.begin; row < rows.end; ++row) {
        const int k = K_FIRST + row / ROWS_PER_PLANE, j = J_FIRST + row % ROWS_PER_PLANE;
        const int i_first = I_FIRST + ((I_FIRST + j + k + colour) & 1);
        // The red half-sweep is the first to touch the row.
        if (tail_plan.keep_previous && colour == 0)
            std::copy(phi + node(I_FIRST, j, k), phi + node(I_LAST, j, k) + 1, phi_prev + node(I_FIRST, j, k));
        double sum = 0.0, largest = 0.0;
        for (int n = node(i_first, j, k); n <= node(I_LAST, j, k); n += 2) {
            const Stencil& a = stencils[stencil_of[n]];
            const double old = phi[n];
            const double r = (old - charge_source[n] - a.zm * phi[n - STEP_Z] - a.zp * phi[n + STEP_Z] -
                              a.ym * phi[n - STEP_Y] - a.yp * phi[n + STEP_Y] - a.xm * phi[n - 1] - a.xp * phi[n + 1]) *
                             OMEGA_SOR;
            phi[n] = old - r;
            sum += std::fabs(r);
            largest = std::max(largest, std::fabs(r));
        }
        row_change_sum[colour][row] = sum;
        row_change_max[colour][row] = largest;
    }
}

// One red-black sweep; its sum and largest change of phi.
void relax_red_black(double& sum, double& largest) {
    red_black_sweep::sweep(INTERIOR_ROWS, thread_count, relax_colour_rows, red_black_pace, &row_change_sum[0][0],
                           &row_change_max[0][0], sum, largest);
}

}  // namespace

Couplings node_couplings(int i, int j, int k) {
    const int n = node(i, j, k);
    Couplings a{eps_face_x[n], eps_face_x[node(i + 1, j, k)], eps_face_y[n],
                eps_face_y[node(i, j + 1, k)], eps_face_z[n], eps_face_z[node(i, j, k + 1)]};
    // y and z boundary layers carry no flux.
    if (k == K_FIRST) a.zm = 0.0;
    if (k == K_LAST) a.zp = 0.0;
    if (j == J_FIRST) a.ym = 0.0;
    if (j == J_LAST) a.yp = 0.0;
    // An electrode plane lies half a spacing from the first node,
    // so its coupling doubles; a plate node without one is not coupled.
    if (i == I_FIRST) a.xm = electrode_map[node(1, j, k)] != 0 ? 2.0 * eps_face_x[n] : 0.0;
    if (i == I_LAST) a.xp = electrode_map[node(NX, j, k)] != 0 ? 2.0 * eps_face_x[node(NX, j, k)] : 0.0;
    return a;
}

void setup_sor_coefficients() {
    for (int k = K_FIRST; k <= K_LAST; ++k)
        for (int j = J_FIRST; j <= J_LAST; ++j)
            for (int i = I_FIRST; i <= I_LAST; ++i) {
                const int n = node(i, j, k);
                const Couplings a = node_couplings(i, j, k);
                const double center = 1.0 / (a.ym + a.yp + a.xm + a.xp + a.zm + a.zp);
                sor_center[n] = center;
                sor_xm[n] = a.xm * center;
                sor_xp[n] = a.xp * center;
                sor_ym[n] = a.ym * center;
                sor_yp[n] = a.yp * center;
                sor_zm[n] = a.zm * center;
                sor_zp[n] = a.zp * center;
            }
    build_stencil_table();
}

void apply_boundary_values() {
    for (int k = 1; k <= NZ; ++k)
        for (int i = 1; i <= NX; ++i) {
            phi[node(i, 1, k)] = phi[node(i, 2, k)];
            phi[node(i, NY, k)] = phi[node(i, NY - 1, k)];
        }
    for (int j = 1; j <= NY; ++j)
        for (int i = 1; i <= NX; ++i) {
            phi[node(i, j, 1)] = phi[node(i, j, 2)];
            phi[node(i, j, NZ)] = phi[node(i, j, NZ - 1)];
        }
    const double* voltage = electrodes::electrode_voltage;
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j) {
            const int front = electrode_map[node(1, j, k)];
            phi[node(1, j, k)] = front >= 1 ? voltage[front] : phi[node(2, j, k)];
        }
    for (int k = 1; k <= NZ; ++k)
        for (int j = 1; j <= NY; ++j) {
            const int rear = electrode_map[node(NX, j, k)];
            phi[node(NX, j, k)] = rear >= 1 ? voltage[rear] : phi[node(NX - 1, j, k)];
        }
}

void extrapolate_potential() {
    // The first solve has no history: phi_old = phi makes the step below a no-op.
    if (first_solve) {
        apply_boundary_values();
        std::copy(phi, phi + NODE_COUNT, phi_old);
        first_solve = false;
    }
    for (int n = 0; n < NODE_COUNT; ++n) {
        phi_save[n] = phi[n];
        phi[n] = 2.0 * phi[n] - phi_old[n];
        phi_old[n] = phi_save[n];
    }
}

void solve_potential() {
    extrapolate_potential();
    apply_boundary_values();

    // Pre-divide the source so a node update needs no division.
    for (int k = K_FIRST; k <= K_LAST; ++k)
        for (int j = J_FIRST; j <= J_LAST; ++j)
            for (int n = node(I_FIRST, j, k); n <= node(I_LAST, j, k); ++n)
                charge_source[n] = charge_source[n] * sor_center[n];

    // At least one band per member; the red-black sweep needs no team.
    const int members = red_black ? 1 : std::min(thread_count, BANDS_PER_PLANE);
    thread_team::Scope team(members);
    split_bands(members);

    double lambda_prev = 0.0, residual_prev = 1.0;
    double sum = 0.0, largest = 0.0;
    sweeps_in_last_solve = 0;
    tail_plan.start();
    do {
        if (red_black) {
            relax_red_black(sum, largest);
        } else {
            thread_team::run_paced(relax_block, nullptr);
            sum = tally.sum;
            largest = tally.largest;
        }
        ++sweeps_in_last_solve;
        const double residual = sum * dx * dy * 0.2;
        const double lambda = residual / residual_prev;
        // A sweep that changed nothing gives lambda = 0 and never passes this test.
        const double drift = std::fabs(lambda_prev / lambda - 1.0);
        if (red_black ? tail_plan.after_sweep(drift, RATIO_TOLERANCE) : drift <= RATIO_TOLERANCE) {
            tail_lambda = lambda;
            thread_team::run(add_geometric_tail, nullptr);
        }
        lambda_prev = lambda;
        residual_prev = residual;
        // Rounding noise alone can exceed the absolute tolerance at absurd
        // voltages; no sane case comes near this many sweeps.
        if (largest > SOR_TOLERANCE && sweeps_in_last_solve >= MAX_SWEEPS)
            pdp::fatal({"ERROR: the potential solve did not converge in " + std::to_string(MAX_SWEEPS) + " sweeps:",
                        "       the last sweep changed phi by up to " + fortran::free_real(largest) +
                            " V (tolerance " + fortran::free_real(SOR_TOLERANCE) + " V)"});
    } while (largest > SOR_TOLERANCE);

    apply_boundary_values();
}

void set_thread_count(int threads) { thread_count = std::clamp(threads, 1, thread_team::MAX_MEMBERS); }
void set_red_black(bool on) { red_black = on; }

void reset() {
    first_solve = true;
    thread_count = 1;
    red_black = false;
    red_black_pace = {0, true, true};
    sweeps_in_last_solve = 0;
}

}  // namespace potential
