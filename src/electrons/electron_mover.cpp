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

        const double along_x = std::trunc(std::fabs(tau * e.vx * p.substeps_per_x));
        const double along_y = std::trunc(std::fabs(tau * e.vy * p.substeps_per_y));
        const double along_z = std::trunc(std::fabs(tau * e.vz * p.substeps_per_z));
        const double most = std::max({along_x, along_y, along_z});
        check_flight(e, most);
        const int n = 1 + static_cast<int>(most);
        const double h = tau / n;

        for (int s = 0; s < n; ++s) {
            ++substep_count;
            double Ex, Ey, Ez;
            mesh::interpolate_field(e.x, e.y, e.z, Ex, Ey, Ez);
            // Constant acceleration over the sub-step: the position moves with
            // the mean velocity.
            const double dvx = h * Ex * MINUS_QM;
            e.x = e.x + (e.vx + dvx / 2) * h;
            e.vx = e.vx + dvx;
            const double dvy = h * Ey * MINUS_QM;
            e.y = e.y + (e.vy + dvy / 2) * h;
            e.vy = e.vy + dvy;
            const double dvz = h * Ez * MINUS_QM;
            e.z = e.z + (e.vz + dvz / 2) * h;
            e.vz = e.vz + dvz;
            e.t = e.t + h;

            // Symmetry planes mirror; one mirror must bring the electron back.
            if (e.y < p.ylow) {
                e.y = 2 * p.ylow - e.y;
                e.vy = -e.vy;
                if (e.y < p.ylow || e.y > p.yhigh) pdp::fatal("electron outside of region");
            }
            if (e.y > p.yhigh) {
                e.y = 2 * p.yhigh - e.y;
                e.vy = -e.vy;
                if (e.y < p.ylow || e.y > p.yhigh) pdp::fatal("electron outside of region");
            }
            if (e.z <= p.zlow) {
                e.z = 2 * p.zlow - e.z;
                e.vz = -e.vz;
                if (e.z < p.zlow || e.z > p.zhigh) pdp::fatal("electron outside of z region");
            }
            // Dielectric walls absorb and keep the charge.
            if (e.z >= p.zhigh) return absorb(surface::Wall::rib, e);
            if (e.x <= p.xlow) return absorb(surface::Wall::front, e);
            if (e.x >= p.xhigh) return absorb(surface::Wall::rear, e);
        }

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
