#include "ions/floating_gap_solver.hpp"

#include "common/chunked_work.hpp"
#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/ordered_sum.hpp"
#include "common/red_black_sweep.hpp"
#include "common/thread_team.hpp"
#include "mesh/mesh_arrays.hpp"
#include "mesh/potential_solver.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

namespace floating_gap {

double gap_potential = 0.0;
double gap_coupling_sum = 0.0;
int sweeps_in_last_solve = 0;

using namespace mesh;

namespace {

// Offsets of the neighbours of a node in a node array.
constexpr int STEP_X = 1, STEP_Y = NX, STEP_Z = NX * NY;

bool is_gas(int i, int j, int k) { return material_map[padded(i, j, k)] == 0; }
bool is_dielectric(int i, int j, int k) { return material_map[padded(i, j, k)] == 1; }

// Coupling of a gas node to its dielectric neighbours: the permittivity of
// that neighbour over the squared spacing; nothing towards gas or outside.
double dielectric_coupling(int i, int j, int k, double h) {
    return is_dielectric(i, j, k) ? eps_node[node(i, j, k)] / (h * h) : 0.0;
}

// Permittivity-weighted sum of the dielectric potentials around gas node n.
double gas_node_flux(int n) {
    return sor_zp[n] * phi[n + STEP_Z] + sor_zm[n] * phi[n - STEP_Z] + sor_xp[n] * phi[n + STEP_X] +
           sor_xm[n] * phi[n - STEP_X] + sor_yp[n] * phi[n + STEP_Y] + sor_ym[n] * phi[n - STEP_Y];
}

// Interior nodes, and the solid nodes in the k, i, j order that fixes the
// rounding of the sum of changes, built at the start of a solve.
constexpr int I_FIRST = 2, I_LAST = 66, J_FIRST = 2, J_LAST = 136, K_FIRST = 2, K_LAST = 12;
constexpr int INTERIOR_NODES = (I_LAST - I_FIRST + 1) * (J_LAST - J_FIRST + 1) * (K_LAST - K_FIRST + 1);
constexpr int ROWS_PER_PLANE = J_LAST - J_FIRST + 1;

// A stretch of nodes [first, last] along i in one row.
struct Run {
    int first, last;
};
// The solid stretches of each row (j, k), and the gas stretches.
std::vector<Run> solid_runs, gas_runs;
std::vector<int> row_solid_runs;  // row (j, k)'s stretches: [row_solid_runs[r], row_solid_runs[r + 1])
int row_number(int j, int k) { return (k - K_FIRST) * ROWS_PER_PLANE + (j - J_FIRST); }
// Rows relaxed together where they have the same solid stretches, and per
// row whether the next row (j + 1) has the same ones.
constexpr int ROWS = 4;
std::vector<char> same_as_next_row;

// |r| of every solid node of the sweep, at the node's place in the k, i, j
// order; plane k's nodes start at plane_first_change[k].
double change[INTERIOR_NODES];
int change_slot[NODE_COUNT];
int plane_first_change[K_LAST + 2];

// The gas nodes that touch a dielectric, in the k, i, j order of the sum of
// fluxes. Every other gas node has no weight and adds a zero term.
std::vector<int> surface_gas_nodes;

void map_nodes() {
    solid_runs.clear();
    gas_runs.clear();
    row_solid_runs.assign(1, 0);
    for (int k = K_FIRST; k <= K_LAST; ++k)
        for (int j = J_FIRST; j <= J_LAST; ++j) {
            for (int i = I_FIRST; i <= I_LAST;) {
                const bool gas = is_gas(i, j, k);
                int last = i;
                while (last < I_LAST && is_gas(last + 1, j, k) == gas) ++last;
                (gas ? gas_runs : solid_runs).push_back({node(i, j, k), node(last, j, k)});
                i = last + 1;
            }
            row_solid_runs.push_back(static_cast<int>(solid_runs.size()));
        }
    const int rows = ROWS_PER_PLANE * (K_LAST - K_FIRST + 1);
    same_as_next_row.assign(rows, 0);
    for (int row = 0; row + 1 < rows; ++row) {
        const int a = row_solid_runs[row], b = row_solid_runs[row + 1], c = row_solid_runs[row + 2];
        bool same = b - a == c - b && (row + 1) % ROWS_PER_PLANE != 0;
        for (int s = 0; same && s < b - a; ++s)
            same = solid_runs[b + s].first == solid_runs[a + s].first + STEP_Y &&
                   solid_runs[b + s].last == solid_runs[a + s].last + STEP_Y;
        same_as_next_row[row] = same;
    }
    int slot = 0;
    surface_gas_nodes.clear();
    for (int k = K_FIRST; k <= K_LAST; ++k) {
        plane_first_change[k] = slot;
        for (int i = I_FIRST; i <= I_LAST; ++i)
            for (int j = J_FIRST; j <= J_LAST; ++j) {
                const int n = node(i, j, k);
                if (!is_gas(i, j, k)) {
                    change_slot[n] = slot++;
                } else if (sor_zp[n] != 0.0 || sor_zm[n] != 0.0 || sor_xp[n] != 0.0 || sor_xm[n] != 0.0 ||
                           sor_yp[n] != 0.0 || sor_ym[n] != 0.0) {
                    surface_gas_nodes.push_back(n);
                }
            }
    }
    plane_first_change[K_LAST + 1] = slot;
}

// The potential of the whole gas region such that no net flux leaves it: the
// weighted mean of its dielectric neighbours. Every gas node takes it. The
// gas nodes left out of the sum add 0·phi terms, zeros that leave every sum
// of finite potentials as it is.
//
// The red-black sweep shares this among the threads too: the flux summed in
// chunks of surface nodes, the chunks' sums added in chunk order, so that the
// result does not depend on the thread count; then the gas runs filled.
bool red_black = false;
int thread_count = 1;
constexpr int GAS_CHUNK = 256;  // surface nodes, or gas runs
double chunk_flux[INTERIOR_NODES / GAS_CHUNK + 1];
double floating_value = 0.0;

void sum_flux_chunk(void*, int chunk) {
    const chunked_work::Range range =
        chunked_work::chunk_range(chunk, static_cast<int>(surface_gas_nodes.size()), GAS_CHUNK);
    double flux = 0.0;
    for (int m = range.begin; m < range.end; ++m) flux += gas_node_flux(surface_gas_nodes[m]);
    chunk_flux[chunk] = flux;
}
void fill_gas_chunk(void*, int chunk) {
    const chunked_work::Range range = chunked_work::chunk_range(chunk, static_cast<int>(gas_runs.size()), GAS_CHUNK);
    for (int m = range.begin; m < range.end; ++m) std::fill(phi + gas_runs[m].first, phi + gas_runs[m].last + 1, floating_value);
}

double float_gas_region() {
    if (red_black) {
        const int chunks = chunked_work::chunk_count(static_cast<int>(surface_gas_nodes.size()), GAS_CHUNK);
        chunked_work::run_chunks(chunks, thread_count, sum_flux_chunk, nullptr);
        double flux = 0.0;
        for (int c = 0; c < chunks; ++c) flux += chunk_flux[c];
        floating_value = flux / gap_coupling_sum;
        chunked_work::run_chunks(chunked_work::chunk_count(static_cast<int>(gas_runs.size()), GAS_CHUNK), thread_count,
                                 fill_gas_chunk, nullptr);
        return floating_value;
    }
    double flux = 0.0;
    for (int n : surface_gas_nodes) flux += gas_node_flux(n);
    const double floating = flux / gap_coupling_sum;
    for (const Run& run : gas_runs) std::fill(phi + run.first, phi + run.last + 1, floating);
    return floating;
}

// The sweep split among a team, as for the regular potential solve: member m
// relaxes rows [first_row[m], first_row[m + 1]) of every plane, a plane only
// after member m - 1 has relaxed it, so every node sees the same new and old
// neighbours as in the plain order. The last member, the caller, keeps the
// tally of the changes in the k, i, j order, a plane behind the relaxation.
constexpr double TALLY_MEMBER_SHARE = 0.9;  // of a plain member's rows, as for the potential
int first_row[thread_team::MAX_MEMBERS + 1];
int team_size = 1;
ordered_sum::Tally tally;

void split_rows(int members) {
    team_size = members;
    const double weight = members - 1 + TALLY_MEMBER_SHARE;
    for (int m = 0; m < members; ++m)
        first_row[m] = J_FIRST + static_cast<int>(std::lround(ROWS_PER_PLANE * m / weight));
    first_row[members] = J_LAST + 1;
}

// One over-relaxation of solid node n, its change recorded at its place in
// the order of the sum.
[[gnu::always_inline]] inline void relax_solid_node(int n, ordered_sum::Tally& t) {
    const double r = OMEGA_SUSTAIN * (sor_zm[n] * phi[n - STEP_Z] + sor_zp[n] * phi[n + STEP_Z] +
                                      sor_ym[n] * phi[n - STEP_Y] + sor_yp[n] * phi[n + STEP_Y] +
                                      sor_xm[n] * phi[n - STEP_X] + sor_xp[n] * phi[n + STEP_X] - phi[n]);
    phi[n] = phi[n] + r;
    change[change_slot[n]] = std::fabs(r);
    t.add_some();
}

void relax_row(int j, int k, ordered_sum::Tally& t) {
    const int row = row_number(j, k);
    for (int s = row_solid_runs[row]; s < row_solid_runs[row + 1]; ++s)
        for (int n = solid_runs[s].first; n <= solid_runs[s].last; ++n) relax_solid_node(n, t);
}

// ROWS rows with the same solid stretches relaxed together, each row one
// node behind the row below it, as in the regular potential solve: the
// neighbours keep their order, and the rows are chains of updates that the
// processor overlaps. At a stretch's ends the neighbours along i are gas.
void relax_band(int j0, int k, ordered_sum::Tally& t) {
    const int row = row_number(j0, k);
    for (int s = row_solid_runs[row]; s < row_solid_runs[row + 1]; ++s) {
        const int first = solid_runs[s].first, length = solid_runs[s].last - first + 1;
        for (int step = 0; step < length + ROWS - 1; ++step)
            for (int r = 0; r < ROWS; ++r) {
                const int i = step - r;
                if (i >= 0 && i < length) relax_solid_node(first + i + r * STEP_Y, t);
            }
    }
}

// Over-relaxation of the solid nodes of a block in place; the gas nodes hold
// still. In this k, j, i order a node sees the same new (i-1, j-1, k-1) and
// old (i+1, j+1, k+1) neighbours as in the k, i, j order of the sums.
void relax_block(void*, int member) {
    ordered_sum::Tally t;  // local, so that its sums stay in registers
    const bool keeps_tally = member == team_size - 1;
    const int j_first = first_row[member], j_end = first_row[member + 1];
    int block_solid = 0;
    for (int j = j_first; j < j_end; ++j)
        for (int s = row_solid_runs[row_number(j, K_FIRST)]; s < row_solid_runs[row_number(j, K_FIRST) + 1]; ++s)
            block_solid += solid_runs[s].last - solid_runs[s].first + 1;
    // Enough additions per node to keep up with a plane of the sum.
    const int plane_solid = plane_first_change[K_FIRST + 1] - plane_first_change[K_FIRST];
    t.begin(change, keeps_tally ? (plane_solid + block_solid) / std::max(block_solid, 1) : 0);
    for (int k = K_FIRST; k <= K_LAST; ++k) {
        thread_team::wait_for_plane(member, k);
        // Every node of the planes before this one has been relaxed.
        if (keeps_tally) t.ready = change + plane_first_change[k];
        // The values before this sweep, for the geometric tail.
        for (int j = j_first; j < j_end; ++j)
            std::copy(phi + node(I_FIRST, j, k), phi + node(I_LAST, j, k) + 1, phi_prev + node(I_FIRST, j, k));
        for (int j = j_first; j < j_end;) {
            const int row = row_number(j, k);
            if (j + ROWS <= j_end && same_as_next_row[row] && same_as_next_row[row + 1] && same_as_next_row[row + 2]) {
                relax_band(j, k, t);
                j += ROWS;
            } else {
                relax_row(j, k, t);
                ++j;
            }
        }
        thread_team::finish_plane(member, k);
    }
    if (keeps_tally) {
        t.add_until(change + plane_first_change[K_LAST + 1]);
        tally = t;
    }
}

// Once the error shrinks by a steady ratio, add the rest of its geometric
// series at once, gas nodes included.
double tail_lambda = 0.0;
void add_geometric_tail(void*, int member) {
    const double lambda = tail_lambda;
    for (int k = K_FIRST; k <= K_LAST; ++k)
        for (int j = first_row[member]; j < first_row[member + 1]; ++j)
            for (int n = node(I_FIRST, j, k); n <= node(I_LAST, j, k); ++n)
                phi[n] = phi[n] + (phi[n] - phi_prev[n]) * lambda / (1.0 - lambda);
}

// The parallel mode's sweep: the solid nodes with i + j + k even (red), then
// the odd ones (black). A node's neighbours are of the other colour or gas,
// which holds still during the sweep, so a half-sweep relaxes its nodes in
// any order with the same result, and its rows are shared among the threads.
// Each row keeps its own sum and largest change, added up in row order: the
// same numbers for every thread count. Only the sweeps the tail plan names
// keep phi_prev.
constexpr int INTERIOR_ROWS = ROWS_PER_PLANE * (K_LAST - K_FIRST + 1);
red_black_sweep::TailPlan tail_plan;
double row_change_sum[2][INTERIOR_ROWS];
double row_change_max[2][INTERIOR_ROWS];
// Each thread keeps its rows from pass to pass; the caller alone when faster.
chunked_work::Pace red_black_pace{0, true, true};

void relax_colour_rows(void* context, int chunk) {
    const int colour = *static_cast<const int*>(context);
    const chunked_work::Range rows = chunked_work::chunk_range(chunk, INTERIOR_ROWS, red_black_sweep::CHUNK_ROWS);
    for (int row = rows.begin; row < rows.end; ++row) {
        const int k = K_FIRST + row / ROWS_PER_PLANE, j = J_FIRST + row % ROWS_PER_PLANE;
        // The values before this sweep, for the geometric tail: the red
        // half-sweep is the first to touch the row.
        if (tail_plan.keep_previous && colour == 0)
            std::copy(phi + node(I_FIRST, j, k), phi + node(I_LAST, j, k) + 1, phi_prev + node(I_FIRST, j, k));
        double sum = 0.0, largest = 0.0;
        for (int s = row_solid_runs[row]; s < row_solid_runs[row + 1]; ++s) {
            int n = solid_runs[s].first;
            const int i = n - node(1, j, k) + 1;
            if (((i + j + k) & 1) != colour) ++n;
            for (; n <= solid_runs[s].last; n += 2) {
                const double r = OMEGA_SUSTAIN * (sor_zm[n] * phi[n - STEP_Z] + sor_zp[n] * phi[n + STEP_Z] +
                                                  sor_ym[n] * phi[n - STEP_Y] + sor_yp[n] * phi[n + STEP_Y] +
                                                  sor_xm[n] * phi[n - STEP_X] + sor_xp[n] * phi[n + STEP_X] - phi[n]);
                phi[n] = phi[n] + r;
                sum += std::fabs(r);
                largest = std::max(largest, std::fabs(r));
            }
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

// The geometric tail over rows shared among the threads.
void add_geometric_tail_rows(void*, int chunk) {
    const double lambda = tail_lambda;
    const chunked_work::Range rows = chunked_work::chunk_range(chunk, INTERIOR_ROWS, red_black_sweep::CHUNK_ROWS);
    for (int row = rows.begin; row < rows.end; ++row) {
        const int k = K_FIRST + row / ROWS_PER_PLANE, j = J_FIRST + row % ROWS_PER_PLANE;
        for (int n = node(I_FIRST, j, k); n <= node(I_LAST, j, k); ++n)
            phi[n] = phi[n] + (phi[n] - phi_prev[n]) * lambda / (1.0 - lambda);
    }
}

}  // namespace

void setup_sustain_coefficients() {
    // Face area over node distance, times 2.
    const double Kx = 2.0 * dy * dz / dx;
    const double Ky = 2.0 * dx * dz / dy;
    const double Kz = 2.0 * dx * dy / dz;
    for (int k = 2; k <= 12; ++k)
        for (int j = 2; j <= 136; ++j)
            for (int i = 2; i <= 66; ++i) {
                const int n = node(i, j, k);
                if (is_gas(i, j, k)) {
                    sor_zp[n] = k == 12 ? 0.0 : dielectric_coupling(i, j, k + 1, dz);
                    sor_zm[n] = k == 2 ? 0.0 : dielectric_coupling(i, j, k - 1, dz);
                    sor_xp[n] = dielectric_coupling(i + 1, j, k, dx);
                    sor_xm[n] = dielectric_coupling(i - 1, j, k, dx);
                    sor_yp[n] = 0.0;
                    sor_ym[n] = 0.0;
                    continue;
                }
                // Solid node: towards gas the face is held at the gas
                // potential half a spacing away; towards a solid neighbour the
                // two half spacings act in series.
                const double e0 = eps_node[n];
                auto face = [e0](double K, int ni, int nj, int nk) {
                    if (is_gas(ni, nj, nk)) return K * e0;
                    return K * e0 / (e0 / eps_node[node(ni, nj, nk)] + 1.0);
                };
                double a_xm = face(Kx, i - 1, j, k), a_xp = face(Kx, i + 1, j, k);
                double a_ym = face(Ky, i, j - 1, k), a_yp = face(Ky, i, j + 1, k);
                double a_zm = face(Kz, i, j, k - 1), a_zp = face(Kz, i, j, k + 1);
                // No flux through the y and z boundaries; a plate node couples
                // only under an electrode, whose surface is half a spacing away.
                if (k == 12) a_zp = 0.0;
                if (k == 2) a_zm = 0.0;
                if (j == 136) a_yp = 0.0;
                if (j == 2) a_ym = 0.0;
                if (i == 66) a_xp = electrode_map[node(67, j, k)] != 0 ? 2.0 * a_xp : 0.0;
                if (i == 2) a_xm = electrode_map[node(1, j, k)] != 0 ? 2.0 * a_xm : 0.0;
                const double s = 1.0 / (a_ym + a_yp + a_xm + a_xp + a_zm + a_zp);
                sor_zp[n] = a_zp * s;
                sor_zm[n] = a_zm * s;
                sor_xp[n] = a_xp * s;
                sor_xm[n] = a_xm * s;
                sor_yp[n] = a_yp * s;
                sor_ym[n] = a_ym * s;
            }
}

void solve_floating_gap() {
    gap_coupling_sum = 0.0;
    for (int k = 2; k <= 12; ++k)
        for (int i = 2; i <= 66; ++i)
            for (int j = 2; j <= 136; ++j)
                if (is_gas(i, j, k)) {
                    const int n = node(i, j, k);
                    gap_coupling_sum += sor_zp[n] + sor_zm[n] + sor_xp[n] + sor_xm[n] + sor_yp[n] + sor_ym[n];
                }
    if (!(gap_coupling_sum > 0.0))
        pdp::fatal({"ERROR: the gas region touches no dielectric node,",
                    "       so its floating potential is undefined"});

    map_nodes();
    // At least one row per member; the red-black sweep needs no team.
    const int members = red_black ? 1 : std::min(thread_count, ROWS_PER_PLANE);
    thread_team::Scope team(members);
    split_rows(members);

    double lambda_prev = 0.0, residual_prev = 1.0;
    double largest = 0.0;
    sweeps_in_last_solve = 0;
    tail_plan.start();
    do {
        double sum = 0.0;
        if (red_black) {
            relax_red_black(sum, largest);
        } else {
            thread_team::run_paced(relax_block, nullptr);
            sum = tally.sum;
            largest = tally.largest;
        }
        float_gas_region();

        const double residual = sum * dx * dy * 0.2;
        const double lambda = residual / residual_prev;
        const double drift = std::fabs(lambda_prev / lambda - 1.0);
        if (red_black ? tail_plan.after_sweep(drift, SUSTAIN_RATIO_TOLERANCE) : drift <= SUSTAIN_RATIO_TOLERANCE) {
            tail_lambda = lambda;
            if (red_black)
                chunked_work::run_chunks(chunked_work::chunk_count(INTERIOR_ROWS, red_black_sweep::CHUNK_ROWS), thread_count,
                                         add_geometric_tail_rows, nullptr);
            else
                thread_team::run(add_geometric_tail, nullptr);
        }
        lambda_prev = lambda;
        residual_prev = residual;
        ++sweeps_in_last_solve;
        // Rounding noise alone can exceed the absolute tolerance at absurd
        // voltages; no sane case comes near this many sweeps.
        if (largest > SUSTAIN_TOLERANCE && sweeps_in_last_solve >= MAX_SUSTAIN_SWEEPS)
            pdp::fatal({"ERROR: the floating-gap solve of the sustain state did not converge in " +
                            std::to_string(MAX_SUSTAIN_SWEEPS) + " sweeps:",
                        "       the last sweep changed phi by up to " + fortran::free_real(largest) +
                            " V (tolerance " + fortran::free_real(SUSTAIN_TOLERANCE) + " V)"});
    } while (largest > SUSTAIN_TOLERANCE);

    potential::apply_boundary_values();
    gap_potential = float_gas_region();
    fortran::write_line(stdout, fortran::FreeLine().item("PH_M=").item(gap_potential).str());
    potential::apply_boundary_values();
}

void set_thread_count(int threads) { thread_count = std::clamp(threads, 1, thread_team::MAX_MEMBERS); }
void set_red_black(bool on) { red_black = on; }

void reset() {
    sweeps_in_last_solve = 0;
    thread_count = 1;
    red_black = false;
    red_black_pace = {0, true, true};
    gap_potential = 0.0;
    gap_coupling_sum = 0.0;
}

}  // namespace floating_gap
