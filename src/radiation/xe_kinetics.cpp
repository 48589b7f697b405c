#include "radiation/xe_kinetics.hpp"

#include "electrons/collision_frequencies.hpp"
#include "mesh/mesh_arrays.hpp"
#include "output/density_accumulation.hpp"

#include <algorithm>
#include <cmath>
#include <vector>

namespace xe_kinetics {

namespace {

using namespace xe_rates;
constexpr double PI = 3.141592653589793;

// Over one advance of length dt, per node: the states after it (next·n), the
// photons of each line (photons·n) and the wall losses (wall·n), n the states
// at its start.
// by_column[j] holds column j of next and of photons side by side, so that
// a node's sums go down the columns; each sum still takes its terms in the
// order of j.
constexpr int SUMS = STATES + LINES + 1;  // even, for pairs of doubles; the last is 0
struct Propagator {
    double dt = -1.0;
    double next[STATES][STATES];
    double photons[LINES][STATES];
    double wall[STATES];
    double by_column[STATES][SUMS];
};

bool active = false;
Rates current{};
Propagator usual;
// Excitations feed only the three atomic states; state and source are read
// once per advance, so they are kept as small as that allows.
constexpr int FED = 3;
static_assert(METASTABLE < FED && RESONANT < FED && HIGHER < FED);
static_assert(FED == 3 && STATES == 6, "advance writes a node's states out one by one");
double state[mesh::NODE_COUNT * STATES];   // real atoms or excimers per node
double source[mesh::NODE_COUNT * FED];     // deposited since the last advance
// The sums and largest node values of the states, taken as the advance goes.
double totals[STATES], peaks[STATES];
bool stats_fresh = false;
double front_share[mesh::NODE_COUNT];      // of a node's photons, to the front plate
std::vector<int> gas_nodes;
// The gas nodes that have held anything, ascending (the order of gas_nodes,
// so that every sum over them is taken as over all of them), and those
// deposited on since the last advance; the rest hold nothing and are skipped.
bool is_gas[mesh::NODE_COUNT];
bool listed[mesh::NODE_COUNT];
std::vector<int> occupied, newly;
Tally sums{};

// Superelastic rate coefficients of 1s5 and 1s4 (cm^3/s) on the T_e ladder,
// and the Xe density that turns the Xe excitation frequencies into sigma·v.
double superelastic_table[2][TE_POINTS];
double xe_density = 0.0;

double sigma_v_level(int k, double energy) {
    return collision_frequencies::nu_exc_Xe(k, collision_frequencies::SPEED_PER_SQRT_EV * std::sqrt(energy)) /
           xe_density;
}
double sigma_v_level1(double energy) { return sigma_v_level(1, energy); }
double sigma_v_level2(double energy) { return sigma_v_level(2, energy); }

double level_ev(int k) {
    const double u = species::EXC_SPEED_XE[k - 1] / collision_frequencies::SPEED_PER_SQRT_EV;
    return u * u;
}

double ladder_te(int i) { return TE_LOW * std::pow(TE_HIGH / TE_LOW, i / (TE_POINTS - 1.0)); }

void tabulate_superelastic(const species::Fill& fill) {
    xe_density = fill.density * fill.xenon_fraction;
    for (int i = 0; i < TE_POINTS; ++i) {
        const double te = ladder_te(i);
        superelastic_table[METASTABLE][i] = xe_density > 0.0 ? G_GROUND / G_METASTABLE *
                                                                   maxwell_rate_above(sigma_v_level1, level_ev(1), te)
                                                             : 0.0;
        superelastic_table[RESONANT][i] =
            xe_density > 0.0 ? G_GROUND / G_RESONANT * maxwell_rate_above(sigma_v_level2, level_ev(2), te) : 0.0;
    }
}

// The electron processes over dt on (1s5, 1s4): d/dt v = A v with
// A = [[-(up + sup_m), down], [up, -(down + sup_r)]] (1/s). next = exp(A dt),
// integral = int_0^dt exp(A s) ds, from the series of both at a step scaled
// below norm 1/2, squared back: E(2h) = E(h)^2, F(2h) = F(h) + E(h) F(h).
struct ElectronStep {
    double next[2][2];
    double integral[2][2];
};

ElectronStep electron_step(double up, double down, double sup_m, double sup_r, double dt) {
    const double a[2][2] = {{-(up + sup_m), down}, {up, -(down + sup_r)}};
    double h = dt;
    int squarings = 0;
    const double norm = (std::max(sup_m, sup_r) + up + down) * dt;  // bounds both row sums
    for (double scaled = norm; scaled > 0.5; scaled *= 0.5) {
        h *= 0.5;
        ++squarings;
    }
    double x[2][2], term[2][2] = {{1.0, 0.0}, {0.0, 1.0}};
    for (int i = 0; i < 2; ++i)
        for (int j = 0; j < 2; ++j) x[i][j] = a[i][j] * h;
    ElectronStep s{{{1.0, 0.0}, {0.0, 1.0}}, {{h, 0.0}, {0.0, h}}};
    for (int n = 1; n <= 18; ++n) {  // 0.5^18 / 18! is far below rounding
        double t[2][2];
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) t[i][j] = (term[i][0] * x[0][j] + term[i][1] * x[1][j]) / n;
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) {
                term[i][j] = t[i][j];
                s.next[i][j] += t[i][j];
                s.integral[i][j] += t[i][j] * h / (n + 1);
            }
    }
    for (int k = 0; k < squarings; ++k) {
        ElectronStep d;
        for (int i = 0; i < 2; ++i)
            for (int j = 0; j < 2; ++j) {
                d.next[i][j] = s.next[i][0] * s.next[0][j] + s.next[i][1] * s.next[1][j];
                d.integral[i][j] = s.integral[i][j] + s.next[i][0] * s.integral[0][j] + s.next[i][1] * s.integral[1][j];
            }
        s = d;
    }
    return s;
}

