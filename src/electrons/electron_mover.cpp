#include "electrons/electron_mover.hpp"

#include "common/fatal_error.hpp"
#include "common/fortran_format.hpp"
#include "common/portable_math.hpp"
#include "electrons/collision_frequencies.hpp"
#include "electrons/electron_collisions.hpp"
#include "ions/surface_processes.hpp"
#include "mesh/field_interpolation.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_storage.hpp"
#include "particles/random_numbers.hpp"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

namespace electron_mover {

double numax = NUMAX_START;
long long flight_count = 0;
long long substep_count = 0;

namespace {

using PARTICLE_STORAGE::Particle;

int first_call_done = 0;

constexpr double MINUS_QM = -QM_ELECTRON;
// What one pass reads over and over, fetched once: the gas-box planes and the
// sub-steps per cm of flight along each axis (SUBSTEPS_PER_CELL per cell).
struct PassConstants {
    double xlow, xhigh, ylow, yhigh, zlow, zhigh;
    double substeps_per_x, substeps_per_y, substeps_per_z;  // 1/cm
};

// No sane flight asks for more sub-steps than this: an electron at the speed
// of light takes about 3e5 over a whole time step.
constexpr double MAX_SUBSTEPS = 1e7;

[[noreturn, gnu::cold, gnu::noinline]] void stop_on_bad_electron(const Particle& e, bool finite, double substeps) {
    using fortran::FreeLine;
    pdp::fatal({"ERROR: an electron cannot be moved: " +
                    std::string(!finite ? "a coordinate or velocity is not finite"
                                                        : "its flight asks for " + fortran::free_real(substeps) + " sub-steps"),
                FreeLine().item("       x, y, z (cm) =").item(e.x).item(e.y).item(e.z).str(),
                FreeLine().item("       vx, vy, vz (cm/s) =").item(e.vx).item(e.vy).item(e.vz).str(),
                FreeLine().item("       t (s) =").item(e.t).str()});
}

// Once per flight: a position or velocity that is not finite would make the
// sub-step count meaningless and the electron's clock stand still.
void check_flight(const Particle& e, double substeps) {
    const bool finite = std::isfinite(e.x) && std::isfinite(e.y) && std::isfinite(e.z) &&
                        std::isfinite(e.vx) && std::isfinite(e.vy) && std::isfinite(e.vz);
    if (!finite || !(substeps < MAX_SUBSTEPS)) stop_on_bad_electron(e, finite, substeps);
}

void absorb(surface::Wall wall, const Particle& e) {
    surface::deposit(wall, surface::wall_cell(wall, e.x, e.y, e.z), e.w);
    PARTICLE_STORAGE::delete_current(PARTICLE_STORAGE::electrons);
}

// What the sub-steps of a flight change, held apart from the particle record
// so that the compiler keeps it in registers (the record's address escapes to
// the collision and wall routines, which pins it to memory).
struct Motion {
    double x, y, z;     // cm
    double vx, vy, vz;  // cm/s
    double t;           // s
};

// The particle record takes the state its sub-steps reached.
void take_motion(Particle& e, const Motion& m) {
    e.x = m.x, e.y = m.y, e.z = m.z, e.vx = m.vx, e.vy = m.vy, e.vz = m.vz, e.t = m.t;
}

// One sub-step of length h (s) in the field at its start point: constant
// acceleration, so the position moves with the mean velocity.
[[gnu::always_inline]] inline void push(Motion& m, double h) {
    double Ex, Ey, Ez;
    mesh::interpolate_field(m.x, m.y, m.z, Ex, Ey, Ez);
    const double dvx = h * Ex * MINUS_QM;
    m.x = m.x + (m.vx + dvx / 2) * h;
    m.vx = m.vx + dvx;
    const double dvy = h * Ey * MINUS_QM;
    m.y = m.y + (m.vy + dvy / 2) * h;
    m.vy = m.vy + dvy;
    const double dvz = h * Ez * MINUS_QM;
    m.z = m.z + (m.vz + dvz / 2) * h;
    m.vz = m.vz + dvz;
    m.t = m.t + h;
}

// Symmetry planes mirror; one mirror must bring the electron back.
[[gnu::always_inline]] inline void mirror(Motion& m, const PassConstants& p) {
    if (m.y < p.ylow) {
        m.y = 2 * p.ylow - m.y;
        m.vy = -m.vy;
        if (m.y < p.ylow || m.y > p.yhigh) pdp::fatal("electron outside of region");
    }
    if (m.y > p.yhigh) {
        m.y = 2 * p.yhigh - m.y;
        m.vy = -m.vy;
        if (m.y < p.ylow || m.y > p.yhigh) pdp::fatal("electron outside of region");
    }
    if (m.z <= p.zlow) {
        m.z = 2 * p.zlow - m.z;
        m.vz = -m.vz;
        if (m.z < p.zlow || m.z > p.zhigh) pdp::fatal("electron outside of z region");
    }
}

// The dielectric wall that absorbs the electron, if it has reached one.
[[gnu::always_inline]] inline bool reaches_wall(const Motion& m, const PassConstants& p, surface::Wall& wall) {
    if (m.z >= p.zhigh) wall = surface::Wall::rib;
    else if (m.x <= p.xlow) wall = surface::Wall::front;
    else if (m.x >= p.xhigh) wall = surface::Wall::rear;
    else return false;
    return true;
}

// A free flight of tau seconds in sub-steps of at most 1/SUBSTEPS_PER_CELL of
// a cell along each axis. Returns false when a wall absorbed the electron
// (the wall keeps its charge).
bool fly(Particle& e, double tau, const PassConstants& p) {
    const double along_x = std::trunc(std::fabs(tau * e.vx * p.substeps_per_x));
    const double along_y = std::trunc(std::fabs(tau * e.vy * p.substeps_per_y));
    const double along_z = std::trunc(std::fabs(tau * e.vz * p.substeps_per_z));
    const double most = std::max({along_x, along_y, along_z});
    check_flight(e, most);
    const int n = 1 + static_cast<int>(most);
    const double h = tau / n;

    Motion m{e.x, e.y, e.z, e.vx, e.vy, e.vz, e.t};
    for (int s = 0; s < n; ++s) {
        push(m, h);
        mirror(m, p);
        surface::Wall wall;
        if (reaches_wall(m, p, wall)) {
            substep_count += s + 1;
            take_motion(e, m);
            absorb(wall, e);
            return false;
        }
    }
    substep_count += n;
    take_motion(e, m);
    return true;
}

// Takes the electron from its own clock to t_end through free flights that
// end in collision candidates; stores it back, or deletes it at a wall.
void move_electron(Particle& e, double t_end, const PassConstants& p) {
    while (e.t < t_end) {
        double tau = -portable_math::log(random_numbers::draw_uniform()) / numax;  // s
        bool collides = true;
        if (e.t + tau > t_end) {
            tau = t_end - e.t;
            collides = false;
        }
        ++flight_count;
        if (!fly(e, tau, p)) return;
        if (!collides) break;
        electron_collisions::collide(e);
    }
    PARTICLE_STORAGE::set_current(PARTICLE_STORAGE::electrons, e);
}

}  // namespace

void interpolate_electron_field(double x, double y, double z, double& Ex, double& Ey, double& Ez) {
    mesh::interpolate_field(x, y, z, Ex, Ey, Ez);
}

void advance_electrons(double t_end) {
    using namespace PARTICLE_STORAGE;
    if (first_call_done == 0) {
        // The bound per unit gas density, cm^3/s, then 1 % of head-room.
        fortran::write_line(stdout, fortran::ES(numax * collision_frequencies::INV_GAS_DENSITY, 23, 16));
        numax = numax * 1.01;
        first_call_done = 1;
    }
    const PassConstants p{mesh::xlow, mesh::xhigh, mesh::ylow, mesh::yhigh, mesh::zlow, mesh::zhigh,
                          SUBSTEPS_PER_CELL / mesh::dx, SUBSTEPS_PER_CELL / mesh::dy,
                          SUBSTEPS_PER_CELL / mesh::dz};

    // After the compaction no dead slot lies at or beyond the cursor; the
    // electrons born during the pass are appended behind it and moved from
    // their birth time by this same walk.
    compact(electrons);
    rewind(electrons);
    Particle e;
    while (get_current(electrons, e)) {
        if (e.t < t_end) move_electron(e, t_end, p);
        advance(electrons);
    }
    compact(electrons);
    rewind(electrons);
}

void reset() {
    numax = NUMAX_START;
    first_call_done = 0;
    flight_count = 0;
    substep_count = 0;
}

}  // namespace electron_mover
