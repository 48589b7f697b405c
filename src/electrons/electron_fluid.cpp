#include "electrons/electron_fluid.hpp"

#include "common/portable_math.hpp"
#include "electrons/collision_frequencies.hpp"
#include "electrons/electron_transport_tables.hpp"
#include "mesh/bicgstab.hpp"
#include "particles/species.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

namespace electron_fluid {

double density[mesh::NODE_COUNT];
double energy_density[mesh::NODE_COUNT];
double flux_x[mesh::NODE_COUNT], flux_y[mesh::NODE_COUNT], flux_z[mesh::NODE_COUNT];
double energy_flux_x[mesh::NODE_COUNT], energy_flux_y[mesh::NODE_COUNT], energy_flux_z[mesh::NODE_COUNT];
double births_ne[mesh::NODE_COUNT], births_xe[mesh::NODE_COUNT];
double wall_electrons[mesh::NODE_COUNT];

namespace {

using mesh::node;
using electron_transport_tables::Transport;

Settings settings;
bool table_ready = false;
// Outflow per unit density through all faces of a node, 1/s: the explicit
// step must stay below its reciprocal.
double out_rate[mesh::NODE_COUNT], energy_out_rate[mesh::NODE_COUNT];
// The face fields of the fluxes last computed, V/cm.
const double* field_x = nullptr;
const double* field_y = nullptr;
const double* field_z = nullptr;
// Each face's flux per density of the node below it and of the node above it
// (cm/s), for electrons and energy, by axis (0 x, 1 y, 2 z): the flux is
// from_lower·n_lower − from_upper·n_upper. A wall face has the outside
// node's part 0, a mirror face both. The implicit step's matrix is made of
// them.
double from_lower[3][mesh::NODE_COUNT], from_upper[3][mesh::NODE_COUNT];
double energy_from_lower[3][mesh::NODE_COUNT], energy_from_upper[3][mesh::NODE_COUNT];

// The Bernoulli function x/(e^x - 1) of the Scharfetter-Gummel flux; a
// cell Peclet number beyond 600 is pure upwinding to double precision.
double bernoulli(double x) {
    if (std::fabs(x) < 1e-6) return 1.0 - 0.5 * x;
    x = std::clamp(x, -600.0, 600.0);
    return x / (portable_math::exp(x) - 1.0);
}

// dB/dx, in forms that neither overflow nor cancel: B'(0) = -1/2, B' tends
// to 0 for large x and to -1 for large -x.
double bernoulli_slope(double x) {
    if (std::fabs(x) < 1e-4) return -0.5 + x / 6.0;
    x = std::clamp(x, -600.0, 600.0);
    if (x > 0) {
        const double e = portable_math::exp(-x), d = 1.0 - e;
        return (e - e * e - x * e) / (d * d);
    }
    const double e = portable_math::exp(x), d = e - 1.0;
    return (e - 1.0 - x * e) / (d * d);
}

// Flux from node a to its neighbour b a spacing h further along the axis
// (cm^-2 s^-1), for drift velocity v along the axis (cm/s) and diffusion d
// (cm^2/s): the exact flux of a steady 1D drift-diffusion between the two
// nodes. Also adds each node's outflow rate.
double scharfetter_gummel(double v, double d, double h, double na, double nb, int a, int b, double* rate,
                          double& from_a, double& from_b) {
    const double pe = v * h / d;
    from_a = d / h * bernoulli(-pe), from_b = d / h * bernoulli(pe);
    rate[a] += from_a / h;
    rate[b] += from_b / h;
    return from_a * na - from_b * nb;
}

double node_energy(int n) { return density[n] > 0 ? energy_density[n] / density[n] : 0.0; }

// Mean energy on the face between two nodes; an empty node takes its
// neighbour's.
double face_energy(int a, int b) {
    if (density[a] > 0 && density[b] > 0) return 0.5 * (node_energy(a) + node_energy(b));
    return std::max(node_energy(a), node_energy(b));
}

// The electron's charge is negative: it drifts against the field.
void interior_face(int axis, int face, double field, double h, int a, int b, double& flux, double& energy_flux) {
    const double inv_n = species::fill().inv_density;
    const Transport t = electron_transport_tables::transport_at(face_energy(a, b));
    flux = scharfetter_gummel(-t.mobility_n * inv_n * field, t.diffusion_n * inv_n, h, density[a], density[b], a, b,
                              out_rate, from_lower[axis][face], from_upper[axis][face]);
    energy_flux = scharfetter_gummel(-t.energy_mobility_n * inv_n * field, t.energy_diffusion_n * inv_n, h,
                                     energy_density[a], energy_density[b], a, b, energy_out_rate,
                                     energy_from_lower[axis][face], energy_from_upper[axis][face]);
}

void mirror_face(int axis, int face, double& flux, double& energy_flux) {
    flux = energy_flux = 0;
    from_lower[axis][face] = from_upper[axis][face] = 0;
    energy_from_lower[axis][face] = energy_from_upper[axis][face] = 0;
}

// A periodic box's last face along an axis is its first.
void same_face(int axis, int face, int first, double& flux, double& energy_flux) {
    flux = axis == 0 ? flux_x[first] : axis == 1 ? flux_y[first] : flux_z[first];
    energy_flux = axis == 0 ? energy_flux_x[first] : axis == 1 ? energy_flux_y[first] : energy_flux_z[first];
    from_lower[axis][face] = from_lower[axis][first], from_upper[axis][face] = from_upper[axis][first];
    energy_from_lower[axis][face] = energy_from_lower[axis][first];
    energy_from_upper[axis][face] = energy_from_upper[axis][first];
}

// Mean speed of a Maxwellian of this mean energy (kT = 2/3 of it), cm/s.
double thermal_speed(double mean_energy) {
    return collision_frequencies::SPEED_PER_SQRT_EV * std::sqrt(8.0 * mean_energy / (3.0 * M_PI));
}

// Flux into a wall beside node n, along the outward normal (outward = +1 or
// -1 along the axis): the drift towards the wall plus a quarter of the
// thermal speed; each electron carries 2kT = 4/3 of the mean energy in the
// thermal part. Returned along the axis.
void wall_face(int axis, int face, double field, double outward, double h, int n, double& flux, double& energy_flux) {
    if (!settings.absorbing_walls) {
        mirror_face(axis, face, flux, energy_flux);
        return;
    }
    const double inv_n = species::fill().inv_density;
    const double energy = node_energy(n);
    const Transport t = electron_transport_tables::transport_at(energy);
    const double drift = std::max(-t.mobility_n * inv_n * field * outward, 0.0);
    const double energy_drift = std::max(-t.energy_mobility_n * inv_n * field * outward, 0.0);
    const double thermal = 0.25 * thermal_speed(energy);
    out_rate[n] += (drift + thermal) / h;
    energy_out_rate[n] += (energy_drift + 4.0 / 3.0 * thermal) / h;
    flux = outward * (drift + thermal) * density[n];
    energy_flux = outward * (energy_drift + 4.0 / 3.0 * thermal) * energy_density[n];
    double& inside = outward > 0 ? from_lower[axis][face] : from_upper[axis][face];
    double& outside = outward > 0 ? from_upper[axis][face] : from_lower[axis][face];
    double& energy_inside = outward > 0 ? energy_from_lower[axis][face] : energy_from_upper[axis][face];
    double& energy_outside = outward > 0 ? energy_from_upper[axis][face] : energy_from_lower[axis][face];
    inside = drift + thermal, outside = 0;
    energy_inside = energy_drift + 4.0 / 3.0 * thermal, energy_outside = 0;
}

// Power the field gives the electrons at node n, eV cm^-3 s^-1: -Gamma·E on
// each face, half of it to each node beside the face: the work over half a
// spacing (from a node to its wall face as well).
double heating(int i, int j, int k) {
    using namespace mesh;
    const int n = node(i, j, k);
    const int nx = node(i + 1, j, k), ny = node(i, j + 1, k), nz = node(i, j, k + 1);
    return -0.5 * (flux_x[n] * field_x[n] + flux_x[nx] * field_x[nx] + flux_y[n] * field_y[n] +
                   flux_y[ny] * field_y[ny] + flux_z[n] * field_z[n] + flux_z[nz] * field_z[nz]);
}

template <typename F>
void for_gas_nodes(F f) {
    for (int k = mesh::klo; k <= mesh::khi; ++k)
        for (int j = mesh::jlo; j <= mesh::jhi; ++j)
            for (int i = mesh::ilo; i <= mesh::ihi; ++i) f(i, j, k, node(i, j, k));
}

// The mean energy at the end of a step, from eps0 after the transport and the
// field's heating: eps = eps0 - dt·(N·L(eps) + nu(eps)·eps), the loss and the
// dilution by new electrons (nu = N·k_b) both taken at the end (backward
// Euler). Over 0.1 ns at 300 Td the heating alone is ten times the mean
// energy, so a loss or a birth rate taken at the start, or linearized there,
// runs away. The root lies in [0, eps0], where f rises; Newton's steps are
// kept inside the bracket.
double energy_after_collisions(double eps0, double dt) {
    if (!(eps0 > 0)) return 0.0;
    const double big_n = species::fill().density;
    double low = 0, high = eps0, eps = eps0;
    for (int iteration = 0; iteration < 100; ++iteration) {
        const electron_transport_tables::Source c = electron_transport_tables::source_at(eps);
        const double value = eps - eps0 + dt * big_n * (c.loss_n + c.births_n * eps);
        if (value > 0) high = eps; else low = eps;
        const double slope = 1 + dt * big_n * (electron_transport_tables::loss_slope_n(eps) + c.births_n);
        double next = slope > 0 ? eps - value / slope : 0.5 * (low + high);
        if (!(next > low && next < high)) next = 0.5 * (low + high);
        if (std::fabs(next - eps) <= 1e-13 * eps0) return next;
        eps = next;
    }
    return eps;
}

// Births and the collision loss at one node after transport: the mean energy
// takes the loss implicitly, so that the uniform swarm settles where
// e·E·w = N·L + nu·eps for any step; the density then grows at the
// ionization frequency of that energy over the step (exactly, for a rate
// held over it). With the energy equation off the energy stays as it was.
void collide(int n, double dt, StepTally& tally) {
    const double big_n = species::fill().density;
    const double n_before = density[n];
    if (!(n_before > 0)) return;
    const double energy = settings.energy_equation ? energy_after_collisions(node_energy(n), dt) : node_energy(n);
    // The loss, the births and Ne's ionization alone: all 16 rates would
    // cost three times the Newton steps above.
    const electron_transport_tables::Source c = electron_transport_tables::source_at(energy);
    const double n_after = n_before * portable_math::exp(big_n * c.births_n * dt);
    const double born = n_after - n_before;
    const double ne_share = c.births_n > 0 ? electron_transport_tables::rate_at(energy, 15) / c.births_n : 0.0;
    births_ne[n] = born * ne_share;
    births_xe[n] = born - births_ne[n];
    density[n] = n_after;
    energy_density[n] = n_after * energy;
    const double volume = mesh::dx * mesh::dy * mesh::dz;
    tally.births_ne += births_ne[n] * volume;
    tally.births_xe += births_xe[n] * volume;
    if (settings.energy_equation) tally.collision_loss += dt * n_before * big_n * c.loss_n * volume;
}

// The walls' share of the fluxes in the flux arrays over dt, per cm^2 of
// wall and in total.
void tally_walls(double dt, StepTally& tally) {
    using namespace mesh;
    for_gas_nodes([&](int i, int j, int k, int n) {
        const auto absorb = [&](int face, double flux, double energy_flux, double area) {
            wall_electrons[face] += std::fabs(flux) * dt;
            tally.absorbed += std::fabs(flux) * dt * area;
            tally.absorbed_energy += std::fabs(energy_flux) * dt * area;
        };
        if (!settings.absorbing_walls || settings.periodic) return;
        if (i == ilo) absorb(n, flux_x[n], energy_flux_x[n], dy * dz);
        if (i == ihi) absorb(node(i + 1, j, k), flux_x[node(i + 1, j, k)], energy_flux_x[node(i + 1, j, k)], dy * dz);
        if (k == khi) absorb(node(i, j, k + 1), flux_z[node(i, j, k + 1)], energy_flux_z[node(i, j, k + 1)], dx * dy);
    });
}

// The implicit step's right-hand side, and the mean energy before the step
// (held when the energy equation is off).
double old_values[mesh::NODE_COUNT], energy_before[mesh::NODE_COUNT];
// The density an implicit step in the old field would leave (field_coupling).
double predicted[mesh::NODE_COUNT];

using FaceArrays = double[3][mesh::NODE_COUNT];

// The backward-Euler matrix I + dt·div(flux) for one quantity, from its
// faces' coefficients: a node's outflow through each face on the diagonal,
// the inflow from each neighbour off it.
void load_matrix(double dt, const FaceArrays& lower, const FaceArrays& upper) {
    using namespace mesh;
    for_gas_nodes([&](int, int, int, int n) {
        const int ax = n + 1, ay = n + NX, az = n + NX * NY;  // the faces above
        bicgstab::diagonal[n] = 1 + dt * ((lower[0][ax] + upper[0][n]) * inv_dx + (lower[1][ay] + upper[1][n]) * inv_dy +
                                          (lower[2][az] + upper[2][n]) * inv_dz);
        bicgstab::lower_x[n] = -dt * lower[0][n] * inv_dx, bicgstab::upper_x[n] = -dt * upper[0][ax] * inv_dx;
        bicgstab::lower_y[n] = -dt * lower[1][n] * inv_dy, bicgstab::upper_y[n] = -dt * upper[1][ay] * inv_dy;
        bicgstab::lower_z[n] = -dt * lower[2][n] * inv_dz, bicgstab::upper_z[n] = -dt * upper[2][az] * inv_dz;
    });
}

// Face fluxes from node values and the faces' coefficients; outside the box
// a wall's node counts as empty, and a periodic box's last face is its first.
void fluxes_from(const double* values, const FaceArrays& lower, const FaceArrays& upper, double* fx, double* fy,
                 double* fz) {
    using namespace mesh;
    const bool periodic = settings.periodic;
    const auto value = [&](bool inside, int at) { return inside ? values[at] : 0.0; };
    for_gas_nodes([&](int i, int j, int k, int n) {
        const int below_x = i > ilo ? n - 1 : node(ihi, j, k), below_y = j > jlo ? n - NX : node(i, jhi, k),
                  below_z = k > klo ? n - NX * NY : node(i, j, khi);
        fx[n] = lower[0][n] * value(i > ilo || periodic, below_x) - upper[0][n] * values[n];
        fy[n] = lower[1][n] * value(j > jlo || periodic, below_y) - upper[1][n] * values[n];
        fz[n] = lower[2][n] * value(k > klo || periodic, below_z) - upper[2][n] * values[n];
    });
    for_gas_nodes([&](int i, int j, int k, int n) {
        const int ax = n + 1, ay = n + NX, az = n + NX * NY;
        if (i == ihi) fx[ax] = periodic ? fx[node(ilo, j, k)] : lower[0][ax] * values[n];
        if (j == jhi) fy[ay] = periodic ? fy[node(i, jlo, k)] : lower[1][ay] * values[n];
        if (k == khi) fz[az] = periodic ? fz[node(i, j, klo)] : lower[2][az] * values[n];
    });
}

}  // namespace

void configure(const Settings& given) { settings = given; }

void reset() {
    settings = Settings{};
    for (int n = 0; n < mesh::NODE_COUNT; ++n) {
        density[n] = energy_density[n] = 0;
        flux_x[n] = flux_y[n] = flux_z[n] = 0;
        energy_flux_x[n] = energy_flux_y[n] = energy_flux_z[n] = 0;
        births_ne[n] = births_xe[n] = wall_electrons[n] = 0;
        out_rate[n] = energy_out_rate[n] = 0;
    }
    field_x = field_y = field_z = nullptr;
    if (!table_ready) electron_transport_tables::use_built_in();
    table_ready = true;
}

void set_node(int i, int j, int k, double n, double energy) {
    density[node(i, j, k)] = n;
    energy_density[node(i, j, k)] = n * energy;
}

void set_uniform(double n, double energy) {
    for_gas_nodes([&](int i, int j, int k, int) { set_node(i, j, k, n, energy); });
}

double mean_energy(int n) { return node_energy(n); }

// The face below node (i,j,k) along each axis: between gas nodes, a wall, a
// mirror, or (periodic) the face to the last node of the axis, whose face
// above is the same face.
void compute_fluxes(const double* ex, const double* ey, const double* ez) {
    using namespace mesh;
    field_x = ex, field_y = ey, field_z = ez;
    for_gas_nodes([](int, int, int, int n) { out_rate[n] = energy_out_rate[n] = 0; });
    const bool periodic = settings.periodic;
    for_gas_nodes([&](int i, int j, int k, int n) {
        if (i > ilo || periodic)
            interior_face(0, n, ex[n], dx, i > ilo ? node(i - 1, j, k) : node(ihi, j, k), n, flux_x[n], energy_flux_x[n]);
        else
            wall_face(0, n, ex[n], -1.0, dx, n, flux_x[n], energy_flux_x[n]);  // front wall
        if (j > jlo || periodic)
            interior_face(1, n, ey[n], dy, j > jlo ? node(i, j - 1, k) : node(i, jhi, k), n, flux_y[n], energy_flux_y[n]);
        else
            mirror_face(1, n, flux_y[n], energy_flux_y[n]);
        if (k > klo || periodic)
            interior_face(2, n, ez[n], dz, k > klo ? node(i, j, k - 1) : node(i, j, khi), n, flux_z[n], energy_flux_z[n]);
        else
            mirror_face(2, n, flux_z[n], energy_flux_z[n]);
    });
    for_gas_nodes([&](int i, int j, int k, int n) {
        const int above_x = node(i + 1, j, k), above_y = node(i, j + 1, k), above_z = node(i, j, k + 1);
        if (i == ihi) {
            if (periodic)
                same_face(0, above_x, node(ilo, j, k), flux_x[above_x], energy_flux_x[above_x]);
            else
                wall_face(0, above_x, ex[above_x], 1.0, dx, n, flux_x[above_x], energy_flux_x[above_x]);  // rear wall
        }
        if (j == jhi) {
            if (periodic)
                same_face(1, above_y, node(i, jlo, k), flux_y[above_y], energy_flux_y[above_y]);
            else
                mirror_face(1, above_y, flux_y[above_y], energy_flux_y[above_y]);
        }
        if (k == khi) {
            if (periodic)
                same_face(2, above_z, node(i, j, klo), flux_z[above_z], energy_flux_z[above_z]);
            else
                wall_face(2, above_z, ez[above_z], 1.0, dz, n, flux_z[above_z], energy_flux_z[above_z]);  // rib wall
        }
    });
}

double stable_step() {
    double rate = 0;
    for_gas_nodes([&](int, int, int, int n) { rate = std::max({rate, out_rate[n], energy_out_rate[n]}); });
    return rate > 0 ? 1.0 / rate : std::numeric_limits<double>::infinity();
}

StepTally step(double dt, const double* ex, const double* ey, const double* ez) {
    using namespace mesh;
    compute_fluxes(ex, ey, ez);
    StepTally tally;
    const double volume = dx * dy * dz;
    for_gas_nodes([&](int i, int j, int k, int n) {
        const int nx = node(i + 1, j, k), ny = node(i, j + 1, k), nz = node(i, j, k + 1);
        const double divergence = (flux_x[nx] - flux_x[n]) * inv_dx + (flux_y[ny] - flux_y[n]) * inv_dy +
                                  (flux_z[nz] - flux_z[n]) * inv_dz;
        const double energy_divergence = (energy_flux_x[nx] - energy_flux_x[n]) * inv_dx +
                                         (energy_flux_y[ny] - energy_flux_y[n]) * inv_dy +
                                         (energy_flux_z[nz] - energy_flux_z[n]) * inv_dz;
        const double heat = heating(i, j, k);
        const double energy_before = node_energy(n);
        density[n] = std::max(density[n] - dt * divergence, 0.0);
        energy_density[n] = settings.energy_equation
                                ? std::max(energy_density[n] - dt * energy_divergence + dt * heat, 0.0)
                                : density[n] * energy_before;
        tally.heating += dt * heat * volume;
        births_ne[n] = births_xe[n] = 0;
    });
    tally_walls(dt, tally);
    if (settings.collisions) for_gas_nodes([&](int, int, int, int n) { collide(n, dt, tally); });
    return tally;
}

StepTally step_implicit(double dt, const double* ex, const double* ey, const double* ez) {
    using namespace mesh;
    compute_fluxes(ex, ey, ez);  // the coefficients, from the old mean energy
    StepTally tally;
    const double volume = dx * dy * dz;
    const bicgstab::Preconditioner preconditioner =
        settings.line_preconditioner ? bicgstab::Preconditioner::x_lines : bicgstab::Preconditioner::jacobi;
    for_gas_nodes([&](int, int, int, int n) {
        energy_before[n] = node_energy(n);
        old_values[n] = density[n];
        births_ne[n] = births_xe[n] = 0;
    });
    load_matrix(dt, from_lower, from_upper);
    tally.density_iterations =
        bicgstab::solve(old_values, density, settings.transport_tolerance, preconditioner, settings.periodic).iterations;
    for_gas_nodes([&](int, int, int, int n) { density[n] = std::max(density[n], 0.0); });
    fluxes_from(density, from_lower, from_upper, flux_x, flux_y, flux_z);
    // The field's work on the new fluxes.
    for_gas_nodes([&](int i, int j, int k, int n) {
        const double heat = heating(i, j, k);
        tally.heating += dt * heat * volume;
        old_values[n] = energy_density[n] + dt * heat;
    });
    if (settings.energy_equation) {
        load_matrix(dt, energy_from_lower, energy_from_upper);
        tally.energy_iterations =
            bicgstab::solve(old_values, energy_density, settings.transport_tolerance, preconditioner, settings.periodic)
                .iterations;
        for_gas_nodes([&](int, int, int, int n) { energy_density[n] = std::max(energy_density[n], 0.0); });
    } else {
        for_gas_nodes([&](int, int, int, int n) { energy_density[n] = density[n] * energy_before[n]; });
    }
    fluxes_from(energy_density, energy_from_lower, energy_from_upper, energy_flux_x, energy_flux_y, energy_flux_z);
    tally_walls(dt, tally);
    if (settings.collisions) for_gas_nodes([&](int, int, int, int n) { collide(n, dt, tally); });
    return tally;
}

// The Scharfetter-Gummel flux G = (D/h)·[B(-P)·n_a - B(P)·n_b] with
// P = -mu·E·h/D has dG/dE = mu·[B'(-P)·n_a + B'(P)·n_b]; the current is
// -e·G, so sigma = -e·mu·[B'(-P)·n_a + B'(P)·n_b] (S/cm), positive as B' < 0.
// The charge predicted is that of the implicit step in the old field, less
// what sigma·E_old would move: the field solve adds back sigma·E_new. So a
// steady state is solved with its own charge, and diffusion, taken
// implicitly as in the step, neither overshoots nor is missed.
int field_coupling(const double* ex, const double* ey, const double* ez, double dt, double* sigma_x, double* sigma_y,
                   double* sigma_z, double* charge_density) {
    using namespace mesh;
    std::fill(sigma_x, sigma_x + NODE_COUNT, 0.0);
    std::fill(sigma_y, sigma_y + NODE_COUNT, 0.0);
    std::fill(sigma_z, sigma_z + NODE_COUNT, 0.0);
    compute_fluxes(ex, ey, ez);
    load_matrix(dt, from_lower, from_upper);
    for_gas_nodes([&](int, int, int, int n) { old_values[n] = predicted[n] = density[n]; });
    const bicgstab::Preconditioner preconditioner =
        settings.line_preconditioner ? bicgstab::Preconditioner::x_lines : bicgstab::Preconditioner::jacobi;
    const int iterations =
        bicgstab::solve(old_values, predicted, settings.transport_tolerance, preconditioner, settings.periodic).iterations;
    for_gas_nodes([&](int, int, int, int n) { charge_density[n] -= ELECTRON_CHARGE * std::max(predicted[n], 0.0); });
    const double inv_n = species::fill().inv_density;
    // Face between a and b = a + 1 along an axis of spacing h: its
    // conductivity, and the charge sigma·E_old takes from a to b over dt.
    const auto face = [&](double field, double h, int a, int b) {
        const Transport t = electron_transport_tables::transport_at(face_energy(a, b));
        const double mobility = t.mobility_n * inv_n;
        const double pe = -mobility * field * h / (t.diffusion_n * inv_n);
        const double sigma =
            -ELECTRON_CHARGE * mobility * (bernoulli_slope(-pe) * density[a] + bernoulli_slope(pe) * density[b]);
        const double moved = dt / h * sigma * field;  // C/cm^3
        charge_density[a] += moved;
        charge_density[b] -= moved;
        return sigma;
    };
    for_gas_nodes([&](int i, int j, int k, int n) {
        if (i > ilo) sigma_x[n] = face(ex[n], dx, n - 1, n);
        if (j > jlo) sigma_y[n] = face(ey[n], dy, n - NX, n);
        if (k > klo) sigma_z[n] = face(ez[n], dz, n - NX * NY, n);
    });
    return iterations;
}

void add_charge_density(double* charge_density) {
    for_gas_nodes([&](int, int, int, int n) { charge_density[n] -= mesh::ELECTRON_CHARGE * density[n]; });
}

double total_electrons() {
    double sum = 0;
    for_gas_nodes([&](int, int, int, int n) { sum += density[n]; });
    return sum * mesh::dx * mesh::dy * mesh::dz;
}

double total_energy() {
    double sum = 0;
    for_gas_nodes([&](int, int, int, int n) { sum += energy_density[n]; });
    return sum * mesh::dx * mesh::dy * mesh::dz;
}

}  // namespace electron_fluid