// Electron density (cm^-3) and temperature (eV) of node n, the rates of
// mixing and superelastic collisions there, and their step on v's 1s5 and
// 1s4; the superelastic losses and the exposure added to lost and exposed.
void electron_processes(int n, double dt, double* v, double lost[2], double exposed[2]) {
    const double ne = std::fabs(mesh::electron_density[n]) / mesh::ELECTRON_CHARGE;
    const double te = std::clamp(2.0 / 3.0 * mesh::electron_energy[n], TE_LOW, TE_HIGH);
    const double up = K_ELECTRON_MIX * ne;
    const double down = up * (G_METASTABLE / G_RESONANT) * std::exp(MIX_GAP_EV / te);
    const double sup_m = superelastic_coefficient(METASTABLE, te) * ne;
    const double sup_r = superelastic_coefficient(RESONANT, te) * ne;
    const ElectronStep s = electron_step(up, down, sup_m, sup_r, dt);
    const double m = v[METASTABLE], r = v[RESONANT];
    const double held_m = s.integral[0][0] * m + s.integral[0][1] * r;  // atom-seconds
    const double held_r = s.integral[1][0] * m + s.integral[1][1] * r;
    v[METASTABLE] = s.next[0][0] * m + s.next[0][1] * r;
    v[RESONANT] = s.next[1][0] * m + s.next[1][1] * r;
    lost[METASTABLE] += sup_m * held_m;
    lost[RESONANT] += sup_r * held_r;
    exposed[METASTABLE] += ne * held_m;
    exposed[RESONANT] += ne * held_r;
}

constexpr int AUGMENTED = 2 * STATES;
using Square = double[AUGMENTED][AUGMENTED];

void multiply(const Square& a, const Square& b, Square& out) {
    for (int i = 0; i < AUGMENTED; ++i)
        for (int j = 0; j < AUGMENTED; ++j) {
            double s = 0.0;
            for (int k = 0; k < AUGMENTED; ++k) s += a[i][k] * b[k][j];
            out[i][j] = s;
        }
}

