#include "ions/surface_processes.hpp"

#include "common/fatal_error.hpp"
#include "electrons/collision_frequencies.hpp"
#include "mesh/mesh_arrays.hpp"
#include "particles/particle_streams.hpp"
#include "particles/species.hpp"

#include <algorithm>
#include <cmath>
#include <string>

namespace surface {

using namespace mesh;

// The wall index is the face n·h on which the wall lies: the front cell is the
// first gas node, the rear and rib cells the first dielectric node beyond.
WallCell wall_cell(Wall wall, double x, double y, double z) {
    const int j = static_cast<int>(y / dy);
    switch (wall) {
        case Wall::front: return {ilo, j, static_cast<int>(z / dz)};
        case Wall::rear: return {ihi + 1, j, static_cast<int>(z / dz)};
        case Wall::rib: break;
    }
    const int i = std::clamp(static_cast<int>(x / dx), ilo, ihi);
    return {i, j, khi + 1};
}

void deposit(Wall wall, const WallCell& cell, double w) {
    double* charge = wall == Wall::rib ? wall_charge_z : wall_charge_x;
    charge[padded(cell.i, cell.j, cell.k)] += w * inv_cell_volume;
}

void deposit(Wall wall, const WallCell& cell, double w, pass_output::Context& context) {
    double* charge = wall == Wall::rib ? wall_charge_z : wall_charge_x;
    pass_output::deposit(context, &charge[padded(cell.i, cell.j, cell.k)], w * inv_cell_volume);
}

namespace {

using PARTICLE_STORAGE::Particle;

double yield(const double (&gamma)[2], int species) {
    if (species != 1 && species != 2)
        pdp::fatal("ERROR: secondary emission for an ion of unknown species " + std::to_string(species));
    return gamma[species - 1];
}

// Speed of an emitted electron, cm/s: at rest in the built-in cell, else
// leaving along the wall's normal with the fill's emission energy (no draw,
// so the stream of draws is that of the built-in cell).
double emission_speed() {
    const double energy = species::fill().emission_energy;  // eV
    return energy > 0.0 ? collision_frequencies::SPEED_PER_SQRT_EV * std::sqrt(energy) : 0.0;
}

// The electron leaves the wall (normal nx, nz into the gas); it carries away
// the negative of the ion's charge, so the wall keeps a second +w.
void emit(Wall wall, const double (&gamma)[2], const Particle& ion, double flight_time,
          const WallCell& cell, double x, double y, double z, double nx, double nz, pass_output::Context& context) {
    const double r = pass_output::draw_uniform(context);
    if (r >= yield(gamma, ion.species)) return;
    const double speed = emission_speed();
    const double vx = speed > 0.0 ? speed * nx : 0.0, vz = speed > 0.0 ? speed * nz : 0.0;  // never -0
    pass_output::add_electron(context, {-ion.w, ion.t - EMISSION_OFFSET * flight_time, x, y, z, vx, 0.0, vz, 0},
                              particle_streams::CHILD_ELECTRON);
    deposit(wall, cell, ion.w, context);
}

}  // namespace

void emit_secondary_front(const Particle& ion, double flight_time, const WallCell& cell,
                          pass_output::Context& context) {
    emit(Wall::front, species::fill().yield[species::FRONT], ion, flight_time, cell, xlow + EMISSION_OFFSET * dx, ion.y, ion.z, 1.0, 0.0, context);
}

void emit_secondary_rear(const Particle& ion, double flight_time, const WallCell& cell,
                         pass_output::Context& context) {
    emit(Wall::rear, species::fill().yield[species::REAR], ion, flight_time, cell, xhigh - EMISSION_OFFSET * dx, ion.y, ion.z, -1.0, 0.0, context);
}

void emit_secondary_rib(const Particle& ion, double flight_time, const WallCell& cell,
                        pass_output::Context& context) {
    emit(Wall::rib, species::fill().yield[species::RIB], ion, flight_time, cell, ion.x, ion.y, zhigh - EMISSION_OFFSET * dz, 0.0, -1.0, context);
}

}  // namespace surface