// exp of [[M, I], [0, 0]]·dt is [[exp(M dt), int_0^dt exp(M s) ds], [0, I]]:
// scaled until its norm is below 1/2, summed as a Taylor series to rounding,
// then squared back.
Propagator propagator_for(const Rates& r, double dt) {
    Square a{};
    double norm = 0.0;
    for (int i = 0; i < STATES; ++i) {
        double row = dt;
        for (int j = 0; j < STATES; ++j) {
            a[i][j] = r.matrix[i][j] * dt;
            row += std::fabs(a[i][j]);
        }
        a[i][STATES + i] = dt;
        norm = std::max(norm, row);
    }
    int squarings = 0;
    while (norm > 0.5) {
        norm *= 0.5;
        ++squarings;
    }
    const double scale = std::ldexp(1.0, -squarings);
    for (auto& row : a)
        for (double& v : row) v *= scale;
    Square e{}, term{}, next{};
    for (int i = 0; i < AUGMENTED; ++i) e[i][i] = term[i][i] = 1.0;
    for (int n = 1; n <= 30; ++n) {
        multiply(term, a, next);
        for (int i = 0; i < AUGMENTED; ++i)
            for (int j = 0; j < AUGMENTED; ++j) {
                term[i][j] = next[i][j] / n;
                e[i][j] += term[i][j];
            }
    }
    // The upper-right block scaled with the time as well: squaring
    // [[E, F], [0, I]] gives [[E E, E F + F], [0, I]].
    for (int s = 0; s < squarings; ++s) {
        multiply(e, e, next);
        std::copy(&next[0][0], &next[0][0] + AUGMENTED * AUGMENTED, &e[0][0]);
    }
    Propagator p;
    p.dt = dt;
    for (int i = 0; i < STATES; ++i)
        for (int j = 0; j < STATES; ++j) p.next[i][j] = e[i][j];
    // F = int exp(M s) ds; a line's photons are emission·F·n.
    for (int l = 0; l < LINES; ++l)
        for (int j = 0; j < STATES; ++j) {
            double s = 0.0;
            for (int k = 0; k < STATES; ++k) s += r.emission[l][k] * e[k][STATES + j];
            p.photons[l][j] = s;
        }
    for (int j = 0; j < STATES; ++j) {
        double s = 0.0;
        for (int k = 0; k < STATES; ++k) s += r.wall[k] * e[k][STATES + j];
        p.wall[j] = s;
    }
    for (int j = 0; j < STATES; ++j) {
        for (int i = 0; i < STATES; ++i) p.by_column[j][i] = p.next[i][j];
        for (int l = 0; l < LINES; ++l) p.by_column[j][STATES + l] = p.photons[l][j];
        p.by_column[j][SUMS - 1] = 0.0;
    }
    return p;
}

// The share of isotropic light from depth d (cm) below the front plate that
// reaches it, between ribs at lateral offsets left and right (cm): a strip
// infinite along the channel subtends 2·(atan(right/d) + atan(left/d)).
double strip_share(double d, double left, double right) {
    return (std::atan2(right, d) + std::atan2(left, d)) / (2 * PI);
}

void set_up_cell() {
    using namespace mesh;
    gas_nodes.clear();
    std::fill(is_gas, is_gas + NODE_COUNT, false);
    // The gas box mirrors at z = zlow: the channel runs from the rib at
    // zhigh to its image at 2 zlow - zhigh.
    for (int k = klo; k <= khi; ++k)
        for (int j = jlo; j <= jhi; ++j)
            for (int i = ilo; i <= ihi; ++i) {
                if (material_map[padded(i, j, k)] != 0) continue;
                const int n = node(i, j, k);
                gas_nodes.push_back(n);
                is_gas[n] = true;
                const double x = (i + 0.5) * dx, z = (k + 0.5) * dz;
                front_share[n] = strip_share(x - xlow, zhigh - z, z - (2 * zlow - zhigh));
            }
}

}  // namespace

bool on() { return active; }

void start(const species::Fill& fill, double interval) {
    reset();
    active = true;
    set_up_cell();
    occupied.reserve(gas_nodes.size());
    newly.reserve(gas_nodes.size());
    // Fundamental diffusion mode of the channel: across the gap and across
    // the rib-to-rib width (twice the mirrored half); the mirrors along y
    // leave it unbounded there.
    const double gap = mesh::xhigh - mesh::xlow;
    const double width = 2 * (mesh::zhigh - mesh::zlow);
    const double inverse_length2 = (PI / gap) * (PI / gap) + (PI / width) * (PI / width);
    current = rates_for(fill, gap, inverse_length2);
    usual = propagator_for(current, interval);
    tabulate_superelastic(fill);
}

double superelastic_coefficient(int s, double te) {
    const double x = std::log(std::clamp(te, TE_LOW, TE_HIGH) / TE_LOW) / std::log(TE_HIGH / TE_LOW) * (TE_POINTS - 1);
    const int i = std::min(static_cast<int>(x), TE_POINTS - 2);
    const double f = x - i;
    return (1.0 - f) * superelastic_table[s][i] + f * superelastic_table[s][i + 1];
}

void add_excitation(double x, double y, double z, double atoms, int level) {
    const int s = STATE_OF_LEVEL[level - 1];
    sums.excited[level - 1] += atoms;
    densities::for_cloud(x, y, z, [&](int n, double f) {
        if (f == 0.0) return;
        source[FED * n + s] += atoms * f;
        if (is_gas[n] && !listed[n]) {
            listed[n] = true;
            newly.push_back(n);
        }
    });
}

namespace {

// Merges the nodes deposited on since the last advance into the ascending
// list, from the back, in the room reserved at start.
void take_in_newly_listed() {
    if (newly.empty()) return;
    std::sort(newly.begin(), newly.end());
    std::size_t a = occupied.size(), b = newly.size();
    occupied.resize(a + b);
    for (std::size_t to = a + b; b > 0;) {
        if (a > 0 && occupied[a - 1] > newly[b - 1]) occupied[--to] = occupied[--a];
        else occupied[--to] = newly[--b];
    }
    newly.clear();
}

}  // namespace

void advance(double dt) {
    if (dt <= 0.0) return;
    const Propagator other = dt == usual.dt ? Propagator{} : propagator_for(current, dt);
    const Propagator& p = dt == usual.dt ? usual : other;
    double photons[2][LINES] = {};
    double wall = 0.0;
    double lost[2] = {}, exposed[2] = {};
    std::fill(totals, totals + STATES, 0.0);
    std::fill(peaks, peaks + STATES, 0.0);
    take_in_newly_listed();
    for (const int n : occupied) {
        double* held = state + STATES * n;
        double* fed = source + FED * n;
        double v[STATES] = {held[0] + fed[0], held[1] + fed[1], held[2] + fed[2], held[3], held[4], held[5]};
        if ((v[0] != 0.0) + (v[1] != 0.0) + (v[2] != 0.0) + (v[3] != 0.0) + (v[4] != 0.0) + (v[5] != 0.0) == 0) continue;
        fed[0] = fed[1] = fed[2] = 0.0;
        if (mesh::electron_density[n] != 0.0 && (v[METASTABLE] != 0.0 || v[RESONANT] != 0.0))
            electron_processes(n, dt, v, lost, exposed);
        // States after the advance, then the photons of each line.
        double out[SUMS] = {};
        for (int j = 0; j < STATES; ++j)
            for (int i = 0; i < SUMS; ++i) out[i] += p.by_column[j][i] * v[j];
        for (int i = 0; i < STATES; ++i) {
            held[i] = out[i];
            totals[i] += out[i];
            peaks[i] = std::max(peaks[i], out[i]);
        }
        for (int l = 0; l < LINES; ++l) {
            photons[FRONT][l] += front_share[n] * out[STATES + l];
            photons[PHOSPHOR][l] += (1.0 - front_share[n]) * out[STATES + l];
        }
        for (int j = 0; j < STATES; ++j) wall += p.wall[j] * v[j];
    }
    for (int d = 0; d < 2; ++d)
        for (int l = 0; l < LINES; ++l) sums.photons[d][l] += photons[d][l];
    sums.wall_loss += wall;
    for (int s = 0; s < 2; ++s) {
        sums.superelastic[s] += lost[s];
        sums.exposure[s] += exposed[s];
    }
    stats_fresh = true;
}

const Tally& tally() { return sums; }

double inventory() {
    double held = 0.0;
    for (const int n : gas_nodes)
        for (int s = 0; s < STATES; ++s) held += state[STATES * n + s] + (s < FED ? source[FED * n + s] : 0.0);
    return held;
}

namespace {

// After a checkpoint was loaded, before the next advance.
void take_stats() {
    std::fill(totals, totals + STATES, 0.0);
    std::fill(peaks, peaks + STATES, 0.0);
    for (const int n : gas_nodes)
        for (int s = 0; s < STATES; ++s) {
            totals[s] += state[STATES * n + s];
            peaks[s] = std::max(peaks[s], state[STATES * n + s]);
        }
    stats_fresh = true;
}

}  // namespace

double total(int s) {
    if (!stats_fresh) take_stats();
    return totals[s];
}

double peak_density(int s) {
    if (!stats_fresh) take_stats();
    return peaks[s] * mesh::inv_cell_volume;
}

double node_density(int n, int s) { return state[STATES * n + s] * mesh::inv_cell_volume; }

double excimer_density(int n) {
    return (state[STATES * n + SINGLET_HOT] + state[STATES * n + SINGLET] + state[STATES * n + TRIPLET]) *
           mesh::inv_cell_volume;
}

const Rates& rates() { return current; }

namespace {
constexpr int STATE_VALUES = mesh::NODE_COUNT * STATES, SOURCE_VALUES = mesh::NODE_COUNT * FED;

constexpr int TALLY_VALUES = static_cast<int>(sizeof(Tally) / sizeof(double));
}  // namespace

int saved_count() { return STATE_VALUES + SOURCE_VALUES + TALLY_VALUES + mesh::NODE_COUNT; }

void save(double* values) {
    std::copy(state, state + STATE_VALUES, values);
    std::copy(source, source + SOURCE_VALUES, values + STATE_VALUES);
    const double* t = reinterpret_cast<const double*>(&sums);
    std::copy(t, t + TALLY_VALUES, values + STATE_VALUES + SOURCE_VALUES);
    std::copy(mesh::electron_energy, mesh::electron_energy + mesh::NODE_COUNT,
              values + STATE_VALUES + SOURCE_VALUES + TALLY_VALUES);
}

void load(const double* values) {
    std::copy(values, values + STATE_VALUES, state);
    std::copy(values + STATE_VALUES, values + STATE_VALUES + SOURCE_VALUES, source);
    double* t = reinterpret_cast<double*>(&sums);
    std::copy(values + STATE_VALUES + SOURCE_VALUES, values + STATE_VALUES + SOURCE_VALUES + TALLY_VALUES, t);
    std::copy(values + STATE_VALUES + SOURCE_VALUES + TALLY_VALUES, values + saved_count(), mesh::electron_energy);
    stats_fresh = false;
    // A node that holds nothing now would be skipped by the advances anyway.
    occupied.clear();
    newly.clear();
    std::fill(listed, listed + mesh::NODE_COUNT, false);
    for (const int n : gas_nodes) {
        bool any = false;
        for (int s = 0; s < STATES; ++s) any = any || state[STATES * n + s] != 0.0 || (s < FED && source[FED * n + s] != 0.0);
        if (any) {
            listed[n] = true;
            occupied.push_back(n);
        }
    }
}

void reset() {
    active = false;
    current = Rates{};
    usual = Propagator{};
    std::fill(state, state + mesh::NODE_COUNT * STATES, 0.0);
    std::fill(source, source + mesh::NODE_COUNT * FED, 0.0);
    std::fill(totals, totals + STATES, 0.0);
    std::fill(peaks, peaks + STATES, 0.0);
    stats_fresh = false;
    std::fill(front_share, front_share + mesh::NODE_COUNT, 0.0);
    gas_nodes.clear();
    std::fill(is_gas, is_gas + mesh::NODE_COUNT, false);
    std::fill(listed, listed + mesh::NODE_COUNT, false);
    occupied.clear();
    newly.clear();
    sums = Tally{};
    std::fill(&superelastic_table[0][0], &superelastic_table[0][0] + 2 * TE_POINTS, 0.0);
    xe_density = 0.0;
}

}  // namespace xe_kinetics
